// What an engineer watching an inspector feels: how long one full repaint of
// a long sheet takes, how soon a value that arrives is on the screen, how many
// value changes per second the grid takes in, and how busy the GUI thread is
// while 1,000 rows change ten times a second. Against the real simulated
// server; the window is shown on the offscreen platform.
//
// Figures (last lines of the output):
//   grid.full_frame_ms               one full repaint of a 5,000-row sheet,
//                                    the worse of scrolled to the top and to the end
//   grid.advise_to_paint_ms_p50/_p99 from a value's arrival at its sheet to the
//                                    paint that shows it, 1,000 rows at 10 Hz
//   grid.gui_cpu_percent_1000x10hz   GUI thread CPU time over wall time, same load
//   grid.advise_updates_per_s        value changes reaching the grid per second
//                                    with the server pushing as fast as it can
//                                    (measured in a child run of this program)

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>

#include "BenchServer.h"
#include "inspector/OVVariable.h"
#include "model/KIDevice.h"
#include "model/KIDuxlaneItem.h"
#include "model/KIServer.h"
#include "windows/OVGrid.h"

using namespace orvane;
using orvane::bench::RunFor;
using orvane::bench::WaitUntil;

namespace {

constexpr int kFrameRows = 5000;
constexpr int kFrames = 200;
constexpr int kLiveRows = 1000;
constexpr int kMeasureSeconds = 5;
const char* const kTopic = "BIG1";

int Fail(const char* why) {
    std::fprintf(stderr, "grid_bench: %s\n", why);
    return 1;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    const auto at = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(at, v.size() - 1)];
}

double ThreadCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 +
           usage.ru_stime.tv_sec * 1e3 + usage.ru_stime.tv_usec / 1e3;
}

class DuxlaneDevice : public TKIDevice {
protected:
    std::unique_ptr<TKIItem> CreateItem(const QString& upperName) override {
        return std::make_unique<TKIDuxlaneItem>(upperName);
    }
};

// Sits between the sheet and the grid: notes when a value of a visible row
// arrived and, at the next paint, how long it took to be shown.
struct Probe {
    void Changed(TOVVariableList* sheet, int row) {
        ++arrivals;
        if (row >= 0 && row < static_cast<int>(arrivedAt.size()) && arrivedAt[row] < 0 &&
            row >= firstVisible && row <= lastVisible) {
            arrivedAt[row] = clock.nsecsElapsed();
            pending.push_back(row);
        }
        grid->RowChanged(sheet, row);
    }
    void Painted() {
        if (!flushedOnce) {
            return;
        }
        const qint64 now = clock.nsecsElapsed();
        std::vector<int> still;
        for (int row : pending) {
            if (flushed[row]) {
                latencies.push_back((now - arrivedAt[row]) / 1e6);
                arrivedAt[row] = -1;
                flushed[row] = 0;
            } else {
                still.push_back(row);
            }
        }
        pending.swap(still);
        ++paints;
    }
    void Flushed(const std::vector<int>& rows) {
        flushedOnce = true;
        for (int row : rows) {
            if (row < static_cast<int>(flushed.size()) && arrivedAt[row] >= 0) {
                flushed[row] = 1;
            }
        }
    }

    TOVGrid* grid = nullptr;
    QElapsedTimer clock;
    std::vector<qint64> arrivedAt;
    std::vector<char> flushed;
    std::vector<int> pending;
    std::vector<double> latencies;
    int firstVisible = 0;
    int lastVisible = -1;
    long long arrivals = 0;
    long long paints = 0;
    bool flushedOnce = false;
};

double FrameMs(TOVGrid& grid) {
    QWidget* viewport = grid.StringGrid()->viewport();
    viewport->repaint();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kFrames; ++i) {
        viewport->repaint();
    }
    return timer.nsecsElapsed() / 1e6 / kFrames;
}

struct Live {
    std::unique_ptr<TKIServer> server;
    std::unique_ptr<DuxlaneDevice> device;
};

// Connects to the big control; returns false with a message.
bool ConnectLive(const QString& serverExe, const QString& network, Live& live) {
    const char* error = nullptr;
    live.server = bench::ConnectToServer(serverExe, network, QString::fromLatin1(kTopic), &error);
    if (!live.server) {
        std::fprintf(stderr, "grid_bench: %s\n", error);
        return false;
    }
    live.device = std::make_unique<DuxlaneDevice>();
    live.device->SetServer(live.server.get());
    live.device->SetIdentifier(QString::fromLatin1(kTopic));
    return WaitUntil([&] { return live.device->Active(); }, 30000);
}

// A shown grid over the first 1,000 moving items, with the probe between.
struct LiveGrid {
    LiveGrid(TKIDevice* device, Probe& probe) {
        window.resize(900, 700);
        grid = new TOVGrid(&window);
        grid->setGeometry(0, 0, 900, 700);
        probe.grid = grid;
        probe.arrivedAt.assign(kLiveRows, -1);
        probe.flushed.assign(kLiveRows, 0);
        sheet = std::make_unique<TOVVariableList>(QStringLiteral("Live"),
                                                  TOVVariableChangedEvent(&probe, &Probe::Changed),
                                                  TOVModifiedEvent());
        int added = 0;
        for (const QString& name : device->GetTopicItemList()) {
            if (added == kLiveRows) {
                break;
            }
            if (name.startsWith(QLatin1String("Live "))) {
                sheet->Add(name, QString(), device);
                ++added;
            }
        }
        grid->SetSheet(sheet.get());
        grid->Model()->onFlushed = [&probe](const std::vector<int>& rows) { probe.Flushed(rows); };
        grid->StringGrid()->onPainted = [&probe] { probe.Painted(); };
        window.show();
        RunFor(200);
        probe.firstVisible = grid->StringGrid()->rowAt(0);
        probe.lastVisible = grid->StringGrid()->rowAt(grid->StringGrid()->viewport()->height() - 1);
        if (probe.lastVisible < 0) {
            probe.lastVisible = kLiveRows - 1;
        }
        probe.clock.start();
        sheet->AdviseAll();
    }
    ~LiveGrid() {
        grid->ForgetSheet();
        sheet.reset();
    }

    QWidget window;
    TOVGrid* grid;
    std::unique_ptr<TOVVariableList> sheet;
};

int Throughput(const QString& serverExe, const QString& network) {
    Live live;
    if (!ConnectLive(serverExe, network, live)) {
        return Fail("the control did not connect");
    }
    Probe probe;
    LiveGrid view(live.device.get(), probe);
    RunFor(1000);
    const long long before = probe.arrivals;
    const long long paintsBefore = probe.paints;
    QElapsedTimer timer;
    timer.start();
    RunFor(kMeasureSeconds * 1000);
    const double seconds = timer.nsecsElapsed() / 1e9;
    std::fprintf(stderr, "grid_bench: %.0f repaints/s while pushing as fast as possible\n",
                 (probe.paints - paintsBefore) / seconds);
    std::printf("grid.advise_updates_per_s: %.0f /s\n", (probe.arrivals - before) / seconds);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const bool throughputRun = argc > 1 && QByteArray(argv[1]) == "--throughput";
    QTemporaryDir root;
    bench::UsePrivateRunTimeFolders(root.path());
    qputenv("QT_LOGGING_RULES", "*.debug=false\n*.info=false");
    QApplication app(argc, argv);

    const QString serverExe = QString::fromUtf8(ORVANE_SERVER_EXE);
    const QString network = root.filePath("large.net");
    if (QProcess::execute(serverExe,
                          {QStringLiteral("--generate-network"), QString::number(kLiveRows * 2),
                           network, QStringLiteral("--live-items"), QString::number(kLiveRows)}) !=
        0) {
        return Fail("the server could not generate the network");
    }
    qputenv("DUXLANE_NO_DEFAULT_NETWORK", "1");
    if (throughputRun) {
        qputenv("DUXLANE_TICK_MS", "1");
        return Throughput(serverExe, network);
    }

    // One full repaint of a long sheet, at the top and at the end.
    double topMs = 0;
    double endMs = 0;
    {
        DuxlaneDevice offline;
        offline.SetIdentifier(QStringLiteral("PLC1"));
        TOVVariableList sheet(QStringLiteral("Long"), {}, {});
        for (int i = 0; i < kFrameRows; ++i) {
            sheet.Add(QStringLiteral("Area %1.Block %2.Field %3").arg(i / 100).arg(i / 10).arg(i),
                      QStringLiteral("row %1").arg(i), &offline);
        }
        QWidget window;
        window.resize(900, 700);
        auto* grid = new TOVGrid(&window);
        grid->setGeometry(0, 0, 900, 700);
        sheet.SetOnVariableChanged(TOVVariableChangedEvent(grid, &TOVGrid::RowChanged));
        grid->SetSheet(&sheet);
        window.show();
        RunFor(100);
        topMs = FrameMs(*grid);
        grid->StringGrid()->scrollToBottom();
        RunFor(50);
        endMs = FrameMs(*grid);
        grid->ForgetSheet();
    }

    // 1,000 rows changing ten times a second.
    qputenv("DUXLANE_TICK_MS", "100");
    double p50 = 0;
    double p99 = 0;
    double cpuPercent = 0;
    {
        Live live;
        if (!ConnectLive(serverExe, network, live)) {
            return Fail("the control did not connect");
        }
        Probe probe;
        LiveGrid view(live.device.get(), probe);
        RunFor(1500);
        probe.latencies.clear();
        const double cpuBefore = ThreadCpuMs();
        QElapsedTimer wall;
        wall.start();
        const long long arrivalsBefore = probe.arrivals;
        RunFor(kMeasureSeconds * 1000);
        const double wallMs = wall.nsecsElapsed() / 1e6;
        cpuPercent = (ThreadCpuMs() - cpuBefore) / wallMs * 100.0;
        std::fprintf(stderr, "grid_bench: %.0f values/s at 10 Hz, %zu latency samples\n",
                     (probe.arrivals - arrivalsBefore) / (wallMs / 1e3), probe.latencies.size());
        p50 = Percentile(probe.latencies, 0.50);
        p99 = Percentile(probe.latencies, 0.99);
    }
    // The server this run started goes with its TKIServer; the child starts
    // its own with the fastest tick.
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--throughput")});
    child.waitForFinished(120000);
    const QByteArray childOut = child.readAllStandardOutput();

    std::printf("grid.full_frame_ms: %.3f ms\n", std::max(topMs, endMs));
    std::printf("grid.full_frame_top_ms: %.3f ms\n", topMs);
    std::printf("grid.full_frame_end_ms: %.3f ms\n", endMs);
    std::printf("grid.advise_to_paint_ms_p50: %.2f ms\n", p50);
    std::printf("grid.advise_to_paint_ms_p99: %.2f ms\n", p99);
    std::printf("grid.gui_cpu_percent_1000x10hz: %.1f %%\n", cpuPercent);
    std::fputs(childOut.constData(), stdout);
    return 0;
}
