#pragma once

// Wire frames of the local DDE transport (docs/dde-protocol.md) and the byte
// buffer the transport reads into and writes from.
//
// The decoder is a pure function over bytes: it never reads past the given
// size, never allocates, and classifies every input as one whole frame, "need
// more bytes", or a fault that ends the conversation. The fuzz target feeds it
// arbitrary bytes.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace orvane::dde {

// Hard limit on the bytes after the length field of one frame. A larger
// announced length is refused as soon as the length field has arrived.
constexpr std::uint32_t kMaxFrameBytes = 16u * 1024u * 1024u;
// Longest service, topic or item name (DDE names are atoms).
constexpr std::uint32_t kMaxNameBytes = 255;
constexpr std::uint16_t kProtocolVersion = 1;
// Bytes of the length field that starts every frame.
constexpr std::size_t kLengthFieldBytes = 4;

enum class FrameKind : std::uint8_t {
    Hello = 1,       // client -> server, first frame: version, code page, service, topic
    Accept = 2,      // server -> client: the conversation stands
    Refuse = 3,      // server -> client: the server's connect callback said no
    Request = 4,     // client -> server: transaction, format, item
    Poke = 5,        // client -> server: transaction, format, item, data
    Execute = 6,     // client -> server: transaction, format, data (the command)
    AdviseStart = 7, // client -> server: transaction, format, flags, client key, item
    AdviseStop = 8,  // client -> server: transaction, format, item
    Reply = 9,       // server -> client: transaction, status, format, data (requests)
    AdviseData = 10, // server -> client: link, serial, client key, format, flags, data
    AdviseAck = 11,  // client -> server: link, serial
};

// Flags of AdviseStart and AdviseData frames.
constexpr std::uint32_t kAdviseAckRequested = 0x1; // the server waits for an AdviseAck
constexpr std::uint32_t kAdviseNoData = 0x2;       // warm link: notification without data

// One decoded frame. The views point into the decoded bytes and are valid as
// long as those bytes are; fields that the kind does not carry stay zero.
struct Frame {
    FrameKind kind = FrameKind::Hello;
    std::uint16_t version = 0;
    std::int32_t codePage = 0;
    std::uint32_t transaction = 0;
    std::uint32_t status = 0; // Reply: 0 = acknowledged, else a DMLERR_* code
    std::uint32_t format = 0;
    std::uint32_t flags = 0;
    std::uint32_t key = 0; // the client's key of an advise item
    std::uint32_t link = 0;
    std::uint32_t serial = 0;
    std::string_view service;
    std::string_view topic;
    std::string_view item;
    const std::uint8_t* data = nullptr;
    std::uint32_t dataSize = 0;
};

enum class DecodeResult {
    Complete,    // one frame decoded; `consumed` says how many bytes it took
    NeedMore,    // not yet a whole frame; `consumed` says how many bytes it will take, if known
    Malformed,   // a field does not fit the frame, or trailing bytes, or zero length
    Oversized,   // the announced length exceeds kMaxFrameBytes
    UnknownKind, // a kind this version does not know
};

DecodeResult decodeFrame(const std::uint8_t* bytes, std::size_t size, Frame& frame,
                         std::size_t& consumed);

// Bytes that encodeFrame writes for the frame (length field included).
std::size_t encodedFrameSize(const Frame& frame);
// Writes the frame to `out`, which holds encodedFrameSize(frame) bytes. Names
// longer than kMaxNameBytes are the caller's fault and are cut.
void encodeFrame(const Frame& frame, std::uint8_t* out);

const char* frameKindName(FrameKind kind);

// A growable byte queue: bytes are appended at the end and consumed from the
// front; the storage is reused, so a connection that has warmed up allocates
// nothing per frame.
class DdeBuffer {
public:
    DdeBuffer() = default;
    DdeBuffer(const DdeBuffer&) = delete;
    DdeBuffer& operator=(const DdeBuffer&) = delete;

    const std::uint8_t* readPtr() const { return m_data.get() + m_begin; }
    std::size_t readable() const { return m_end - m_begin; }
    bool empty() const { return m_end == m_begin; }
    void consume(std::size_t n);
    // Makes room for at least n more bytes at the end and returns where they go.
    std::uint8_t* reserveWrite(std::size_t n);
    std::size_t writable() const { return m_capacity - m_end; }
    void commit(std::size_t n) { m_end += n; }
    void append(const void* bytes, std::size_t n);
    void appendFrame(const Frame& frame);
    void clear();
    // Frees the storage when it grew beyond `keep` bytes and is empty.
    void shrinkIfIdle(std::size_t keep);

private:
    std::unique_ptr<std::uint8_t[]> m_data;
    std::size_t m_capacity = 0;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
};

} // namespace orvane::dde
