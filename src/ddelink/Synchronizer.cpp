#include "ddelink/Synchronizer.h"

#include <QCoreApplication>
#include <QEventLoop>

#include "ddelink/DdeLinkLog.h"

namespace orvane {

Q_LOGGING_CATEGORY(lcDdeLink, "orvane.dde")

namespace {
int g_timeoutMs = kSynchronizerTimeoutMs;
}

void Synchronizer::SetTimeoutMsForTesting(int ms) {
    g_timeoutMs = ms > 0 ? ms : kSynchronizerTimeoutMs;
}

int Synchronizer::TimeoutMs() {
    return g_timeoutMs;
}

Synchronizer::Synchronizer() {
    m_timer.setSingleShot(true);
    m_timer.setInterval(g_timeoutMs);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        m_timedOut = true;
        m_timer.stop();
    });
}

Synchronizer::~Synchronizer() = default;

void Synchronizer::StartTransaction() {
    if (!m_idle) {
        throw SynchronizerException(QStringLiteral("Reentrancy on a synchronous transaction."));
    }
    m_idle = false;
}

void Synchronizer::CompleteTransaction() {
    m_idle = true;
    m_timer.stop();
}

void Synchronizer::WaitForCompletion() {
    WaitForCompletion(m_timer.interval());
}

void Synchronizer::WaitForCompletion(int timeoutMs) {
    if (m_idle) {
        return;
    }
    m_timedOut = false;
    m_timer.start(timeoutMs);
    while (m_timer.isActive()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    if (m_timedOut) {
        qCWarning(lcDdeLink) << "synchronous transaction timed out after" << m_timer.interval()
                             << "ms";
        throw SynchronizerException(QStringLiteral(
            "Communications with the server failed.  You need to restart your application"));
    }
}

} // namespace orvane
