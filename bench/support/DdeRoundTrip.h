#pragma once

// The DDE link's own yardstick, shared by every benchmark that compares its
// figures with one request round trip: a bare DDE server (service
// "DdeBench", topic "Bench") whose items answer at once, and the timing of a
// Request through TKIDdeClientConv and a Synchronizer, the way the program's
// objects wait for an answer.
//
// The server's items "I0" .. "I999" answer a value text that changes with
// every request or advise; an execute of "<n>" makes the first n items change
// between two turns of its event loop (0: quiet).

#include <QThread>

namespace orvane {
class TKIDdeClientConv;
}

namespace orvane::bench {

inline constexpr const char* kDdeBenchService = "DdeBench";
inline constexpr const char* kDdeBenchTopic = "Bench";
inline constexpr int kDdeBenchItems = 1000;
// Requests timed after the warm-up, and the warm-up.
inline constexpr int kRoundTripSamples = 20000;
inline constexpr int kRoundTripWarmup = 2000;

// Runs the server on the calling thread (which must have a Qt event loop)
// until StopDdeBenchServer; non-zero when it could not register.
int RunDdeBenchServer();
void StopDdeBenchServer();

// The server on a thread of this process.
class DdeBenchServerThread : public QThread {
public:
    ~DdeBenchServerThread() override;
    // Starts the thread; false when the server did not register in time.
    bool StartServer();
    void StopServer();

protected:
    void run() override;
};

// Median request round trip in microseconds over conv (connected to the
// bench server); 0 when a request failed.
double RequestRoundTripUs(TKIDdeClientConv& conv, int samples = kRoundTripSamples,
                          int warmup = kRoundTripWarmup);

// The whole measurement: the server on a thread, a conversation of the
// current DDE instance (TKIDdeMgr), the median. 0 on failure.
double MeasureRequestRoundTripUs(int samples = kRoundTripSamples, int warmup = kRoundTripWarmup);

} // namespace orvane::bench
