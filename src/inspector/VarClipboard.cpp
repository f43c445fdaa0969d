#include "VarClipboard.h"

#include <algorithm>

#include "InspectorLog.h"
#include "KIDevice.h"

namespace orvane {

TVariableClipboard::TVariableClipboard() : TComponent(nullptr) {}

TVariableClipboard::~TVariableClipboard() {
    Destroying();
    unwatchAll();
}

void TVariableClipboard::Add(const QString& itemName, const QString& description,
                             TKIDevice* device) {
    if (device == nullptr) {
        qCWarning(lcInspector) << "clipboard entry" << itemName << "without a control refused";
        return;
    }
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
    if (std::find(m_watched.begin(), m_watched.end(), device) == m_watched.end()) {
        FreeNotification(device);
        m_watched.push_back(device);
    }
}

void TVariableClipboard::unwatchAll() {
    for (TKIDevice* device : m_watched) {
        RemoveFreeNotification(device);
    }
    m_watched.clear();
}

void TVariableClipboard::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation != opRemove) {
        return;
    }
    const auto watched = std::find(m_watched.begin(), m_watched.end(), component);
    if (watched == m_watched.end()) {
        return;
    }
    m_watched.erase(watched);
    // The control is going away: its entries go with it, so they can never be
    // pasted with a dead reference.
    const auto removed = std::erase_if(m_entries, [component](const TVCEntry& entry) {
        return static_cast<TComponent*>(entry.Device) == component;
    });
    if (removed > 0) {
        qCInfo(lcInspector) << removed << "clipboard entries dropped with their control";
        changed();
    }
}

} // namespace orvane
