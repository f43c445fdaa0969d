#include "ddelink/DdeNotify.h"

#include "ddelink/DdeError.h"

namespace orvane {

namespace {
std::int32_t mapKey(std::uint32_t key) {
    return static_cast<std::int32_t>(key);
}
} // namespace

NotifyEventSet::~NotifyEventSet() {
    m_entries.FreeObjectsAndClear();
}

void NotifyEventSet::Add(std::uint32_t key, const TDdeDataEvent& callback) {
    if (callback) {
        m_entries.Append(new TNotifyObj(key, callback));
    }
}

bool NotifyEventSet::Fire(std::uint32_t key, const char* value, std::unique_ptr<EDdeError> error) {
    for (auto it = m_entries.First(); it->IsValid(); it->Next()) {
        auto* entry = it->CurrentAs<TNotifyObj>();
        if (entry->Key() == key) {
            // Unlinked before the call: the callback may register, fire or
            // destroy this very set.
            const TDdeDataEvent callback = entry->Callback();
            m_entries.Remove(*it);
            delete entry;
            callback(value, error.release());
            return true;
        }
    }
    return false;
}

bool NotifyEventSet::Contains(std::uint32_t key) const {
    for (TObject* o : m_entries) {
        if (static_cast<TNotifyObj*>(o)->Key() == key) {
            return true;
        }
    }
    return false;
}

bool NotifyEventSet::Remove(std::uint32_t key) {
    for (auto it = m_entries.First(); it->IsValid(); it->Next()) {
        auto* entry = it->CurrentAs<TNotifyObj>();
        if (entry->Key() == key) {
            m_entries.Remove(*it);
            delete entry;
            return true;
        }
    }
    return false;
}

std::uint32_t NotifyEventSet::TakeFirst() {
    auto it = m_entries.First();
    if (!it->IsValid()) {
        return 0;
    }
    auto* entry = static_cast<TNotifyObj*>(m_entries.Remove(*it));
    const std::uint32_t key = entry->Key();
    delete entry;
    return key;
}

AdviseNotifyEventSet::~AdviseNotifyEventSet() {
    m_entries.FreeValuesAndClear();
}

void AdviseNotifyEventSet::Add(std::uint32_t key, const TDdeDataEvent& callback) {
    if (callback) {
        auto* entry = new TNotifyObj(key, callback);
        m_entries.Add(mapKey(key), entry);
        m_index.emplace(key, entry); // kept when the key already has an entry
    }
}

bool AdviseNotifyEventSet::Fire(std::uint32_t key, const char* value,
                                std::unique_ptr<EDdeError> error) {
    const auto found = m_index.find(key);
    if (found == m_index.end()) {
        return false;
    }
    const TNotifyObj* entry = found->second;
    // A copy: the subscriber may stop its own advise and free the entry.
    const TDdeDataEvent callback = entry->Callback();
    callback(value, error.release());
    return true;
}

bool AdviseNotifyEventSet::Remove(std::uint32_t key) {
    auto* entry = static_cast<TNotifyObj*>(m_entries.Remove(mapKey(key)));
    if (entry == nullptr) {
        return false;
    }
    delete entry;
    if (auto* next = m_entries.FindAs<TNotifyObj>(mapKey(key))) {
        m_index[key] = next;
    } else {
        m_index.erase(key);
    }
    return true;
}

bool AdviseNotifyEventSet::Contains(std::uint32_t key) const {
    return m_index.count(key) != 0;
}

} // namespace orvane
