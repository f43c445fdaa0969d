#pragma once

// What the model-level benchmarks share: waiting with the event loop running,
// and reaching a control of the real simulated server the way the program
// does (registry entry, launcher, network file, topic list).

#include <functional>
#include <memory>

#include <QString>

namespace orvane {

class TKIServer;

namespace bench {

// Points the DDE, registry and server data folders at new folders under root
// (the DDE folder private to this user), so a benchmark never meets the
// engineer's own server or settings.
void UsePrivateRunTimeFolders(const QString& root);

// Runs the event loop until condition holds; false after timeoutMs.
// Runs the event loop for ms, asleep while nothing is to be done: a figure of
// CPU share must not count the benchmark's own polling.
void RunFor(int ms);
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);

// Registers serverExe as the "UPCIDuxlane" server, starts it through a
// TKIServer that opens network, and waits until topic is listed. Returns null
// and sets error on failure.
std::unique_ptr<TKIServer> ConnectToServer(const QString& serverExe, const QString& network,
                                           const QString& topic, const char** error);

} // namespace bench
} // namespace orvane
