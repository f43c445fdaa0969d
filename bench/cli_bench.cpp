// What a maintenance script feels of orvane-cli, run as its own process
// against the real simulated server:
// - cli.watch_values_per_s: hot-link values that `watch` takes in and writes
//   to a CSV file, watching 1,000 moving items of the large network (each
//   moving every 10 ms, 100,000 values a second offered); the file is checked
//   for completeness;
// - cli.backup_demo_ms: `backup` of the demo network, from the command's
//   start to its end (connecting included).

#include <cstdio>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include "platform/Registry.h"

namespace {

constexpr int kWatchedItems = 1000;
constexpr int kNetworkItems = 20000;
constexpr int kLiveItems = 10000;
constexpr int kWatchSeconds = 5;
const char* const kTopic = "BIG1";

int Fail(const char* what) {
    std::fprintf(stderr, "cli_bench: %s\n", what);
    return 1;
}

// The server of one measurement, ended with the object.
class Server {
public:
    bool Start(const QStringList& arguments, const QString& ddeDir) {
        m_process.setProgram(QString::fromUtf8(ORVANE_SERVER_EXE));
        m_process.setArguments(arguments);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(10000)) {
            return false;
        }
        // Up once its network service listens.
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 30000) {
            for (const QString& entry : QDir(ddeDir).entryList(QDir::System | QDir::Files)) {
                if (entry.contains(QLatin1String("UPCIDUXLANE"), Qt::CaseInsensitive)) {
                    QThread::msleep(300);
                    return true;
                }
            }
            QThread::msleep(50);
        }
        return false;
    }
    ~Server() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(10000)) {
                m_process.kill();
                m_process.waitForFinished(5000);
            }
        }
    }

private:
    QProcess m_process;
};

struct Run {
    int status = -1;
    QByteArray out;
    QByteArray err;
    double ms = 0;
};

Run RunCli(const QStringList& arguments) {
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(QString::fromUtf8(ORVANE_CLI_EXE), arguments);
    Run run;
    if (!process.waitForStarted(10000) || !process.waitForFinished(300000)) {
        process.kill();
        process.waitForFinished(5000);
        return run;
    }
    run.ms = clock.nsecsElapsed() / 1e6;
    run.status = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir root;
    for (const char* sub : {"dde", "registry", "data", "backup"}) {
        QDir(root.path()).mkpath(QString::fromLatin1(sub));
    }
    const QString ddeDir = root.filePath("dde");
    QFile::setPermissions(ddeDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("ORVANE_DDE_DIR", ddeDir.toLocal8Bit());
    qputenv("ORVANE_REGISTRY_DIR", root.filePath("registry").toLocal8Bit());
    qputenv("ORVANE_DATA_DIR", root.filePath("data").toLocal8Bit());
    qputenv("QT_LOGGING_RULES", "*.debug=false\n*.info=false");
    QCoreApplication app(argc, argv);
    {
        orvane::TRegistry registry(orvane::HKEY_LOCAL_MACHINE);
        registry.OpenKey(QStringLiteral("\\SOFTWARE\\Kestova\\DDE Servers\\UPCIDuxlane"), true);
        registry.WriteString(QString(), QString::fromUtf8(ORVANE_SERVER_EXE));
    }

    // watch: the large network, its moving items first.
    const QString network = root.filePath("large.net");
    if (QProcess::execute(QString::fromUtf8(ORVANE_SERVER_EXE),
                          {QStringLiteral("--generate-network"), QString::number(kNetworkItems),
                           network, QStringLiteral("--live-items"), QString::number(kLiveItems)}) !=
        0) {
        return Fail("the server could not generate the large network");
    }
    double valuesPerSecond = 0;
    {
        Server server;
        if (!server.Start({QStringLiteral("--no-default-network"), QStringLiteral("--open"),
                           network, QStringLiteral("--tick"), QStringLiteral("10")},
                          ddeDir)) {
            return Fail("the server did not start");
        }
        const Run list =
            RunCli({QStringLiteral("list"), QString::fromLatin1(kTopic), QStringLiteral("--filter"),
                    QStringLiteral("Live "), QStringLiteral("--json"),
                    QStringLiteral("--server-timeout"), QStringLiteral("120")});
        QStringList items;
        for (const QJsonValue& value : QJsonDocument::fromJson(list.out).array()) {
            items << value.toObject().value(QStringLiteral("item")).toString();
            if (items.size() == kWatchedItems) {
                break;
            }
        }
        if (items.size() < kWatchedItems) {
            std::fprintf(stderr, "%s", list.err.constData());
            return Fail("the large network has too few moving items");
        }
        const QString csv = root.filePath("watch.csv");
        const Run watch =
            RunCli(QStringList{QStringLiteral("watch"), QString::fromLatin1(kTopic)}
                   << items
                   << QStringList{QStringLiteral("--interval"), QStringLiteral("10"),
                                  QStringLiteral("--duration"), QString::number(kWatchSeconds),
                                  QStringLiteral("--output"), csv});
        std::fprintf(stderr, "%s", watch.err.constData());
        if (watch.status != 0) {
            return Fail("watch failed");
        }
        // "watch: R rows, V values received in T s"
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("watch: (\\d+) rows, (\\d+) values received in "
                                              "([0-9.]+) s"))
                .match(QString::fromLocal8Bit(watch.err));
        if (!match.hasMatch()) {
            return Fail("watch did not report its figures");
        }
        const long long rows = match.captured(1).toLongLong();
        const double received = match.captured(2).toDouble();
        const double seconds = match.captured(3).toDouble();
        QFile file(csv);
        if (!file.open(QIODevice::ReadOnly)) {
            return Fail("no CSV file");
        }
        const QByteArray text = file.readAll();
        if (!text.endsWith('\n') || text.count('\n') != rows + 1) {
            return Fail("the CSV file is not complete");
        }
        std::fprintf(stderr, "cli_bench: %lld rows of %d values, %.1f MB\n", rows, kWatchedItems,
                     text.size() / 1e6);
        valuesPerSecond = seconds > 0 ? received / seconds : 0;
    }

    // backup: the demo network.
    double backupMs = 0;
    {
        Server server;
        const QString demo = QString::fromUtf8(ORVANE_SOURCE_DIR) + "/examples/demo.net";
        if (!server.Start({QStringLiteral("--no-default-network"), QStringLiteral("--open"), demo},
                          ddeDir)) {
            return Fail("the server did not start with the demo network");
        }
        const Run backup = RunCli({QStringLiteral("backup"), root.filePath("backup")});
        if (backup.status != 0) {
            std::fprintf(stderr, "%s", backup.err.constData());
            return Fail("backup failed");
        }
        backupMs = backup.ms;
    }

    std::printf("cli.watch_values_per_s: %.0f /s\n", valuesPerSecond);
    std::printf("cli.backup_demo_ms: %.1f ms\n", backupMs);
    return 0;
}
