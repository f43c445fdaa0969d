#include "SimServer.h"

#include <csignal>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>

#include "DuxlaneServer.h"
#include "TestEnvironment.h"
#include "platform/WindowClass.h"

namespace orvane::test {

namespace {

constexpr int kPollIntervalMs = 10;
// output() reads until the server has been quiet this long.
constexpr int kOutputSettleMs = 50;
constexpr const char* kWindowClassName = "Duxlane Server";

} // namespace

const QByteArray SimServer::kSmallNetwork = R"(duxlane-network 1
name "Test network"

control "PLC1"
    description "Small test control"
    protocol-id "DXP 2.1"
    system-id "DX-100 S/N 1"
    application-id "Test App 1.0"
    product-id "DX100-TEST"
    configuration-id "CFG-1"
    reset-time 200
    erase-time 0
    save-values yes
    program-block 4096 256
    item "Service: Loop.Set Point" tunable real min 0 max 100 decimals 1 value 20
    item "Service: Loop.Actual" monitor real min 0 max 100 decimals 1 value 20 live follow "Service: Loop.Set Point" tau 0.5
    item "Configure: Loop.Gain" configure real min 0.5 max 10 decimals 2 value 1
    item "Plant.Area.Name" tunable string maxlen 8 value "North"
    item "Plant.Area.Start" tunable time value "06:00:00.00"
    item "Running" monitor boolean value 1
    item "Count" tunable int16 min -100 max 100 value 5
end

control "PLC2"
    product-id "DX200-TEST"
    reset-time 200
    save-values no
    item "Service: Motor.Speed" tunable integer min 0 max 3000 value 1500
    item "Service: Motor.Current" monitor real min 0 max 50 value 10 live noise 0.5
end
)";

SimServer::SimServer() = default;

SimServer::~SimServer() {
    stop();
}

QString SimServer::writeNetwork(const QByteArray& text, const QString& fileName) {
    const QString path = m_files.filePath(fileName);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
        m_error = QStringLiteral("cannot write %1").arg(path);
        return QString();
    }
    return path;
}

bool SimServer::start(const QString& networkFile) {
    return start(networkFile, Options());
}

bool SimServer::start(const QString& networkFile, const QStringList& arguments) {
    Options options;
    options.arguments = arguments;
    return start(networkFile, options);
}

bool SimServer::start(const QString& networkFile, const Options& options) {
    stop();
    m_output.clear();
    m_exitCode = -1;
    m_error.clear();
    const QString exe = serverExecutable();
    if (!QFileInfo(exe).isExecutable()) {
        m_error = QStringLiteral("the server is not built: %1").arg(exe);
        return false;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!options.defaultNetwork) {
        env.insert(QStringLiteral("DUXLANE_NO_DEFAULT_NETWORK"), QStringLiteral("1"));
    }
    // Each SimServer keeps its own data folder (over restarts of its server),
    // so that no test sees the saved values or remembered files of another.
    env.insert(QStringLiteral("ORVANE_DATA_DIR"), dataDir());
    for (auto it = options.environment.constBegin(); it != options.environment.constEnd(); ++it) {
        env.insert(it.key(), it.value());
    }
    QStringList arguments;
    if (!networkFile.isEmpty()) {
        arguments << QStringLiteral("--open") << networkFile;
    }
    arguments += options.arguments;

    m_process = std::make_unique<QProcess>();
    m_process->setProgram(exe);
    m_process->setArguments(arguments);
    m_process->setWorkingDirectory(QFileInfo(exe).absolutePath());
    m_process->setProcessEnvironment(env);
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->start();
    if (!m_process->waitForStarted(options.startTimeoutMs)) {
        m_error = QStringLiteral("the server did not start: %1").arg(m_process->errorString());
        m_process.reset();
        return false;
    }
    if (!options.waitUntilAnswering) {
        return true;
    }
    // The server registers its window class last, once its services answer.
    const QDeadlineTimer deadline(options.startTimeoutMs);
    while (!deadline.hasExpired()) {
        const HWND window = FindWindow(kWindowClassName, nullptr);
        if (window && static_cast<qint64>(window) == m_process->processId()) {
            return true;
        }
        if (m_process->state() != QProcess::Running ||
            m_process->waitForFinished(kPollIntervalMs)) {
            m_output += m_process->readAll();
            m_exitCode = m_process->exitCode();
            m_error = QStringLiteral("the server ended at start (code %1): %2")
                          .arg(m_exitCode)
                          .arg(QString::fromLocal8Bit(m_output));
            m_process.reset();
            return false;
        }
    }
    m_error = QStringLiteral("the server did not answer within %1 ms").arg(options.startTimeoutMs);
    kill();
    return false;
}

int SimServer::stop() {
    if (!m_process) {
        return m_exitCode;
    }
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate(); // SIGTERM: the termination request
        if (!m_process->waitForFinished(kServerStopTimeoutMs)) {
            m_process->kill();
            m_process->waitForFinished(-1);
            m_exitCode = -1;
            m_output += m_process->readAll();
            m_process.reset();
            return m_exitCode;
        }
    }
    m_output += m_process->readAll();
    m_exitCode = m_process->exitStatus() == QProcess::NormalExit ? m_process->exitCode() : -1;
    m_process.reset();
    return m_exitCode;
}

void SimServer::kill() {
    if (!m_process) {
        return;
    }
    m_process->kill();
    m_process->waitForFinished(-1);
    m_output += m_process->readAll();
    m_exitCode = -1;
    m_process.reset();
}

bool SimServer::isRunning() const {
    return m_process && m_process->state() == QProcess::Running;
}

qint64 SimServer::pid() const {
    return m_process ? m_process->processId() : 0;
}

bool SimServer::waitForExit(int timeoutMs) {
    if (!m_process) {
        return true;
    }
    if (!m_process->waitForFinished(timeoutMs)) {
        return false;
    }
    m_output += m_process->readAll();
    m_exitCode = m_process->exitStatus() == QProcess::NormalExit ? m_process->exitCode() : -1;
    m_process.reset();
    return true;
}

QString SimServer::output() {
    if (m_process) {
        // What the server wrote is in the pipe; take all that is there now.
        while (m_process->waitForReadyRead(kOutputSettleMs)) {
            m_output += m_process->readAll();
        }
        m_output += m_process->readAll();
    }
    return QString::fromLocal8Bit(m_output);
}

QString SimServer::dataDir() const {
    return m_files.filePath(QStringLiteral("data"));
}

InProcessServer::InProcessServer(orvane::server::ServerOptions options)
    : m_server(std::make_unique<orvane::server::DuxlaneServer>(std::move(options))) {}

InProcessServer::~InProcessServer() {
    stop();
}

orvane::server::ServerOptions InProcessServer::defaults() {
    orvane::server::ServerOptions options;
    options.noDefaultNetwork = true;
    // A test process may start and stop several servers: the window class
    // would only tell another test's fixture that this process serves.
    options.registerWindowClass = false;
    return options;
}

bool InProcessServer::start() {
    return m_server->start(&m_error);
}

void InProcessServer::stop() {
    if (m_server) {
        m_server->stop();
    }
}

} // namespace orvane::test
