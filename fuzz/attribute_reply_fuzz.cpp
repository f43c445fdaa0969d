// Raw attribute replies come from the server: the decoder must take any bytes
// without reading outside them.

#include <cstddef>
#include <cstdint>

#include <QByteArray>

#include "model/KIDuxlaneItem.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray reply(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    orvane::TKIItemAttributes attributes;
    if (orvane::DecodeAttributeReply(reply, attributes)) {
        // Both texts come from inside the reply.
        if (attributes.minValue.size() + attributes.maxValue.size() + 2 > reply.size()) {
            __builtin_trap();
        }
    }
    return 0;
}
