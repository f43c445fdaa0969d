#include "platform/WindowClass.h"

#include <cstdlib>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using orvane::WindowClassRegistration;

namespace {

QString ddeDir() {
    return QString::fromLocal8Bit(qgetenv("ORVANE_DDE_DIR"));
}

// Points ORVANE_DDE_DIR elsewhere for one test.
class DdeDirOverride {
public:
    explicit DdeDirOverride(const QString& dir) : m_saved(qgetenv("ORVANE_DDE_DIR")) {
        qputenv("ORVANE_DDE_DIR", QFile::encodeName(dir));
    }
    ~DdeDirOverride() { qputenv("ORVANE_DDE_DIR", m_saved); }

private:
    QByteArray m_saved;
};

} // namespace

TEST(WindowClass, LiveRegistrationIsFoundIgnoringCaseUntilItEnds) {
    EXPECT_EQ(FindWindow("Test Window Alpha", nullptr), 0u);
    {
        WindowClassRegistration reg(QStringLiteral("Test Window Alpha"));
        ASSERT_TRUE(reg.isValid()) << reg.errorString().toStdString();
        EXPECT_EQ(FindWindow("Test Window Alpha", nullptr), static_cast<HWND>(::getpid()));
        EXPECT_EQ(FindWindow("TEST window alpha", nullptr), static_cast<HWND>(::getpid()));
        EXPECT_EQ(FindWindow("Test Window", nullptr), 0u);
        EXPECT_EQ(FindWindow("Test Window Alpha2", nullptr), 0u);
        // Titles are not registered.
        EXPECT_EQ(FindWindow("Test Window Alpha", "Some title"), 0u);
        std::uint32_t pid = 0;
        EXPECT_EQ(GetWindowThreadProcessId(FindWindow("Test Window Alpha", nullptr), &pid),
                  static_cast<std::uint32_t>(::getpid()));
        EXPECT_EQ(pid, static_cast<std::uint32_t>(::getpid()));
    }
    EXPECT_EQ(FindWindow("Test Window Alpha", nullptr), 0u);
}

TEST(WindowClass, SecondWindowOfTheSameClassKeepsItRegistered) {
    auto first = std::make_unique<WindowClassRegistration>(QStringLiteral("Twin"));
    WindowClassRegistration second(QStringLiteral("twin"));
    ASSERT_TRUE(first->isValid());
    ASSERT_TRUE(second.isValid());
    first.reset();
    EXPECT_NE(FindWindow("Twin", nullptr), 0u);
}

TEST(WindowClass, LeftoverOfADeadOwnerDoesNotCountAndIsRemoved) {
    // As a killed owner leaves it: the file is there, nobody holds its lock.
    const QString stale = ddeDir() + QStringLiteral("/GHOST.999999.0.wndclass");
    {
        QFile f(stale);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("999999\n");
    }
    EXPECT_EQ(FindWindow("Ghost", nullptr), 0u);
    EXPECT_FALSE(QFile::exists(stale));
}

TEST(WindowClass, ClassNamesCannotLeaveTheFolderOrConfuseEachOther) {
    WindowClassRegistration reg(QStringLiteral("../a.b/c*"));
    ASSERT_TRUE(reg.isValid()) << reg.errorString().toStdString();
    EXPECT_NE(FindWindow("../a.b/c*", nullptr), 0u);
    EXPECT_EQ(FindWindow("../a", nullptr), 0u);
    EXPECT_EQ(FindWindow("../a.b/c", nullptr), 0u);
    const QStringList inside = QDir(ddeDir()).entryList(QDir::Files);
    EXPECT_EQ(inside.filter(QStringLiteral(".wndclass")).size(), 1);
    EXPECT_EQ(FindWindow("", nullptr), 0u);
    EXPECT_EQ(FindWindow(nullptr, nullptr), 0u);
}

TEST(WindowClass, FolderOpenToOthersIsRefused) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString open = root.filePath(QStringLiteral("open"));
    ASSERT_EQ(::mkdir(QFile::encodeName(open).constData(), 0755), 0);
    ::chmod(QFile::encodeName(open).constData(), 0755);
    {
        DdeDirOverride override(open);
        WindowClassRegistration reg(QStringLiteral("Refused"));
        EXPECT_FALSE(reg.isValid());
        EXPECT_TRUE(reg.errorString().contains(QStringLiteral("open to other users")))
            << reg.errorString().toStdString();
        EXPECT_EQ(FindWindow("Refused", nullptr), 0u);
        EXPECT_TRUE(QDir(open).entryList(QDir::Files).isEmpty());
    }
    {
        // A missing folder is made private.
        const QString fresh = root.filePath(QStringLiteral("fresh"));
        DdeDirOverride override(fresh);
        WindowClassRegistration reg(QStringLiteral("Fresh"));
        ASSERT_TRUE(reg.isValid()) << reg.errorString().toStdString();
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(fresh).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_NE(FindWindow("Fresh", nullptr), 0u);
    }
    {
        // A plain file in its place is no folder.
        const QString file = root.filePath(QStringLiteral("file"));
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.close();
        DdeDirOverride override(file);
        WindowClassRegistration reg(QStringLiteral("File"));
        EXPECT_FALSE(reg.isValid());
    }
}
