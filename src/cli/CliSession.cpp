#include "cli/CliSession.h"

#include <algorithm>
#include <cstdio>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include "cli/CliCommand.h"
#include "ddelink/Synchronizer.h"
#include "model/KIDuxlaneControl.h"
#include "model/OVServer.h"

namespace orvane::cli {

namespace {

// How often a wait looks at its condition when no event wakes it.
constexpr int kWaitSliceMs = 20;

const char* const kNotConnected = "Control has not been connected.";

} // namespace

CliSession::CliSession(double serverTimeoutS)
    : m_timeoutMs(static_cast<int>(std::min(serverTimeoutS * 1000.0, 2.0e9))) {
    // Every synchronizer the model creates from now on gives up after the
    // same time as the tool's own waits.
    Synchronizer::SetTimeoutMsForTesting(std::max(1, m_timeoutMs));
    m_server = std::make_unique<TServer>();
    m_server->SetOnDdeMessage(TServerMessageEvent(this, &CliSession::DdeMessage));
    m_server->SetOnTerminate(TServerEvent(this, &CliSession::Terminated));
}

CliSession::~CliSession() {
    m_server->SetOnDdeMessage(TServerMessageEvent());
    m_server->SetOnTerminate(TServerEvent());
    m_server.reset();
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
