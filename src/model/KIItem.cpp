#include "model/KIItem.h"

#include <QLocale>
#include <QVarLengthArray>

#include "ddelink/DdeError.h"
#include "ddelink/KIDdeClientConv.h"
#include "ddelink/SyncRequest.h"
#include "ddelink/Synchronizer.h"
#include "model/ModelLog.h"
#include "platform/TextCodec.h"

namespace orvane {

namespace {
const char* const kNotConnected = "Control has not been connected.";
}

TKIItem::TKIItem(const QString& name)
    : TComponent(nullptr), m_name(name), m_synchronizer(std::make_unique<Synchronizer>()),
      m_request(std::make_unique<TSyncRequest>()) {}

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
        CheckConnected();
        const QString reply = m_request->RequestText(m_conversation, m_name);
        // A hot link started during the wait may have brought a newer value.
        if (!(m_advised && m_value.isValid())) {
            m_value = QVariant(reply);
            m_valueReceived = true;
        }
        return m_value;
    }
    // The first value of the running link; a link on a conversation that has
    // gone would never bring one.
    if (m_conversation == nullptr || !m_conversation->IsConnected()) {
        throw Exception(QString::fromLatin1(kNotConnected));
    }
    m_adviseRefused = false;
    m_synchronizer->StartTransaction();
    m_synchronizer->WaitForCompletion();
    if (m_adviseRefused) {
        ThrowAdviseFailed();
    }
    return m_value;
}

void TKIItem::ThrowAdviseFailed() const {
    throw TKIItemException(
        QStringLiteral("Start Advise on Item %1 failed.  Make sure Item is supported in control.")
            .arg(m_name));
}

QString TKIItem::VariantToText(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float: {
        // The system's decimal separator, never its digit groups: the server
        // would read "1,234.5" as no number, or "1.234" as a wrong one.
        QLocale locale;
        locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
        return locale.toString(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    }
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
    // A conversation that has gone would drop the write without a word.
    if (!m_connected || m_conversation == nullptr || !m_conversation->IsConnected()) {
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
    // A conversation that has gone would drop the write without a word.
    if (!m_connected || m_conversation == nullptr || !m_conversation->IsConnected()) {
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
        // A later link must wait for its own first value, not take the
        // emptied one for it.
        m_value = QVariant();
        m_valueReceived = false;
    }
}

void TKIItem::StartAdvise() {
    if (!m_connected || m_conversation == nullptr) {
        m_advisePending = true;
        return;
    }
    try {
        const std::int64_t key =
            m_conversation->StartAdvise(m_name, TDdeDataEvent(this, &TKIItem::AdviseData),
                                        TDdeDataEvent(this, &TKIItem::AdviseStarted));
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
        ThrowAdviseFailed();
    }
}

void TKIItem::AdviseStarted(const char*, std::unique_ptr<EDdeError> error) {
    if (error == nullptr) {
        return;
    }
    qCWarning(lcModel) << "Hot link of" << m_name << "refused:" << error->what();
    // The conversation has already dropped the link's subscriber: nothing
    // will come, so no read may wait for it.
    m_advised = false;
    m_adviseKey = 0;
    m_adviseRefused = true;
    m_synchronizer->CompleteTransaction();
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
