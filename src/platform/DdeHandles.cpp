// Handle tables of the DDE engine: process-unique conversation and string
// handle values, an instance's string handles and a thread's data handles.

#include "platform/DdeHandles.h"

#include "platform/DdeRuntime.h"

#include <atomic>

namespace orvane::dde {

namespace {

std::atomic<std::uint32_t> g_nextConversation{1};
std::atomic<std::uint32_t> g_nextString{1};

constexpr HDDEDATA kDataMarker = HDDEDATA(1) << 62;

} // namespace

HCONV nextConversationHandle() {
    HCONV h = g_nextConversation.fetch_add(1);
    return h == 0 ? g_nextConversation.fetch_add(1) : h;
}

HSZ nextStringHandle() {
    HSZ h = g_nextString.fetch_add(1);
    return h == 0 ? g_nextString.fetch_add(1) : h;
}

// ---------------------------------------------------------------------------
// StringTable

HSZ StringTable::create(std::string_view text) {
    foldInto(text, m_scratch);
    if (const auto it = m_byFolded.find(m_scratch); it != m_byFolded.end()) {
        ++m_byHandle[it->second].refs;
        return it->second;
    }
    const HSZ hsz = nextStringHandle();
    m_byHandle.emplace(hsz, Entry{std::string(text), m_scratch, 1});
    m_byFolded.emplace(m_scratch, hsz);
    return hsz;
}

bool StringTable::keep(HSZ hsz) {
    const auto it = m_byHandle.find(hsz);
    if (it == m_byHandle.end()) {
        return false;
    }
    ++it->second.refs;
    return true;
}

bool StringTable::release(HSZ hsz) {
    const auto it = m_byHandle.find(hsz);
    if (it == m_byHandle.end()) {
        return false;
    }
    if (--it->second.refs == 0) {
        m_byFolded.erase(it->second.folded);
        m_byHandle.erase(it);
    }
    return true;
}

const std::string* StringTable::text(HSZ hsz) const {
    const auto it = m_byHandle.find(hsz);
    return it == m_byHandle.end() ? nullptr : &it->second.text;
}

std::uint32_t StringTable::refs(HSZ hsz) const {
    const auto it = m_byHandle.find(hsz);
    return it == m_byHandle.end() ? 0 : it->second.refs;
}

void StringTable::clear() {
    m_byHandle.clear();
    m_byFolded.clear();
}

// ---------------------------------------------------------------------------
// DataTable

HDDEDATA DataTable::create(DWORD owner, const std::uint8_t* bytes, std::size_t size, UINT format,
                           HSZ item, bool appOwned) {
    std::uint32_t index;
    if (!m_free.empty()) {
        index = m_free.back();
        m_free.pop_back();
    } else {
        index = std::uint32_t(m_slots.size());
        m_slots.emplace_back();
    }
    Slot& slot = m_slots[index];
    if (bytes != nullptr) {
        slot.bytes.assign(bytes, bytes + size);
    } else {
        slot.bytes.assign(size, 0);
    }
    slot.format = format;
    slot.item = item;
    slot.owner = owner;
    slot.used = true;
    slot.appOwned = appOwned;
    slot.generation = (slot.generation + 1) & 0xFFFF;
    return kDataMarker | (HDDEDATA(m_tag) << 48) | (HDDEDATA(slot.generation) << 32) | index;
}

DataTable::Slot* DataTable::find(HDDEDATA handle) {
    if ((handle >> 56) != (kDataMarker >> 56) || ((handle >> 48) & 0xFF) != m_tag) {
        return nullptr;
    }
    const auto index = std::uint32_t(handle & 0xFFFFFFFF);
    if (index >= m_slots.size()) {
        return nullptr;
    }
    Slot& slot = m_slots[index];
    if (!slot.used || slot.generation != ((handle >> 32) & 0xFFFF)) {
        return nullptr;
    }
    return &slot;
}

bool DataTable::free(HDDEDATA handle) {
    Slot* slot = find(handle);
    if (slot == nullptr) {
        return false;
    }
    slot->used = false;
    if (slot->bytes.capacity() > kIdleBufferBytes) {
        std::vector<std::uint8_t>().swap(slot->bytes);
    }
    m_free.push_back(std::uint32_t(handle & 0xFFFFFFFF));
    return true;
}

void DataTable::release(HDDEDATA handle) {
    if (Slot* slot = find(handle); slot != nullptr && !slot->appOwned) {
        free(handle);
    }
}

void DataTable::freeOwnedBy(DWORD owner) {
    for (std::uint32_t i = 0; i < m_slots.size(); ++i) {
        Slot& slot = m_slots[i];
        if (slot.used && slot.owner == owner) {
            slot.used = false;
            m_free.push_back(i);
        }
    }
}

} // namespace orvane::dde
