#pragma once

// TExeModule: makes sure the control network server program runs before the
// server object connects to it. It first looks for a running server (its
// window class "Duxlane Server" registered and its "Duxlane"/"System" DDE
// topic answering); only if there is none does it start the executable and
// give it a few seconds on a waiting thread (TExeModuleThread) before telling
// its owner that the program should now be up. It closes again only a program
// that it started itself.
//
// Thread: main thread only, apart from TExeModuleThread, which only waits on
// the started process. The end of the wait is handled on the main thread (a
// queued call), where the on-started callback runs.
//
// Callbacks: the on-started callback of Run is called with the launcher as
// sender, either inside Run (a running server was found) or later from the
// event loop (a started program's wait ended). The receiver is borrowed and
// must outlive the launcher or the launch.
//
// Processes: a started program stays a child of this process and is reaped
// whenever it ends (see Process.h); no zombie is left behind, also when the
// launcher is destroyed while the program still runs (the program is not
// ended then, as a server shared with other clients must not be).
//
// Throws ExeModuleException (the system's text) when the program cannot be
// started.

#include <atomic>
#include <cstdint>
#include <memory>

#include <QObject>
#include <QThread>

#include "platform/Delegate.h"
#include "platform/Exception.h"
#include "platform/Timing.h"

namespace orvane {

class Process;
class TExeModule;

class ExeModuleException : public Exception {
public:
    using Exception::Exception;
};

// Running (0), stopped (1), starting (2).
enum class TExeModuleState : std::uint8_t { Running = 0, Stopped = 1, Starting = 2 };

using TExeModuleEvent = Delegate<TExeModule*>;

// A started program gets kExeWaitAttempts waits of kExeWaitIntervalMs each
// (about 4 s) to come up, less when it ends early.
constexpr int kExeWaitAttempts = 20;
constexpr int kExeWaitIntervalMs = 200;

// Waits on the started process and only that: up to the attempts above,
// ending early when the process ends or when asked to stop.
class TExeModuleThread : public QThread {
    Q_OBJECT
public:
    explicit TExeModuleThread(QObject* parent = nullptr);
    ~TExeModuleThread() override;

    // The process to watch (borrowed; set while the thread is not running).
    // Also clears an earlier stop request.
    void SetProcess(Process* process) {
        m_process = process;
        m_stop = false;
    }
    // Ends the wait after the current interval at the latest; any thread.
    void Stop() { m_stop = true; }

protected:
    void run() override;

private:
    Process* m_process = nullptr;
    std::atomic<bool> m_stop{false};
};

class TExeModule : public QObject {
    Q_OBJECT
public:
    explicit TExeModule(QObject* parent = nullptr);
    ~TExeModule() override;

    // Makes the server program run (see the header comment). A second Run
    // while a launch is under way changes nothing (its callback is dropped),
    // unless the new program already answers.
    void Run(const QString& executablePath, int showWindow, const TExeModuleEvent& onStarted);
    // Asks a program that this launcher started to close (termination
    // request); a server found already running is never closed. State stopped.
    void Close();

    TExeModuleState State() const { return m_state; }
    // The process id of the program this launcher started (0 when none).
    std::int64_t ProcessId() const { return m_processId; }
    // The window of a running server found by Run (0 when the launcher started
    // the program itself).
    std::uintptr_t FoundServerWindow() const { return m_serverWindow; }
    bool IsWaiting() const { return m_thread->isRunning(); }

    // Attempts and interval of the wait for a started program.
    struct Timing {
        int waitAttempts = kExeWaitAttempts;
        int waitIntervalMs = kExeWaitIntervalMs;
    };
    using TimingScope = TimingOf<Timing>::Scope;
    static const Timing& timing() { return TimingOf<Timing>::current(); }

private:
    void ThreadDone();
    bool ServerAnswers() const;

    TExeModuleEvent m_onStarted;
    TExeModuleState m_state = TExeModuleState::Stopped;
    std::unique_ptr<Process> m_process; // the program this launcher started
    bool m_processHandleHeld = false;   // until the wait has ended
    std::int64_t m_processId = 0;
    std::uintptr_t m_serverWindow = 0;
    TExeModuleThread* m_thread; // owned (QObject child)
};

} // namespace orvane
