// What the simulated server costs: how many requests it serves one client per
// second, and its share of a processor while it pushes 1,000 advised items
// that change ten times a second (the goal is under 5 %). Both run against the
// real duxlane-server process in private run-time folders.

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include "NetworkFile.h"
#include "NetworkGenerator.h"
#include "platform/WindowClass.h"
#include "platform/ddeml.h"

namespace {

constexpr int kRequestSeconds = 3;
constexpr int kAdvisedItems = 1000;
constexpr int kWarmUpMs = 1500;
constexpr int kCpuSampleSeconds = 4;
constexpr int kStartTimeoutMs = 20000;

long g_pushes = 0;

HDDEDATA clientCallback(UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
    if (type == XTYP_ADVDATA) {
        ++g_pushes;
        return DDE_FACK;
    }
    return 0;
}

void spin(int ms) {
    QTimer tick;
    tick.start(10);
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

// utime + stime of a process, in clock ticks.
long long cpuTicks(qint64 pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    long long utime = 0;
    long long stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) {
            utime = std::stoll(field);
        } else if (i == 15) {
            stime = std::stoll(field);
        }
    }
    return utime + stime;
}

class Server {
public:
    // Each run gets its own data folder, so that it serves only its network.
    bool start(const QString& network, const QString& dataDir) {
        m_process.setProgram(QStringLiteral(ORVANE_SERVER_EXE));
        m_process.setArguments({QStringLiteral("--open"), network, QStringLiteral("--data-dir"),
                                dataDir, QStringLiteral("--no-default-network")});
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("orvane.server.info=false"));
        m_process.setProcessEnvironment(env);
        m_process.start();
        if (!m_process.waitForStarted()) {
            return false;
        }
        const QDeadlineTimer deadline(kStartTimeoutMs);
        while (!deadline.hasExpired()) {
            if (static_cast<qint64>(FindWindow("Duxlane Server", nullptr)) ==
                m_process.processId()) {
                return true;
            }
            if (m_process.waitForFinished(10)) {
                return false;
            }
        }
        return false;
    }
    ~Server() {
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    qint64 pid() const { return m_process.processId(); }

private:
    QProcess m_process;
};

QString writeNetwork(const QTemporaryDir& dir, const char* name, int items, int live) {
    orvane::server::GeneratorSettings settings;
    settings.items = items;
    settings.liveItems = live;
    const QString path = dir.filePath(QLatin1String(name));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(orvane::server::NetworkFile::write(orvane::server::generateNetwork(settings)));
    return path;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir root;
    if (!root.isValid()) {
        return 2;
    }
    QDir(root.path()).mkpath(QStringLiteral("dde"));
    QFile::setPermissions(root.filePath(QStringLiteral("dde")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ::setenv("ORVANE_DDE_DIR", qPrintable(root.filePath(QStringLiteral("dde"))), 1);
    QCoreApplication app(argc, argv);

    DWORD inst = 0;
    if (DdeInitialize(&inst, &clientCallback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) {
        std::fprintf(stderr, "DDE library did not start\n");
        return 1;
    }
    const HSZ service = DdeCreateStringHandle(inst, "UPCIDuxlane", CP_WINANSI);
    const HSZ topic = DdeCreateStringHandle(inst, "BIG1", CP_WINANSI);

    double requestsPerSecond = 0;
    {
        // Requests of the many items of a large control, round robin.
        Server server;
        if (!server.start(writeNetwork(root, "requests.net", 20000, 0), root.filePath("data1"))) {
            std::fprintf(stderr, "server did not start\n");
            return 1;
        }
        const HCONV conv = DdeConnect(inst, service, topic, nullptr);
        std::vector<HSZ> items;
        for (int i = 0; i < 200; ++i) {
            const QByteArray name = QStringLiteral("Service: Header %1.Field %2")
                                        .arg((i / 25) * 4 + 1)
                                        .arg(i % 25 + 1)
                                        .toLatin1();
            items.push_back(DdeCreateStringHandle(inst, name.constData(), CP_WINANSI));
        }
        long served = 0;
        long failed = 0;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < kRequestSeconds * 1000) {
            DWORD result = 0;
            const HDDEDATA data = DdeClientTransaction(nullptr, 0, conv, items[served % 200],
                                                       CF_TEXT, XTYP_REQUEST, 5000, &result);
            if (data) {
                DdeFreeDataHandle(data);
                ++served;
            } else {
                ++failed;
                break;
            }
        }
        requestsPerSecond = served * 1000.0 / static_cast<double>(clock.elapsed());
        if (failed) {
            std::fprintf(stderr, "a request failed (error 0x%x)\n", DdeGetLastError(inst));
        }
        DdeDisconnect(conv);
    }

    double cpuPercent = 0;
    double pushesPerSecond = 0;
    {
        // 1,000 live items, every one advised, changing ten times a second.
        Server server;
        if (!server.start(writeNetwork(root, "advise.net", kAdvisedItems, kAdvisedItems),
                          root.filePath("data2"))) {
            std::fprintf(stderr, "server did not start\n");
            return 1;
        }
        const HCONV conv = DdeConnect(inst, service, topic, nullptr);
        for (int i = 0; i < kAdvisedItems; ++i) {
            const QByteArray name = QStringLiteral("Live %1.Sensor %2.Value %3")
                                        .arg(i / 25 / 8 + 1)
                                        .arg(i / 25 % 8 + 1)
                                        .arg(i % 25 + 1)
                                        .toLatin1();
            const HSZ item = DdeCreateStringHandle(inst, name.constData(), CP_WINANSI);
            DWORD result = 0;
            if (!DdeClientTransaction(nullptr, 0, conv, item, CF_TEXT, XTYP_ADVSTART, 5000,
                                      &result)) {
                std::fprintf(stderr, "advise of %s refused\n", name.constData());
                return 1;
            }
        }
        spin(kWarmUpMs);
        const long long before = cpuTicks(server.pid());
        const long pushesBefore = g_pushes;
        QElapsedTimer clock;
        clock.start();
        spin(kCpuSampleSeconds * 1000);
        const long long after = cpuTicks(server.pid());
        const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
        cpuPercent = static_cast<double>(after - before) /
                     static_cast<double>(sysconf(_SC_CLK_TCK)) / seconds * 100.0;
        pushesPerSecond = static_cast<double>(g_pushes - pushesBefore) / seconds;
        DdeDisconnect(conv);
    }
    DdeUninitialize(inst);

    std::printf("server.advise_pushes_per_s: %.0f 1/s\n", pushesPerSecond);
    std::printf("server.requests_per_s: %.0f 1/s\n", requestsPerSecond);
    std::printf("server.cpu_percent_1000_items_10hz: %.1f %%\n", cpuPercent);
    return 0;
}
