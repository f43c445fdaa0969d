#include "cli/CliSession.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include "cli/CliCommand.h"
#include "ddelink/ExeMod.h"
#include "ddelink/Synchronizer.h"
#include "model/KIDuxlaneControl.h"
#include "model/KIServer.h"
#include "model/OVServer.h"

namespace orvane::cli {

namespace {

// How often a wait looks at its condition when no event wakes it.
constexpr int kWaitSliceMs = 20;

// How long the topics' ends are given to reach the server before it is asked
// whether other clients use it.
constexpr int kReleasePauseMs = 200;

const char* const kNotConnected = "Control has not been connected.";

} // namespace

namespace {

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

StallWatchdog::StallWatchdog(int limitMs) : m_limitMs(limitMs), m_lastBeatMs(NowMs()) {
    m_thread = std::thread([this] { Watch(); });
}

StallWatchdog::~StallWatchdog() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void StallWatchdog::Beat() {
    m_lastBeatMs = NowMs();
}

void StallWatchdog::Suspend(bool suspended) {
    m_suspended = suspended;
}

void StallWatchdog::Watch() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop) {
        m_wake.wait_for(lock, std::chrono::milliseconds(kHeartbeatMs));
        if (m_stop || m_suspended) {
            continue;
        }
        if (NowMs() - m_lastBeatMs > m_limitMs) {
            // The main thread is stuck inside a call that does not return:
            // nothing it holds can be finished from here.
            std::fprintf(stderr, "The server did not answer within %.1f s.\n",
                         (m_limitMs - kStallMarginMs) / 1000.0);
            std::fflush(stderr);
            std::fflush(stdout);
            std::_Exit(kExitUnreachable);
        }
    }
}

CliSession::CliSession(double serverTimeoutS)
    : m_timeoutMs(static_cast<int>(std::min(serverTimeoutS * 1000.0, 2.0e9))) {
    m_watchdog = std::make_unique<StallWatchdog>(static_cast<int>(
        std::min<long long>(static_cast<long long>(m_timeoutMs) + kStallMarginMs, INT_MAX)));
    m_heartbeat = std::make_unique<QTimer>();
    QObject::connect(m_heartbeat.get(), &QTimer::timeout, [this] { m_watchdog->Beat(); });
    m_heartbeat->start(kHeartbeatMs);
    // Every synchronizer the model creates from now on gives up after the
    // same time as the tool's own waits.
    m_syncTiming = std::make_unique<Synchronizer::TimingScope>(
        Synchronizer::Timing{.timeoutMs = std::max(1, m_timeoutMs)});
    m_server = std::make_unique<TServer>();
    m_server->SetOnDdeMessage(TServerMessageEvent(this, &CliSession::DdeMessage));
    m_server->SetOnTerminate(TServerEvent(this, &CliSession::Terminated));
}

CliSession::~CliSession() {
    if (m_server->Server()->Launcher()->ProcessId() != 0) {
        // A server program started here is closed when no other client is
        // left, which it is asked right after the controls give their topics
        // back: let it see them end first.
        for (TKIDuxlaneControl* control : m_server->Controls()) {
            control->SetServer(nullptr);
        }
        WaitUntil([] { return false; }, kReleasePauseMs);
    }
    m_server->SetOnDdeMessage(TServerMessageEvent());
    m_server->SetOnTerminate(TServerEvent());
    m_server.reset();
    m_heartbeat.reset();
    m_watchdog.reset();
}

bool CliSession::WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(std::max(0, timeoutMs));
    QTimer wake;
    wake.start(kWaitSliceMs);
    while (!condition()) {
        if (m_lost || deadline.hasExpired()) {
            return false;
        }
        // The wake timer ends an empty wait after one slice.
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void CliSession::Connect() {
    if (m_connectStarted) {
        return;
    }
    m_connectStarted = true;
    if (!m_server->Connect(TServerEvent(this, &CliSession::Connected))) {
        throw CliError(kExitUnreachable, QString());
    }
}

void CliSession::Connected(TServer*) {
    m_connectFinished = true;
}

void CliSession::Terminated(TServer*) {
    m_lost = true;
}

void CliSession::DdeMessage(const QString& text) {
    m_ddeMessages.append(text);
    const QByteArray bytes = text.toLocal8Bit();
    std::fprintf(stderr, "Error: %s\n", bytes.constData());
}

TKIDuxlaneControl* CliSession::Control(const QString& name) {
    Connect();
    // The controls are created all at once when the server has answered.
    const bool listed = WaitUntil(
        [this] { return m_connectFinished || m_server->ControlCount() > 0; }, m_timeoutMs);
    if (!listed) {
        throw CliError(kExitUnreachable,
                       m_lost ? QString()
                              : QStringLiteral("The server did not answer within %1 s.")
                                    .arg(m_timeoutMs / 1000.0));
    }
    TKIDuxlaneControl* control = m_server->FindControl(name);
    if (control == nullptr) {
        if (m_server->ControlCount() == 0) {
            throw CliError(kExitUnreachable, QStringLiteral("The server knows no controls."));
        }
        throw CliError(kExitUsage, QStringLiteral("The server knows no control \"%1\".").arg(name));
    }
    if (!WaitUntil([control] { return control->Active(); }, m_timeoutMs)) {
        throw CliError(kExitUnreachable,
                       m_lost ? QString()
                              : QStringLiteral("Control %1 did not answer within %2 s.")
                                    .arg(control->Identifier())
                                    .arg(m_timeoutMs / 1000.0));
    }
    return control;
}

void CliSession::ConnectAll() {
    Connect();
    const bool finished = WaitUntil([this] { return m_connectFinished; }, m_timeoutMs);
    if (m_server->ControlCount() == 0) {
        throw CliError(kExitUnreachable,
                       m_lost     ? QString()
                       : finished ? QStringLiteral("The server knows no controls.")
                                  : QStringLiteral("The server did not answer within %1 s.")
                                        .arg(m_timeoutMs / 1000.0));
    }
}

void RaiseIfUnreachable(const std::exception& error) {
    if (dynamic_cast<const SynchronizerException*>(&error) != nullptr) {
        throw CliError(kExitUnreachable, QString::fromUtf8(error.what()));
    }
    if (QString::fromUtf8(error.what()) == QLatin1String(kNotConnected)) {
        throw CliError(kExitUnreachable, QString::fromUtf8(error.what()));
    }
}

} // namespace orvane::cli
