// Network definition files come from anywhere the user points the server at:
// any bytes must give a definition or an error with a line, never a crash.
// A definition that parses must also survive being written and read again.

#include <cstdint>
#include <cstdlib>

#include <QByteArray>

#include "NetworkFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    orvane::server::NetworkFileError error;
    const auto network = orvane::server::NetworkFile::parse(text, &error);
    if (!network) {
        if (error.message.isEmpty()) {
            std::abort(); // a refusal always says why
        }
        return 0;
    }
    const auto again =
        orvane::server::NetworkFile::parse(orvane::server::NetworkFile::write(*network), &error);
    if (!again || again->controls.size() != network->controls.size()) {
        std::abort();
    }
    for (size_t c = 0; c < network->controls.size(); ++c) {
        if (again->controls[c].items.size() != network->controls[c].items.size()) {
            std::abort();
        }
    }
    return 0;
}
