#include "platform/Process.h"

#include <cerrno>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using orvane::Process;

namespace {

// A program written as a script in a temporary folder: the kernel runs its
// interpreter, the launcher itself uses no shell.
class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString script(const QString& name, const QString& body) {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\n");
        f.write(body.toUtf8());
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }
    QString folder(const QString& name) {
        QDir(m_dir.path()).mkpath(name);
        return QDir(m_dir.filePath(name)).canonicalPath();
    }
    QString read(const QString& name) {
        QFile f(m_dir.filePath(name));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    QString out(const QString& name) { return m_dir.filePath(name); }

    static bool gone(std::int64_t pid) {
        // Neither running nor left as a zombie.
        for (int i = 0; i < 500; ++i) {
            if (::access(QByteArray("/proc/" + QByteArray::number(pid)).constData(), F_OK) != 0) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(ProcessTest, StartsInItsFolderWithTheShowWindowValueAndNoArguments) {
    qputenv(orvane::kShowWindowVariable, "7"); // the caller's own value is replaced
    const QString work = folder(QStringLiteral("work"));
    const QString exe =
        script(QStringLiteral("record.sh"), QStringLiteral("pwd > '%1'\necho \"$%2 $#\" >> '%1'\n")
                                                .arg(out(QStringLiteral("record.txt")),
                                                     QLatin1String(orvane::kShowWindowVariable)));
    int error = -1;
    auto p = Process::start(exe, work, SW_SHOWMINIMIZED, &error);
    qunsetenv(orvane::kShowWindowVariable);
    ASSERT_TRUE(p) << error;
    EXPECT_EQ(error, 0);
    ASSERT_TRUE(p->waitForExit(5000));
    EXPECT_TRUE(WIFEXITED(p->waitStatus()));
    EXPECT_EQ(read(QStringLiteral("record.txt")), work + QStringLiteral("\n2 0\n"));
    EXPECT_TRUE(gone(p->processId()));
}

TEST_F(ProcessTest, RelativePathIsTheCallersAndEmptyFolderMeansTheCallers) {
    const QString exe = script(QStringLiteral("where.sh"),
                               QStringLiteral("pwd > '%1'\n").arg(out(QStringLiteral("w.txt"))));
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
    int error = 0;
    auto p = Process::start(QStringLiteral("where.sh"), QString(), SW_HIDE, &error);
    QDir::setCurrent(saved);
    ASSERT_TRUE(p) << error;
    ASSERT_TRUE(p->waitForExit(5000));
    EXPECT_EQ(read(QStringLiteral("w.txt")).trimmed(), QDir(m_dir.path()).canonicalPath());
    (void)exe;
}

TEST_F(ProcessTest, FailuresGiveTheSystemsErrorNumber) {
    int error = 0;
    EXPECT_FALSE(Process::start(m_dir.filePath(QStringLiteral("missing")), QString(), 1, &error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(orvane::systemErrorText(ENOENT), QStringLiteral("No such file or directory"));

    const QString plain = m_dir.filePath(QStringLiteral("plain"));
    QFile f(plain);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    EXPECT_FALSE(Process::start(plain, QString(), 1, &error));
    EXPECT_EQ(error, EACCES);

    const QString exe = script(QStringLiteral("ok.sh"), QStringLiteral("exit 0\n"));
    EXPECT_FALSE(Process::start(exe, m_dir.filePath(QStringLiteral("no-such-folder")), 1, &error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_FALSE(orvane::systemErrorText(12345).isEmpty());
}

TEST_F(ProcessTest, CloseRequestEndsItAndWaitingTimesOutWhileItRuns) {
    const QString exe = script(QStringLiteral("long.sh"), QStringLiteral("exec sleep 30\n"));
    auto p = Process::start(exe, QString(), 1, nullptr);
    ASSERT_TRUE(p);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(p->waitForExit(50));
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(45));
    EXPECT_FALSE(p->hasExited());
    EXPECT_EQ(p->waitStatus(), -1);
    EXPECT_TRUE(p->requestClose());
    ASSERT_TRUE(p->waitForExit(5000));
    EXPECT_TRUE(WIFSIGNALED(p->waitStatus()));
    EXPECT_EQ(WTERMSIG(p->waitStatus()), SIGTERM);
    EXPECT_FALSE(p->requestClose()); // already ended: nothing to signal
    EXPECT_TRUE(gone(p->processId()));
}

TEST_F(ProcessTest, ProgramOutlivingItsHandleIsStillReaped) {
    const QString exe = script(QStringLiteral("short.sh"), QStringLiteral("exec sleep 0.2\n"));
    auto p = Process::start(exe, QString(), 1, nullptr);
    ASSERT_TRUE(p);
    const auto pid = p->processId();
    p.reset(); // does not end it
    EXPECT_EQ(::kill(static_cast<pid_t>(pid), 0), 0);
    EXPECT_TRUE(gone(pid));
}

TEST_F(ProcessTest, NoDescriptorOfTheCallerIsInherited) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0); // deliberately without close-on-exec
    const QString exe = script(
        QStringLiteral("fds.sh"),
        QStringLiteral("if [ -e /proc/$$/fd/%1 ]; then echo leaked; else echo clean; fi > '%2'\n")
            .arg(fds[1])
            .arg(out(QStringLiteral("fds.txt"))));
    auto p = Process::start(exe, QString(), 1, nullptr);
    ::close(fds[0]);
    ::close(fds[1]);
    ASSERT_TRUE(p);
    ASSERT_TRUE(p->waitForExit(5000));
    EXPECT_EQ(read(QStringLiteral("fds.txt")).trimmed(), QStringLiteral("clean"));
}

TEST_F(ProcessTest, WaitOnAnotherThreadWhileTheCallerAsksItToClose) {
    const QString exe = script(QStringLiteral("long2.sh"), QStringLiteral("exec sleep 30\n"));
    auto p = Process::start(exe, QString(), 1, nullptr);
    ASSERT_TRUE(p);
    bool ended = false;
    std::thread waiter([&] {
        for (int i = 0; i < 50 && !ended; ++i) {
            ended = p->waitForExit(200);
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(p->requestClose());
    waiter.join();
    EXPECT_TRUE(ended);
    EXPECT_TRUE(gone(p->processId()));
}
