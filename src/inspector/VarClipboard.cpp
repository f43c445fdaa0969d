#include "inspector/VarClipboard.h"

#include <algorithm>

#include "inspector/InspectorLog.h"
#include "model/KIDevice.h"
#include "platform/SoftAssert.h"

namespace orvane {

TVariableClipboard::TVariableClipboard() : TComponent(nullptr) {}

TVariableClipboard::~TVariableClipboard() {
    Destroying();
    unwatchAll();
}

void TVariableClipboard::Add(const QString& itemName, const QString& description,
                             TKIDevice* device) {
    // Every entry names its control (the grid copies rows of a sheet).
    ORVANE_ASSERT(device != nullptr, return );
    watch(device);
    m_entries.push_back(TVCEntry{device, itemName, description});
    changed();
}

void TVariableClipboard::Clear() {
    unwatchAll();
    m_entries.clear();
    changed();
}

void TVariableClipboard::Fill() {
    m_onFill(this);
}

void TVariableClipboard::changed() {
    m_onChange(this);
}

void TVariableClipboard::watch(TKIDevice* device) {
    const bool known = std::any_of(m_watched.begin(), m_watched.end(),
                                   [device](const Watched& w) { return w.device == device; });
    if (!known) {
        // The component side is taken while the device lives; in its last
        // notice the device is only compared, never converted.
        TComponent* const component = device;
        FreeNotification(component);
        m_watched.push_back({device, component});
    }
}

void TVariableClipboard::unwatchAll() {
    for (const Watched& watched : m_watched) {
        RemoveFreeNotification(watched.component);
    }
    m_watched.clear();
}

void TVariableClipboard::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation != opRemove) {
        return;
    }
    const auto watched =
        std::find_if(m_watched.begin(), m_watched.end(),
                     [component](const Watched& w) { return w.component == component; });
    if (watched == m_watched.end()) {
        return;
    }
    const TKIDevice* const device = watched->device;
    m_watched.erase(watched);
    // The control is going away: its entries go with it, so they can never be
    // pasted with a dead reference.
    const auto removed = std::erase_if(
        m_entries, [device](const TVCEntry& entry) { return entry.Device == device; });
    if (removed > 0) {
        qCInfo(lcInspector) << removed << "clipboard entries dropped with their control";
        changed();
    }
}

} // namespace orvane
