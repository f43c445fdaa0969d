#include "model/KIStatusPanel.h"

#include "platform/StatusBar.h"

namespace orvane {

TKIStatusPanel::TKIStatusPanel(TComponent* notificationOwner)
    : m_notificationOwner(notificationOwner) {}

TKIStatusPanel::~TKIStatusPanel() = default;

void TKIStatusPanel::SetStatusBar(TStatusBar* statusBar) {
    if (statusBar != m_statusBar) {
        m_notificationRegistered = false;
    }
    m_statusBar = statusBar;
    SetPanelIndex(m_panelIndex);
    RegisterForNotification();
}

void TKIStatusPanel::RegisterForNotification() {
    if (m_statusBar && m_notificationOwner && !m_notificationRegistered) {
        m_notificationOwner->FreeNotification(m_statusBar);
        m_notificationRegistered = true;
    }
}

void TKIStatusPanel::SetPanelIndex(int index) {
    if (m_statusBar == nullptr) {
        m_panelIndex = 0;
        m_panel = nullptr;
        return;
    }
    m_panelIndex = index;
    m_panel = m_statusBar->PanelCount() == 0 ? nullptr : m_statusBar->Panel(index);
}

QString TKIStatusPanel::Text() {
    RegisterForNotification();
    return m_panel ? m_panel->Text() : QString();
}

void TKIStatusPanel::SetText(const QString& text) {
    if (m_panel) {
        m_panel->SetText(text);
    }
}

void TKIStatusPanel::Notification(TComponent* component, TOperation operation) {
    if (operation == opRemove && m_statusBar &&
        component == static_cast<TComponent*>(m_statusBar)) {
        m_statusBar = nullptr;
        m_panelIndex = 0;
        m_panel = nullptr;
        m_notificationRegistered = false;
    }
}

} // namespace orvane
