// orvane-trend-shots: pictures of trend windows against the running demo
// plant, for the user guide and for review. Connects like the program does
// (the server registered by orvane-register), then saves:
//   trend-setpoint-step.png  the boiler's firing rate set point stepped up, the
//                            firing rate and the flame temperature following
//   trend-flue-o2-cursor.png the flue O2 sine with the cursor and its read-out
//
// Usage: orvane-trend-shots <output folder>

#include <cstdio>

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>

#include "model/KIDevice.h"
#include "model/KIItem.h"
#include "model/OVServer.h"
#include "windows/TrendForm.h"

#include "app/ShotSupport.h"

using namespace orvane;

namespace {

constexpr int kConnectTimeoutMs = 60000;
// Before the step: enough of the steady state to see where it starts.
constexpr int kBeforeStepMs = 8000;
// After it: the firing rate settles (3 s), the flame temperature nearly (8 s).
constexpr int kAfterStepMs = 35000;
// The flue O2 swings with a 40 s period: more than one whole period.
constexpr int kCursorBackMs = 17000;

const QString kControl = QStringLiteral("BOILER_1");
const QString kSetPoint = QStringLiteral("Service: Burner.Firing Rate SP");

using shots::Connected;
using shots::runFor;

bool add(TTrendForm* trend, TKIDevice* device, const QString& name) {
    QString error;
    if (!trend->AddVariable(device, name, &error)) {
        std::fprintf(stderr, "orvane-trend-shots: %s: %s\n", qPrintable(name), qPrintable(error));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: orvane-trend-shots <output folder>\n");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outDir);

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
    TKIDevice* boiler = server.FindControl(kControl);
    if (!connected.done || !boiler) {
        std::fprintf(stderr, "orvane-trend-shots: %s did not connect\n", qPrintable(kControl));
        return 1;
    }

    int status = 0;
    {
        // Stands in for the main window: the trends' owner, at the top.
        QWidget main;
        main.setWindowTitle(QStringLiteral("Orvane"));
        main.setGeometry(40, 30, 1000, 80);
        main.show();

        auto* step = new TTrendForm(&main, {});
        step->setWindowTitle(QStringLiteral("Trend1"));
        step->setGeometry(60, 140, 900, 460);
        bool ok = add(step, boiler, kSetPoint) &&
                  add(step, boiler, QStringLiteral("Service: Burner.Firing Rate")) &&
                  add(step, boiler, QStringLiteral("Service: Burner.Flame Temperature"));
        // Rates in percent beside a temperature in degrees: each its own axis.
        step->SetScale(TTrendScale::PerTrace);
        step->SetTimeWindowMs(60 * 1000);
        step->show();

        auto* o2 = new TTrendForm(&main, {});
        o2->setWindowTitle(QStringLiteral("Trend2"));
        o2->setGeometry(90, 170, 900, 420);
        ok = add(o2, boiler, QStringLiteral("Service: Burner.Flue O2")) && ok;
        o2->SetTimeWindowMs(60 * 1000);
        o2->show();
        if (!ok) {
            return 1;
        }

        // The step, as the engineer types it into an inspector: 45 % to 75 %.
        TKIItem* setPoint = boiler->AcquireItem(kSetPoint);
        setPoint->SetValue(QStringLiteral("45.0"));
        runFor(kBeforeStepMs);
        setPoint->SetValue(QStringLiteral("75.0"));
        runFor(kAfterStepMs);
        step->RepaintNow();
        status |= shots::save(step, outDir + QStringLiteral("/trend-setpoint-step.png")) ? 0 : 1;

        o2->SetCursorTime(QDateTime::currentMSecsSinceEpoch() - kCursorBackMs);
        o2->RepaintNow();
        status |= shots::save(o2, outDir + QStringLiteral("/trend-flue-o2-cursor.png")) ? 0 : 1;

        // Leaves the demo plant as it found it.
        setPoint->SetValue(QStringLiteral("45.0"));
        runFor(300);
        boiler->ReleaseItem(setPoint->Name());
        delete o2;
        delete step;
    }
    return status;
}
