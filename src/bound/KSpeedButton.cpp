#include "bound/KSpeedButton.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QStyleOptionButton>

namespace orvane {

TKSpeedButton::TKSpeedButton(TKGlyphKind kind, QWidget* parent)
    : QAbstractButton(parent), m_kind(kind), m_face(palette().color(QPalette::Button)) {
    setFocusPolicy(Qt::NoFocus);
}

void TKSpeedButton::SetFace(const QColor& face) {
    m_face = face;
    update();
}

void TKSpeedButton::SetGlyphEnabled(bool enabled) {
    m_glyphEnabled = enabled;
    update();
}

QSize TKSpeedButton::sizeHint() const {
    return QSize(15, 17);
}

void TKSpeedButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect r = rect();
    painter.fillRect(r, m_face);
    // A raised bevel at rest, a sunken one while held.
    const QColor light = isDown() ? m_face.darker(160) : m_face.lighter(160);
    const QColor dark = isDown() ? m_face.lighter(160) : m_face.darker(160);
    painter.setPen(light);
    painter.drawLine(r.topLeft(), r.topRight());
    painter.drawLine(r.topLeft(), r.bottomLeft());
    painter.setPen(dark);
    painter.drawLine(r.bottomLeft(), r.bottomRight());
    painter.drawLine(r.topRight(), r.bottomRight());

    painter.setRenderHint(QPainter::Antialiasing);
    const bool enabled = isEnabled() && m_glyphEnabled;
    const QColor ink = enabled ? palette().color(QPalette::ButtonText)
                               : palette().color(QPalette::Disabled, QPalette::ButtonText);
    const QPointF c = QRectF(r).center() + (isDown() ? QPointF(1, 1) : QPointF(0, 0));
    const qreal w = qMax<qreal>(2.0, qMin(r.width(), r.height()) / 4.0);
    if (m_kind == gkCheckMark) {
        QPen pen(enabled ? QColor(0, 128, 0) : ink, 2);
        painter.setPen(pen);
        QPainterPath path;
        path.moveTo(c + QPointF(-w, 0));
        path.lineTo(c + QPointF(-w / 3, w * 0.8));
        path.lineTo(c + QPointF(w, -w));
        painter.drawPath(path);
        return;
    }
    const qreal dir = m_kind == gkUpArrow ? -1.0 : 1.0;
    QPainterPath arrow;
    arrow.moveTo(c + QPointF(-w, -dir * w / 2));
    arrow.lineTo(c + QPointF(w, -dir * w / 2));
    arrow.lineTo(c + QPointF(0, dir * w / 2));
    arrow.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    painter.drawPath(arrow);
}

void TKSpeedButton::mousePressEvent(QMouseEvent* event) {
    const Qt::MouseButton button = event->button();
    QPointer<TKSpeedButton> guard(this);
    QAbstractButton::mousePressEvent(event);
    if (guard && isEnabled()) {
        m_onMouseDown(this, button);
    }
}

void TKSpeedButton::mouseReleaseEvent(QMouseEvent* event) {
    const Qt::MouseButton button = event->button();
    QPointer<TKSpeedButton> guard(this);
    QAbstractButton::mouseReleaseEvent(event);
    if (guard && isEnabled()) {
        m_onMouseUp(this, button);
    }
}

} // namespace orvane
