#pragma once

// TServer: the program's control connection, the main window's side of the
// link to the control network server. It connects to the one server program
// ("UPCIDuxlane"), asks the user for a network definition file when the server
// knows no controls, creates one TKIDuxlaneControl per topic, tells the main
// window once every control has connected, turns failed DDE transactions into
// user messages and reports a lost connection.
//
// Ownership: owns its TKIServer and every control (in topic order); the
// handlers it is given are borrowed and must outlive it or be cleared.
// Thread: main thread only.
//
// Callbacks:
// - the on-connected callback given to Connect is called exactly once, when
//   connecting has finished: every control has either connected or been
//   given up (TKIDevice::ConnectionState() NotConnected, the engineer has seen
//   a message naming it), or there are no controls (the server has none, the
//   user cancelled the file dialog, the topic list could not be read, or the
//   server program never answered: ServerAnswered() false). It never waits
//   for a control that cannot come: a refused Reset, a reset's confirmation
//   or a reconnect does not report a control a second time.
//   What the main window does with it: ConnectedCount() == 0 means no control
//   can be worked with, so the program ends after the messages already shown;
//   otherwise it opens its windows, showing each NotConnected control marked
//   (kNotConnectedMark) and without its commands.
// - OnDdeMessage receives the finished text of each failed asynchronous DDE
//   transaction ("Error during request of data:" + topic + ":" + item, ...);
// - OnTerminate is called once, after the message "Communications have been
//   lost and the application will be terminated.", when the server's
//   conversations are lost. It runs inside the DDE library's callback, so it
//   must not free the TServer there and then: it ends the program by leaving
//   the event loop (or frees it from a queued call).
//
// The server-connected handler blocks the user interface for up to
// kTopicReasks * kTopicReaskIntervalMs while it waits for a network file to
// show its controls.

#include <memory>
#include <vector>

#include <QString>
#include <QStringList>

#include "model/KIDuxlaneControl.h"
#include "platform/Delegate.h"

namespace orvane {

class TKIDevice;
class TKIServer;
class TServer;

using TServerEvent = Delegate<TServer*>;
using TServerMessageEvent = Delegate<const QString&>;

// After the user has given a network definition file, the topic list is asked
// for again up to kTopicReasks more times, kTopicReaskIntervalMs apart.
constexpr int kTopicReasks = 10;
constexpr int kTopicReaskIntervalMs = 1000;

class TServer {
public:
    // The DDE service of the server program's network (and its registry key).
    static constexpr const char* kServiceName = "UPCIDuxlane";

    TServer();
    ~TServer();
    TServer(const TServer&) = delete;
    TServer& operator=(const TServer&) = delete;

    // Starts (or finds) the server program and connects to it; onConnected is
    // called as described above, possibly before Connect returns. Returns
    // false when the server program could not be started (the user has been
    // told why).
    bool Connect(const TServerEvent& onConnected);

    // The first control whose Identifier equals name ignoring case, or null.
    TKIDuxlaneControl* FindControl(const QString& name) const;
    const std::vector<TKIDuxlaneControl*>& Controls() const { return m_controlList; }
    int ControlCount() const { return static_cast<int>(m_controlList.size()); }
    TKIDuxlaneControl* Control(int index) const { return m_controlList.at(index); }
    // Controls that have reported connected (each counted once).
    int ConnectedCount() const { return static_cast<int>(m_connected.size()); }
    // Controls given up while connecting (and not connected since).
    int NotConnectedCount() const { return static_cast<int>(m_givenUp.size()); }
    // False once the server program's start-up has been given up.
    bool ServerAnswered() const { return !m_serverFailed; }

    TKIServer* Server() const { return m_server.get(); }

    const TServerMessageEvent& OnDdeMessage() const { return m_onDdeMessage; }
    void SetOnDdeMessage(const TServerMessageEvent& handler) { m_onDdeMessage = handler; }
    // The main window's terminate-after-lost-communications operation.
    const TServerEvent& OnTerminate() const { return m_onTerminate; }
    void SetOnTerminate(const TServerEvent& handler) { m_onTerminate = handler; }

    // The text of a failed DDE operation ("Request", "Poke", ...), without
    // topic and item.
    static QString DdeErrorText(const QString& operation);

    // Test hook: the re-asks after a network file was given (the defaults
    // kTopicReasks and kTopicReaskIntervalMs in the product).
    static void SetTopicReaskTimingForTesting(int reasks, int intervalMs);

private:
    void ServerConnected(TKIServer* sender);
    void ControlConnected(TKIDevice* sender);
    void ControlGivenUp(TKIDevice* sender);
    void ServerGivenUp(TKIServer* sender);
    // Finishes connecting once every control has connected or been given up.
    void CheckAllSettled();
    void ConnectionLost(TKIServer* sender);
    void DdeError(const QString& operation, const QString& topic, const QString& item);
    // The topic list, or nothing when it cannot be read (the user is told).
    bool ReadControlTopics(QStringList& topics);
    void FinishConnecting();

    std::unique_ptr<TKIServer> m_server;
    TServerEvent m_onConnected;
    std::vector<std::unique_ptr<TKIDuxlaneControl>> m_controls;
    std::vector<TKIDuxlaneControl*> m_controlList;
    std::vector<TKIDevice*> m_connected;
    std::vector<TKIDevice*> m_givenUp;
    bool m_creatingControls = false;
    bool m_finished = false;
    bool m_serverFailed = false;
    TServerMessageEvent m_onDdeMessage;
    TServerEvent m_onTerminate;
};

} // namespace orvane
