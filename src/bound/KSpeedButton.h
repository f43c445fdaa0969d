#pragma once

// TKSpeedButton: a small flat button that paints its own glyph by kind (up
// arrow, down arrow, check mark) and never takes the focus, so the edit it
// belongs to keeps it. It reports presses and releases of every mouse button
// (OnMouseDown, OnMouseUp: the button and the mouse button), which the spin
// edits need for their repeat; clicks come as QAbstractButton::clicked.
// TKArrowButton is the up or down step button of a spin edit.
//
// Thread: GUI thread only.

#include <QAbstractButton>
#include <QColor>

#include "platform/Delegate.h"

namespace orvane {

class TKSpeedButton;

enum TKGlyphKind : int { gkUpArrow = 0, gkDownArrow = 1, gkCheckMark = 2 };

using TSpeedButtonMouseEvent = Delegate<TKSpeedButton*, Qt::MouseButton>;

class TKSpeedButton : public QAbstractButton {
    Q_OBJECT
public:
    TKSpeedButton(TKGlyphKind kind, QWidget* parent = nullptr);

    TKGlyphKind Kind() const { return m_kind; }
    void SetFace(const QColor& face);
    QColor Face() const { return m_face; }
    // The glyph drawn as disabled while the button still takes the mouse
    // (an owner that waits for an answer keeps a held button's repeat).
    void SetGlyphEnabled(bool enabled);
    bool GlyphEnabled() const { return m_glyphEnabled; }
    void SetOnMouseDown(const TSpeedButtonMouseEvent& handler) { m_onMouseDown = handler; }
    void SetOnMouseUp(const TSpeedButtonMouseEvent& handler) { m_onMouseUp = handler; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    TKGlyphKind m_kind;
    QColor m_face;
    bool m_glyphEnabled = true;
    TSpeedButtonMouseEvent m_onMouseDown;
    TSpeedButtonMouseEvent m_onMouseUp;
};

class TKArrowButton : public TKSpeedButton {
    Q_OBJECT
public:
    using TKSpeedButton::TKSpeedButton;
};

} // namespace orvane
