#pragma once

// TKIDdeMgr: the one DDE instance of the process. It initialises the DDE
// library as a client only, keeps the table from conversation handles to the
// conversations (TKIDdeClientConv) that own them, and runs the instance's DDE
// callback, which routes completions and advise data to the conversations.
//
// Lifetime: created once by the server object, which registers it as the
// current instance (SetCurrent) that every conversation uses; conversations
// must not outlive it. While it lives it is the registered instance that the
// DDE callback routes to; without one the callback ignores everything.
//
// Thread: main thread only. The DDE callback runs on this thread from the Qt
// event loop (also inside Synchronizer waits and modal dialogs).
//
// Events (borrowed receivers, cleared by their owners before they die):
// - OnDisconnect (sender = the manager): a partner ended a conversation, or a
//   transaction was attempted on a conversation without connection. Fired
//   before the conversation's own OnDisconnect.
// - OnDdeError (operation, topic, item): a failed asynchronous transaction;
//   when not assigned, the error message box "DDE Error: <operation> on
//   <topic>: <item> failed; verify item name." is shown instead.
//
// Throws Exception "Error initializing conversation" when the library refuses
// the instance.

#include <cstdint>

#include <QString>

#include "platform/Delegate.h"
#include "platform/KContainer.h"
#include "platform/Lifetime.h"
#include "platform/ddeml.h"

namespace orvane {

class TKIDdeClientConv;
class TKIDdeMgr;

using TDdeMgrEvent = Delegate<TKIDdeMgr*>;
// Operation name, topic, item name.
using TDdeErrorEvent = Delegate<const QString&, const QString&, const QString&>;

// Longest item name read back from a string handle for an error report.
constexpr int kItemNameReportChars = 100;

class TKIDdeMgr {
public:
    TKIDdeMgr();
    ~TKIDdeMgr();
    TKIDdeMgr(const TKIDdeMgr&) = delete;
    TKIDdeMgr& operator=(const TKIDdeMgr&) = delete;

    // The process-wide current instance that conversations use. A manager
    // makes itself current when none is; its destruction clears it.
    static TKIDdeMgr* Current();
    static void SetCurrent(TKIDdeMgr* manager);
    // Whether a manager is registered (alive) for the DDE callback.
    static bool IsAlive();

    DWORD Instance() const { return m_instance; }

    const TDdeMgrEvent& OnDisconnect() const { return m_onDisconnect; }
    void SetOnDisconnect(const TDdeMgrEvent& handler) { m_onDisconnect = handler; }
    const TDdeErrorEvent& OnDdeError() const { return m_onDdeError; }
    void SetOnDdeError(const TDdeErrorEvent& handler) { m_onDdeError = handler; }

    // The conversation owning a handle, or null.
    TKIDdeClientConv* FindConversation(HCONV conversation) const;
    int ConversationCount() const { return m_conversations.Count(); }

    // The text of the instance's last error code, read once (reading resets it).
    QString LastErrorText() const;

    // Ends when the manager is destroyed (a handler or a message box may free
    // it while it reports).
    const Lifetime& lifetime() const { return m_lifetime; }

    // The name of a transaction type in error reports: "Request", "Poke",
    // "Execute", "Start Advise", "Stop Advise"; "?" for any other.
    static QString OperationName(UINT type);

private:
    friend class TKIDdeClientConv;

    static HDDEDATA DdeCallback(UINT type, UINT format, HCONV conversation, HSZ hsz1, HSZ hsz2,
                                HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2);
    HDDEDATA Dispatch(UINT type, UINT format, HCONV conversation, HSZ item, HDDEDATA data,
                      DWORD transaction);
    HDDEDATA DeliverAdvise(TKIDdeClientConv* conversation, HSZ item, HDDEDATA data);
    void CompleteTransaction(HCONV handle, UINT type, UINT format, DWORD transaction, HDDEDATA data,
                             HSZ item);
    void PartnerDisconnected(HCONV handle);
    // Reports a failed transaction to OnDdeError or in a message box.
    void ReportFailure(const QString& operation, const QString& topic, const QString& item);
    QString ItemName(HSZ item) const;

    void AddConversation(HCONV handle, TKIDdeClientConv* conversation);
    void RemoveConversation(HCONV handle, TKIDdeClientConv* conversation);
    void FireDisconnect();

    DWORD m_instance = 0;
    TKMapLongIntToObject m_conversations; // handle -> TKIDdeClientConv, not owned
    // The last conversation found, for floods of advise data on one conversation.
    mutable HCONV m_lastHandle = 0;
    mutable TKIDdeClientConv* m_lastConversation = nullptr;
    TDdeMgrEvent m_onDisconnect;
    TDdeErrorEvent m_onDdeError;
    Lifetime m_lifetime; // last: ends first
};

} // namespace orvane
