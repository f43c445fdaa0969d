#include "bound/KToggleButton.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

namespace orvane {

TKToggleButton::TKToggleButton(QWidget* parent) : QWidget(parent) {
    resize(20, 20);
    setFocusPolicy(Qt::StrongFocus);
    m_onColor = m_offColor = palette().color(QPalette::Button);
    m_onTextColor = m_offTextColor = palette().color(QPalette::ButtonText);
}

void TKToggleButton::SetButtonOn(bool on) {
    if (on == m_on) {
        return;
    }
    m_on = on;
    update();
    m_onStateChange(this);
}

void TKToggleButton::SetOnColor(const QColor& color) {
    if (color != m_onColor) {
        m_onColor = color;
        update();
    }
}

void TKToggleButton::SetOffColor(const QColor& color) {
    if (color != m_offColor) {
        m_offColor = color;
        update();
    }
}

void TKToggleButton::SetOnText(const QString& text) {
    if (text != m_onText) {
        m_onText = text;
        update();
    }
}

void TKToggleButton::SetOffText(const QString& text) {
    if (text != m_offText) {
        m_offText = text;
        update();
    }
}

void TKToggleButton::SetOnTextColor(const QColor& color) {
    if (color != m_onTextColor) {
        m_onTextColor = color;
        update();
    }
}

void TKToggleButton::SetOffTextColor(const QColor& color) {
    if (color != m_offTextColor) {
        m_offTextColor = color;
        update();
    }
}

void TKToggleButton::SetButtonEnabled(bool enabled) {
    if (enabled != m_buttonEnabled) {
        m_buttonEnabled = enabled;
        update();
    }
}

void TKToggleButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QRect r = rect();
    if (r.height() < kToggleMinimumDrawnHeight) {
        r.setHeight(kToggleMinimumDrawnHeight);
    }
    const bool enabled = m_buttonEnabled && isEnabled();
    QColor face = m_on ? m_onColor : m_offColor;
    if (!enabled) {
        face = face.lighter(115);
    }
    painter.fillRect(r, face);
    // Sunken while on or held, raised while off.
    const bool sunken = m_on || m_pressed;
    const QColor light = face.lighter(170);
    const QColor dark = face.darker(170);
    painter.setPen(sunken ? dark : light);
    painter.drawLine(r.topLeft(), r.topRight());
    painter.drawLine(r.topLeft(), r.bottomLeft());
    painter.setPen(sunken ? light : dark);
    painter.drawLine(r.bottomLeft(), r.bottomRight());
    painter.drawLine(r.topRight(), r.bottomRight());

    const QString caption = m_on ? m_onText : m_offText;
    if (!caption.isEmpty()) {
        QColor ink = m_on ? m_onTextColor : m_offTextColor;
        if (!enabled) {
            ink = palette().color(QPalette::Disabled, QPalette::ButtonText);
        }
        painter.setPen(ink);
        painter.setFont(font());
        painter.drawText(r.adjusted(2, 1, -2, -1).translated(sunken ? 1 : 0, sunken ? 1 : 0),
                         Qt::AlignCenter, caption);
    }
    if (hasFocus()) {
        QPen pen(palette().color(QPalette::Highlight));
        pen.setStyle(Qt::DotLine);
        painter.setPen(pen);
        painter.drawRect(r.adjusted(2, 2, -3, -3));
    }
}

void TKToggleButton::mousePressEvent(QMouseEvent* event) {
    if (!TakesMouse(event->button())) {
        event->ignore();
        return;
    }
    m_pressed = true;
    update();
}

void TKToggleButton::mouseReleaseEvent(QMouseEvent* event) {
    if (!TakesMouse(event->button())) {
        event->ignore();
        return;
    }
    m_pressed = false;
    QPointer<TKToggleButton> guard(this);
    SetButtonOn(!m_on);
    if (!guard) {
        return;
    }
    if (rect().contains(event->position().toPoint())) {
        setFocus(Qt::MouseFocusReason);
    }
    Flipped();
}

void TKToggleButton::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    update();
}

void TKToggleButton::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
}

void TKToggleButton::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) {
        update();
    }
}

} // namespace orvane
