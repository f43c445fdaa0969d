#pragma once

// CliSession: the command-line tool's connection to the control network
// server, made exactly as the program makes it (TServer: the registry entry,
// the launcher that starts the server program when it is not running, one
// TKIDuxlaneControl per topic), with every wait bounded by --server-timeout:
// - the wait for the server and for a control ends with CliError status 3;
// - every synchronous request of the model waits at most the same time (the
//   synchronizer's time-out), and its time-out is status 3 as well;
// - a lost server ("Communications have been lost ...") ends the waits at
//   once;
// - a call that blocks the event loop itself (a connection attempt to a
//   server process that has stopped, a synchronous transaction) is bounded by
//   a watchdog thread: when the loop has not turned for the time-out plus
//   kStallMarginMs, the message goes out and the process ends with status 3.
//   The control's reset pauses the loop on purpose and suspends the watchdog
//   for its length (StallAllowed).
// The server program is closed again at the end when this session started it
// and no other client uses it.
//
// Thread: main thread only; waits run the Qt event loop.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include <QString>
#include <QStringList>

#include "ddelink/Synchronizer.h"

class QTimer;

namespace orvane {
class TKIDuxlaneControl;
class TServer;
} // namespace orvane

namespace orvane::cli {

// How much longer than the time-out the event loop may stand still before
// the watchdog ends the process.
constexpr int kStallMarginMs = 1000;
// How often the event loop shows that it turns.
constexpr int kHeartbeatMs = 100;

// Ends the process with status 3 when the main thread's event loop stops
// turning for longer than its limit. Any thread may construct it; Beat() is
// called from the main thread's timer.
class StallWatchdog {
public:
    explicit StallWatchdog(int limitMs);
    ~StallWatchdog();
    void Beat();
    // While suspended, standing still is allowed.
    void Suspend(bool suspended);

private:
    void Watch();

    int m_limitMs;
    std::atomic<long long> m_lastBeatMs;
    std::atomic<bool> m_suspended{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};

class CliSession {
public:
    explicit CliSession(double serverTimeoutS);
    ~CliSession();
    CliSession(const CliSession&) = delete;
    CliSession& operator=(const CliSession&) = delete;

    // Connects and waits for the control's topic; raises CliError: 2 for a
    // name the server does not know, 3 when the server or the control does
    // not answer in time.
    TKIDuxlaneControl* Control(const QString& name);
    // Connects and waits until every control has answered or the time-out
    // has passed; controls that have not answered are not Active().
    void ConnectAll();
    TServer& Server() { return *m_server; }

    bool Lost() const { return m_lost; }
    // The failed DDE transactions reported so far ("Request of communications
    // failed:PLC1:ITEM", ...), each also printed to stderr.
    const QStringList& DdeMessages() const { return m_ddeMessages; }
    int TimeoutMs() const { return m_timeoutMs; }

    // Runs the event loop until condition holds (true), the session's server
    // is lost or timeoutMs has passed (false).
    bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);

    // Suspends the watchdog for the life of the scope (a deliberate pause).
    class StallAllowed {
    public:
        explicit StallAllowed(CliSession& session) : m_session(session) {
            m_session.m_watchdog->Suspend(true);
        }
        ~StallAllowed() {
            m_session.m_watchdog->Beat();
            m_session.m_watchdog->Suspend(false);
        }

    private:
        CliSession& m_session;
    };

private:
    void Connect();
    void Connected(TServer* sender);
    void Terminated(TServer* sender);
    void DdeMessage(const QString& text);

    int m_timeoutMs;
    std::unique_ptr<StallWatchdog> m_watchdog;
    std::unique_ptr<QTimer> m_heartbeat;
    // Every synchronizer the model creates gives up after the tool's time-out.
    std::unique_ptr<Synchronizer::TimingScope> m_syncTiming;
    std::unique_ptr<TServer> m_server;
    bool m_connectStarted = false;
    bool m_connectFinished = false;
    bool m_lost = false;
    QStringList m_ddeMessages;
};

// Raises CliError(3) when the exception is one of not reaching the server or a
// control (a time-out, no conversation); otherwise returns.
void RaiseIfUnreachable(const std::exception& error);

} // namespace orvane::cli
