#pragma once

// The one way tests wait for something the event loop brings: DDE replies,
// pushed values, timers, a server process coming up.
//
// WaitUntil runs the event loop (blocking while it is empty, woken every few
// milliseconds so that the deadline is seen) until the condition holds or the
// time is up; it returns whether the condition held. PumpFor runs the loop for
// a fixed time: use it only to let things settle before tearing down, never
// to show that something does NOT happen. For that, end the wait with a
// barrier instead: a synchronous request on the same conversation returns
// only after every earlier reply and push of that conversation has arrived.

#include <functional>

namespace orvane::test {

// Long enough for a loaded machine; a test that goes wrong still ends well
// within the ctest time-out.
inline constexpr int kDefaultWaitMs = 10000;

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = kDefaultWaitMs);
void PumpFor(int ms);
// Barrier for work queued to this thread: returns once every call and event
// posted to it before this call has run (false if that took longer than the
// time-out). Work that another thread has yet to post is not covered.
bool RunPostedCalls(int timeoutMs = kDefaultWaitMs);

} // namespace orvane::test
