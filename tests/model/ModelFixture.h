#pragma once

// Fixture of the model's tests against the real simulated server: it writes a
// network definition file for the test, registers the built duxlane-server in
// the registry stand-in (as the setup does), sets the server's fault-injection
// switches in the environment that the launcher passes on, and makes sure the
// server program a test started has ended when the test is over.
//
// Retry intervals and waits are shortened through the classes' test hooks.

#include <functional>
#include <memory>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include "ScriptedDialogService.h"
#include "Wait.h"

namespace orvane {
class TKIServer;
class TKIDevice;
} // namespace orvane

namespace orvane::test {

// The service of the network server and its registry entry.
inline constexpr const char* kService = "UPCIDuxlane";

// A small network: controls "PUMP1" and "PUMP2" with a handful of items.
QByteArray SmallNetwork();

class ModelFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes a network file into the test's folder and returns its path.
    QString WriteNetwork(const QByteArray& text, const QString& name = "test.net");
    // The registry entry of the server (HKEY_LOCAL_MACHINE
    // SOFTWARE\Kestova\DDE Servers\UPCIDuxlane, unnamed value).
    void RegisterServer(const QString& executable);
    // A fault-injection switch of the server (DUXLANE_*), for the next start.
    void SetServerSwitch(const char* name, const QByteArray& value);

    // A server object (owned by the fixture) that will open `networkFile` once
    // connected; ServerName is left empty.
    TKIServer* MakeServer(const QString& networkFile);
    // Sets ServerName and waits until both System conversations answer and the
    // server lists the controls of the network file.
    ::testing::AssertionResult StartAndWait(TKIServer* server, int controls);
    // Frees the server object and checks that the program it started has
    // ended (or ends it and fails when asked to).
    void DestroyServer();
    // Pid of the program the server object's launcher started (0: none).
    std::int64_t StartedPid() const;

    static bool ProcessAlive(std::int64_t pid);
    static void EndProcess(std::int64_t pid);

    ScriptedDialogService m_dialogs;
    std::unique_ptr<TKIServer> m_server;
    std::vector<std::int64_t> m_pids;
    std::vector<QByteArray> m_switches;
};

} // namespace orvane::test
