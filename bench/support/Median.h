#pragma once

// The figure every benchmark reports of repeated samples: their median, so
// that one run disturbed by other work on the machine does not move it.

#include <algorithm>
#include <vector>

namespace orvane::bench {

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace orvane::bench
