#pragma once

// Runs the simulated Duxlane server for a test.
//
// SimServer starts the REAL duxlane-server executable (serverExecutable()) as a
// child process in the test's private run-time folders (the DDE folder,
// registry and data folder of TestEnvironment), with a network file written
// for the test, waits until the server answers, and guarantees that the
// process is ended and reaped when the SimServer is destroyed (or stop() is
// called), whatever the test did.
//
//     orvane::test::SimServer server;
//     ASSERT_TRUE(server.start(server.writeNetwork(SimServer::kSmallNetwork)));
//     ... connect to "UPCIDuxlane" / "PLC1" ...
//
// InProcessServer runs the same server core on the test's own event loop
// (its DDE callbacks arrive on the test's thread); use it when a test needs to
// look inside the server or to run without a second process.
//
// Thread: the test's main thread. Not copyable.

#include <memory>

#include <QByteArray>
#include <QHash>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "ServerOptions.h"

namespace orvane::server {
class DuxlaneServer;
}

namespace orvane::test {

// How long start() waits for a started server to answer.
constexpr int kServerStartTimeoutMs = 15000;
// How long stop() waits after the termination request before it kills.
constexpr int kServerStopTimeoutMs = 10000;

// How SimServer starts the server.
struct SimServerOptions {
    QStringList arguments;               // extra options, e.g. {"--reply-delay", "200"}
    QHash<QString, QString> environment; // extra or replaced variables
    bool defaultNetwork = false;         // let the server open its demo network
    int startTimeoutMs = kServerStartTimeoutMs;
    bool waitUntilAnswering = true; // false: return as soon as the process runs
};

class SimServer {
public:
    // A small network of two controls that tests can rely on:
    // "PLC1" (reset 200 ms, no erase time, a 256-byte program block at 4096)
    // with the items
    //   "Service: Loop.Set Point"   tunable real 0..100, 1 decimal, 20.0
    //   "Service: Loop.Actual"      monitor real, follows the set point (live)
    //   "Configure: Loop.Gain"      configure real 0.5..10, 2 decimals, 1.00
    //   "Plant.Area.Name"           tunable string, at most 8 characters, "North"
    //   "Plant.Area.Start"          tunable time, "06:00:00.00"
    //   "Running"                   monitor boolean, "1"
    //   "Count"                     tunable int16 -100..100, 5
    // and "PLC2" (no program memory, no SaveValues) with "Service: Motor.Speed"
    // (tunable integer 0..3000, 1500) and "Service: Motor.Current" (monitor real, live).
    static const QByteArray kSmallNetwork;

    using Options = SimServerOptions;

    SimServer();
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Writes a file in a folder of this object (removed with it); returns its path.
    QString writeNetwork(const QByteArray& text, const QString& fileName = "test.net");

    // Starts the server, with `networkFile` opened when given. Waits until the
    // server's window class is registered (it then answers DDE). False, with
    // the reason in errorString(), when it did not start or ended early.
    bool start(const QString& networkFile, const Options& options);
    bool start(const QString& networkFile = QString());
    bool start(const QString& networkFile, const QStringList& arguments);
    // Polite end (the termination request), then kill after the time-out; reaps.
    // Returns the exit code (-1 when it had to be killed or never ran).
    int stop();
    // Ends the process at once (SIGKILL), as a crash would; reaps.
    void kill();

    bool isRunning() const;
    qint64 pid() const;
    // Waits for the process to end by itself (e.g. --exit-after); true when it did.
    bool waitForExit(int timeoutMs);
    int exitCode() const { return m_exitCode; }
    // Everything the server wrote to stdout and stderr so far.
    QString output();
    QString errorString() const { return m_error; }
    // The server's data folder (saved values, remembered networks): a folder
    // of this object, the same over restarts (unless the options' environment
    // names another ORVANE_DATA_DIR).
    QString dataDir() const;

private:
    std::unique_ptr<QProcess> m_process;
    QTemporaryDir m_files;
    QString m_error;
    QByteArray m_output;
    int m_exitCode = -1;
};

// The server core in this process, on the caller's event loop.
class InProcessServer {
public:
    // Options default to no demo network and the test environment's data folder.
    explicit InProcessServer(orvane::server::ServerOptions options = defaults());
    ~InProcessServer();
    InProcessServer(const InProcessServer&) = delete;
    InProcessServer& operator=(const InProcessServer&) = delete;

    static orvane::server::ServerOptions defaults();
    // Registers the services and opens the option's files; false with errorString().
    bool start();
    void stop();
    orvane::server::DuxlaneServer& server() { return *m_server; }
    QString errorString() const { return m_error; }

private:
    std::unique_ptr<orvane::server::DuxlaneServer> m_server;
    QString m_error;
};

} // namespace orvane::test
