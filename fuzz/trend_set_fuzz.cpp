// Reads arbitrary bytes as a trend set. Any input must end in a set or a
// refusal, never in a crash or a hang. A set read holds variables, each with a
// control and an item name, and a time window a trend offers; a refusal names
// a line of the input (or none) and a reason. What is read writes back to
// bytes that read as the same set.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>

#include <QByteArray>

#include "windows/TrendSet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const orvane::TTrendSetReadResult read = orvane::ParseTrendSet(bytes);
    if (!read.ok) {
        if (read.error.isEmpty() || read.line < 0 || read.line > bytes.count('\n') + 1) {
            std::abort();
        }
        return 0;
    }
    const orvane::TTrendSet& set = read.set;
    const auto* windows = std::begin(orvane::TTrendSet::kTimeWindowsMs);
    const auto* end = std::end(orvane::TTrendSet::kTimeWindowsMs);
    if (set.variables.empty() || std::find(windows, end, set.timeWindowMs) == end) {
        std::abort();
    }
    bool plain = true;
    for (const orvane::TTrendSetVariable& v : set.variables) {
        if (v.control.trimmed().isEmpty() || v.itemName.trimmed().isEmpty() ||
            v.control.contains(QLatin1Char('\t')) || v.itemName.contains(QLatin1Char('\t'))) {
            std::abort();
        }
        plain = plain && !v.itemName.contains(QLatin1Char('\r'));
    }
    // A stray CR inside a name is written as a blank; everything else stays.
    if (plain) {
        const orvane::TTrendSetReadResult again =
            orvane::ParseTrendSet(orvane::FormatTrendSet(set));
        if (!again.ok || !(again.set == set)) {
            std::abort();
        }
    }
    return 0;
}
