#include "TestEnvironment.h"

#include <cstdlib>

#include <QDir>

namespace orvane::test {

namespace {
TestEnvironment* g_instance = nullptr;
}

TestEnvironment::TestEnvironment() : m_root(QDir::tempPath() + "/orvane-test-XXXXXX") {
    if (!m_root.isValid()) {
        return;
    }
    QDir root(m_root.path());
    for (const char* sub : {"dde", "registry", "data"}) {
        root.mkpath(QString::fromLatin1(sub));
    }
    QFile::setPermissions(ddeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ::setenv("ORVANE_DDE_DIR", ddeDir().toLocal8Bit().constData(), 1);
    ::setenv("ORVANE_REGISTRY_DIR", registryDir().toLocal8Bit().constData(), 1);
    ::setenv("ORVANE_DATA_DIR", dataDir().toLocal8Bit().constData(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    g_instance = this;
}

TestEnvironment::~TestEnvironment() {
    if (g_instance == this) {
        g_instance = nullptr;
    }
}

QString TestEnvironment::ddeDir() const {
    return m_root.filePath("dde");
}
QString TestEnvironment::registryDir() const {
    return m_root.filePath("registry");
}
QString TestEnvironment::dataDir() const {
    return m_root.filePath("data");
}

TestEnvironment* TestEnvironment::instance() {
    return g_instance;
}

QString serverExecutable() {
    return QString::fromUtf8(ORVANE_SERVER_EXE);
}
QString sourceDir() {
    return QString::fromUtf8(ORVANE_SOURCE_DIR);
}

} // namespace orvane::test
