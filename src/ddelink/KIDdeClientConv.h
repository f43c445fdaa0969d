#pragma once

// TKIDdeClientConv: one client conversation with a DDE service and topic, on
// the current DDE instance (TKIDdeMgr::Current()).
//
// Transactions are asynchronous: each operation returns at once and the
// callback runs later, on the main thread from the event loop, exactly once
// for Request, RequestRaw, Poke and Execute (with the value, or with an
// EDdeError the receiver takes over), and once per advise-data delivery for
// StartAdvise until StopAdvise. A callback without code is not registered (the
// transaction still runs). Callers that need the answer at once wait with a
// Synchronizer.
//
// Without connection an operation fires the manager's OnDisconnect and does
// nothing else (no callback will ever come; StartAdvise returns -1). When the
// DDE library refuses to start a transaction, EDdeError is raised at once and
// no callback is registered.
//
// Texts (names, item names, values, commands) travel in Windows-1252,
// zero-terminated; the terminating zero travels with the data.
//
// Events (borrowed receivers): OnConnect after every successful Connect;
// OnDisconnect once per live connection that ends, whoever ended it. A partner
// disconnect keeps names, string handles, pending callbacks and advise
// subscribers until the next Connect, Disconnect or destruction.
//
// Thread: main thread only. Must not outlive the DDE instance.

#include <cstdint>
#include <utility>
#include <vector>

#include <QByteArray>
#include <QString>

#include "ddelink/DdeNotify.h"
#include "platform/Delegate.h"
#include "platform/Lifetime.h"
#include "platform/Object.h"
#include "platform/ddeml.h"

namespace orvane {

class TKIDdeClientConv;
class TKIDdeMgr;

using TDdeConvEvent = Delegate<TKIDdeClientConv*>;

// Longest service or topic name, in characters (longer ones are cut).
constexpr int kMaxDdeNameChars = 255;
// Time-out of PokeWait.
constexpr DWORD kPokeWaitTimeoutMs = 5000;
// Advise key of a StartAdvise that found no connection.
constexpr std::int64_t kNoAdviseKey = -1;

class TKIDdeClientConv : public TObject {
public:
    TKIDdeClientConv();
    // Abandons every pending transaction (registration order), disconnects,
    // frees both callback sets. Failures are logged, never thrown.
    ~TKIDdeClientConv() override;
    TKIDdeClientConv(const TKIDdeClientConv&) = delete;
    TKIDdeClientConv& operator=(const TKIDdeClientConv&) = delete;

    // Ends any current connection, stores the names and connects. False
    // (nothing raised) when no server answers. Raises EDdeError when the DDE
    // library fails otherwise.
    bool Connect(const QString& service, const QString& topic);
    // Ends the connection if any (OnDisconnect fires), releases the string
    // handles and empties both names. Raises EDdeError when the library
    // refuses the disconnect (the conversation is disconnected all the same).
    void Disconnect();

    // Asynchronous request of a text (CF_TEXT): the callback gets the text; an
    // empty reply is an empty text, never null. Returns the transaction id (0
    // without connection).
    DWORD Request(const QString& item, const TDdeDataEvent& callback);
    // Asynchronous request in the private format 0x0200: the callback gets the
    // raw bytes (zeros included) followed by one zero byte; the receiver knows
    // the length from its own protocol.
    DWORD RequestRaw(const QString& item, const TDdeDataEvent& callback);
    // Forgets a pending transaction of this conversation: its callback is
    // never called and a late answer is dropped. Unknown ids are ignored.
    void Abandon(DWORD transaction);
    // Asynchronous poke of a text; the callback gets no value on success.
    void Poke(const QString& item, const QByteArray& value, const TDdeDataEvent& callback);
    void Poke(const QString& item, const QString& value, const TDdeDataEvent& callback);
    // Synchronous poke (kPokeWaitTimeoutMs); raises EDdeError on failure. A
    // failure because the partner has gone marks the conversation
    // disconnected at once (OnDisconnect fires).
    void PokeWait(const QString& item, const QByteArray& value);
    void PokeWait(const QString& item, const QString& value);
    // Asynchronous execute of a command text. The callback gets (null, null)
    // when the server took the command, or the server's refusal.
    // Returns the transaction id (0 without connection).
    DWORD Execute(const QString& command, const TDdeDataEvent& callback);
    // The same with the text already in the server's code page (Windows-1252),
    // without a terminating zero: long command texts are not converted again.
    DWORD ExecuteBytes(const QByteArray& command, const TDdeDataEvent& callback);
    // Starts a hot link (acknowledged advise) of the item; the callback gets
    // every advise value. Returns the advise key (the item's string handle),
    // or kNoAdviseKey (-1) without connection. started, when given, is called
    // once with the server's answer to the start: (null, null) when the link
    // runs, or the refusal (the link's subscriber is then already removed).
    std::int64_t StartAdvise(const QString& item, const TDdeDataEvent& callback,
                             const TDdeDataEvent& started = TDdeDataEvent());
    // Removes the subscriber of the key and ends the hot link (no callback).
    void StopAdvise(std::int64_t adviseKey);

    const QString& ServiceName() const { return m_service; }
    const QString& TopicName() const { return m_topic; }
    HCONV Conversation() const { return m_conversation; }
    bool IsConnected() const { return m_conversation != 0; }
    HSZ ServiceHandle() const { return m_serviceHandle; }
    HSZ TopicHandle() const { return m_topicHandle; }
    // Always true: advise links are started with XTYPF_ACKREQ.
    bool AcknowledgeAdvise() const { return m_ackAdvise; }
    int PendingCount() const { return m_pending.Count(); }
    int AdviseCount() const { return m_advise.Count(); }

    // Ends when the conversation is destroyed; delegates to it and reports
    // that run the event loop check it.
    const Lifetime& lifetime() const { return m_lifetime; }

    const TDdeConvEvent& OnConnect() const { return m_onConnect; }
    void SetOnConnect(const TDdeConvEvent& handler) { m_onConnect = handler; }
    const TDdeConvEvent& OnDisconnect() const { return m_onDisconnect; }
    void SetOnDisconnect(const TDdeConvEvent& handler) { m_onDisconnect = handler; }

private:
    friend class TKIDdeMgr;

    // Null (and the manager's OnDisconnect fired) when there is no connection.
    TKIDdeMgr* ManagerForTransaction() const;
    HSZ CreateItemHandle(TKIDdeMgr* manager, const QByteArray& name) const;
    // Starts an asynchronous transaction and returns its id. On refusal frees
    // the item handle when it was made for this call, then raises EDdeError.
    DWORD StartTransaction(TKIDdeMgr* manager, const QByteArray& data, bool withData, HSZ item,
                           UINT format, UINT type, bool itemMadeForCall);
    DWORD AsyncItemTransaction(const QString& item, UINT format, UINT type, const QByteArray* data,
                               const TDdeDataEvent& callback);
    // The server refused the hot link of the item handle: its subscriber and
    // held handle go (no stop is sent).
    void ForgetAdvise(HSZ item);
    // The start of a hot link has been answered: its started callback (if
    // any) is no longer one a StopAdvise must take back.
    void AdviseStartAnswered(DWORD transaction);
    // Drops the started callbacks of the item handle's unanswered starts.
    void DropAdviseStarts(HSZ item);
    // The connection ended: handle 0, then OnDisconnect if it was live.
    void MarkDisconnected();
    void ForgetTableEntry();
    void FreeNameHandles();

    QString m_service;
    QString m_topic;
    HCONV m_conversation = 0;
    HSZ m_serviceHandle = 0;
    HSZ m_topicHandle = 0;
    TDdeConvEvent m_onDisconnect;
    TDdeConvEvent m_onConnect;
    const bool m_ackAdvise = true;
    NotifyEventSet m_pending;
    AdviseNotifyEventSet m_advise;

    // Where the conversation is entered in a manager's table: kept after a
    // partner disconnect, so that late completions still find their callbacks,
    // and always removed before the object goes.
    TKIDdeMgr* m_tableManager = nullptr;
    HCONV m_tableHandle = 0;
    DWORD m_instance = 0;             // of the string handles below and above
    std::vector<HSZ> m_adviseHandles; // item handles held for running advises
    // Unanswered hot link starts with a started callback: item handle and
    // transaction, so that stopping the link also drops that callback.
    std::vector<std::pair<HSZ, DWORD>> m_adviseStarts;
    Lifetime m_lifetime; // last: ends first
};

} // namespace orvane
