#pragma once

// The DDE face of the simulated server: registers the services "Duxlane" and
// "UPCIDuxlane", accepts conversations on their "System" topics and on one
// topic per control, answers requests, pokes, executes and hot links from the
// controls of a SimNetwork, and pushes every change of an advised value.
// The fault injection switches of ServerOptions that concern transactions
// (delays, silent or refused items and commands, late topics) act here.
//
// Thread: the thread that calls start() (DDE callbacks arrive there, from its
// event loop). One instance per process at a time: the DDE callback has no
// context pointer, so it finds the instance through a static.
//
// Held replies (reply delay, silent items) wait in a nested event loop inside
// the DDE callback, as a busy server on Windows would; the wait ends early
// when the conversation ends or the server stops.

#include <functional>
#include <memory>
#include <vector>

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

#include "ServerOptions.h"
#include "platform/ddeml.h"

class QEventLoop;

namespace orvane::server {

class SimControl;
class SimNetwork;

// Longest poke text taken; a longer one is refused as too long for any item.
constexpr DWORD kMaxPokeBytes = 4096;
// Longest execute text taken.
constexpr DWORD kMaxExecuteBytes = 64 * 1024 + 1;

class DuxlaneDdeServer : public QObject {
    Q_OBJECT
public:
    // `network` is borrowed and must outlive this object.
    DuxlaneDdeServer(SimNetwork* network, const ServerOptions& options, QObject* parent = nullptr);
    ~DuxlaneDdeServer() override;

    // Starts the DDE instance and registers both services. False (with *error)
    // when the DDE library refuses, or another server runs in this process.
    bool start(QString* error);
    // Unregisters the services and ends every conversation. Idempotent.
    void stop();

    // Live conversations on all services and topics.
    int conversationCount() const { return static_cast<int>(m_conversations.size()); }
    // Topic names the server offers now (late topics only once visible).
    QStringList visibleTopics() const;

    // The drop of the fault injection (ServerOptions::dropTopics): ends every
    // conversation on the listed topics, as a broken link to their controls
    // would, and arms the refusal of their next connections. Returns the
    // number of conversations ended.
    int dropTopics();
    // Connections a dropped topic still refuses.
    int refusedConnectsLeft(const QString& topic) const;

    // Opens a network file as the open command does (the owner remembers it).
    // Installed by the owner; called for "[open(...)]" executes.
    std::function<bool(const QString& path, QString* why)> openHandler;

private:
    enum class ConvKind { Generic, System, Control };
    struct Topic;
    struct Conversation {
        ConvKind kind = ConvKind::System;
        Topic* topic = nullptr;
        QSet<int> advised; // slots with a hot link on this conversation
    };
    struct Topic {
        SimControl* control = nullptr;
        HSZ hsz = 0;
        qint64 visibleAtMs = 0;
        QHash<HSZ, int> slotOfHsz; // kept string handles -> slot
        QHash<int, HSZ> hszOfSlot;
        std::vector<int> adviseCount; // per slot
    };

    static HDDEDATA callback(UINT type, UINT fmt, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data,
                             ULONG_PTR data1, ULONG_PTR data2);
    HDDEDATA handle(UINT type, UINT fmt, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data);

    void addControl(SimControl* control);
    void onValueChanged(Topic* topic, int slot);
    bool isVisible(const Topic& topic) const;
    Topic* topicOf(HSZ hsz) const;
    int slotOf(Topic* topic, HSZ item);
    QString text(HSZ hsz) const;
    HDDEDATA makeText(const QString& text, HSZ item, UINT fmt = 1 /* CF_TEXT */);
    HDDEDATA makeBytes(const QByteArray& bytes, HSZ item, UINT fmt);
    bool readData(HDDEDATA data, DWORD limit, QByteArray* out, QString* why) const;
    // Waits with the event loop running; false when the conversation ended or
    // the server stopped meanwhile. ms < 0: until one of those.
    bool hold(HCONV conv, int ms);
    void releaseHolds(HCONV conv);

    HDDEDATA onConnect(HSZ topic, HSZ service);
    void onConnectConfirm(HCONV conv, HSZ topic, HSZ service);
    void onDisconnect(HCONV conv);
    HDDEDATA onRequest(HCONV conv, HSZ topic, HSZ item, UINT fmt);
    HDDEDATA onPoke(HCONV conv, HSZ topic, HSZ item, UINT fmt, HDDEDATA data);
    HDDEDATA onExecute(HCONV conv, HSZ topic, HDDEDATA data);
    HDDEDATA onAdviseStart(HCONV conv, HSZ topic, HSZ item, UINT fmt);
    void onAdviseStop(HCONV conv, HSZ topic, HSZ item);
    HDDEDATA onAdviseRequest(HSZ topic, HSZ item, UINT fmt);
    QString systemItem(HSZ item) const;
    bool runOpenCommands(const QString& commands, QString* why);
    void postSystem(const char* item);

    SimNetwork* m_network;
    ServerOptions m_options;
    DWORD m_inst = 0;
    bool m_stopping = false;
    HSZ m_hszGeneric = 0;
    HSZ m_hszNetwork = 0;
    HSZ m_hszSystem = 0;
    HSZ m_hszTopics = 0;
    HSZ m_hszConversationCount = 0;
    std::vector<std::unique_ptr<Topic>> m_topics;
    QHash<HSZ, Topic*> m_topicOfHsz;
    QHash<HCONV, Conversation> m_conversations;
    QHash<HSZ, int> m_systemAdvised;     // system item -> hot links
    QHash<Topic*, int> m_refuseConnects; // dropped topic -> connections still refused
    struct Hold {
        HCONV conv;
        QEventLoop* loop;
    };
    std::vector<Hold> m_holds;
};

} // namespace orvane::server
