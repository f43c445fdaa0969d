// duxlane-server: the simulated Duxlane control network server. Started by the
// program's launcher without arguments in its own folder; ends on a
// termination request (SIGTERM, the close of its window) or SIGINT. SIGUSR1
// drops the topics named by --drop-topic (fault injection).

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QSocketNotifier>

#include "DuxlaneDdeServer.h"
#include "DuxlaneServer.h"
#include "NetworkFile.h"
#include "NetworkGenerator.h"
#include "ServerLog.h"
#include "ServerOptions.h"
#include "platform/Process.h"

namespace {

// Name of the demo network that sits beside the executable.
constexpr const char* kDemoNetworkFile = "demo.net";

int g_signalPipe[2] = {-1, -1};

void onSignal(int signal) {
    const char byte = static_cast<char>(signal);
    // Only async-signal-safe work here: the event loop does the rest.
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

bool installSignalHandlers() {
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 &&
           ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGUSR1, &action, nullptr) == 0;
}

int generate(const orvane::server::ServerOptions& options) {
    orvane::server::GeneratorSettings settings;
    settings.items = options.generateItems;
    settings.liveItems = options.generateLiveItems;
    QSaveFile file(options.generateOutput);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(orvane::server::NetworkFile::write(orvane::server::generateNetwork(settings))) <
            0 ||
        !file.commit()) {
        std::fprintf(stderr, "duxlane-server: cannot write %s: %s\n",
                     qPrintable(options.generateOutput), qPrintable(file.errorString()));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Duxlane Server"));
    QCoreApplication::setOrganizationName(QStringLiteral("Kestova"));

    orvane::server::ServerOptions options = orvane::server::ServerOptions::fromEnvironment();
    QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        std::fputs(qPrintable(orvane::server::ServerOptions::usage()), stdout);
        return 0;
    }
    QString error;
    if (!options.parseArguments(arguments, &error)) {
        std::fprintf(stderr, "duxlane-server: %s\n\n%s", qPrintable(error),
                     qPrintable(orvane::server::ServerOptions::usage()));
        return 2;
    }
    if (options.generate) {
        return generate(options);
    }
    options.defaultNetwork =
        QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(kDemoNetworkFile);
    const QByteArray show = qgetenv(orvane::kShowWindowVariable);
    if (!show.isEmpty()) {
        // Headless: the show-window value only tells how the launcher wanted the window.
        qCDebug(orvane::server::lcServer) << "Started with show-window value" << show;
    }

    if (!installSignalHandlers()) {
        qCCritical(orvane::server::lcServer) << "Cannot install the termination handlers";
        return 1;
    }
    orvane::server::DuxlaneServer server(options);
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&server] {
        char byte = 0;
        bool quit = false;
        while (::read(g_signalPipe[0], &byte, 1) == 1) {
            if (byte == static_cast<char>(SIGUSR1)) {
                server.dde().dropTopics();
            } else {
                quit = true;
            }
        }
        if (quit) {
            qCInfo(orvane::server::lcServer) << "Termination requested; ending";
            QCoreApplication::quit();
        }
    });

    QObject::connect(&server, &orvane::server::DuxlaneServer::exitRequested, &app,
                     [] { QCoreApplication::exit(3); });
    if (!server.start(&error)) {
        qCCritical(orvane::server::lcServer).noquote() << "Cannot start:" << error;
        return 1;
    }
    const int rc = QCoreApplication::exec();
    server.stop();
    return rc;
}
