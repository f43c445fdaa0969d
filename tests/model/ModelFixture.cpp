#include "ModelFixture.h"

#include <cerrno>
#include <csignal>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include "TestEnvironment.h"
#include "ddelink/ExeMod.h"
#include "ddelink/Synchronizer.h"
#include "model/KIDevice.h"
#include "model/KIServer.h"
#include "platform/Registry.h"

namespace orvane::test {

QByteArray SmallNetwork() {
    return "duxlane-network 1\n"
           "name \"Model test\"\n"
           "control \"PUMP1\"\n"
           "  description \"Feed pump\"\n"
           "  item \"Service: Speed.Gain\" tunable real64 min 0.5 max 100 value 2\n"
           "  item \"Service: Speed.Mode\" configure integer min 0 max 3 value 1\n"
           "  item \"Service: Speed.Actual\" monitor real value 5\n"
           "  item \"Service: Speed.Label\" tunable string maxlen 200 value \"Feed\"\n"
           "  item \"Service: Speed.Odd\" tunable string code 81 value \"x\"\n"
           "end\n"
           "control \"PUMP2\"\n"
           "  item \"Configure: Valve.Open\" tunable boolean value 0\n"
           "end\n";
}

void ModelFixture::SetUp() {
    if (!QFile::exists(serverExecutable())) {
        GTEST_SKIP() << "the simulated server is not built: " << serverExecutable().toStdString();
    }
    TKIServer::SetRetryIntervalMsForTesting(50);
    TExeModule::SetWaitForTesting(2, 50);
    TKIDevice::SetDisconnectItemsSleepMsForTesting(10);
    // A test that goes wrong fails within the ctest time-out rather than hang.
    Synchronizer::SetTimeoutMsForTesting(20000);
    SetServerSwitch("DUXLANE_NO_DEFAULT_NETWORK", "1");
    SetServerSwitch("DUXLANE_TICK_MS", "50");
    RegisterServer(serverExecutable());
}

void ModelFixture::TearDown() {
    DestroyServer();
    for (std::int64_t pid : m_pids) {
        if (ProcessAlive(pid)) {
            ADD_FAILURE() << "server program " << pid << " still runs after the test";
            EndProcess(pid);
        }
    }
    for (const QByteArray& name : m_switches) {
        qunsetenv(name.constData());
    }
    // Every hook set above goes back to the product's value.
    Synchronizer::SetTimeoutMsForTesting(0);
    TKIServer::SetRetryIntervalMsForTesting(kRetryIntervalMs);
    TExeModule::SetWaitForTesting(0, 0);
    TKIDevice::SetDisconnectItemsSleepMsForTesting(kDisconnectItemsSleepMs);
}

QString ModelFixture::WriteNetwork(const QByteArray& text, const QString& name) {
    const QString path = QDir(TestEnvironment::instance()->root()).filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    return path;
}

void ModelFixture::RegisterServer(const QString& executable) {
    TRegistry registry(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(registry.OpenKey(
        QStringLiteral("\\SOFTWARE\\Kestova\\DDE Servers\\") + QLatin1String(kService), true));
    registry.WriteString(QString(), executable);
}

void ModelFixture::SetServerSwitch(const char* name, const QByteArray& value) {
    qputenv(name, value);
    m_switches.emplace_back(name);
}

TKIServer* ModelFixture::MakeServer(const QString& networkFile) {
    m_server = std::make_unique<TKIServer>();
    if (!networkFile.isEmpty()) {
        m_server->SetNetworkDefFiles({networkFile});
    }
    return m_server.get();
}

::testing::AssertionResult ModelFixture::StartAndWait(TKIServer* server, int controls) {
    server->SetServerName(QString::fromLatin1(kService));
    if (const std::int64_t pid = server->Launcher()->ProcessId()) {
        m_pids.push_back(pid);
    }
    if (!WaitUntil([server] { return server->IsConnected(); })) {
        return ::testing::AssertionFailure() << "the server never answered";
    }
    if (const std::int64_t pid = server->Launcher()->ProcessId()) {
        if (std::find(m_pids.begin(), m_pids.end(), pid) == m_pids.end()) {
            m_pids.push_back(pid);
        }
    }
    QStringList topics;
    const bool listed = WaitUntil([&] {
        server->GetControlTopics(topics);
        return topics.size() >= controls;
    });
    if (!listed) {
        return ::testing::AssertionFailure()
               << "the server lists " << topics.size() << " controls, not " << controls;
    }
    return ::testing::AssertionSuccess();
}

std::int64_t ModelFixture::StartedPid() const {
    return m_server ? m_server->Launcher()->ProcessId() : 0;
}

void ModelFixture::DestroyServer() {
    if (m_server) {
        if (const std::int64_t pid = StartedPid()) {
            if (std::find(m_pids.begin(), m_pids.end(), pid) == m_pids.end()) {
                m_pids.push_back(pid);
            }
        }
        m_server.reset();
    }
    // A program asked to close ends within moments.
    for (std::int64_t pid : m_pids) {
        WaitUntil([pid] { return !ProcessAlive(pid); }, 5000);
    }
}

bool ModelFixture::ProcessAlive(std::int64_t pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH);
}

void ModelFixture::EndProcess(std::int64_t pid) {
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    if (!WaitUntil([pid] { return !ProcessAlive(pid); }, 5000)) {
        ::kill(static_cast<pid_t>(pid), SIGKILL);
        WaitUntil([pid] { return !ProcessAlive(pid); }, 5000);
    }
}

} // namespace orvane::test
