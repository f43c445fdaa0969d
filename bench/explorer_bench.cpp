// The Explorer as the engineer feels it: building and painting the tree of a
// 20,000-item control, one keystroke of the filter on it, and the time from
// starting the program (server running, demo network) to the Explorer
// showing the first control's tree.

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "BenchServer.h"
#include "Median.h"
#include "inspector/VarClipboard.h"
#include "model/KIDuxlaneControl.h"
#include "model/KIServer.h"
#include "model/OVServer.h"
#include "platform/DialogService.h"
#include "windows/DuxlaneTreeView.h"
#include "windows/Explorer.h"
#include "windows/Main.h"
#include "windows/OrvaneMDIForm.h"

using namespace orvane;

namespace {

constexpr int kItems = 20000;
constexpr int kRuns = 9;
const char* const kTopic = "BIG1";

// Any message box is a failed run: nobody is there to answer it.
class NoUser : public DialogService {
public:
    int messages = 0;
    TModalResult messageBox(TMsgDlgType, const QString& text, TMsgDlgButtons buttons) override {
        ++messages;
        std::fprintf(stderr, "explorer_bench: unexpected message: %s\n", qPrintable(text));
        return closeResultOf(buttons);
    }
    std::optional<QString> openFile(const FileDialogRequest&) override { return std::nullopt; }
    std::optional<QString> saveFile(const FileDialogRequest&) override { return std::nullopt; }
};

int Fail(const char* what) {
    std::fprintf(stderr, "explorer_bench: %s\n", what);
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

    const QString serverExe = QString::fromUtf8(ORVANE_SERVER_EXE);
    const QString big = root.filePath("big.net");
    if (QProcess::execute(
            serverExe, {QStringLiteral("--generate-network"), QString::number(kItems), big}) != 0) {
        return Fail("the server could not generate the network");
    }
    const QString demo = QFileInfo(serverExe).absolutePath() + QStringLiteral("/demo.net");
    const char* error = nullptr;
    // The large control alone first; this object started the server and ends it.
    auto kiServer = bench::ConnectToServer(serverExe, big, QString::fromLatin1(kTopic), &error);
    if (!kiServer) {
        return Fail(error);
    }

    {
        QStringList topics;
        if (!bench::WaitUntil(
                [&] {
                    kiServer->GetControlTopics(topics);
                    return topics.contains(QString::fromLatin1(kTopic));
                },
                60000)) {
            return Fail("the large network did not open");
        }
    }
    std::vector<double> builds;
    std::vector<double> keystrokes;
    {
        auto control = std::make_unique<TKIDuxlaneControl>();
        control->SetServer(kiServer.get());
        control->SetIdentifier(QString::fromLatin1(kTopic));
        if (!bench::WaitUntil([&] { return control->Active(); }, 30000)) {
            return Fail("the control did not connect");
        }
        if (control->GetTopicItemList().size() < kItems) {
            return Fail("the control does not list 20,000 items");
        }
        TVariableClipboard clipboard;
        TDuxlaneTreeView tree;
        tree.SetClipboard(&clipboard);
        tree.SetControl(control.get());
        tree.resize(260, 600);
        tree.show();
        QCoreApplication::processEvents();
        for (int run = 0; run < kRuns; ++run) {
            QElapsedTimer timer;
            timer.start();
            tree.Refresh();
            tree.repaint();
            builds.push_back(timer.nsecsElapsed() / 1e6);
            QCoreApplication::processEvents();
        }
        // Typing a name letter by letter, then taking it back.
        const QString typed = QStringLiteral("service: b");
        for (int run = 0; run < kRuns / 3 + 1; ++run) {
            for (qsizetype n = 1; n <= typed.size(); ++n) {
                QElapsedTimer timer;
                timer.start();
                tree.SetFilter(typed.left(n));
                tree.repaint();
                keystrokes.push_back(timer.nsecsElapsed() / 1e6);
            }
            for (qsizetype n = typed.size() - 1; n >= 0; --n) {
                QElapsedTimer timer;
                timer.start();
                tree.SetFilter(typed.left(n));
                tree.repaint();
                keystrokes.push_back(timer.nsecsElapsed() / 1e6);
            }
        }
        control->SetServer(nullptr);
    }

    kiServer.reset();
    bench::RunFor(1000);

    // The program starts while the server runs with the demo plant (a
    // process of its own, with its own data, so the program never ends it).
    QProcess demoServer;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QDir(root.path()).mkpath(QStringLiteral("demo-data"));
    env.insert(QStringLiteral("ORVANE_DATA_DIR"), root.filePath("demo-data"));
    demoServer.setProcessEnvironment(env);
    demoServer.start(serverExe, {QStringLiteral("--open"), demo});
    if (!demoServer.waitForStarted(10000)) {
        return Fail("the demo server did not start");
    }
    bench::RunFor(1500);
    std::vector<double> starts;
    {
        TInspectorInitialization settings;
        TInspectorInitialization::SetInstance(&settings);
        for (int run = 0; run < 5; ++run) {
            QElapsedTimer timer;
            timer.start();
            auto main = std::make_unique<TMainForm>();
            bool ready = false;
            QObject::connect(main.get(), &TMainForm::connected, [&] {
                main->Explorer()->Tree()->repaint();
                ready = !main->Explorer()->Tree()->Dump().isEmpty();
            });
            main->show();
            if (!bench::WaitUntil([&] { return ready || main->Ended(); }, 60000) || !ready) {
                return Fail("the program did not show the Explorer");
            }
            starts.push_back(timer.nsecsElapsed() / 1e6);
            for (TKIDuxlaneControl* control : main->Server()->Controls()) {
                control->SetServer(nullptr);
            }
            main.reset();
            QCoreApplication::processEvents();
        }
        TInspectorInitialization::SetInstance(nullptr);
    }
    demoServer.terminate();
    demoServer.waitForFinished(10000);
    if (noUser.messages != 0) {
        return Fail("the runs asked questions");
    }

    std::printf("tree builds: %d, fastest %.1f ms, slowest %.1f ms\n", kRuns,
                *std::min_element(builds.begin(), builds.end()),
                *std::max_element(builds.begin(), builds.end()));
    std::printf("filter keystrokes: %zu, slowest %.1f ms\n", keystrokes.size(),
                *std::max_element(keystrokes.begin(), keystrokes.end()));
    std::printf("explorer.tree_20000_items_ms: %.1f ms\n", bench::Median(builds));
    std::printf("explorer.filter_20000_items_ms: %.1f ms\n", bench::Median(keystrokes));
    std::printf("app.start_to_explorer_ms: %.0f ms\n", bench::Median(starts));
    return 0;
}
