#pragma once

// TKIItem: one variable of a control, reached as one DDE item of the control's
// topic. It holds the last value received (as text), reads it synchronously,
// writes it by poke, and keeps a hot link (DDE advise) running exactly while at
// least one subscriber wants change notices. The link survives the loss and
// return of the conversation: Disconnect() remembers it, the next Connect()
// restarts it.
//
// Items are created, shared and freed only by their device (TKIDevice::
// AcquireItem / ReleaseItem); users hold one between acquire and release.
//
// Thread: main thread only. Value() and the attribute reads of TKIDuxlaneItem
// wait with the Qt event loop running, so advise data (and subscriber calls)
// for this and other items, timers and user commands can run inside them.
//
// Errors: a read answered with a DDE error raises EDdeError; a read on a
// conversation that is not live raises "Control has not been connected." at
// once; a wait that times out or a second read while one waits raises
// SynchronizerException; writes refused by the DDE library, values too long
// to write and advise starts that fail raise TKIItemException. A hot link that
// the server refuses is not left running: the item is no longer advised, a
// read waiting for its first value fails at once with TKIItemException, and
// later reads ask the server (the subscribers stay, and the link is tried
// again with the next connection).

#include <cstdint>
#include <memory>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QVariant>

#include "platform/Component.h"
#include "platform/Delegate.h"
#include "platform/Exception.h"

namespace orvane {

class EDdeError;
class Synchronizer;
class TSyncRequest;
class TKIDdeClientConv;
class TKIItem;

// A change handler (subscriber) or attribute listener; receives the item.
using TKIItemEvent = Delegate<TKIItem*>;

class TKIItemException : public Exception {
public:
    using Exception::Exception;
};

// The longest value text that can be written to an item, in characters.
constexpr int kPokeBufferChars = 100;

class TKIItem : public TComponent {
public:
    // name: the DDE item name, already upper-cased by the device.
    explicit TKIItem(const QString& name);
    ~TKIItem() override;

    const QString& Name() const { return m_name; }

    // The held value when the hot link runs and a value has arrived; else a
    // synchronous request (or, while advised, a wait for the first advise
    // value). Always a string variant.
    QVariant Value();
    // Asynchronous poke of the value's text; the held value is not changed (the
    // new one comes back through the hot link or the next read). A failure that
    // arrives later is reported only by the DDE instance's error report.
    void SetValue(const QVariant& value);
    // Synchronous poke (5 s); a refusal raises TKIItemException.
    void SetValueAndWait(const QVariant& value);
    // Whether the held value is one the control sent (emptied with the last
    // subscriber).
    bool ValueReceived() const { return m_valueReceived; }
    // The held value without any transaction: what a window may show while it
    // paints. An empty variant until a value has arrived.
    const QVariant& HeldValue() const { return m_value; }

    // Adds the handler (once); the first subscriber starts the hot link. A
    // handler added after a value has arrived on a running link is called at
    // once. Handlers are called in subscription order on every advise value.
    void Subscribe(const TKIItemEvent& handler);
    // Removes the handler; the last one stops the link and empties the value.
    void Unsubscribe(const TKIItemEvent& handler);
    bool IsSubscribed(const TKIItemEvent& handler) const;
    int SubscriberCount() const { return static_cast<int>(m_subscribers.size()); }

    bool IsAdvised() const { return m_advised; }
    bool IsAdvisePending() const { return m_advisePending; }
    // The key of the running (or last) hot link.
    std::int64_t AdviseKey() const { return m_adviseKey; }
    bool IsConnected() const { return m_connected; }
    TKIDdeClientConv* Conversation() const { return m_conversation; }

    // Gives the item its conversation (borrowed; owned by the server object); a
    // pending hot link starts now.
    virtual void Connect(TKIDdeClientConv* conversation);
    // Forgets the connection; a running hot link is stopped and marked pending.
    void Disconnect();

    // The text a variant is written as: strings unchanged, floating point with
    // the locale's decimal separator and never a digit-group separator, the
    // rest by Qt's string conversion.
    static QString VariantToText(const QVariant& value);

protected:
    friend class TKIDevice;
    // The conversation is gone without a word (its server object was
    // destroyed): forget it without calling it; a running link becomes pending.
    void ForgetConversation();

    // Raises "Control has not been connected." when there is no conversation.
    void CheckConnected() const;

private:
    void StartAdvise();
    void StopAdvise();
    void AdviseData(const char* value, std::unique_ptr<EDdeError> error);
    void AdviseStarted(const char* value, std::unique_ptr<EDdeError> error);
    [[noreturn]] void ThrowAdviseFailed() const;
    QByteArray PokeText(const QVariant& value) const;

    QString m_name;
    QVariant m_value;
    bool m_valueReceived = false;
    std::vector<TKIItemEvent> m_subscribers;
    bool m_advised = false;
    bool m_advisePending = false;
    std::int64_t m_adviseKey = 0;
    bool m_connected = false;
    TKIDdeClientConv* m_conversation = nullptr;
    // Waits for the first value of a running hot link.
    std::unique_ptr<Synchronizer> m_synchronizer;
    std::unique_ptr<TSyncRequest> m_request;
    bool m_adviseRefused = false;
};

} // namespace orvane
