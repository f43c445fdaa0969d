#include "platform/WindowClass.h"

#include <atomic>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QStringList>

#include "platform/DdeRuntime.h"

namespace {

constexpr const char* kSuffix = ".wndclass";
constexpr const char* kTempSuffix = ".wndclass.tmp";

QString errnoText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

// The folder of the DDE sockets, under the same rules.
QString runtimeFolder(QString* error) {
    const std::string path = orvane::dde::runtimeDirPath();
    std::string why;
    if (!orvane::dde::prepareRuntimeDir(path, why)) {
        if (error) {
            *error = QStringLiteral("Run-time folder: %1").arg(QString::fromStdString(why));
        }
        return QString();
    }
    return QString::fromLocal8Bit(path.c_str());
}

// Upper-cased, with everything but letters, digits, blank, '_' and '-'
// written as %XX, so that the dots of the file name stay separators.
QString encodeClassName(const QString& className) {
    const QByteArray bytes = className.toUpper().toUtf8();
    QString out;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == ' ' || u == '_' || u == '-') {
            out += QLatin1Char(c);
        } else {
            out += QStringLiteral("%%1").arg(u, 2, 16, QLatin1Char('0')).toUpper();
        }
    }
    return out;
}

std::atomic<unsigned> g_sequence{0};

// True when another open file description holds a lock on the file: its
// owner lives. A file nobody locks is a dead owner's leftover and goes.
bool registrationLives(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return false;
    }
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return held;
    }
    // Remove only the file we checked: a new owner with the same process id
    // may have renamed its own registration into place meanwhile.
    struct stat opened {};
    struct stat named {};
    if (::fstat(fd, &opened) == 0 && ::lstat(path.constData(), &named) == 0 &&
        opened.st_ino == named.st_ino && opened.st_dev == named.st_dev) {
        ::unlink(path.constData());
    }
    ::close(fd);
    return false;
}

} // namespace

HWND FindWindow(const char* lpClassName, const char* lpWindowName) {
    if (lpClassName == nullptr || *lpClassName == '\0' || lpWindowName != nullptr) {
        errno = EINVAL;
        return 0;
    }
    const QString folder = runtimeFolder(nullptr);
    if (folder.isEmpty()) {
        return 0;
    }
    const QString prefix = encodeClassName(QString::fromUtf8(lpClassName)) + QLatin1Char('.');
    const QStringList names =
        QDir(folder).entryList({prefix + QLatin1Char('*') + QLatin1String(kSuffix)},
                               QDir::Files | QDir::System, QDir::Time | QDir::Reversed);
    for (const QString& name : names) {
        // "<CLASS>.<pid>.<n>.wndclass"
        const QStringList parts = name.split(QLatin1Char('.'));
        if (parts.size() != 4 || parts[0] + QLatin1Char('.') != prefix) {
            continue;
        }
        bool ok = false;
        const qulonglong pid = parts[1].toULongLong(&ok);
        if (!ok || pid == 0) {
            continue;
        }
        if (registrationLives(QFile::encodeName(folder + QLatin1Char('/') + name))) {
            return static_cast<HWND>(pid);
        }
    }
    return 0;
}

std::uint32_t GetWindowThreadProcessId(HWND hWnd, std::uint32_t* lpdwProcessId) {
    if (lpdwProcessId != nullptr) {
        *lpdwProcessId = static_cast<std::uint32_t>(hWnd);
    }
    return static_cast<std::uint32_t>(hWnd);
}

namespace orvane {

WindowClassRegistration::WindowClassRegistration(const QString& className)
    : m_className(className) {
    if (className.isEmpty()) {
        m_error = QStringLiteral("Empty window class name");
        return;
    }
    const QString folder = runtimeFolder(&m_error);
    if (folder.isEmpty()) {
        return;
    }
    const QString base = folder + QLatin1Char('/') + encodeClassName(className) + QLatin1Char('.') +
                         QString::number(::getpid()) + QLatin1Char('.') +
                         QString::number(g_sequence.fetch_add(1));
    const QByteArray temp = QFile::encodeName(base + QLatin1String(kTempSuffix));
    m_path = base + QLatin1String(kSuffix);
    // Built under a temporary name and locked before it becomes visible, so a
    // search never sees an unlocked registration of a live owner.
    const int fd =
        ::open(temp.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        m_error = errnoText(errno);
        return;
    }
    const QByteArray pid = QByteArray::number(::getpid()) + '\n';
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        ::write(fd, pid.constData(), static_cast<size_t>(pid.size())) != pid.size() ||
        ::rename(temp.constData(), QFile::encodeName(m_path).constData()) != 0) {
        m_error = errnoText(errno);
        ::unlink(temp.constData());
        ::close(fd);
        return;
    }
    m_fd = fd;
}

WindowClassRegistration::~WindowClassRegistration() {
    if (m_fd >= 0) {
        // Unlinked while still locked: no search can take it for a leftover
        // and remove somebody else's file.
        ::unlink(QFile::encodeName(m_path).constData());
        ::close(m_fd);
    }
}

} // namespace orvane
