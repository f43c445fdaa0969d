#include "platform/DdeFrame.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace orvane::dde {

// Frames are written in host order, which the protocol defines as little-endian.
static_assert(std::endian::native == std::endian::little);

namespace {

// Bytes after the length field that each kind carries before its variable part.
constexpr std::size_t kKindBytes = 1;

class Reader {
public:
    Reader(const std::uint8_t* p, std::size_t n) : m_p(p), m_end(p + n) {}

    bool u8(std::uint8_t& v) {
        if (m_end - m_p < 1) {
            return false;
        }
        v = *m_p++;
        return true;
    }
    bool u16(std::uint16_t& v) { return raw(&v, 2); }
    bool u32(std::uint32_t& v) { return raw(&v, 4); }
    bool i32(std::int32_t& v) { return raw(&v, 4); }
    bool name(std::string_view& v) {
        std::uint16_t n = 0;
        if (!u16(n) || n > kMaxNameBytes || std::size_t(m_end - m_p) < n) {
            return false;
        }
        v = std::string_view(reinterpret_cast<const char*>(m_p), n);
        m_p += n;
        return true;
    }
    bool rest(const std::uint8_t*& data, std::uint32_t& size) {
        data = m_p;
        size = std::uint32_t(m_end - m_p);
        m_p = m_end;
        return true;
    }
    bool atEnd() const { return m_p == m_end; }

private:
    bool raw(void* v, std::size_t n) {
        if (std::size_t(m_end - m_p) < n) {
            return false;
        }
        std::memcpy(v, m_p, n); // the transport is host-local: native little-endian order
        m_p += n;
        return true;
    }

    const std::uint8_t* m_p;
    const std::uint8_t* m_end;
};

class Writer {
public:
    explicit Writer(std::uint8_t* p) : m_p(p) {}
    bool u8(std::uint8_t v) { return raw(&v, 1); }
    bool u16(std::uint16_t v) { return raw(&v, 2); }
    bool u32(std::uint32_t v) { return raw(&v, 4); }
    bool i32(std::int32_t v) { return raw(&v, 4); }
    bool name(std::string_view v) {
        const auto n = std::uint16_t(std::min<std::size_t>(v.size(), kMaxNameBytes));
        return u16(n) && raw(v.data(), n);
    }
    bool rest(const std::uint8_t* p, std::uint32_t n) { return raw(p, n); }

private:
    bool raw(const void* v, std::size_t n) {
        if (n != 0) {
            std::memcpy(m_p, v, n);
            m_p += n;
        }
        return true;
    }
    std::uint8_t* m_p;
};

// Counts what a Writer would write.
class Sizer {
public:
    bool u16(std::uint16_t) { return add(2); }
    bool u32(std::uint32_t) { return add(4); }
    bool i32(std::int32_t) { return add(4); }
    bool name(std::string_view v) {
        return add(2 + std::min<std::size_t>(v.size(), kMaxNameBytes));
    }
    bool rest(const std::uint8_t*, std::uint32_t n) { return add(n); }
    std::size_t size() const { return m_size; }

private:
    bool add(std::size_t n) {
        m_size += n;
        return true;
    }
    std::size_t m_size = 0;
};

bool knownKind(std::uint8_t kind) {
    return kind >= std::uint8_t(FrameKind::Hello) && kind <= std::uint8_t(FrameKind::AdviseAck);
}

// Each kind's fields after the kind byte, in wire order: the one description
// that reading, writing and sizing all walk. "rest" is the data to the end of
// the frame.
template <class Io, class F>
bool walkFields(FrameKind kind, F& f, Io& io) {
    switch (kind) {
    case FrameKind::Hello:
        return io.u16(f.version) && io.i32(f.codePage) && io.name(f.service) && io.name(f.topic);
    case FrameKind::Accept:
        return io.u16(f.version) && io.name(f.topic);
    case FrameKind::Refuse:
        return true;
    case FrameKind::Request:
    case FrameKind::AdviseStop:
        return io.u32(f.transaction) && io.u32(f.format) && io.name(f.item);
    case FrameKind::Poke:
        return io.u32(f.transaction) && io.u32(f.format) && io.name(f.item) &&
               io.rest(f.data, f.dataSize);
    case FrameKind::Execute:
        return io.u32(f.transaction) && io.u32(f.format) && io.rest(f.data, f.dataSize);
    case FrameKind::AdviseStart:
        return io.u32(f.transaction) && io.u32(f.format) && io.u32(f.flags) && io.u32(f.key) &&
               io.name(f.item);
    case FrameKind::Reply:
        return io.u32(f.transaction) && io.u32(f.status) && io.u32(f.format) &&
               io.rest(f.data, f.dataSize);
    case FrameKind::AdviseData:
        return io.u32(f.link) && io.u32(f.serial) && io.u32(f.key) && io.u32(f.format) &&
               io.u32(f.flags) && io.rest(f.data, f.dataSize);
    case FrameKind::AdviseAck:
        return io.u32(f.link) && io.u32(f.serial);
    }
    return false;
}

// Bytes after the length field.
std::size_t bodySize(const Frame& f) {
    Sizer sizer;
    walkFields(f.kind, f, sizer);
    return kKindBytes + sizer.size();
}

} // namespace

DecodeResult decodeFrame(const std::uint8_t* bytes, std::size_t size, Frame& frame,
                         std::size_t& consumed) {
    consumed = 0;
    if (size < kLengthFieldBytes) {
        return DecodeResult::NeedMore;
    }
    std::uint32_t length = 0;
    std::memcpy(&length, bytes, kLengthFieldBytes);
    if (length == 0) {
        return DecodeResult::Malformed;
    }
    if (length > kMaxFrameBytes) {
        return DecodeResult::Oversized;
    }
    if (size - kLengthFieldBytes < length) {
        consumed = kLengthFieldBytes + length;
        return DecodeResult::NeedMore;
    }
    // Field by field: assigning a fresh Frame goes through a stack temporary
    // and stalls on every frame of an advise flood.
    frame.version = 0;
    frame.codePage = 0;
    frame.transaction = frame.status = frame.format = frame.flags = 0;
    frame.key = frame.link = frame.serial = 0;
    frame.service = frame.topic = frame.item = std::string_view();
    frame.data = nullptr;
    frame.dataSize = 0;
    Reader r(bytes + kLengthFieldBytes, length);
    std::uint8_t kind = 0;
    r.u8(kind);
    if (!knownKind(kind)) {
        return DecodeResult::UnknownKind;
    }
    if (!walkFields(FrameKind(kind), frame, r) || !r.atEnd()) {
        return DecodeResult::Malformed;
    }
    frame.kind = FrameKind(kind);
    consumed = kLengthFieldBytes + length;
    return DecodeResult::Complete;
}

std::size_t encodedFrameSize(const Frame& frame) {
    return kLengthFieldBytes + bodySize(frame);
}

void encodeFrame(const Frame& f, std::uint8_t* out) {
    Writer w(out);
    w.u32(std::uint32_t(bodySize(f)));
    w.u8(std::uint8_t(f.kind));
    walkFields(f.kind, f, w);
}

const char* frameKindName(FrameKind kind) {
    switch (kind) {
    case FrameKind::Hello:
        return "Hello";
    case FrameKind::Accept:
        return "Accept";
    case FrameKind::Refuse:
        return "Refuse";
    case FrameKind::Request:
        return "Request";
    case FrameKind::Poke:
        return "Poke";
    case FrameKind::Execute:
        return "Execute";
    case FrameKind::AdviseStart:
        return "AdviseStart";
    case FrameKind::AdviseStop:
        return "AdviseStop";
    case FrameKind::Reply:
        return "Reply";
    case FrameKind::AdviseData:
        return "AdviseData";
    case FrameKind::AdviseAck:
        return "AdviseAck";
    }
    return "?";
}

void DdeBuffer::consume(std::size_t n) {
    m_begin += std::min(n, readable());
    if (m_begin == m_end) {
        m_begin = m_end = 0;
    }
}

std::uint8_t* DdeBuffer::reserveWrite(std::size_t n) {
    if (m_capacity - m_end >= n) {
        return m_data.get() + m_end;
    }
    const std::size_t used = readable();
    if (m_capacity >= used + n && m_begin >= m_capacity / 2) {
        // Enough room once the consumed front is dropped; moving only pays
        // when the front is large, otherwise grow.
        std::memmove(m_data.get(), m_data.get() + m_begin, used);
    } else {
        std::size_t capacity = std::max<std::size_t>(m_capacity, 4096);
        while (capacity < used + n) {
            capacity *= 2;
        }
        auto data = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
        if (used != 0) {
            std::memcpy(data.get(), m_data.get() + m_begin, used);
        }
        m_data = std::move(data);
        m_capacity = capacity;
    }
    m_begin = 0;
    m_end = used;
    return m_data.get() + m_end;
}

void DdeBuffer::append(const void* bytes, std::size_t n) {
    if (n == 0) {
        return;
    }
    std::memcpy(reserveWrite(n), bytes, n);
    m_end += n;
}

void DdeBuffer::appendFrame(const Frame& frame) {
    const std::size_t n = encodedFrameSize(frame);
    encodeFrame(frame, reserveWrite(n));
    m_end += n;
}

void DdeBuffer::clear() {
    m_begin = m_end = 0;
}

void DdeBuffer::shrinkIfIdle(std::size_t keep) {
    if (empty() && m_capacity > keep) {
        m_data.reset();
        m_capacity = 0;
        m_begin = m_end = 0;
    }
}

} // namespace orvane::dde
