// What an engineer waits for with a large control: saving the settings of a
// control with 5,000 mutable items into a file, and loading them back, against
// the real simulated server started through the registry and the launcher.
//
// Loading pauses kItemPauseMs after every item, so 5,000 items cannot load in
// less than 5,000 of those pauses; the floor is measured in the same run (the
// pauses alone, as the platform sleeps them) and printed beside the load.
//
// Figures (last lines of the output):
//   settings.save_5000_ms             median SaveToFile of the 5,000 items
//   settings.load_5000_ms             median LoadFromFile of the saved file
//   settings.load_5000_pause_floor_ms 5,000 item pauses alone

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "BenchServer.h"
#include "Median.h"
#include "model/KIDuxlaneControl.h"
#include "model/KIServer.h"
#include "platform/DialogService.h"
#include "settings/KIDuxlaneConfig.h"

using namespace orvane;
using orvane::bench::WaitUntil;

namespace {

constexpr int kMutableItems = 5000;
// The generator mixes monitors in; this many items hold enough mutable ones.
constexpr int kGeneratedItems = 9000;
constexpr int kRuns = 3;
const char* const kTopic = "BIG1";

// Keeps the network's first kMutableItems tunable and configure items and
// drops its monitors, so that the control's mutable list has exactly that many.
bool KeepMutableItems(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QList<QByteArray> lines = file.readAll().split('\n');
    file.close();
    QByteArray out;
    int kept = 0;
    for (const QByteArray& line : lines) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith("item ")) {
            const bool mutableItem =
                trimmed.contains("\" tunable ") || trimmed.contains("\" configure ");
            if (!mutableItem || kept == kMutableItems) {
                continue;
            }
            ++kept;
        }
        out += line + '\n';
    }
    return kept == kMutableItems && file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(out) == out.size();
}

// Answers every question as if the user closed it (a load of valid values
// asks none; a benchmark must never wait for a user).
class NoUser : public DialogService {
public:
    TModalResult messageBox(TMsgDlgType, const QString& text, TMsgDlgButtons buttons) override {
        std::fprintf(stderr, "settings_bench: unexpected message: %s\n", qPrintable(text));
        ++messages;
        return closeResultOf(buttons);
    }
    std::optional<QString> openFile(const FileDialogRequest&) override { return std::nullopt; }
    std::optional<QString> saveFile(const FileDialogRequest&) override { return std::nullopt; }
    int messages = 0;
};

int Fail(const char* what) {
    std::fprintf(stderr, "settings_bench: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir root;
    bench::UsePrivateRunTimeFolders(root.path());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    NoUser noUser;
    DialogServiceScope dialogs(&noUser);

    const QString server = QString::fromUtf8(ORVANE_SERVER_EXE);
    const QString network = root.filePath("settings.net");
    if (QProcess::execute(server,
                          {QStringLiteral("--generate-network"), QString::number(kGeneratedItems),
                           network, QStringLiteral("--live-items"), QStringLiteral("0")}) != 0) {
        return Fail("the server could not generate the network");
    }
    if (!KeepMutableItems(network)) {
        return Fail("the generated network has too few mutable items");
    }
    qputenv("DUXLANE_NO_DEFAULT_NETWORK", "1");
    const char* error = nullptr;
    auto kiServer = bench::ConnectToServer(server, network, QString::fromLatin1(kTopic), &error);
    if (!kiServer) {
        return Fail(error);
    }
    auto control = std::make_unique<TKIDuxlaneControl>();
    control->SetServer(kiServer.get());
    control->SetIdentifier(QString::fromLatin1(kTopic));
    if (!WaitUntil([&] { return control->Active(); }, 30000)) {
        return Fail("the control did not connect");
    }
    if (control->GetMutableItemList().size() != kMutableItems) {
        return Fail("the control does not list 5,000 mutable items");
    }

    const QString file = root.filePath("big.cfg");
    std::vector<double> saves;
    std::vector<double> loads;
    try {
        for (int run = 0; run < kRuns; ++run) {
            TKIDuxlaneConfig engine;
            engine.SetDevice(control.get());
            QElapsedTimer timer;
            timer.start();
            engine.SaveToFile(file);
            saves.push_back(timer.nsecsElapsed() / 1e6);
        }
        for (int run = 0; run < kRuns; ++run) {
            TKIDuxlaneConfig engine;
            engine.SetDevice(control.get());
            QElapsedTimer timer;
            timer.start();
            engine.LoadFromFile(file);
            loads.push_back(timer.nsecsElapsed() / 1e6);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "settings_bench: %s\n", error.what());
        return 1;
    }
    if (noUser.messages != 0) {
        return Fail("the load asked questions");
    }

    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kMutableItems; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kItemPauseMs));
    }
    const double floorMs = timer.nsecsElapsed() / 1e6;

    control->SetServer(nullptr);
    control.reset();
    kiServer.reset();

    std::printf("saves: %d, fastest %.1f ms, slowest %.1f ms\n", kRuns,
                *std::min_element(saves.begin(), saves.end()),
                *std::max_element(saves.begin(), saves.end()));
    std::printf("loads: %d, fastest %.1f ms, slowest %.1f ms\n", kRuns,
                *std::min_element(loads.begin(), loads.end()),
                *std::max_element(loads.begin(), loads.end()));
    std::printf("settings.save_5000_ms: %.1f ms\n", bench::Median(saves));
    std::printf("settings.load_5000_ms: %.1f ms\n", bench::Median(loads));
    std::printf("settings.load_5000_pause_floor_ms: %.1f ms\n", floorMs);
    return 0;
}
