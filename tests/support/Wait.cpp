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

} // namespace orvane::test
