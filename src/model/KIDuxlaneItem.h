#pragma once

// TKIDuxlaneItem: an item of a Duxlane control, which adds the item's
// attributes (class, data type, minimum, maximum). They are fetched once, on
// the first attribute read, by a raw request (clipboard format 0x0200) whose
// reply is: class byte, type byte, minimum text, zero, maximum text, zero.
// A fetch answered with a DDE error, or a reply that is not in that form,
// gives the defaults vctMonitor, vdtString, 0, 0 and is never repeated.
//
// Thread and waiting: as TKIItem; an attribute read waits with the event loop
// running. Errors: an empty reply raises "Reply was empty " + name; the
// synchronizer's time-out or re-entrancy refusal passes to the reader.

#include <cstdint>
#include <memory>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QVariant>

#include "model/KIItem.h"

namespace orvane {

// Names and values are part of the published interface.
enum ItemClassType : std::uint8_t {
    vctUnassigned = 0,
    vctMonitor = 1,
    vctTunable = 2,
    vctConfigure = 3,
};

enum ItemDataType : std::uint8_t {
    vdtUnassigned = 0,
    vdtString = 1,
    vdtBoolean = 2,
    vdtInteger = 3,
    vdtReal = 4,
    vdtTime = 5,
    vdtTimer = 6,
};

// The attributes decoded from a raw attribute reply.
struct TKIItemAttributes {
    ItemClassType classType = vctMonitor;
    ItemDataType dataType = vdtString;
    QString minValue;
    QString maxValue;
};

// Class and data type codes of the reply; unknown codes give vctMonitor and
// vdtString.
ItemClassType ItemClassFromCode(std::uint8_t code);
ItemDataType ItemDataTypeFromCode(std::uint8_t code);

// Decodes a raw attribute reply of exactly reply.size() bytes. Returns false
// when the reply is shorter than the two code bytes or the minimum text has no
// terminating zero; the maximum text ends at its zero or at the end of the
// reply. Never reads outside the reply.
bool DecodeAttributeReply(const QByteArray& reply, TKIItemAttributes& attributes);

// The reply as the DDE link hands it over (the bytes followed by one zero,
// without their count), reassembled in the form DecodeAttributeReply reads:
// the text up to the first zero, and when that holds the two code bytes, a
// zero, the text after it and a closing zero.
QByteArray ReassembleAttributeReply(const char* buffer);

class TKIDuxlaneItem : public TKIItem {
public:
    explicit TKIDuxlaneItem(const QString& name);
    ~TKIDuxlaneItem() override;

    // Base Connect, then every listener registered with OnAttributesReady, in
    // order, once.
    void Connect(TKIDdeClientConv* conversation) override;

    // Registers a one-shot listener called when the item next receives a
    // conversation (users that need attributes of an unconnected item fetch
    // them then).
    void OnAttributesReady(const TKIItemEvent& handler);

    // Each fetches the attributes on first use.
    orvane::ItemClassType ItemClassType();
    ItemDataType DataType();
    QVariant MinValue();
    QVariant MaxValue();

    bool AttributesFetched() const { return m_attributesFetched; }

private:
    void FetchAttributes();
    void UseDefaultAttributes();

    orvane::ItemClassType m_classType = vctUnassigned;
    ItemDataType m_dataType = vdtUnassigned;
    QVariant m_minValue;
    QVariant m_maxValue;
    bool m_attributesFetched = false;
    std::unique_ptr<TSyncRequest> m_attributeRequest;
    std::vector<TKIItemEvent> m_connectListeners;
};

} // namespace orvane
