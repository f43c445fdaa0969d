#pragma once

// TKIStatusPanel: the binding of a model object (server, device, download
// driver, settings engine) to one numbered panel of a status bar, where the
// object shows its state texts ("Active.", "Not Active.", ...).
//
// Main thread only. The status bar is borrowed; when a notification owner is
// given, that component is registered for the status bar's destruction notice
// and must pass its Notification on to Notification() here, which forgets the
// status bar before it is gone. Without a status bar every text write is
// silently dropped and the text reads empty.

#include <QString>

#include "platform/Component.h"

namespace orvane {

class TStatusBar;
class TStatusPanel;

class TKIStatusPanel {
public:
    // notificationOwner: the component told when the status bar is destroyed;
    // may be null (then the holder must clear StatusBar itself).
    explicit TKIStatusPanel(TComponent* notificationOwner = nullptr);
    ~TKIStatusPanel();

    TKIStatusPanel(const TKIStatusPanel&) = delete;
    TKIStatusPanel& operator=(const TKIStatusPanel&) = delete;

    TStatusBar* StatusBar() const { return m_statusBar; }
    // Stores the bar, re-resolves the panel at the current index and registers
    // the notification owner for the bar's destruction notice.
    void SetStatusBar(TStatusBar* statusBar);

    int PanelIndex() const { return m_panelIndex; }
    // With a status bar: stores the index and resolves the panel (none when the
    // bar has no panels). An index outside a non-empty bar raises the bar's own
    // index error. Without a status bar: index 0, no panel.
    void SetPanelIndex(int index);

    // The panel's text, empty without a panel.
    QString Text();
    // Shows the text in the panel; does nothing without a panel.
    void SetText(const QString& text);

    // Destruction notice: forgets the status bar when it is the one removed.
    void Notification(TComponent* component, TOperation operation);

private:
    void RegisterForNotification();

    TStatusBar* m_statusBar = nullptr;
    int m_panelIndex = 0;
    TStatusPanel* m_panel = nullptr;
    TComponent* m_notificationOwner = nullptr;
    bool m_notificationRegistered = false;
};

} // namespace orvane
