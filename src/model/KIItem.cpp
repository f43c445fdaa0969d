#include "model/KIItem.h"

#include <QLocale>
#include <QVarLengthArray>

#include "ddelink/DdeError.h"
#include "ddelink/KIDdeClientConv.h"
#include "ddelink/Synchronizer.h"
#include "model/ModelLog.h"
#include "platform/TextCodec.h"

namespace orvane {

namespace {
const char* const kNotConnected = "Control has not been connected.";
}

TKIItem::TKIItem(const QString& name)
    : TComponent(nullptr), m_name(name), m_synchronizer(std::make_unique<Synchronizer>()) {}

TKIItem::~TKIItem() {
    if (m_advised && m_conversation) {
        try {
            m_conversation->StopAdvise(m_adviseKey);
        } catch (const Exception& e) {
            qCWarning(lcModel) << "Stopping the hot link of" << m_name << "failed:" << e.what();
        }
    }
    m_subscribers.clear();
}

void TKIItem::CheckConnected() const {
    if (!m_connected || m_conversation == nullptr) {
        throw Exception(QString::fromLatin1(kNotConnected));
    }
}

QVariant TKIItem::Value() {
    if (m_advised && m_value.isValid()) {
        return m_value;
    }
    if (!m_advised) {
        // Without a conversation the request would be dropped and the wait
        // would only end by the synchronizer's time-out.
        CheckConnected();
    }
    m_synchronizer->StartTransaction();
    if (!m_advised) {
        m_replyError.reset();
        m_replyArrived = false;
        try {
            m_conversation->Request(m_name, TDdeDataEvent(this, &TKIItem::ReadCompleted));
        } catch (...) {
            m_synchronizer->CompleteTransaction();
            throw;
        }
        m_synchronizer->WaitForCompletion();
        if (m_replyError) {
            std::unique_ptr<EDdeError> error = std::move(m_replyError);
            throw EDdeError(*error);
        }
        // A hot link started during the wait may have brought a value first.
        if (m_replyArrived) {
            m_value = QVariant(m_replyText);
            m_valueReceived = true;
        }
    } else {
        m_synchronizer->WaitForCompletion();
    }
    return m_value;
}

void TKIItem::ReadCompleted(const char* value, std::unique_ptr<EDdeError> error) {
    if (error) {
        m_replyError = std::move(error);
    } else {
        m_replyText = value ? fromWindows1252(value, qstrlen(value)) : QString();
        m_replyArrived = true;
    }
    m_synchronizer->CompleteTransaction();
}

QString TKIItem::VariantToText(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
        return QLocale().toString(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    default:
        return value.toString();
    }
}

QByteArray TKIItem::PokeText(const QVariant& value) const {
    const QString text = VariantToText(value);
    if (text.size() > kPokeBufferChars) {
        throw TKIItemException(
            QStringLiteral("The value for %1 is %2 characters long; at most %3 can be written.")
                .arg(m_name)
                .arg(text.size())
                .arg(kPokeBufferChars));
    }
    return toWindows1252(text);
}

void TKIItem::SetValue(const QVariant& value) {
    const QByteArray text = PokeText(value);
    if (!m_connected || m_conversation == nullptr) {
        throw TKIItemException(QString::fromLatin1(kNotConnected));
    }
    try {
        m_conversation->Poke(m_name, text, TDdeDataEvent());
    } catch (const EDdeError& e) {
        throw TKIItemException(e.message());
    }
}

void TKIItem::SetValueAndWait(const QVariant& value) {
    const QByteArray text = PokeText(value);
    if (!m_connected || m_conversation == nullptr) {
        throw TKIItemException(QString::fromLatin1(kNotConnected));
    }
    try {
        m_conversation->PokeWait(m_name, text);
    } catch (const EDdeError& e) {
        throw TKIItemException(e.message());
    }
}

bool TKIItem::IsSubscribed(const TKIItemEvent& handler) const {
    return std::find(m_subscribers.begin(), m_subscribers.end(), handler) != m_subscribers.end();
}

void TKIItem::Subscribe(const TKIItemEvent& handler) {
    if (!handler || IsSubscribed(handler)) {
        return;
    }
    m_subscribers.push_back(handler);
    if (!m_advised) {
        StartAdvise();
    } else if (!m_advisePending && m_value.isValid()) {
        handler(this);
    }
}

void TKIItem::Unsubscribe(const TKIItemEvent& handler) {
    if (m_subscribers.empty()) {
        return;
    }
    auto it = std::find(m_subscribers.begin(), m_subscribers.end(), handler);
    if (it != m_subscribers.end()) {
        m_subscribers.erase(it);
    }
    if (m_subscribers.empty()) {
        if (m_advised) {
            StopAdvise();
        }
        m_advised = false;
        m_advisePending = false;
        m_value = QVariant();
    }
}

void TKIItem::StartAdvise() {
    if (!m_connected || m_conversation == nullptr) {
        m_advisePending = true;
        return;
    }
    try {
        const std::int64_t key =
            m_conversation->StartAdvise(m_name, TDdeDataEvent(this, &TKIItem::AdviseData));
        if (key == -1) {
            // The conversation has gone; the link starts with the next one.
            m_advised = false;
            m_advisePending = true;
            return;
        }
        m_adviseKey = key;
        m_advised = true;
        m_advisePending = false;
    } catch (const EDdeError&) {
        m_advised = false;
        StopAdvise();
        throw TKIItemException(
            QStringLiteral(
                "Start Advise on Item %1 failed.  Make sure Item is supported in control.")
                .arg(m_name));
    }
}

void TKIItem::StopAdvise() {
    if (m_conversation == nullptr || m_adviseKey == 0) {
        return;
    }
    try {
        m_conversation->StopAdvise(m_adviseKey);
    } catch (const EDdeError& e) {
        // The server ends the link with the conversation anyway.
        qCWarning(lcModel) << "Stopping the hot link of" << m_name << "failed:" << e.what();
    }
}

void TKIItem::AdviseData(const char* value, std::unique_ptr<EDdeError> error) {
    if (error) {
        qCWarning(lcModel) << "Hot link of" << m_name << "delivered an error:" << error->what();
        return;
    }
    m_synchronizer->CompleteTransaction();
    m_value = QVariant(value ? fromWindows1252(value, qstrlen(value)) : QString());
    m_valueReceived = true;
    // A subscriber may unsubscribe (or even release the item) while being told.
    const QVarLengthArray<TKIItemEvent, 4> subscribers(m_subscribers.begin(), m_subscribers.end());
    const LifeToken alive = lifetime().token();
    for (const TKIItemEvent& handler : subscribers) {
        handler(this);
        if (alive.expired()) {
            return;
        }
    }
}

void TKIItem::Connect(TKIDdeClientConv* conversation) {
    m_conversation = conversation;
    m_connected = true;
    if (m_advisePending) {
        m_advisePending = false;
        StartAdvise();
    }
}

void TKIItem::Disconnect() {
    m_connected = false;
    if (m_advised) {
        m_advisePending = true;
        StopAdvise();
        m_advised = false;
    }
}

void TKIItem::ForgetConversation() {
    m_connected = false;
    if (m_advised) {
        m_advisePending = true;
        m_advised = false;
    }
    m_conversation = nullptr;
}

} // namespace orvane
