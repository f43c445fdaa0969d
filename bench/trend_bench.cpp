// What an engineer with a full trend feels: the memory eight traces of an hour
// at ten values a second hold, and the cost of reducing them to the plot's
// pixel columns on every repaint.
//
// Figures (last lines of the output):
//   trend.memory_mib_8x36000        the storage the 8 full traces hold
//   trend.raw_mib_8x36000           the raw size of their points, beside it
//   trend.decimate_ms_8x36000       reducing all 8 traces to 1,000 columns
//                                   (median of 50), the data side of a repaint

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include <QElapsedTimer>

#include "windows/TrendBuffer.h"

using namespace orvane;

int main() {
    constexpr int kTraces = 8;
    constexpr int kPoints = 36000;
    constexpr int kColumns = 1000;
    constexpr int kRepeats = 50;

    std::vector<TTrendBuffer> traces(kTraces);
    std::size_t bytes = 0;
    for (int t = 0; t < kTraces; ++t) {
        for (int i = 0; i < kPoints; ++i) {
            traces[t].Append(std::int64_t{i} * 100, std::sin(i / (20.0 + t)) * (t + 1));
        }
        bytes += traces[t].MemoryBytes();
    }

    std::vector<double> times;
    std::size_t drawn = 0;
    for (int r = 0; r < kRepeats; ++r) {
        QElapsedTimer clock;
        clock.start();
        for (const TTrendBuffer& trace : traces) {
            drawn += trace.Decimate(0, std::int64_t{kPoints} * 100, kColumns).size();
        }
        times.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    std::printf("points drawn per repaint: %zu\n", drawn / kRepeats);
    std::printf("trend.memory_mib_8x36000: %.2f MiB\n", bytes / 1048576.0);
    std::printf("trend.raw_mib_8x36000: %.2f MiB\n",
                kTraces * kPoints * sizeof(TTrendPoint) / 1048576.0);
    std::printf("trend.decimate_ms_8x36000: %.3f ms\n", times[times.size() / 2]);
    return 0;
}
