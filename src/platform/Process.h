#pragma once

// Starting, watching and closing another program, in the way the launcher of
// the server program does it on Windows (CreateProcess, waiting on the process
// handle, WM_CLOSE to its windows, FormatMessage of the last error).
//
// - A program is started without a shell and without arguments, in a given
//   working folder, with the caller's environment plus ORVANE_SHOW_WINDOW set
//   to the Windows show-window value (the started program shows its window
//   accordingly). No file descriptor but standard input, output and error is
//   passed on.
// - The started program stays a child of this process. Every child is reaped:
//   by waitForExit/hasExited once it has ended, or, when the Process object is
//   destroyed while the program still runs, by a background waiter. No zombie
//   is left behind either way.
// - Destroying a Process never ends the program (as closing a process handle
//   does not end a Windows process); requestClose asks it to end.

#include <cstdint>
#include <memory>
#include <mutex>

#include <QString>

// Show-window values (Windows values).
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;

namespace orvane {

// Name of the environment variable that carries the show-window value.
inline constexpr const char* kShowWindowVariable = "ORVANE_SHOW_WINDOW";

// The operating system's text for an error number (strerror), cut to at most
// 255 characters as FormatMessage with a 256-character buffer would.
QString systemErrorText(int errorNumber);

class Process {
public:
    // Starts `executable` in `workingDirectory` (empty: the caller's current
    // folder). Returns null on failure with the error number in *errorNumber
    // (ENOENT, EACCES, ENOEXEC, ... also when the folder cannot be entered).
    static std::unique_ptr<Process> start(const QString& executable,
                                          const QString& workingDirectory, int showWindow,
                                          int* errorNumber);

    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    std::int64_t processId() const { return m_pid; }

    // Waits up to timeoutMs (0: just looks) for the program to end; true when
    // it has ended and has been reaped. Safe to call from another thread than
    // the one calling requestClose/hasExited, but one waiter at a time.
    bool waitForExit(int timeoutMs);
    bool hasExited() { return waitForExit(0); }

    // Raw wait status (waitpid) once hasExited() is true; -1 before.
    int waitStatus() const;

    // Polite termination request (SIGTERM; the program treats it as a close
    // of its main window). False when the program has already ended.
    bool requestClose();
    // Immediate end (SIGKILL); for tests and for children that must not
    // outlive a failed start. False when the program has already ended.
    bool kill();

private:
    Process(std::int64_t pid, int pidfd) : m_pid(pid), m_pidfd(pidfd) {}
    bool signal(int signalNumber);
    bool reapLocked(bool block);

    const std::int64_t m_pid;
    const int m_pidfd; // -1 when the kernel has no process file descriptors
    mutable std::mutex m_mutex;
    bool m_reaped = false;
    int m_status = -1;
};

} // namespace orvane
