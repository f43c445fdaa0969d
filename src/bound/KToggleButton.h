#pragma once

// TKToggleButton: a two-state button drawn by itself (default 20 x 20, takes
// the focus by Tab). Releasing the mouse button flips ButtonOn wherever the
// pointer is; a release inside the button also gives it the focus. Each state
// has its face colour, caption and caption colour; changing any of them
// repaints, and a new ButtonOn repaints and fires OnButtonStateChange. The
// button's own enabled flag (ButtonEnabled) only changes how it is drawn.
// Qt paints into a back buffer already, so the face reaches the screen in one
// piece without a bitmap of our own.
//
// Thread: GUI thread only.

#include <QColor>
#include <QString>
#include <QWidget>

#include "bound/KIForms.h"

namespace orvane {

// The smallest height the face is drawn with.
constexpr int kToggleMinimumDrawnHeight = 17;

class TKToggleButton : public QWidget {
    Q_OBJECT
public:
    explicit TKToggleButton(QWidget* parent = nullptr);

    bool ButtonOn() const { return m_on; }
    void SetButtonOn(bool on);
    QColor OnColor() const { return m_onColor; }
    void SetOnColor(const QColor& color);
    QColor OffColor() const { return m_offColor; }
    void SetOffColor(const QColor& color);
    QString OnText() const { return m_onText; }
    void SetOnText(const QString& text);
    QString OffText() const { return m_offText; }
    void SetOffText(const QString& text);
    QColor OnTextColor() const { return m_onTextColor; }
    void SetOnTextColor(const QColor& color);
    QColor OffTextColor() const { return m_offTextColor; }
    void SetOffTextColor(const QColor& color);
    bool ButtonEnabled() const { return m_buttonEnabled; }
    void SetButtonEnabled(bool enabled);
    void SetOnButtonStateChange(const TNotifyEvent& handler) { m_onStateChange = handler; }

    QSize sizeHint() const override { return QSize(20, 20); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    // Whether a press or release of that mouse button is taken.
    virtual bool TakesMouse(Qt::MouseButton) const { return true; }
    // Runs after a release has flipped the state.
    virtual void Flipped() {}

private:
    bool m_on = false;
    QColor m_onColor;
    QColor m_offColor;
    QString m_onText;
    QString m_offText;
    QColor m_onTextColor;
    QColor m_offTextColor;
    bool m_buttonEnabled = true;
    bool m_pressed = false;
    TNotifyEvent m_onStateChange;
};

} // namespace orvane
