// What an engineer with a full trend feels: the memory eight traces of an hour
// at ten values a second hold, and the cost of reducing them to the plot's
// pixel columns on every repaint.
//
// Figures (last lines of the output):
//   trend.memory_mib_8x36000        the storage the 8 full traces hold
//   trend.raw_mib_8x36000           the raw size of their points, beside it
//   trend.decimate_ms_8x36000       reducing all 8 traces to 1,000 columns
//                                   (median of 50), the data side of a repaint
//   trend.frame_ms_8x36000          one whole repaint as the trend window does
//                                   it: reduce, hand to the plot, draw a
//                                   1,200 x 700 plot (median of 20)

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <qcustomplot.h>

#include "windows/TrendBuffer.h"

using namespace orvane;

namespace {

double medianFrameMs(const std::vector<TTrendBuffer>& traces, std::int64_t endMs) {
    QCustomPlot plot;
    plot.resize(1200, 700);
    plot.show();
    plot.setNotAntialiasedElements(QCP::aePlottables); // as the trend window
    for (std::size_t t = 0; t < traces.size(); ++t) {
        plot.addGraph()->setLineStyle(QCPGraph::lsStepLeft);
    }
    std::vector<double> times;
    for (int r = 0; r < 20; ++r) {
        QElapsedTimer clock;
        clock.start();
        const int columns = plot.axisRect()->width();
        for (std::size_t t = 0; t < traces.size(); ++t) {
            const std::vector<TTrendPoint> points = traces[t].Decimate(0, endMs, columns);
            QVector<QCPGraphData> data;
            data.reserve(static_cast<int>(points.size()));
            for (const TTrendPoint& p : points) {
                data.append(QCPGraphData(p.timeMs / 1000.0, p.value));
            }
            plot.graph(static_cast<int>(t))->data()->set(data, true);
        }
        plot.rescaleAxes();
        plot.replot(QCustomPlot::rpImmediateRefresh);
        times.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
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
    std::printf("trend.frame_ms_8x36000: %.2f ms\n",
                medianFrameMs(traces, std::int64_t{kPoints} * 100));
    return 0;
}
