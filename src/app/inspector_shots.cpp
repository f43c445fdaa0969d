// orvane-inspector-shots: pictures of inspector windows against the running
// demo plant, for the user guide and for review. Connects like the program
// does (the server registered by orvane-register), then saves:
//   inspector-quick.png   a Quick Inspector of the first control, live values,
//                         a tunable row selected (its editor and limits shown)
//   inspector-demo.png    examples/demo.ovi opened into an inspector
//   inspector-mixed.png   a hand-made sheet of variables of every control
//
// Usage: orvane-inspector-shots <output folder> <demo.ovi>

#include <cstdio>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>

#include "inspector/VarClipboard.h"
#include "model/OVServer.h"
#include "windows/InspectorForm.h"
#include "windows/InspectorManager.h"
#include "windows/OVGrid.h"

#include "app/ShotSupport.h"

using namespace orvane;

namespace {

constexpr int kConnectTimeoutMs = 60000;
constexpr int kLiveValuesMs = 2500;

using shots::Connected;
using shots::runFor;

// Selects the first row of the shown sheet whose value can be tuned.
void selectTunableRow(TInspectorForm* form) {
    TOVVariableList* sheet = form->Document().CurrentSheet();
    for (int row = 0; sheet && row < sheet->Count(); ++row) {
        if (sheet->Get(row)->ItemClassType() == vctTunable) {
            form->Grid()->StringGrid()->SelectRows(row, row);
            return;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: orvane-inspector-shots <output folder> <demo.ovi>\n");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    const QString demoFile = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(outDir);

    TInspectorInitialization settings;
    TInspectorInitialization::SetInstance(&settings);
    TVariableClipboard clipboard;
    TServer server;
    Connected connected;
    if (!server.Connect(TServerEvent(&connected, &Connected::Done))) {
        return 1;
    }
    QElapsedTimer wait;
    wait.start();
    while (!connected.done && !wait.hasExpired(kConnectTimeoutMs)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    if (!connected.done || server.ControlCount() == 0) {
        std::fprintf(stderr, "orvane-inspector-shots: no controls connected\n");
        return 1;
    }

    // Stands in for the main window: the inspectors' owner, at the top.
    QWidget main;
    main.setWindowTitle(QStringLiteral("Orvane"));
    main.setGeometry(40, 30, 1000, 80);
    main.show();
    int status = 0;
    {
        TInspectorManager manager(
            &main, &clipboard, {},
            [&server](const QString& name) -> TKIDevice* { return server.FindControl(name); });

        TItemListHeaderWalk headers(server.Control(0), &clipboard);
        TInspectorForm* quick = manager.NewQuickInspector(headers);
        quick->resize(900, 420);
        selectTunableRow(quick);
        runFor(kLiveValuesMs);
        status |= shots::save(quick, outDir + QStringLiteral("/inspector-quick.png")) ? 0 : 1;
        delete quick; // no save question: the picture is all we wanted

        TInspectorForm* opened = manager.OpenInspectorFile(demoFile);
        if (opened) {
            runFor(kLiveValuesMs);
            status |= shots::save(opened, outDir + QStringLiteral("/inspector-demo.png")) ? 0 : 1;
            delete opened;
        } else {
            status = 1;
        }

        TInspectorForm* mixed = manager.NewInspector();
        mixed->resize(900, 300);
        mixed->RenameCurrentSheet(QStringLiteral("Overview"));
        clipboard.Clear();
        for (TKIDuxlaneControl* control : server.Controls()) {
            const QStringList& names = control->GetTopicItemList();
            for (int i = 0; i < names.size() && i < 3; ++i) {
                clipboard.Add(names[i], QStringLiteral("from %1").arg(control->Identifier()),
                              control);
            }
        }
        mixed->PasteToSheet(-1, -1);
        mixed->AddSheet();
        mixed->SelectSheet(0);
        runFor(kLiveValuesMs);
        status |= shots::save(mixed, outDir + QStringLiteral("/inspector-mixed.png")) ? 0 : 1;
        delete mixed;
    }
    TInspectorInitialization::SetInstance(nullptr);
    return status;
}
