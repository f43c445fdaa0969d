#pragma once

// TKIDevice: the model of one control on the server's network. Its Identifier
// is the control's DDE topic; everything read from or written to the control
// goes through the one conversation that the server object opens (and shares)
// for that topic.
//
// - Setting Server and Identifier (outside form loading) connects at once;
//   changing either releases the old topic first.
// - Items are acquired by name (upper-cased, claims counted) and owned here;
//   each is handed the conversation when it arrives, so hot links start and
//   restart by themselves.
// - The name lists "TopicItemList" and "MutableItemList" are read
//   synchronously and cached (sorted without regard to letter case).
// - One listener (OnConnect) is told each time the device has connected; one
//   (OnConnectFailed) once each time connecting is given up.
//
// A control that never connected: when the server cannot hand over the topic
// (its retries are spent), or the control never confirms that it answers,
// the device ends in ConnectionState() == NotConnected and ConnectFailure()
// holds the message the engineer was shown. Windows show such a control (its
// tab or tree root) as Identifier() + kNotConnectedMark, offer none of its
// commands and read none of its items; the main window counts it as settled,
// so it never waits for it. A later successful connection (a reconnect)
// moves it to Connected and clears the failure.
//
// Thread: main thread only; the list reads wait with the event loop running.
// Errors: "Control has not been connected." (list read without conversation),
// "Failed to Connect to: " + identifier (the server refused the topic),
// EDdeError (list request answered with an error), SynchronizerException.

#include <cstdint>
#include <memory>

#include <QString>
#include <QStringList>

#include "platform/Component.h"
#include "platform/Delegate.h"
#include "platform/Object.h"

namespace orvane {

class EDdeError;
class TSyncRequest;
class TKIDdeClientConv;
class TKIDevice;
class TKIItem;
class TKIServer;
class TKIStatusPanel;
class TKMapStringToObject;

using TKIDeviceEvent = Delegate<TKIDevice*>;

// Where a device stands with its control.
enum class TKIDeviceState : std::uint8_t {
    Unassigned,   // no server or no identifier yet
    Connecting,   // topic asked for, or the control's answer being confirmed
    Connected,    // the control answered; items are live
    NotConnected, // given up: see ConnectFailure()
};

// What windows put after the identifier of a control that never connected.
inline constexpr const char* kNotConnectedMark = " (not connected)";

// The pause after DisconnectItems, so the server has ended every link.
constexpr int kDisconnectItemsSleepMs = 1000;

// One entry of the item map: the item (owned) and its claim count.
class TKMapItem : public TObject {
public:
    TKMapItem(std::unique_ptr<TKIItem> item);
    ~TKMapItem();

    TKIItem* Item() const { return m_item.get(); }
    int RefCount() const { return m_refCount; }
    void AddRef() { ++m_refCount; }
    int Release() { return --m_refCount; }

private:
    std::unique_ptr<TKIItem> m_item;
    int m_refCount = 1;
};

class TKIDevice : public TComponent {
public:
    explicit TKIDevice(TComponent* owner = nullptr);
    // Frees every item. Does not release the topic: owners clear Identifier or
    // Server first.
    ~TKIDevice() override;

    const QString& Identifier() const { return m_identifier; }
    // A different name (exact comparison) releases the old topic, stores the
    // name and, with a server set and not loading, connects.
    void SetIdentifier(const QString& identifier);

    TKIServer* Server() const { return m_server; }
    // A different server releases the topic at the old one and, with an
    // identifier set and not loading, connects to the new one. The server is
    // borrowed; its destruction is noticed through Notification.
    void SetServer(TKIServer* server);

    // Owned; shows "Active." once connected.
    TKIStatusPanel* StatusPanel() const { return m_statusPanel.get(); }
    void SetStatusText(const QString& text);

    void Loaded() override;
    void Notification(TComponent* component, TOperation operation) override;

    // Asks the server for the topic's conversation; Connected() receives it, at
    // once or later. Raises "Failed to Connect to: " + Identifier when the
    // server raises.
    virtual void Connect();
    // The server's answer: null (the topic could not be had) gives the device
    // up (NotConnected, OnConnectFailed); otherwise the items get the
    // conversation, OnConnect is called and "Active." shown.
    virtual void Connected(TKIDdeClientConv* conversation);
    // The item of that name (upper-cased a-z), created on first use; one more
    // claim each call. Give it back with ReleaseItem(item->Name()).
    virtual TKIItem* AcquireItem(const QString& name);
    // One claim less on the item of exactly that name; the last one frees it
    // (stopping its hot link). Unknown names are ignored.
    void ReleaseItem(const QString& name);
    // Every item stops its hot link and remembers to restart it, then a pause
    // of kDisconnectItemsSleepMs (used by the control's reset).
    void DisconnectItems();

    // The cached, sorted name lists; the device owns them (valid while it
    // lives). The topic list is read again after every Connect().
    const QStringList& GetTopicItemList();
    const QStringList& GetMutableItemList();

    // Calls the handler at once when the device has a conversation, then keeps
    // it as the one listener.
    void SetOnConnect(const TKIDeviceEvent& handler);

    // Called once each time connecting is given up (the state is then
    // NotConnected and ConnectFailure() says why).
    void SetOnConnectFailed(const TKIDeviceEvent& handler) { m_onConnectFailed = handler; }
    TKIDeviceState ConnectionState() const { return m_state; }
    // The message shown when connecting was given up; empty otherwise.
    const QString& ConnectFailure() const { return m_connectFailure; }

    // The topic's conversation (borrowed from the server), or null.
    TKIDdeClientConv* Conversation() const { return m_conversation; }
    bool Active() const { return m_active; }
    int ItemCount() const { return m_itemCount; }
    // Claims on the item of exactly that name; 0 when there is none.
    int ItemRefCount(const QString& name) const;

    // The ASCII upper-casing of item names (a-z only).
    static QString UpperCaseName(const QString& name);

    // Test hook: the pause of DisconnectItems (kDisconnectItemsSleepMs).
    static void SetDisconnectItemsSleepMsForTesting(int ms);

protected:
    // Creates the item for a new name; TKIDuxlaneControl makes TKIDuxlaneItem.
    virtual std::unique_ptr<TKIItem> CreateItem(const QString& upperName);
    void SetConversation(TKIDdeClientConv* conversation) { m_conversation = conversation; }
    void SetActive(bool active) { m_active = active; }
    // Releases the topic at the server and clears Active.
    void Disconnect();
    // Connecting is given up with the message the engineer was shown:
    // NotConnected, then OnConnectFailed.
    void ConnectFailed(const QString& message);
    void SetConnectionState(TKIDeviceState state) { m_state = state; }

private:
    const QStringList& ReadList(const char* item, QStringList& list, bool& loaded);
    // Stops the items' hot links on the current conversation (they restart
    // with the next one).
    void DisconnectItemsFrom();
    template <typename F>
    void ForEachItem(F&& f);

    QString m_identifier;
    int m_itemCount = 0;
    std::unique_ptr<TKMapStringToObject> m_items;
    TKIServer* m_server = nullptr;
    std::unique_ptr<TKIStatusPanel> m_statusPanel;
    bool m_topicListLoaded = false;
    bool m_mutableListLoaded = false;
    QStringList m_topicItemList;
    QStringList m_mutableItemList;
    std::unique_ptr<TSyncRequest> m_request;
    TKIDeviceEvent m_onConnect;
    TKIDeviceEvent m_onConnectFailed;
    TKIDeviceState m_state = TKIDeviceState::Unassigned;
    QString m_connectFailure;
    TKIDdeClientConv* m_conversation = nullptr;
    bool m_active = false;
};

} // namespace orvane
