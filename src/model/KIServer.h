#pragma once

// TKIServer: one control network server program, addressed by the DDE service
// name of its network service (ServerName, also the name of its registry
// entry). It owns the process's DDE instance, starts the server program through
// the launcher when it is not running, connects the two "System"
// conversations (generic "Duxlane" and ServerName), hands the server the
// network definition files, lists its topics (one per control) and opens one
// shared conversation per topic for the devices, retrying while the server
// brings its network up.
//
// Thread: main thread only. Retries run from 1000 ms timers; GetTopics and
// ShutDown wait with the event loop running.
//
// Callbacks: OpenTopic's callback is called once per call: with the
// conversation (at once, or when the server has come up or the topic has
// opened), or with null when the topic cannot be had. (A request made while
// the server program cannot be found at all waits until a server comes up.) OnConnected fires once
// both System conversations answer; OnConnectFailed once when start-up is given
// up (after its retries, once the engineer has been shown "Unable to establish
// communication with server"); OnDisconnected when the DDE instance reports a
// lost conversation.
//
// Errors: a failure inside a timer tick or a launcher callback ("Unable to
// establish communication with server", "Could not open topic: " + topic) is
// shown to the user as an error message, as an unhandled failure of the
// message loop would be. GetTopics raises "Control has not been connected."
// without a System conversation, EDdeError when the server answers with an
// error, SynchronizerException on a time-out.

#include <cstdint>
#include <memory>
#include <vector>

#include <QString>
#include <QStringList>
#include <QTimer>

#include "platform/Component.h"
#include "platform/Delegate.h"
#include "platform/Object.h"

namespace orvane {

class EDdeError;
class TSyncRequest;
class TExeModule;
class TKIDdeClientConv;
class TKIDdeMgr;
class TKIServer;
class TKIStatusPanel;
class TKListOfObject;
class TKMapStringToObject;

// How a started server program's window is shown.
enum class TKRunMode : std::uint8_t { Minimized = 0, Hidden = 1, Normal = 2 };

using TKIServerEvent = Delegate<TKIServer*>;
// Receives a topic's conversation, or null when it cannot be had.
using TConvNotifyEvent = Delegate<TKIDdeClientConv*>;
// A failed asynchronous DDE transaction: operation, topic, item.
using TKIDdeErrorEvent = Delegate<const QString&, const QString&, const QString&>;

// Start-up: after the first attempt, kStartupTries more, kRetryIntervalMs apart.
constexpr int kStartupTries = 25;
// A topic that does not open is tried kTopicTries more times.
constexpr int kTopicTries = 60;
constexpr int kRetryIntervalMs = 1000;
// ShutDown asks "Conversation Count" for at most this long: a hung server must
// not hold the end of the program.
constexpr int kShutdownRequestTimeoutMs = 3000;

// One shared topic conversation and the number of its users.
class TDdeConvInfo : public TObject {
public:
    TDdeConvInfo();
    ~TDdeConvInfo(); // frees, and so disconnects, the conversation

    int useCount = 1;
    std::unique_ptr<TKIDdeClientConv> conversation;
};

// One caller waiting for a topic.
class TConvNotificationInfo : public TObject {
public:
    TConvNotificationInfo(const TConvNotifyEvent& callback, const QString& topic)
        : callback(callback), topic(topic) {}

    TConvNotifyEvent callback;
    QString topic;
};

// One topic whose conversation is being retried, with every caller waiting for
// it in arrival order. It holds the topic's record (each waiter is one use)
// until the topic opens, when the record moves to the server's topic table.
class TNetworkConfiguration : public TObject {
public:
    TNetworkConfiguration(TKIServer* server, const QString& topic,
                          std::unique_ptr<TDdeConvInfo> record);
    ~TNetworkConfiguration() override;

    const QString& Topic() const { return m_topic; }
    int TriesLeft() const { return m_triesLeft; }
    void AddWaiter(const TConvNotifyEvent& callback);

private:
    friend class TKIServer;
    // Empties the waiting list, returning the callbacks in arrival order.
    std::vector<TConvNotifyEvent> TakeWaiters();

    TKIServer* m_server;
    QString m_topic;
    std::unique_ptr<TDdeConvInfo> m_record;
    std::unique_ptr<TKListOfObject> m_waiters; // of TConvNotificationInfo, owned
    QTimer m_timer;
    int m_triesLeft = kTopicTries;
};

class TKIServer : public TComponent {
public:
    explicit TKIServer(TComponent* owner = nullptr);
    ~TKIServer() override;

    const QString& ServerName() const { return m_serverName; }
    // A different name (exact comparison) forgets the topic table, shuts the
    // old server down, stores the name and (not loading, not empty) starts the
    // server.
    void SetServerName(const QString& name);

    // Owned; shows "Not Active.", "Starting server ..." and "NotActive".
    TKIStatusPanel* StatusPanel() const { return m_statusPanel.get(); }

    TKRunMode RunMode() const { return m_runMode; }
    void SetRunMode(TKRunMode mode) { m_runMode = mode; }

    const QStringList& NetworkDefFiles() const { return m_networkDefFiles; }
    // Copies the list and (not designing) opens each file in the server.
    void SetNetworkDefFiles(const QStringList& files);

    void Loaded() override;
    void Notification(TComponent* component, TOperation operation) override;

    // Gets the shared conversation of a control's topic for callback (see the
    // callback rules above). Used by the devices.
    void OpenTopic(const QString& topic, const TConvNotifyEvent& callback);
    // Gives back one use of a topic's conversation; the last use ends it.
    void ReleaseTopic(const QString& topic);
    // The server's topic names (synchronous request of "Topics").
    void GetTopics(QStringList& list);
    // The same without the first entry equal to "SYSTEM" ignoring case.
    void GetControlTopics(QStringList& list);
    // Asks the server to open a network definition file (no answer awaited).
    // Raises (see OpenCommandText) for a path the server cannot be handed.
    void OpenNetworkFile(const QString& path);
    // The open command for a path: [open("path")] with every double quote of
    // the path written twice (brackets and parentheses travel as they are).
    // Raises "The network definition file <path> cannot be handed to the
    // server: ..." for an empty path, a line break or a character outside
    // Windows-1252.
    static QString OpenCommandText(const QString& path);
    // Closes a server program this object started once no other client is
    // left: "Conversation Count" of 2 or less, not counting this object's own
    // topic conversations. Never raises; returns within about
    // kShutdownRequestTimeoutMs even when the server hangs (it is then left
    // running) or has gone.
    void ShutDown();

    // Calls the handler at once when the System conversation is connected; in
    // every case keeps it as OnConnected.
    void SetOnConnected(const TKIServerEvent& handler);
    // Failed asynchronous transactions go to this handler instead of the DDE
    // instance's own message box.
    void SetOnDdeError(const TKIDdeErrorEvent& handler);
    void SetOnConnectFailed(const TKIServerEvent& handler) { m_onConnectFailed = handler; }
    const TKIServerEvent& OnDisconnected() const { return m_onDisconnected; }
    void SetOnDisconnected(const TKIServerEvent& handler) { m_onDisconnected = handler; }

    // Whether the ServerName/"System" conversation is connected.
    bool IsConnected() const;
    // Uses of a topic's shared conversation; 0 when it is not open.
    int TopicUseCount(const QString& topic) const;
    // Whether a topic is waiting to be retried.
    bool IsTopicWaiting(const QString& topic) const;
    TKIDdeMgr* DdeMgr() const { return m_ddeMgr.get(); }
    TExeModule* Launcher() const { return m_launcher.get(); }

    // Test hook: the interval of the start-up and topic retries
    // (kRetryIntervalMs).
    static void SetRetryIntervalMsForTesting(int ms);
    static int RetryIntervalMs();

private:
    friend class TNetworkConfiguration;

    QString FindServerPath();
    void StartServer();
    void ServerStarted(TExeModule* sender);
    void ConnectServer();
    void StartupTimerTick();
    void StartupFailed();
    // A start-up failure has been raised: shows it and, when the server does
    // not answer, tells OnConnectFailed.
    void ReportStartupFailure(const QString& text);
    void AnswerDeferred(bool serverUp);
    void RemoveWaitingTopic(TNetworkConfiguration* configuration);
    // Retires every record of the topic before the new record takes its place.
    void ReplaceDeadRecord(const QString& topic, TDdeConvInfo* record);
    void ConnectionLost(TKIDdeMgr* sender);
    void ListenForLostConnections();
    void ShowStatus(const QString& text);
    void ReportError(const QString& text);
    // Opens every network definition file; one that fails is shown and skipped.
    void OpenNetworkFiles();
    bool LauncherRunning() const;
    TDdeConvInfo* FindTopic(const QString& topic) const;
    TNetworkConfiguration* FindWaitingTopic(const QString& topic) const;
    void WaitingTopicTick(TNetworkConfiguration* configuration);
    // timeoutMs 0: the synchronizer's time-out.
    QString RequestSystemItem(const char* item, int timeoutMs = 0);
    // This object's connected topic conversations (counted by the server).
    int OwnTopicConversations() const;

    QString m_serverName;
    std::unique_ptr<TKIStatusPanel> m_statusPanel;
    TKRunMode m_runMode = TKRunMode::Minimized;
    QStringList m_networkDefFiles;

    std::unique_ptr<TKIDdeMgr> m_ddeMgr;
    std::unique_ptr<TKMapStringToObject> m_topics; // of TDdeConvInfo, owned
    // Records dropped by a change of ServerName; devices may still hold their
    // conversations, so they live as long as this object.
    std::unique_ptr<TKListOfObject> m_retiredTopics; // of TDdeConvInfo, owned
    std::unique_ptr<TKListOfObject> m_waitingTopics; // of TNetworkConfiguration, owned
    std::unique_ptr<TKListOfObject> m_deferred;      // of TConvNotificationInfo, owned
    std::unique_ptr<TExeModule> m_launcher;
    std::unique_ptr<TKIDdeClientConv> m_genericConv;
    std::unique_ptr<TKIDdeClientConv> m_systemConv;
    QTimer m_startupTimer;
    int m_startupTriesLeft = 0;
    std::unique_ptr<TSyncRequest> m_request;
    TKIServerEvent m_onConnected;
    TKIServerEvent m_onDisconnected;
    TKIServerEvent m_onConnectFailed;
    bool m_destroying = false;
};

// Splits a TAB-separated name list of the server (topics, item names) onto
// the end of list: every TAB ends a name, empty ones included; the text after
// the last TAB counts only when it is not empty.
void SplitNameList(const QString& text, QStringList& list);

} // namespace orvane
