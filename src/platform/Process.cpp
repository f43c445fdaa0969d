#include "platform/Process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>

extern char** environ;

namespace orvane {

namespace {

constexpr int kMaxMessageLength = 255;
// Without process file descriptors the end of a child is polled this often.
constexpr auto kExitPollInterval = std::chrono::milliseconds(5);

int openPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

struct SpawnResources {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnResources() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnResources() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
};

} // namespace

QString systemErrorText(int errorNumber) {
    char buffer[kMaxMessageLength + 1] = {};
    // GNU strerror_r: returns the text, which may or may not be in buffer.
    const char* text = ::strerror_r(errorNumber, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text).left(kMaxMessageLength);
}

std::unique_ptr<Process> Process::start(const QString& executable, const QString& workingDirectory,
                                        int showWindow, int* errorNumber) {
    int dummy = 0;
    int& error = errorNumber ? *errorNumber : dummy;
    error = 0;
    if (executable.isEmpty()) {
        error = ENOENT;
        return nullptr;
    }
    // Relative to the caller's folder, not to the program's working folder.
    const QByteArray path = QFile::encodeName(QFileInfo(executable).absoluteFilePath());
    const QByteArray folder = QFile::encodeName(workingDirectory);

    const std::string showEntry =
        std::string(kShowWindowVariable) + '=' + std::to_string(showWindow);
    const std::string showPrefix = std::string(kShowWindowVariable) + '=';
    std::vector<char*> environment;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, showPrefix.c_str(), showPrefix.size()) != 0) {
            environment.push_back(*entry);
        }
    }
    environment.push_back(const_cast<char*>(showEntry.c_str()));
    environment.push_back(nullptr);
    char* argv[] = {const_cast<char*>(path.constData()), nullptr};

    SpawnResources spawn;
    if (!folder.isEmpty()) {
        posix_spawn_file_actions_addchdir_np(&spawn.actions, folder.constData());
    }
    // Nothing of ours but the standard streams reaches the program.
    posix_spawn_file_actions_addclosefrom_np(&spawn.actions, 3);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int s : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD, SIGUSR1, SIGUSR2}) {
        sigaddset(&defaults, s);
    }
    sigset_t empty;
    sigemptyset(&empty);
    posix_spawnattr_setsigdefault(&spawn.attributes, &defaults);
    posix_spawnattr_setsigmask(&spawn.attributes, &empty);
    posix_spawnattr_setflags(&spawn.attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, path.constData(), &spawn.actions, &spawn.attributes, argv,
                                 environment.data());
    if (rc != 0) {
        error = rc;
        return nullptr;
    }
    // Still our unreaped child, so the id cannot have been reused yet.
    return std::unique_ptr<Process>(new Process(pid, openPidfd(pid)));
}

Process::~Process() {
    std::unique_lock lock(m_mutex);
    if (!m_reaped && !reapLocked(false)) {
        // Still running: someone must collect it when it ends, or it lingers
        // as a zombie for as long as this process lives.
        const pid_t pid = static_cast<pid_t>(m_pid);
        std::thread([pid] {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    }
    if (m_pidfd >= 0) {
        ::close(m_pidfd);
    }
}

bool Process::reapLocked(bool block) {
    int status = 0;
    pid_t rc;
    do {
        rc = ::waitpid(static_cast<pid_t>(m_pid), &status, block ? 0 : WNOHANG);
    } while (rc < 0 && errno == EINTR);
    if (rc == static_cast<pid_t>(m_pid)) {
        m_reaped = true;
        m_status = status;
    } else if (rc < 0 && errno == ECHILD) {
        // Collected elsewhere (should not happen): it has ended all the same.
        m_reaped = true;
    }
    return m_reaped;
}

bool Process::waitForExit(int timeoutMs) {
    {
        std::unique_lock lock(m_mutex);
        if (m_reaped || reapLocked(false) || timeoutMs <= 0) {
            return m_reaped;
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (m_pidfd >= 0) {
            pollfd p{m_pidfd, POLLIN, 0};
            const int rc = ::poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
            if (rc < 0 && errno == EINTR) {
                continue;
            }
        } else {
            std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(
                kExitPollInterval, std::max(left, std::chrono::milliseconds(0))));
        }
        std::unique_lock lock(m_mutex);
        if (m_reaped || reapLocked(false)) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
    }
}

int Process::waitStatus() const {
    std::unique_lock lock(m_mutex);
    return m_reaped ? m_status : -1;
}

bool Process::signal(int signalNumber) {
    // Under the lock nobody reaps the child, so its id still names it.
    std::unique_lock lock(m_mutex);
    if (m_reaped || reapLocked(false)) {
        return false;
    }
#ifdef SYS_pidfd_send_signal
    if (m_pidfd >= 0) {
        return ::syscall(SYS_pidfd_send_signal, m_pidfd, signalNumber, nullptr, 0) == 0;
    }
#endif
    return ::kill(static_cast<pid_t>(m_pid), signalNumber) == 0;
}

bool Process::requestClose() {
    return signal(SIGTERM);
}
bool Process::kill() {
    return signal(SIGKILL);
}

} // namespace orvane
