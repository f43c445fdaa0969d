#pragma once

// Handle tables of the DDEML stand-in: string handles per instance, data
// handles per thread, and the process-unique handle values.

#include "platform/ddeml.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace orvane::dde {

// Read buffers and data blocks larger than this are released when they run empty.
constexpr std::size_t kIdleBufferBytes = 1024 * 1024;

// String handles of one instance: reference counted, one handle per text
// regardless of letter case (the first spelling is kept).
class StringTable {
public:
    HSZ create(std::string_view text);
    bool keep(HSZ hsz);
    bool release(HSZ hsz);
    const std::string* text(HSZ hsz) const;
    std::uint32_t refs(HSZ hsz) const;
    void clear();
    std::size_t size() const { return m_byHandle.size(); }

private:
    struct Entry {
        std::string text;
        std::string folded;
        std::uint32_t refs = 0;
    };
    std::unordered_map<HSZ, Entry> m_byHandle;
    std::unordered_map<std::string, HSZ> m_byFolded;
    std::string m_scratch;
};

// Data handles of one thread. A handle value carries a marker bit, the
// table's tag, a generation and a slot index, so that stale, foreign or
// invented values are refused.
class DataTable {
public:
    explicit DataTable(std::uint8_t tag) : m_tag(tag) {}
    struct Slot {
        std::vector<std::uint8_t> bytes; // keeps its capacity across reuse
        UINT format = 0;
        HSZ item = 0;
        DWORD owner = 0;
        std::uint32_t generation = 0;
        bool used = false;
        bool appOwned = false;
    };
    HDDEDATA create(DWORD owner, const std::uint8_t* bytes, std::size_t size, UINT format, HSZ item,
                    bool appOwned);
    Slot* find(HDDEDATA handle);
    bool free(HDDEDATA handle);
    // Frees the handle unless the application owns it.
    void release(HDDEDATA handle);
    void freeOwnedBy(DWORD owner);
    std::size_t liveCount() const { return m_slots.size() - m_free.size(); }

private:
    std::uint8_t m_tag;
    std::vector<Slot> m_slots;
    std::vector<std::uint32_t> m_free;
};

// Process-unique handle values.
HCONV nextConversationHandle();
HSZ nextStringHandle();

} // namespace orvane::dde
