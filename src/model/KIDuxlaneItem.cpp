#include "model/KIDuxlaneItem.h"

#include "ddelink/DdeError.h"
#include "ddelink/KIDdeClientConv.h"
#include "ddelink/ServerInterface.h"
#include "ddelink/SyncRequest.h"
#include "model/ModelLog.h"
#include "platform/TextCodec.h"

namespace orvane {

ItemClassType ItemClassFromCode(std::uint8_t code) {
    switch (code) {
    case 2:
        return vctTunable;
    case 3:
        return vctConfigure;
    default:
        return vctMonitor;
    }
}

ItemDataType ItemDataTypeFromCode(std::uint8_t code) {
    switch (code) {
    case 0x01:
        return vdtBoolean;
    case 0x03:
    case 0x04:
    case 0x83:
    case 0x84:
        return vdtInteger;
    case 0x20:
    case 0x21:
    case 0x30:
    case 0x31:
        return vdtReal;
    case 0x40:
        return vdtTime;
    case 0x42:
        return vdtTimer;
    default:
        return vdtString;
    }
}

bool DecodeAttributeReply(const QByteArray& reply, TKIItemAttributes& attributes) {
    constexpr qsizetype kCodeBytes = 2;
    if (reply.size() < kCodeBytes) {
        return false;
    }
    const qsizetype minEnd = reply.indexOf('\0', kCodeBytes);
    if (minEnd < 0) {
        return false;
    }
    qsizetype maxEnd = reply.indexOf('\0', minEnd + 1);
    if (maxEnd < 0) {
        maxEnd = reply.size();
    }
    attributes.classType = ItemClassFromCode(static_cast<std::uint8_t>(reply[0]));
    attributes.dataType = ItemDataTypeFromCode(static_cast<std::uint8_t>(reply[1]));
    attributes.minValue = fromWindows1252(reply.constData() + kCodeBytes, minEnd - kCodeBytes);
    attributes.maxValue = fromWindows1252(reply.constData() + minEnd + 1, maxEnd - minEnd - 1);
    return true;
}

QByteArray ReassembleAttributeReply(const char* buffer) {
    // The link hands the reply followed by two zeros and no length: the text
    // up to the first zero and the one after it always lie inside the buffer,
    // even for a reply that holds no zero of its own. The maximum text is read
    // only when the first text holds both code bytes, as in every reply of the
    // server's form.
    const qsizetype first = qstrlen(buffer);
    QByteArray reply(buffer, first);
    if (first < 2) {
        return reply;
    }
    const char* maximum = buffer + first + 1;
    reply.append('\0');
    reply.append(maximum, qstrlen(maximum));
    reply.append('\0');
    return reply;
}

TKIDuxlaneItem::TKIDuxlaneItem(const QString& name)
    : TKIItem(name), m_attributeRequest(std::make_unique<TSyncRequest>()) {}

TKIDuxlaneItem::~TKIDuxlaneItem() = default;

void TKIDuxlaneItem::Connect(TKIDdeClientConv* conversation) {
    TKIItem::Connect(conversation);
    if (m_connectListeners.empty()) {
        return;
    }
    // One-shot: taken off before they run, so a listener may register again.
    std::vector<TKIItemEvent> listeners;
    listeners.swap(m_connectListeners);
    for (const TKIItemEvent& listener : listeners) {
        listener(this);
    }
}

void TKIDuxlaneItem::OnAttributesReady(const TKIItemEvent& handler) {
    if (handler) {
        m_connectListeners.push_back(handler);
    }
}

orvane::ItemClassType TKIDuxlaneItem::ItemClassType() {
    FetchAttributes();
    return m_classType;
}

ItemDataType TKIDuxlaneItem::DataType() {
    FetchAttributes();
    return m_dataType;
}

QVariant TKIDuxlaneItem::MinValue() {
    FetchAttributes();
    return m_minValue;
}

QVariant TKIDuxlaneItem::MaxValue() {
    FetchAttributes();
    return m_maxValue;
}

void TKIDuxlaneItem::UseDefaultAttributes() {
    m_classType = vctMonitor;
    m_dataType = vdtString;
    m_minValue = QVariant(0);
    m_maxValue = QVariant(0);
}

void TKIDuxlaneItem::FetchAttributes() {
    if (m_attributesFetched) {
        return;
    }
    // Checked before the one fetch is spent: an unconnected item fetches when
    // it gets its conversation (OnAttributesReady).
    CheckConnected();
    m_attributesFetched = true;

    QByteArray reply;
    try {
        reply = m_attributeRequest->RequestRaw(Conversation(), Name(), &ReassembleAttributeReply);
    } catch (const EDdeError& e) {
        qCInfo(lcModel) << "Attributes of" << Name() << "not available:" << e.what();
        UseDefaultAttributes();
        return;
    } catch (const SynchronizerException&) {
        throw;
    } catch (const Exception&) {
        // The conversation was not live: nothing was spent, fetch again later.
        m_attributesFetched = false;
        throw;
    }

    if (reply.isEmpty()) {
        throw Exception(QStringLiteral("Reply was empty ") + Name());
    }
    TKIItemAttributes attributes;
    if (!DecodeAttributeReply(reply, attributes)) {
        qCWarning(lcModel) << "Malformed attribute reply for" << Name() << "(" << reply.size()
                           << "bytes); using the defaults";
        UseDefaultAttributes();
        return;
    }
    m_classType = attributes.classType;
    m_dataType = attributes.dataType;
    m_minValue = QVariant(attributes.minValue);
    m_maxValue = QVariant(attributes.maxValue);
}

} // namespace orvane
