#pragma once

// Synchronizer: lets a caller wait for one asynchronous DDE transaction while
// the Qt event loop keeps running (so timers, user commands and other DDE
// completions run inside the wait).
//
// Calling order of every synchronous user:
//   sync.StartTransaction();
//   conversation.Request(item, callback);  // callback stores text or error,
//                                          // then calls CompleteTransaction()
//   sync.WaitForCompletion();
//   then raise the stored error, or use the stored text.
//
// State: idle -> StartTransaction -> busy -> CompleteTransaction -> idle.
// A wait that times out leaves the object busy: every later StartTransaction
// raises "Reentrancy on a synchronous transaction." until a late completion
// calls CompleteTransaction.
//
// Thread: main thread only (the thread whose event loop delivers the DDE
// callbacks). Nested waits of different synchronizers are allowed; the inner
// one finishes first.
//
// Throws SynchronizerException (see the operations).

#include <QTimer>

#include "platform/Exception.h"

namespace orvane {

class SynchronizerException : public Exception {
public:
    using Exception::Exception;
};

// How long a synchronous transaction may take: 10 minutes.
constexpr int kSynchronizerTimeoutMs = 600000;

class Synchronizer {
public:
    Synchronizer();
    ~Synchronizer();
    Synchronizer(const Synchronizer&) = delete;
    Synchronizer& operator=(const Synchronizer&) = delete;

    // Idle -> busy. Busy: raises "Reentrancy on a synchronous transaction.".
    void StartTransaction();
    // -> idle; stops the timer. Called from the completion callback.
    void CompleteTransaction();
    // Returns at once when idle; otherwise runs the event loop (blocking while
    // it is empty) until CompleteTransaction or the time-out, which raises
    // "Communications with the server failed.  You need to restart your
    // application".
    void WaitForCompletion();
    // The same with its own time-out (the shorter waits of shutting down).
    void WaitForCompletion(int timeoutMs);

    bool IsIdle() const { return m_idle; }
    bool TimedOut() const { return m_timedOut; }

    // Test hook: the time-out of every synchronizer created afterwards
    // (kSynchronizerTimeoutMs in the product). 0 or less restores the default.
    static void SetTimeoutMsForTesting(int ms);
    static int TimeoutMs();

private:
    bool m_timedOut = false;
    bool m_idle = true;
    QTimer m_timer;
};

} // namespace orvane
