// What an engineer with a full trend feels: the memory eight traces of an hour
// at ten values a second hold, the cost of one repaint of them, and the share
// of the GUI thread a live trend takes.
//
// Figures (last lines of the output):
//   trend.memory_mib_8x36000        the storage the 8 full traces hold
//   trend.raw_mib_8x36000           the raw size of their points, beside it
//   trend.decimate_ms_8x36000       reducing all 8 traces to 1,000 columns
//                                   (median of 50), the data side of a repaint
//   trend.frame_ms_8x36000          one whole repaint of the trend window
//                                   showing all of it: reduce, hand to the
//                                   plot, draw a 1,200 x 700 plot (median of 20)
//   trend.frame_cpu_ms_8x36000      the same repaint in the GUI thread's CPU
//                                   time, which other work on a busy machine
//                                   does not inflate
//   trend.gui_cpu_percent_8x10hz    the GUI thread's CPU time over wall time
//                                   while 8 traces receive 10 values a second
//                                   for 10 s and the window follows live
//                                   (10-minute window, an hour held)

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <qcustomplot.h>

#include "windows/TrendBuffer.h"
#include "windows/TrendForm.h"

using namespace orvane;

namespace {

constexpr int kTraces = 8;
constexpr int kPoints = 36000;
constexpr std::int64_t kStepMs = 100; // ten values a second
constexpr int kPlotWidth = 1200;
constexpr int kPlotHeight = 700;
constexpr int kCpuSeconds = 10;

double Value(int trace, int step) {
    return std::sin(step / (20.0 + trace)) * (trace + 1);
}

// The window at the plot size the figure names.
void SizePlot(TTrendForm& form) {
    form.show();
    QCoreApplication::processEvents();
    const QSize extra = form.size() - form.Plot()->size();
    form.resize(kPlotWidth + extra.width(), kPlotHeight + extra.height());
    QCoreApplication::processEvents();
}

// A full hour in every trace, delivered as the hot links deliver values.
void Fill(TTrendForm& form, std::int64_t& clockMs, int points) {
    for (int t = 0; t < kTraces; ++t) {
        form.Feed().AddDetachedTrace(QStringLiteral("Trace %1").arg(t + 1));
    }
    form.TracesAdded();
    for (int i = 0; i < points; ++i) {
        for (int t = 0; t < kTraces; ++t) {
            form.Feed().Receive(t, QString::number(Value(t, i)));
        }
        clockMs += kStepMs;
    }
}

double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// The median wall and thread CPU time of one repaint, in ms.
std::pair<double, double> MedianFrameMs() {
    std::int64_t clockMs = 1'765'000'000'000;
    TTrendForm form(nullptr, TOrvaneMDIForm::TActivatedEvent(), [&clockMs] { return clockMs; });
    SizePlot(form);
    Fill(form, clockMs, kPoints);
    form.SetTimeWindowMs(0); // all of the hour
    std::vector<double> times;
    std::vector<double> cpuTimes;
    for (int r = 0; r < 20; ++r) {
        // One more value in each trace, as between two repaints of a live trend.
        for (int t = 0; t < kTraces; ++t) {
            form.Feed().Receive(t, QString::number(Value(t, kPoints + r)));
        }
        clockMs += kStepMs;
        QElapsedTimer clock;
        clock.start();
        const double cpuStart = ThreadCpuMs();
        form.RepaintNow();
        form.Plot()->repaint();
        cpuTimes.push_back(ThreadCpuMs() - cpuStart);
        times.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    std::sort(cpuTimes.begin(), cpuTimes.end());
    return {times[times.size() / 2], cpuTimes[cpuTimes.size() / 2]};
}

double ThreadCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double GuiCpuPercent() {
    // The hour held ends now; the wall clock then drives the window.
    std::int64_t historyMs = QDateTime::currentMSecsSinceEpoch() - std::int64_t{kPoints} * kStepMs;
    bool live = false;
    TTrendForm form(nullptr, TOrvaneMDIForm::TActivatedEvent(),
                    [&] { return live ? QDateTime::currentMSecsSinceEpoch() : historyMs; });
    SizePlot(form);
    Fill(form, historyMs, kPoints);
    live = true;
    int step = kPoints;
    QTimer values;
    QObject::connect(&values, &QTimer::timeout, [&] {
        for (int t = 0; t < kTraces; ++t) {
            form.Feed().Receive(t, QString::number(Value(t, step)));
        }
        ++step;
    });
    values.start(static_cast<int>(kStepMs));
    QEventLoop loop;
    QTimer::singleShot(kCpuSeconds * 1000, &loop, &QEventLoop::quit);
    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = ThreadCpuSeconds();
    loop.exec();
    const double cpu = ThreadCpuSeconds() - cpuBefore;
    return 100.0 * cpu / (wall.nsecsElapsed() / 1e9);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    constexpr int kColumns = 1000;
    constexpr int kRepeats = 50;

    std::vector<TTrendBuffer> traces(kTraces);
    std::size_t bytes = 0;
    for (int t = 0; t < kTraces; ++t) {
        for (int i = 0; i < kPoints; ++i) {
            traces[t].Append(std::int64_t{i} * kStepMs, Value(t, i));
        }
        bytes += traces[t].MemoryBytes();
    }

    std::vector<double> times;
    std::size_t drawn = 0;
    for (int r = 0; r < kRepeats; ++r) {
        QElapsedTimer clock;
        clock.start();
        for (const TTrendBuffer& trace : traces) {
            drawn += trace.Decimate(0, std::int64_t{kPoints} * kStepMs, kColumns).size();
        }
        times.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    const auto [frameMs, frameCpuMs] = MedianFrameMs();
    const double cpuPercent = GuiCpuPercent();
    std::printf("points drawn per repaint: %zu\n", drawn / kRepeats);
    std::printf("trend.memory_mib_8x36000: %.2f MiB\n", bytes / 1048576.0);
    std::printf("trend.raw_mib_8x36000: %.2f MiB\n",
                kTraces * kPoints * sizeof(TTrendPoint) / 1048576.0);
    std::printf("trend.decimate_ms_8x36000: %.3f ms\n", times[times.size() / 2]);
    std::printf("trend.frame_ms_8x36000: %.2f ms\n", frameMs);
    std::printf("trend.frame_cpu_ms_8x36000: %.2f ms\n", frameCpuMs);
    std::printf("trend.gui_cpu_percent_8x10hz: %.1f %%\n", cpuPercent);
    return 0;
}
