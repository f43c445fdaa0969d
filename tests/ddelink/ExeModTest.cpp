#include "ddelink/ExeMod.h"

#include <csignal>
#include <memory>

#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "DdeServerFixture.h"
#include "ddelink/KIDdeClientConv.h"
#include "ddelink/KIDdeMgr.h"
#include "ddelink/ServerInterface.h"
#include "platform/Process.h"
#include "platform/WindowClass.h"

using namespace orvane;
using orvane::test::waitFor;

namespace {

bool processGone(std::int64_t pid) {
    // Neither running nor left as a zombie.
    return waitFor(
        [pid] {
            return ::access(QByteArray("/proc/" + QByteArray::number(pid)).constData(), F_OK) != 0;
        },
        10000);
}

// Only a test server of ours: the id may have been reused once it ended.
void killIfOurs(std::int64_t pid) {
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains("duxlane-server")) {
        ::kill(static_cast<pid_t>(pid), SIGKILL);
    }
}

class ExeModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        qputenv("ORVANE_TEST_SERVER_REPORT", QFile::encodeName(report()));
        // A copy in a folder whose name has a blank, as installed.
        m_serverDir = m_dir.filePath("Duxlane Server");
        QDir().mkpath(m_serverDir);
        m_serverExe = m_serverDir + "/duxlane-server";
        ASSERT_TRUE(QFile::copy(QStringLiteral(DDELINK_TEST_SERVER), m_serverExe));
        QFile::setPermissions(m_serverExe, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    void TearDown() override {
        for (auto& p : m_started) {
            p->kill();
            p->waitForExit(3000);
        }
        for (std::int64_t pid : m_pids) {
            killIfOurs(pid);
            EXPECT_TRUE(processGone(pid));
        }
        qunsetenv("ORVANE_TEST_SERVER_REPORT");
        qunsetenv("ORVANE_TEST_SERVER_MODE");
    }

    QString report() const { return m_dir.filePath("report.txt"); }
    QStringList readReport() const {
        QFile f(report());
        return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()).split('\n')
                                           : QStringList();
    }
    static bool serverAnswers() {
        TKIDdeClientConv probe;
        return probe.Connect(duxlane::kGenericService, duxlane::kSystemTopic);
    }
    // A server that was running before the launcher looked.
    Process* startServerOurselves() {
        int error = 0;
        auto p = Process::start(m_serverExe, m_serverDir, SW_HIDE, &error);
        EXPECT_TRUE(p) << error;
        if (!p) {
            return nullptr;
        }
        m_started.push_back(std::move(p));
        EXPECT_TRUE(waitFor([] { return FindWindow(duxlane::kWindowClass, nullptr) != 0; }));
        EXPECT_TRUE(waitFor([] { return serverAnswers(); }));
        return m_started.back().get();
    }

public:
    void OnStarted(TExeModule* sender) { starts.push_back(sender); }
    void OnStartedAgain(TExeModule* sender) { secondStarts.push_back(sender); }
    TExeModuleEvent started() { return TExeModuleEvent(this, &ExeModuleTest::OnStarted); }

protected:
    QTemporaryDir m_dir;
    QString m_serverDir;
    QString m_serverExe;
    std::vector<std::unique_ptr<Process>> m_started;
    std::vector<std::int64_t> m_pids; // killed at the end whatever happens
    TKIDdeMgr manager;
    std::vector<TExeModule*> starts;
    std::vector<TExeModule*> secondStarts;
};

} // namespace

TEST_F(ExeModuleTest, FindsARunningServerAndNeverClosesIt) {
    Process* running = startServerOurselves();
    ASSERT_TRUE(running);
    TExeModule launcher;
    EXPECT_EQ(launcher.State(), TExeModuleState::Stopped);
    launcher.Run("/no/such/folder/duxlane-server", SW_SHOWNORMAL, started());
    // At once, without starting anything.
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0], &launcher);
    EXPECT_EQ(launcher.State(), TExeModuleState::Running);
    EXPECT_EQ(launcher.FoundServerWindow(), std::uintptr_t(running->processId()));
    EXPECT_EQ(launcher.ProcessId(), 0);

    launcher.Close();
    EXPECT_EQ(launcher.State(), TExeModuleState::Stopped);
    EXPECT_FALSE(running->waitForExit(100));
    EXPECT_TRUE(serverAnswers());
}

TEST_F(ExeModuleTest, StartsTheServerInItsFolderWithTheShowWindowValueAndClosesIt) {
    TExeModule launcher;
    launcher.Run(m_serverExe, SW_SHOWMINIMIZED, started());
    EXPECT_EQ(launcher.State(), TExeModuleState::Starting);
    EXPECT_TRUE(starts.empty()); // only from the event loop
    const std::int64_t pid = launcher.ProcessId();
    ASSERT_GT(pid, 0);
    m_pids.push_back(pid);
    ASSERT_TRUE(waitFor([&] { return !starts.empty(); }));
    EXPECT_EQ(starts.size(), 1u);
    EXPECT_EQ(launcher.State(), TExeModuleState::Running);
    EXPECT_EQ(launcher.FoundServerWindow(), 0u);
    ASSERT_TRUE(waitFor([] { return serverAnswers(); }));
    EXPECT_EQ(readReport().mid(0, 2), (QStringList{QDir(m_serverDir).canonicalPath(), "2"}));

    launcher.Close();
    EXPECT_EQ(launcher.State(), TExeModuleState::Stopped);
    EXPECT_TRUE(processGone(pid)); // ended on the request and reaped
}

TEST_F(ExeModuleTest, SecondRunWhileStartingIsIgnored) {
    // A program that registers its window but never answers on DDE.
    qputenv("ORVANE_TEST_SERVER_MODE", "nodde");
    const TExeModule::TimingScope slower({.waitAttempts = 10, .waitIntervalMs = 30});
    TExeModule launcher;
    launcher.Run(m_serverExe, SW_HIDE, started());
    const std::int64_t pid = launcher.ProcessId();
    m_pids.push_back(pid);
    ASSERT_TRUE(waitFor([] { return FindWindow(duxlane::kWindowClass, nullptr) != 0; }));
    launcher.Run(m_serverExe, SW_HIDE, TExeModuleEvent(this, &ExeModuleTest::OnStartedAgain));
    EXPECT_EQ(launcher.ProcessId(), pid);
    EXPECT_EQ(launcher.State(), TExeModuleState::Starting);
    ASSERT_TRUE(waitFor([&] { return !starts.empty(); }));
    // The wait has ended and its end was handled: anything it queued has run.
    ASSERT_TRUE(test::RunPostedCalls());
    EXPECT_EQ(starts.size(), 1u);
    EXPECT_TRUE(secondStarts.empty());
    EXPECT_EQ(launcher.State(), TExeModuleState::Running);
}

TEST_F(ExeModuleTest, FoundWindowThatDoesNotAnswerIsIgnoredAndANewServerStarted) {
    WindowClassRegistration deaf(duxlane::kWindowClass);
    TExeModule launcher;
    launcher.Run(m_serverExe, SW_HIDE, started());
    EXPECT_EQ(launcher.State(), TExeModuleState::Starting);
    EXPECT_EQ(launcher.FoundServerWindow(), 0u);
    m_pids.push_back(launcher.ProcessId());
    ASSERT_TRUE(waitFor([&] { return !starts.empty(); }));
}

TEST_F(ExeModuleTest, BareProgramNameStartsInTheCallersFolder) {
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_serverDir));
    TExeModule launcher;
    launcher.Run("duxlane-server", SW_SHOWNORMAL, started());
    QDir::setCurrent(saved);
    m_pids.push_back(launcher.ProcessId());
    ASSERT_TRUE(waitFor([&] { return !starts.empty(); }));
    ASSERT_TRUE(waitFor([&] { return readReport().size() >= 2; }));
    EXPECT_EQ(readReport().mid(0, 2), (QStringList{QDir(m_serverDir).canonicalPath(), "1"}));
}

TEST_F(ExeModuleTest, ProgramThatCannotStartRaisesTheSystemsText) {
    TExeModule launcher;
    try {
        launcher.Run(m_dir.filePath("missing/duxlane-server"), SW_HIDE, started());
        FAIL() << "no exception";
    } catch (const ExeModuleException& e) {
        EXPECT_EQ(e.message(), "No such file or directory");
    }
    EXPECT_EQ(launcher.State(), TExeModuleState::Stopped);
    ASSERT_TRUE(test::RunPostedCalls());
    EXPECT_TRUE(starts.empty());
}

TEST_F(ExeModuleTest, ProgramThatEndsAtOnceStillCompletesAndLeavesNoZombie) {
    qputenv("ORVANE_TEST_SERVER_MODE", "exit");
    // The product's wait; the exit ends it early.
    const TExeModule::TimingScope productWait({.waitAttempts = 20, .waitIntervalMs = 200});
    TExeModule launcher;
    launcher.Run(m_serverExe, SW_HIDE, started());
    const std::int64_t pid = launcher.ProcessId();
    ASSERT_TRUE(waitFor([&] { return !starts.empty(); }, 10000));
    EXPECT_EQ(launcher.State(), TExeModuleState::Running);
    EXPECT_TRUE(processGone(pid));
    launcher.Close(); // nothing left to ask
    EXPECT_EQ(launcher.State(), TExeModuleState::Stopped);
}

TEST_F(ExeModuleTest, LauncherDestroyedWhileStartingLeavesTheProgramRunningAndReaped) {
    const TExeModule::TimingScope productWait({.waitAttempts = 20, .waitIntervalMs = 200});
    std::int64_t pid = 0;
    {
        TExeModule launcher;
        launcher.Run(m_serverExe, SW_HIDE, started());
        pid = launcher.ProcessId();
    }
    // The destroyed launcher's thread has ended; what it queued has run.
    ASSERT_TRUE(test::RunPostedCalls());
    EXPECT_TRUE(starts.empty());
    ASSERT_TRUE(waitFor([] { return serverAnswers(); }));
    killIfOurs(pid);
    EXPECT_TRUE(processGone(pid));
}
