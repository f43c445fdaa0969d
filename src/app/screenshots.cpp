// orvane-screenshots: starts Orvane as main() does, against whatever server
// the registry names, waits until the controls have connected and saves
// pictures of the windows for the documentation:
//   orvane-screenshots <folder>
// Meant to run under a virtual X display (scripts/screenshots).

#include <cstdio>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QScreen>
#include <QTabBar>
#include <QTextBrowser>
#include <QTimer>

#include "model/KIDuxlaneControl.h"
#include "model/OVServer.h"
#include "platform/DialogService.h"
#include "windows/About.h"
#include "windows/DuxlaneTreeView.h"
#include "windows/Explorer.h"
#include "windows/Glyphs.h"
#include "windows/HelpWindow.h"
#include "windows/Main.h"
#include "windows/MainInspectors.h"
#include "windows/MainTrends.h"
#include "windows/NetworkFilesDialog.h"

using namespace orvane;

namespace {

void Pump(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

bool Save(const QPixmap& picture, const QString& folder, const char* name) {
    const QString path = folder + QLatin1Char('/') + QString::fromLatin1(name);
    if (!picture.save(path)) {
        std::fprintf(stderr, "orvane-screenshots: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// The screen's contents under a set of windows (frames included).
QPixmap ScreenAround(const QList<QWidget*>& windows) {
    QRect area;
    for (QWidget* w : windows) {
        area = area.united(w->frameGeometry());
    }
    area.adjust(-8, -8, 8, 8);
    return QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(),
                                                        area.height());
}

int ExpandAndSelect(TDuxlaneTreeView* tree, const QStringList& path) {
    const TDuxlaneNodeTree& nodes = tree->ShownTree();
    const std::vector<int>* level = &nodes.roots;
    int found = -1;
    for (const QString& text : path) {
        found = -1;
        for (int id : *level) {
            if (nodes.nodes[id].text == text) {
                found = id;
                break;
            }
        }
        if (found < 0) {
            return -1;
        }
        tree->expand(tree->IndexOf(found));
        level = &nodes.nodes[found].children;
    }
    tree->SelectNode(found);
    return found;
}

// Nobody is at the virtual display: messages are written out and closed.
class NoUser : public DialogService {
public:
    TModalResult messageBox(TMsgDlgType, const QString& text, TMsgDlgButtons buttons) override {
        std::fprintf(stderr, "orvane-screenshots: message: %s\n", qPrintable(text));
        return closeResultOf(buttons);
    }
    std::optional<QString> openFile(const FileDialogRequest&) override { return std::nullopt; }
    std::optional<QString> saveFile(const FileDialogRequest&) override { return std::nullopt; }
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvane"));
    QApplication::setOrganizationName(QStringLiteral("Kestova"));
    QApplication::setWindowIcon(OrvaneIcon(TGlyph::Logo));
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: orvane-screenshots <folder>\n");
        return 2;
    }
    const QString folder = QDir(args[1]).absolutePath();
    QDir().mkpath(folder);

    NoUser noUser;
    DialogServiceScope dialogs(&noUser);
    TInspectorInitialization settings;
    TInspectorInitialization::SetInstance(&settings);
    int result = 0;
    {
        TMainForm main;
        new TMainInspectors(&main); // the first inspector opens at connection, as in the program
        new TMainTrends(&main);
        bool connected = false;
        QObject::connect(&main, &TMainForm::connected, [&connected] { connected = true; });
        main.show();
        QElapsedTimer timer;
        timer.start();
        while (!connected && !main.Ended() && timer.elapsed() < 120000) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        }
        if (!connected) {
            std::fprintf(stderr, "orvane-screenshots: the program did not connect\n");
            TInspectorInitialization::SetInstance(nullptr);
            return 1;
        }
        TExplorerForm* explorer = main.Explorer();
        TDuxlaneTreeView* tree = explorer->Tree();
        explorer->SelectTab(0);
        ExpandAndSelect(tree, {QStringLiteral("<<Service>>")});
        const TDuxlaneNodeTree& nodes = tree->ShownTree();
        if (tree->ServiceRoot() >= 0 && !nodes.nodes[tree->ServiceRoot()].children.empty()) {
            const int header = nodes.nodes[tree->ServiceRoot()].children.front();
            tree->expand(tree->IndexOf(header));
            if (!nodes.nodes[header].children.empty()) {
                tree->SelectNode(nodes.nodes[header].children.front());
            }
        }
        explorer->activateWindow();
        tree->setFocus();
        Pump(800);
        bool ok = Save(ScreenAround({&main, explorer}), folder, "main-and-explorer.png");
        // The whole program as the engineer meets it: the bar, the Explorer and
        // the first inspector, once live values have arrived.
        Pump(1500);
        // Every window on screen: inspectors belong to their manager, not
        // to the main window.
        QList<QWidget*> windows;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->isVisible()) {
                windows << window;
            }
        }
        ok = Save(ScreenAround(windows), folder, "program.png") && ok;
        ok = Save(main.grab(), folder, "main-window.png") && ok;
        ok = Save(explorer->grab(), folder, "explorer.png") && ok;

        // A control that never connected, when the server has one.
        for (int i = 0; i < explorer->TabCount(); ++i) {
            if (!TExplorerForm::NotConnectedText(main.Server()->Control(i)).isEmpty()) {
                explorer->SelectTab(i);
                Pump(300);
                ok = Save(explorer->grab(), folder, "explorer-not-connected.png") && ok;
                explorer->SelectTab(0);
                break;
            }
        }

        explorer->FilterEdit()->setText(QStringLiteral("pressure"));
        Pump(300);
        ok = Save(explorer->grab(), folder, "explorer-filter.png") && ok;
        explorer->FilterEdit()->clear();

        // The guide beside the program (this tool lies beside it too).
        THelpWindow help(&main);
        help.ShowTopic(QCoreApplication::applicationDirPath() + QStringLiteral("/orvane.chm/") +
                       TMainForm::HelpTopic());
        help.Browser()->setSource(QUrl(QStringLiteral("explorer.htm")));
        Pump(500);
        ok = Save(help.grab(), folder, "help.png") && ok;
        help.close();

        TAboutBox about(&main);
        about.show();
        Pump(300);
        ok = Save(about.grab(), folder, "about.png") && ok;
        about.close();

        main.NetworkFilesDialog()->SetFiles(
            {QStringLiteral("/opt/kestova/networks/plant.net"),
             QStringLiteral("/opt/kestova/networks/test-bench.net")});
        main.NetworkFilesDialog()->show();
        Pump(300);
        ok = Save(main.NetworkFilesDialog()->grab(), folder, "network-files.png") && ok;
        main.NetworkFilesDialog()->hide();

        for (TKIDuxlaneControl* control : main.Server()->Controls()) {
            control->SetServer(nullptr);
        }
        Pump(200);
        main.close();
        result = ok ? 0 : 1;
    }
    TInspectorInitialization::SetInstance(nullptr);
    return result;
}
