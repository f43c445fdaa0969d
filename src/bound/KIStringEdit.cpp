#include "bound/KIStringEdit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>

#include "model/KIItem.h"

namespace orvane {

TKIStringEdit::TKIStringEdit(QWidget* parent) : TKIBound<QLineEdit>(parent) {}

TKIStringEdit::~TKIStringEdit() = default;

bool TKIStringEdit::Write(const QString& text) {
    if (IsMonitorOnly() || Item() == nullptr) {
        return false;
    }
    m_binding.ClearRefusal();
    setModified(false);
    return m_binding.Write(text);
}

void TKIStringEdit::ItemValueChanged(TKIItem* item) {
    if (item == nullptr || item != Item()) {
        return;
    }
    const std::optional<QString> text = m_binding.ReadItemText();
    if (!text) {
        return;
    }
    // What the engineer is typing stays until it is written or given up.
    if (!(hasFocus() && isModified() && !IsMonitorOnly())) {
        if (this->text() != *text) {
            setText(*text);
        }
        setModified(false);
    }
    m_binding.OnValueChange()(this);
}

void TKIStringEdit::ApplyMonitorOnly() {
    QPalette p = palette();
    if (IsMonitorOnly()) {
        if (!m_greyed) {
            m_fontColor = p.color(QPalette::Text);
            m_greyed = true;
        }
        p.setColor(QPalette::Text,
                   QApplication::palette().color(QPalette::Disabled, QPalette::Text));
        setReadOnly(true);
    } else {
        if (m_greyed) {
            p.setColor(QPalette::Text, m_fontColor);
            m_greyed = false;
        }
        setReadOnly(false);
    }
    setPalette(p);
}

void TKIStringEdit::AdviseStopped() {
    clear();
    setModified(false);
}

bool TKIStringEdit::event(QEvent* e) {
    // Tab writes instead of moving the focus on.
    if (e->type() == QEvent::KeyPress && !IsMonitorOnly()) {
        auto* key = static_cast<QKeyEvent*>(e);
        if (key->key() == Qt::Key_Tab && key->modifiers() == Qt::NoModifier) {
            Write(text());
            return true;
        }
    }
    return TKIBound<QLineEdit>::event(e);
}

void TKIStringEdit::keyPressEvent(QKeyEvent* event) {
    if (IsMonitorOnly()) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        Write(text());
        return;
    case Qt::Key_Escape:
        setModified(false);
        m_binding.ShowItemValue();
        return;
    default:
        QLineEdit::keyPressEvent(event);
    }
}

void TKIStringEdit::focusOutEvent(QFocusEvent* event) {
    QPointer<TKIStringEdit> guard(this);
    QLineEdit::focusOutEvent(event);
    if (!guard) {
        return;
    }
    // Only a live value is written back: an emptied edit of a stopped link
    // would wipe the control's text.
    if (event->reason() != Qt::PopupFocusReason && Item() != nullptr && IsSubscribed() &&
        Item()->ValueReceived()) {
        Write(text());
    }
}

} // namespace orvane
