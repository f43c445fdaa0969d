#pragma once

#include <QString>
#include <QTemporaryDir>

namespace orvane::test {

// Points every run-time folder of the program at a fresh temporary folder for
// the life of the object: DDE sockets (ORVANE_DDE_DIR), registry files
// (ORVANE_REGISTRY_DIR) and the simulated server's data (ORVANE_DATA_DIR).
// Also sets QT_QPA_PLATFORM to offscreen unless the caller chose a platform.
class TestEnvironment {
public:
    TestEnvironment();
    ~TestEnvironment();

    bool isValid() const { return m_root.isValid(); }
    QString root() const { return m_root.path(); }
    QString ddeDir() const;
    QString registryDir() const;
    QString dataDir() const;

    // The one environment of this process, or null before main() created it.
    static TestEnvironment* instance();

private:
    QTemporaryDir m_root;
};

// Path of the built simulated server and of the source tree, for tests.
QString serverExecutable();
QString sourceDir();

} // namespace orvane::test
