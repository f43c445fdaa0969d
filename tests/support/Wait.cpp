#include "Wait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace orvane::test {

namespace {
// Wakes the blocking wait so that the deadline and the condition are seen
// even when nothing else happens.
constexpr int kWakeIntervalMs = 5;
} // namespace

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QTimer wake;
    wake.start(kWakeIntervalMs);
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return condition();
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void PumpFor(int ms) {
    WaitUntil([] { return false; }, ms);
}

bool RunPostedCalls(int timeoutMs) {
    // Posted events of one thread run in the order they were posted.
    bool reached = false;
    QObject marker;
    QMetaObject::invokeMethod(
        &marker, [&reached] { reached = true; }, Qt::QueuedConnection);
    return WaitUntil([&reached] { return reached; }, timeoutMs);
}

} // namespace orvane::test
