#include "model/KIDevice.h"

#include <algorithm>
#include <atomic>

#include <QCollator>
#include <QThread>

#include "ddelink/DdeError.h"
#include "ddelink/KIDdeClientConv.h"
#include "ddelink/ServerInterface.h"
#include "ddelink/SyncRequest.h"
#include "model/KIItem.h"
#include "model/KIServer.h"
#include "model/KIStatusPanel.h"
#include "model/ModelLog.h"
#include "platform/KContainer.h"
#include "platform/TextCodec.h"

namespace orvane {

namespace {
std::atomic<int> g_disconnectItemsSleepMs{kDisconnectItemsSleepMs};
} // namespace

TKMapItem::TKMapItem(std::unique_ptr<TKIItem> item) : m_item(std::move(item)) {}
TKMapItem::~TKMapItem() = default;

TKIDevice::TKIDevice(TComponent* owner)
    : TComponent(owner), m_items(std::make_unique<TKMapStringToObject>()),
      m_statusPanel(std::make_unique<TKIStatusPanel>()),
      m_request(std::make_unique<TSyncRequest>()) {}

TKIDevice::~TKIDevice() {
    m_items->FreeValuesAndClear();
    m_itemCount = 0;
}

QString TKIDevice::UpperCaseName(const QString& name) {
    QString upper = name;
    for (QChar& c : upper) {
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) {
            c = QChar(c.unicode() - ('a' - 'A'));
        }
    }
    return upper;
}

void TKIDevice::SetDisconnectItemsSleepMsForTesting(int ms) {
    g_disconnectItemsSleepMs = ms;
}

template <typename F>
void TKIDevice::ForEachItem(F&& f) {
    for (auto it = m_items->First(); it->IsValid(); it->Next()) {
        f(it->CurrentAs<TKMapItem>()->Item());
    }
}

void TKIDevice::SetIdentifier(const QString& identifier) {
    if (identifier == m_identifier) {
        return;
    }
    Disconnect();
    m_identifier = identifier;
    if (!m_identifier.isEmpty() && m_server && !ComponentState().testFlag(csLoading)) {
        Connect();
    }
}

void TKIDevice::SetServer(TKIServer* server) {
    if (server == m_server) {
        return;
    }
    if (!m_identifier.isEmpty() && m_server) {
        DisconnectItemsFrom();
        m_server->ReleaseTopic(m_identifier);
        m_conversation = nullptr;
    }
    m_active = false;
    m_state = TKIDeviceState::Unassigned;
    if (m_server) {
        m_server->RemoveFreeNotification(this);
    }
    m_server = server;
    if (m_server) {
        m_server->FreeNotification(this);
        if (!m_identifier.isEmpty() && !ComponentState().testFlag(csLoading)) {
            Connect();
        }
    }
}

void TKIDevice::Loaded() {
    TComponent::Loaded();
    if (!m_identifier.isEmpty() && m_server) {
        Connect();
    }
}

void TKIDevice::Notification(TComponent* component, TOperation operation) {
    if (operation == opRemove && component == m_server && m_server) {
        // The server's conversations die with it: the items must not call them.
        ForEachItem([](TKIItem* item) { item->ForgetConversation(); });
        m_server = nullptr;
        m_conversation = nullptr;
        m_active = false;
        m_state = TKIDeviceState::Unassigned;
    }
    m_statusPanel->Notification(component, operation);
    TComponent::Notification(component, operation);
}

void TKIDevice::Connect() {
    if (m_server) {
        m_state = TKIDeviceState::Connecting;
        m_connectFailure.clear();
        try {
            m_server->OpenTopic(m_identifier, TConvNotifyEvent(this, &TKIDevice::Connected));
        } catch (const Exception& e) {
            qCWarning(lcModel) << "Opening topic" << m_identifier << "failed:" << e.what();
            m_state = TKIDeviceState::NotConnected;
            m_connectFailure = QStringLiteral("Failed to Connect to: ") + m_identifier;
            throw Exception(QStringLiteral("Failed to Connect to: ") + m_identifier);
        }
    }
    m_topicListLoaded = false;
}

void TKIDevice::DisconnectItemsFrom() {
    // Hot links stop while their conversation still lives and restart with the
    // next one.
    if (m_conversation) {
        ForEachItem([](TKIItem* item) { item->Disconnect(); });
    }
}

void TKIDevice::Disconnect() {
    if (m_server) {
        if (!m_identifier.isEmpty()) {
            DisconnectItemsFrom();
            m_server->ReleaseTopic(m_identifier);
        }
        // The conversation may have ended with the last release.
        m_conversation = nullptr;
    }
    m_active = false;
    m_state = TKIDeviceState::Unassigned;
    m_connectFailure.clear();
}

void TKIDevice::ConnectFailed(const QString& message) {
    m_state = TKIDeviceState::NotConnected;
    m_connectFailure = message;
    m_active = false;
    qCWarning(lcModel) << m_identifier << "not connected:" << message;
    SetStatusText(QStringLiteral("Not Active."));
    if (m_onConnectFailed) {
        m_onConnectFailed(this);
    }
}

void TKIDevice::Connected(TKIDdeClientConv* conversation) {
    if (conversation == nullptr) {
        // The server has spent its retries (and told the engineer): without
        // this answer the main window would wait for the control for ever.
        if (m_state == TKIDeviceState::Connecting) {
            ConnectFailed(QStringLiteral("Could not open topic: ") + m_identifier);
        }
        return;
    }
    m_conversation = conversation;
    m_active = true;
    m_state = TKIDeviceState::Connected;
    m_connectFailure.clear();
    ForEachItem([this](TKIItem* item) {
        try {
            item->Connect(m_conversation);
        } catch (const TKIItemException& e) {
            // One item the control does not support must not keep the others
            // (or the device) from connecting.
            qCWarning(lcModel) << e.what();
        }
    });
    if (m_onConnect) {
        m_onConnect(this);
    }
    SetStatusText(QStringLiteral("Active."));
}

std::unique_ptr<TKIItem> TKIDevice::CreateItem(const QString& upperName) {
    return std::make_unique<TKIItem>(upperName);
}

TKIItem* TKIDevice::AcquireItem(const QString& name) {
    const QString upper = UpperCaseName(name);
    auto* entry = m_items->FindAs<TKMapItem>(upper);
    if (entry) {
        entry->AddRef();
    } else {
        entry = new TKMapItem(CreateItem(upper));
        m_items->Add(upper, entry);
        ++m_itemCount;
    }
    if (m_active) {
        try {
            entry->Item()->Connect(m_conversation);
        } catch (const TKIItemException& e) {
            qCWarning(lcModel) << e.what();
        }
    }
    return entry->Item();
}

void TKIDevice::ReleaseItem(const QString& name) {
    auto* entry = m_items->FindAs<TKMapItem>(name);
    if (entry == nullptr) {
        return;
    }
    if (entry->Release() <= 0) {
        m_items->Remove(name);
        delete entry;
        --m_itemCount;
    }
}

int TKIDevice::ItemRefCount(const QString& name) const {
    auto* entry = m_items->FindAs<TKMapItem>(name);
    return entry ? entry->RefCount() : 0;
}

void TKIDevice::DisconnectItems() {
    ForEachItem([](TKIItem* item) { item->Disconnect(); });
    QThread::msleep(static_cast<unsigned long>(g_disconnectItemsSleepMs.load()));
}

const QStringList& TKIDevice::GetTopicItemList() {
    return ReadList(duxlane::kTopicItemListItem, m_topicItemList, m_topicListLoaded);
}

const QStringList& TKIDevice::GetMutableItemList() {
    return ReadList(duxlane::kMutableItemListItem, m_mutableItemList, m_mutableListLoaded);
}

const QStringList& TKIDevice::ReadList(const char* item, QStringList& list, bool& loaded) {
    if (loaded) {
        return list;
    }
    if (m_identifier.isEmpty() || m_conversation == nullptr) {
        throw Exception(QStringLiteral("Control has not been connected."));
    }
    const QString reply = m_request->RequestText(m_conversation, QString::fromLatin1(item));
    list.clear();
    SplitNameList(reply, list);
    loaded = true;
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(list.begin(), list.end(), [&collator](const QString& a, const QString& b) {
        return collator.compare(a, b) < 0;
    });
    return list;
}

void TKIDevice::SetOnConnect(const TKIDeviceEvent& handler) {
    if (m_conversation && handler) {
        handler(this);
    }
    m_onConnect = handler;
}

void TKIDevice::SetStatusText(const QString& text) {
    m_statusPanel->SetText(text);
}

} // namespace orvane
