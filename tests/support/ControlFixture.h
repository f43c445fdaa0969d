#pragma once

// A test fixture with the simulated server running as a process for the
// test's network, the program's server object connected to it and controls
// connected on demand, with short timings. Traffic() gives the requests and
// commands the server received on control topics since the last MarkTraffic(),
// in arrival order ("request Product ID on PLC1", "execute Reset on PLC1").
//
// Thread: the test's main thread.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "ScriptedDialogService.h"
#include "SimServer.h"
#include "ddelink/Synchronizer.h"
#include "model/KIDevice.h"
#include "model/KIDuxlaneControl.h"
#include "model/KIServer.h"

// Readable failure output for Qt strings.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace orvane::test {

// Runs the event loop until the condition holds; false after the time-out.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 15000);

class ControlFixture : public ::testing::Test {
protected:
    ControlFixture();
    ~ControlFixture() override;

    // Starts the server with the network and extra server arguments, and
    // connects the server object. Call from the test (or SetUp).
    void StartServer(const QByteArray& network, const QStringList& arguments = {});
    // A connected control of the network, owned by the fixture.
    TKIDuxlaneControl* Connect(const QString& topic);

    void MarkTraffic();
    // The traffic lines since the mark; waits until `last` is among them when
    // given (the server's log may trail its replies).
    QStringList Traffic(const QString& last = QString());

    QString Path(const QString& name) const { return m_dir.filePath(name); }
    // Writes a file of the test's folder and returns its path.
    QString WriteFile(const QString& name, const QByteArray& bytes);

    void TearDown() override;

    const TKIServer::TimingScope m_serverTiming{{.retryIntervalMs = 50}};
    const TKIDevice::TimingScope m_deviceTiming{{.disconnectItemsSleepMs = 10}};
    const Synchronizer::TimingScope m_synchronizerTiming{{.timeoutMs = 20000}};
    const TKIDuxlaneControl::TimingScope m_controlTiming{
        {.confirmIntervalMs = 20, .resetPollIntervalMs = 50, .resetPauseMs = 0}};
    QTemporaryDir m_dir;
    SimServer m_sim;
    std::unique_ptr<TKIServer> m_server;
    std::vector<std::unique_ptr<TKIDuxlaneControl>> m_controls;
    ScriptedDialogService m_dialogs;
    qsizetype m_trafficMark = 0;
};

} // namespace orvane::test
