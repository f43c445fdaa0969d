#pragma once

// The callback bookkeeping of a DDE conversation: who gets the completion of
// each asynchronous transaction (NotifyEventSet, keyed by transaction id) and
// who gets the advise data of each item (AdviseNotifyEventSet, keyed by the
// item's string handle).
//
// Thread: main thread only. A callback may do anything, including starting
// new transactions, removing entries or destroying the conversation that owns
// the set: the sets finish their own work before they call it.

#include <cstdint>
#include <memory>
#include <unordered_map>

#include "platform/Delegate.h"
#include "platform/KContainer.h"
#include "platform/Object.h"

namespace orvane {

class EDdeError;

// The one callback shape of every DDE completion and advise delivery.
// value: the received bytes, zero-terminated; null when there is none. It
// belongs to the caller and is valid only during the call.
// error: the failure, or null. The receiver takes it over (raises or frees it).
// Exactly one of the two is given, except after a successful transaction that
// returns no data, where both are null.
using TDdeDataEvent = Delegate<const char*, EDdeError*>;

// One registered callback and its key (transaction id or item string handle).
class TNotifyObj : public TObject {
public:
    TNotifyObj(std::uint32_t key, const TDdeDataEvent& callback)
        : m_key(key), m_callback(callback) {}

    std::uint32_t Key() const { return m_key; }
    const TDdeDataEvent& Callback() const { return m_callback; }

private:
    std::uint32_t m_key;
    TDdeDataEvent m_callback;
};

// Completion callbacks in registration order; each fires at most once.
class NotifyEventSet {
public:
    NotifyEventSet() = default;
    NotifyEventSet(const NotifyEventSet&) = delete;
    NotifyEventSet& operator=(const NotifyEventSet&) = delete;
    ~NotifyEventSet(); // frees the entries without calling them

    // A callback without code is not registered.
    void Add(std::uint32_t key, const TDdeDataEvent& callback);
    // Unlinks and frees the first entry with the key, then calls it with the
    // value and the error (which the callback takes over). False when there is
    // no such entry; the error is freed then.
    bool Fire(std::uint32_t key, const char* value, std::unique_ptr<EDdeError> error);
    bool Contains(std::uint32_t key) const;
    // Unlinks and frees the first entry with the key without calling it.
    bool Remove(std::uint32_t key);
    // Unlinks and frees the first entry and returns its key; 0 when empty.
    std::uint32_t TakeFirst();
    int Count() const { return m_entries.Count(); }
    bool IsEmpty() const { return m_entries.IsEmpty(); }

private:
    TKListOfObject m_entries; // of TNotifyObj, owned
};

// Advise-data callbacks by item string handle; an entry stays until removed.
class AdviseNotifyEventSet {
public:
    AdviseNotifyEventSet() = default;
    AdviseNotifyEventSet(const AdviseNotifyEventSet&) = delete;
    AdviseNotifyEventSet& operator=(const AdviseNotifyEventSet&) = delete;
    ~AdviseNotifyEventSet(); // frees the entries

    // A callback without code is not registered.
    void Add(std::uint32_t key, const TDdeDataEvent& callback);
    // Calls the entry of the key (the earliest added), which stays registered.
    // False when there is none; the error is freed then.
    bool Fire(std::uint32_t key, const char* value, std::unique_ptr<EDdeError> error);
    // Unlinks and frees the entry of the key; false when there is none.
    bool Remove(std::uint32_t key);
    bool Contains(std::uint32_t key) const;
    int Count() const { return m_entries.Count(); }

private:
    TKMapLongIntToObject m_entries; // of TNotifyObj, owned
    // The entry each key finds in m_entries (its earliest), so that a flood of
    // advise data is routed without walking the key's bucket each time.
    std::unordered_map<std::uint32_t, TNotifyObj*> m_index;
};

} // namespace orvane
