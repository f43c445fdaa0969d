#pragma once

// TStatusBar: a status bar with numbered panels (0 at the left), each showing
// one text. It is also a component, so that objects bound to one of its panels
// (TKIStatusPanel) register with FreeNotification and hear, through their
// Notification(statusBar, opRemove), that the status bar is being destroyed,
// before any of its panels is gone; they then never touch a dead widget.
//
// Ownership: the status bar belongs to its parent widget (Qt), never to a
// component owner; it owns its panels. Panel pointers are valid until the
// status bar is destroyed.
// Thread: main thread only.

#include <memory>
#include <vector>

#include <QStatusBar>

#include "platform/Component.h"

class QLabel;

namespace orvane {

class TStatusBar;

// Width of a panel added without one, in pixels.
constexpr int kDefaultPanelWidth = 50;

class TStatusPanel {
public:
    int Index() const { return m_index; }
    TStatusBar* StatusBar() const { return m_statusBar; }
    QString Text() const;
    void SetText(const QString& text);
    int Width() const;
    void SetWidth(int width);

private:
    friend class TStatusBar;
    TStatusPanel(TStatusBar* statusBar, int index, QLabel* label)
        : m_statusBar(statusBar), m_index(index), m_label(label) {}

    TStatusBar* m_statusBar;
    int m_index;
    QLabel* m_label; // child widget of the status bar
};

class TStatusBar : public QStatusBar, public TComponent {
    Q_OBJECT

public:
    explicit TStatusBar(QWidget* parent = nullptr);
    ~TStatusBar() override;

    int PanelCount() const { return static_cast<int>(m_panels.size()); }
    // Adds a panel at the right end and returns it.
    TStatusPanel* AddPanel(int width = kDefaultPanelWidth);
    // The panel at an index; raises EListError ("List index out of bounds (n)")
    // outside 0..PanelCount-1.
    TStatusPanel* Panel(int index) const;
    QString PanelText(int index) const { return Panel(index)->Text(); }
    void SetPanelText(int index, const QString& text) { Panel(index)->SetText(text); }

private:
    std::vector<std::unique_ptr<TStatusPanel>> m_panels;
};

} // namespace orvane
