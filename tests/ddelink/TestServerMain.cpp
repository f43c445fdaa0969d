// A stand-in server program for the launcher tests: it shows up as the
// Duxlane server does (its window class registered, the "Duxlane" service
// answering on "System") and ends on a termination request.
//
// Environment:
//   ORVANE_TEST_SERVER_REPORT  file that receives "<working folder>\n<show-window value>\n"
//   ORVANE_TEST_SERVER_MODE    "serve" (default), "exit" (ends at once), "nodde" (window
//                              class only, no DDE service), "die" (serves, and ends
//                              abruptly when the item "die" is requested)

#include <csignal>
#include <cstdlib>

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>

#include "ddelink/ServerInterface.h"
#include "platform/Process.h"
#include "platform/WindowClass.h"
#include "platform/ddeml.h"

namespace {

int g_signalPipe[2] = {-1, -1};
DWORD g_instance = 0;

void onTerminate(int) {
    const char c = 1;
    (void)!::write(g_signalPipe[1], &c, 1);
}

HDDEDATA callback(UINT type, UINT /*format*/, HCONV /*conv*/, HSZ /*hsz1*/, HSZ hsz2,
                  HDDEDATA /*data*/, ULONG_PTR, ULONG_PTR) {
    switch (type) {
    case XTYP_CONNECT:
        return TRUE; // the only service registered is "Duxlane"; any topic will do
    case XTYP_REQUEST: {
        char item[64] = {};
        DdeQueryString(g_instance, hsz2, item, sizeof item, CP_WINANSI);
        if (qstricmp(item, "die") == 0) {
            ::_exit(3);
        }
        static const char reply[] = "ok";
        return DdeCreateDataHandle(g_instance, reinterpret_cast<const BYTE*>(reply), sizeof reply,
                                   0, hsz2, CF_TEXT, 0);
    }
    default:
        return DDE_FACK;
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QByteArray mode = qgetenv("ORVANE_TEST_SERVER_MODE");
    const QByteArray report = qgetenv("ORVANE_TEST_SERVER_REPORT");
    if (!report.isEmpty()) {
        QFile f(QString::fromLocal8Bit(report));
        if (f.open(QIODevice::WriteOnly)) {
            f.write(QDir::currentPath().toLocal8Bit() + '\n' +
                    qgetenv(orvane::kShowWindowVariable) + '\n');
        }
    }
    if (mode == "exit") {
        return 0;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) {
        return 1;
    }
    std::signal(SIGTERM, onTerminate);
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

    orvane::WindowClassRegistration window(QString::fromLatin1(orvane::duxlane::kWindowClass));
    if (!window.isValid()) {
        return 1;
    }
    HSZ service = 0;
    if (mode != "nodde") {
        if (DdeInitialize(&g_instance, &callback, APPCLASS_STANDARD, 0) != DMLERR_NO_ERROR) {
            return 1;
        }
        service = DdeCreateStringHandle(g_instance, orvane::duxlane::kGenericService, CP_WINANSI);
        if (DdeNameService(g_instance, service, 0, DNS_REGISTER) == 0) {
            return 1;
        }
    }
    const int rc = app.exec();
    if (g_instance != 0) {
        DdeNameService(g_instance, service, 0, DNS_UNREGISTER);
        DdeFreeStringHandle(g_instance, service);
        DdeUninitialize(g_instance);
    }
    return rc;
}
