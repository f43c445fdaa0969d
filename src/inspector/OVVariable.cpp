#include "inspector/OVVariable.h"

#include <algorithm>
#include <exception>
#include <unordered_map>

#include "inspector/InspectorLog.h"
#include "inspector/VarClipboard.h"
#include "inspector/VariableName.h"
#include "model/KIDevice.h"

namespace orvane {

// Waits for items to receive their conversation on behalf of variables. An
// item's attribute listeners cannot be withdrawn, so a variable never
// registers itself: this object, which lives for the whole run, registers
// instead and passes the notice on to the variables still waiting on that
// item. A variable destroyed while waiting just leaves the waiting list.
class TAttributeWatch {
public:
    static TAttributeWatch& instance() {
        static TAttributeWatch watch;
        return watch;
    }

    void wait(TOVVariable* variable, TKIDuxlaneItem* item) {
        auto& waiting = m_waiting[item];
        if (waiting.empty()) {
            item->OnAttributesReady(TKIItemEvent(this, &TAttributeWatch::ready));
        }
        waiting.push_back(variable);
        variable->m_waitingForAttributes = true;
    }

    void forget(TOVVariable* variable) {
        if (!variable->m_waitingForAttributes) {
            return;
        }
        variable->m_waitingForAttributes = false;
        const auto found = m_waiting.find(variable->m_item);
        if (found != m_waiting.end()) {
            auto& waiting = found->second;
            waiting.erase(std::remove(waiting.begin(), waiting.end(), variable), waiting.end());
            if (waiting.empty()) {
                m_waiting.erase(found); // the item's call then finds nobody
            }
        }
        for (std::vector<TOVVariable*>* running : m_running) {
            std::replace(running->begin(), running->end(), variable,
                         static_cast<TOVVariable*>(nullptr));
        }
    }

private:
    void ready(TKIItem* item) {
        const auto found = m_waiting.find(item);
        if (found == m_waiting.end()) {
            return;
        }
        // Moved aside first: a variable's attribute fetch runs the event loop,
        // during which other variables may be created or destroyed (forget
        // clears their places in this list).
        std::vector<TOVVariable*> waiting = std::move(found->second);
        m_waiting.erase(found);
        m_running.push_back(&waiting);
        struct Pop {
            std::vector<std::vector<TOVVariable*>*>& running;
            ~Pop() { running.pop_back(); }
        } pop{m_running};
        for (std::size_t i = 0; i < waiting.size(); ++i) {
            TOVVariable* const variable = waiting[i];
            if (variable == nullptr) {
                continue;
            }
            waiting[i] = nullptr;
            variable->m_waitingForAttributes = false;
            variable->AttributesReady();
        }
    }

    std::unordered_map<TKIItem*, std::vector<TOVVariable*>> m_waiting;
    std::vector<std::vector<TOVVariable*>*> m_running;
};

// Tells which of the controls of a paste still exist: creating a variable may
// run the event loop (attribute fetch), during which a control can go away.
class TPasteDeviceWatch : public TComponent {
public:
    explicit TPasteDeviceWatch(const std::vector<TVCEntry>& entries) {
        for (const TVCEntry& entry : entries) {
            if (entry.Device != nullptr && find(entry.Device) == m_devices.end()) {
                // The component side is taken now, while the device lives:
                // pointers to a device in its last notice are only compared.
                TComponent* const component = entry.Device;
                FreeNotification(component);
                m_devices.push_back({entry.Device, component, true});
            }
        }
    }
    ~TPasteDeviceWatch() override { Destroying(); }

    bool Alive(const TKIDevice* device) const {
        const auto found = find(device);
        return found != m_devices.end() && found->alive;
    }

    void Notification(TComponent* component, TOperation operation) override {
        TComponent::Notification(component, operation);
        if (operation != opRemove) {
            return;
        }
        for (Watched& watched : m_devices) {
            if (watched.component == component) {
                watched.alive = false;
            }
        }
    }

private:
    struct Watched {
        const TKIDevice* device;
        const TComponent* component;
        bool alive;
    };
    std::vector<Watched>::const_iterator find(const TKIDevice* device) const {
        return std::find_if(m_devices.begin(), m_devices.end(),
                            [device](const Watched& w) { return w.device == device; });
    }

    std::vector<Watched> m_devices;
};

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
    TAttributeWatch::instance().forget(this);
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
        TAttributeWatch::instance().wait(this, item);
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

void TOVVariable::AttributesReady() {
    // The fetch runs the event loop; the row may be deleted meanwhile.
    const std::weak_ptr<bool> alive = m_alive;
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
    if (m_item->IsAdvised() && m_item->ValueReceived()) {
        return m_item->Value(); // the held value; no transaction while advised
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
    const TPasteDeviceWatch devices(entries);

    std::vector<std::unique_ptr<TOVVariable>> pasted;
    pasted.reserve(entries.size());
    std::exception_ptr refused;
    for (const TVCEntry& entry : entries) {
        if (!devices.Alive(entry.Device)) {
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
    if (row < 0 || row >= Count()) {
        qCWarning(lcInspector) << "Delete: row" << row << "outside sheet" << m_name << "of"
                               << Count() << "rows";
        return;
    }
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
