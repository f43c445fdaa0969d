// Fuzz target of the local DDE transport's frame decoder: the input is a byte
// stream as a peer could send it. Every frame the decoder accepts must encode
// back to exactly the bytes it came from, and a cut-off frame must never be
// taken for a whole one.

#include "platform/DdeFrame.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

using orvane::dde::decodeFrame;
using orvane::dde::DecodeResult;
using orvane::dde::Frame;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t pos = 0;
    std::vector<std::uint8_t> encoded;
    orvane::dde::DdeBuffer buffer;
    while (pos < size) {
        Frame frame;
        std::size_t used = 0;
        const DecodeResult result = decodeFrame(data + pos, size - pos, frame, used);
        if (result == DecodeResult::NeedMore) {
            if (used != 0 && used <= size - pos) {
                std::abort(); // claimed to need bytes that are there
            }
            break;
        }
        if (result != DecodeResult::Complete) {
            break; // the conversation would end here
        }
        if (used == 0 || used > size - pos) {
            std::abort();
        }
        encoded.resize(orvane::dde::encodedFrameSize(frame));
        orvane::dde::encodeFrame(frame, encoded.data());
        if (encoded.size() != used || std::memcmp(encoded.data(), data + pos, used) != 0) {
            std::abort();
        }
        Frame partial;
        std::size_t partialUsed = 0;
        if (decodeFrame(data + pos, used - 1, partial, partialUsed) != DecodeResult::NeedMore) {
            std::abort();
        }
        buffer.appendFrame(frame);
        pos += used;
    }
    // What was accepted, queued and read back whole, decodes to the same frames.
    if (buffer.readable() != pos || (pos != 0 && std::memcmp(buffer.readPtr(), data, pos) != 0)) {
        std::abort();
    }
    return 0;
}
