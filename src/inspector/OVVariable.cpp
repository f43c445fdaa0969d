#include "inspector/OVVariable.h"

#include <algorithm>
#include <exception>
#include <unordered_map>

#include "inspector/InspectorLog.h"
#include "inspector/VarClipboard.h"
#include "inspector/VariableName.h"
#include "model/KIDevice.h"
#include "platform/SoftAssert.h"

namespace orvane {

TOVVariable::TOVVariable(const QString& itemName, const QString& description, int index,
                         TKIDevice* device, const TOVVariableEvent& onChange,
                         const TOVVariableEvent& onDescriptionChanged)
    : m_description(description), m_index(index), m_device(device), m_onChange(onChange),
      m_onDescriptionChanged(onDescriptionChanged) {
    Q_ASSERT(device != nullptr);
    m_item = device->AcquireItem(itemName);
    CheckAttributes();
}

TOVVariable::~TOVVariable() {
    try {
        Unadvise();
    } catch (const std::exception& e) {
        qCWarning(lcInspector) << "stopping the link of" << ItemName() << "failed:" << e.what();
    }
}

TKIDuxlaneItem* TOVVariable::duxlaneItem() const {
    return dynamic_cast<TKIDuxlaneItem*>(m_item);
}

void TOVVariable::CheckAttributes() {
    TKIDuxlaneItem* const item = duxlaneItem();
    if (item == nullptr) {
        return; // a plain item has no attributes to know
    }
    if (!item->IsConnected()) {
        // The listener cannot be withdrawn; the guard of this variable's life
        // keeps the item from calling one that has gone.
        if (!m_waitingForAttributes) {
            m_waitingForAttributes = true;
            item->OnAttributesReady(TKIItemEvent(this, &TOVVariable::ItemConnected));
        }
        return;
    }
    try {
        item->MinValue(); // fetches the attributes once
        m_attributesKnown = true;
    } catch (const Exception& e) {
        // The row then shows no kind picture and no editor; nothing here
        // reports to the user.
        qCWarning(lcInspector) << "attributes of" << item->Name() << "unknown:" << e.message();
    }
}

void TOVVariable::ItemConnected(TKIItem* /*item*/) {
    m_waitingForAttributes = false;
    // The fetch runs the event loop; the row may be deleted meanwhile.
    const LifeToken alive = m_lifetime.token();
    CheckAttributes();
    if (!alive.expired()) {
        m_onChange(this);
    }
}

void TOVVariable::SetDescription(const QString& text) {
    if (text == m_description) {
        return;
    }
    m_description = text;
    m_onDescriptionChanged(this);
}

QString TOVVariable::ItemName() const {
    return m_item->Name();
}

QString TOVVariable::DeviceName() const {
    return m_device->Identifier();
}

QString TOVVariable::Category() const {
    TVariableName& name = SharedVariableName();
    name.SetFullName(ItemName());
    return name.Category();
}

QString TOVVariable::Block() const {
    TVariableName& name = SharedVariableName();
    name.SetFullName(ItemName());
    return name.Block();
}

QString TOVVariable::Field() const {
    TVariableName& name = SharedVariableName();
    name.SetFullName(ItemName());
    return name.Field();
}

orvane::ItemClassType TOVVariable::ItemClassType() const {
    TKIDuxlaneItem* const item = duxlaneItem();
    return item != nullptr && item->AttributesFetched() ? item->ItemClassType() : vctUnassigned;
}

ItemDataType TOVVariable::DataType() const {
    TKIDuxlaneItem* const item = duxlaneItem();
    return item != nullptr && item->AttributesFetched() ? item->DataType() : vdtUnassigned;
}

QVariant TOVVariable::MinValue() const {
    TKIDuxlaneItem* const item = duxlaneItem();
    return item != nullptr && item->AttributesFetched() ? item->MinValue() : QVariant();
}

QVariant TOVVariable::MaxValue() const {
    TKIDuxlaneItem* const item = duxlaneItem();
    return item != nullptr && item->AttributesFetched() ? item->MaxValue() : QVariant();
}

QVariant TOVVariable::Value() const {
    // Shown while the grid paints: never a transaction, whose wait would run
    // other windows' work inside the paint.
    if (m_item->IsAdvised() && m_item->ValueReceived()) {
        return m_item->HeldValue();
    }
    return QString();
}

void TOVVariable::Advise() {
    m_item->Subscribe(TKIItemEvent(this, &TOVVariable::ItemChanged));
}

void TOVVariable::Unadvise() {
    const TKIItemEvent handler(this, &TOVVariable::ItemChanged);
    if (m_item->IsSubscribed(handler)) {
        m_item->Unsubscribe(handler);
    }
}

bool TOVVariable::IsAdvised() const {
    return m_item->IsSubscribed(
        TKIItemEvent(const_cast<TOVVariable*>(this), &TOVVariable::ItemChanged));
}

void TOVVariable::ItemChanged(TKIItem*) {
    m_onChange(this);
}

// ---------------------------------------------------------------------------

TOVVariableList::TOVVariableList(const QString& name,
                                 const TOVVariableChangedEvent& onVariableChanged,
                                 const TOVModifiedEvent& onModified)
    : m_name(name), m_onVariableChanged(onVariableChanged), m_onModified(onModified) {}

TOVVariableList::~TOVVariableList() = default;

TOVVariable* TOVVariableList::Get(int row) const {
    if (row < 0 || row >= Count()) {
        return nullptr;
    }
    return m_variables[static_cast<std::size_t>(row)].get();
}

std::unique_ptr<TOVVariable> TOVVariableList::createVariable(const QString& itemName,
                                                             const QString& description, int index,
                                                             TKIDevice* device) {
    return std::make_unique<TOVVariable>(
        itemName, description, index, device,
        TOVVariableEvent(this, &TOVVariableList::VariableChanged),
        TOVVariableEvent(this, &TOVVariableList::DescriptionChanged));
}

TOVVariable* TOVVariableList::Add(const QString& itemName, const QString& description,
                                  TKIDevice* device) {
    m_variables.push_back(createVariable(itemName, description, Count(), device));
    return m_variables.back().get();
}

void TOVVariableList::PasteAt(int row, const TVariableClipboard& clipboard) {
    // The entries are taken first: creating a variable may fetch attributes
    // with the event loop running, and the clipboard may change meanwhile.
    const std::vector<TVCEntry> entries = clipboard.Entries();
    // Creating a variable may run the event loop (attribute fetch), during
    // which a control can go away: each entry keeps a token of its control.
    std::vector<LifeToken> devices;
    devices.reserve(entries.size());
    for (const TVCEntry& entry : entries) {
        devices.push_back(entry.Device != nullptr ? entry.Device->lifetime().token() : LifeToken());
    }

    std::vector<std::unique_ptr<TOVVariable>> pasted;
    pasted.reserve(entries.size());
    std::exception_ptr refused;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const TVCEntry& entry = entries[i];
        if (devices[i].expired()) {
            continue;
        }
        pasted.push_back(createVariable(entry.ItemName, entry.Description, 0, entry.Device));
        if (m_advised) {
            try {
                pasted.back()->Advise();
            } catch (const Exception&) {
                if (!refused) {
                    refused = std::current_exception();
                }
            }
        }
    }

    // The row is judged against the sheet as it is now.
    const auto position = row >= 0 && row < Count() ? m_variables.begin() + row : m_variables.end();
    m_variables.insert(position, std::make_move_iterator(pasted.begin()),
                       std::make_move_iterator(pasted.end()));
    renumber();
    structureChanged();
    if (refused) {
        std::rethrow_exception(refused);
    }
}

void TOVVariableList::Delete(int row) {
    // The caller passes a row of the sheet.
    ORVANE_ASSERT(row >= 0 && row < Count(), return );
    const std::unique_ptr<TOVVariable> removed = std::move(m_variables[std::size_t(row)]);
    m_variables.erase(m_variables.begin() + row);
    renumber();
    structureChanged();
}

void TOVVariableList::Clear() {
    // Moved aside first, so a handler that runs while a link stops sees an
    // empty sheet rather than a half-destroyed one.
    std::vector<std::unique_ptr<TOVVariable>> removed = std::move(m_variables);
    m_variables.clear();
    removed.clear();
    m_onVariableChanged(this, -1);
    m_onModified();
}

void TOVVariableList::AdviseAll() {
    m_advised = true;
    std::exception_ptr refused;
    for (const auto& variable : m_variables) {
        try {
            variable->Advise();
        } catch (const Exception&) {
            if (!refused) {
                refused = std::current_exception();
            }
        }
    }
    if (refused) {
        std::rethrow_exception(refused);
    }
}

void TOVVariableList::UnadviseAll() {
    m_advised = false;
    for (const auto& variable : m_variables) {
        try {
            variable->Unadvise();
        } catch (const Exception& e) {
            qCWarning(lcInspector)
                << "stopping the link of" << variable->ItemName() << "failed:" << e.message();
        }
    }
}

void TOVVariableList::renumber() {
    for (std::size_t i = 0; i < m_variables.size(); ++i) {
        m_variables[i]->SetIndex(static_cast<int>(i));
    }
}

void TOVVariableList::structureChanged() {
    m_onVariableChanged(this, -1);
    m_onModified();
    m_modified = true;
}

void TOVVariableList::VariableChanged(TOVVariable* variable) {
    m_onVariableChanged(this, variable->Index());
}

void TOVVariableList::DescriptionChanged(TOVVariable*) {
    m_modified = true;
}

} // namespace orvane
