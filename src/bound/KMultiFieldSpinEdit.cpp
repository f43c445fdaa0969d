#include "bound/KMultiFieldSpinEdit.h"

#include <algorithm>

#include <QApplication>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPointer>

#include "bound/KSpinEdit.h"
#include "platform/Component.h"

namespace orvane {

TKMultiFieldSpinEdit::TKMultiFieldSpinEdit(int fieldCount, QWidget* parent) : QWidget(parent) {
    resize(100, 24);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // The frame looks like one edit; the fields inside have no border.
    m_frame = new QFrame(this);
    m_frame->setFrameShape(QFrame::StyledPanel);
    m_frame->setFrameShadow(QFrame::Sunken);
    m_frame->setAutoFillBackground(true);
    m_frame->setBackgroundRole(QPalette::Base);
    auto* fields = new QHBoxLayout(m_frame);
    m_fieldLayout = fields;
    fields->setContentsMargins(0, 0, 0, 0);
    fields->setSpacing(0);
    for (int i = 0; i < std::max(1, fieldCount); ++i) {
        if (i > 0) {
            auto* label = new QLabel(QString(m_separator), m_frame);
            label->setContentsMargins(0, 0, 0, 0);
            label->setAlignment(Qt::AlignCenter);
            label->setFixedWidth(label->fontMetrics().horizontalAdvance(m_separator) + 2);
            m_labels.push_back(label);
            fields->addWidget(label);
        }
        auto* field = new QLineEdit(m_frame);
        field->setFrame(false);
        field->setText(QStringLiteral("    "));
        field->setAlignment(Qt::AlignCenter);
        field->setTextMargins(0, 0, 0, 0);
        field->setContentsMargins(0, 0, 0, 0);
        field->setMinimumWidth(8);
        field->installEventFilter(this);
        m_fields.push_back(field);
        fields->addWidget(field, 1);
    }
    layout->addWidget(m_frame, 1);

    m_up = new TKArrowButton(gkUpArrow, this);
    m_down = new TKArrowButton(gkDownArrow, this);
    m_check = new TKSpeedButton(gkCheckMark, this);
    // Up over down, so that the fields keep the width of the control.
    auto* arrows = new QVBoxLayout;
    arrows->setContentsMargins(0, 0, 0, 0);
    arrows->setSpacing(0);
    for (TKSpeedButton* button :
         {static_cast<TKSpeedButton*>(m_up), static_cast<TKSpeedButton*>(m_down)}) {
        button->setFixedWidth(15);
        button->setMinimumHeight(8);
        button->setMaximumHeight(17);
        button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
        arrows->addWidget(button);
    }
    layout->addLayout(arrows);
    m_check->setFixedSize(15, 17);
    layout->addWidget(m_check);
    m_check->hide();
    m_up->SetOnMouseDown(TSpeedButtonMouseEvent(this, &TKMultiFieldSpinEdit::ButtonDown));
    m_up->SetOnMouseUp(TSpeedButtonMouseEvent(this, &TKMultiFieldSpinEdit::ButtonUp));
    m_down->SetOnMouseDown(TSpeedButtonMouseEvent(this, &TKMultiFieldSpinEdit::ButtonDown));
    m_down->SetOnMouseUp(TSpeedButtonMouseEvent(this, &TKMultiFieldSpinEdit::ButtonUp));
    connect(m_up, &QAbstractButton::clicked, this, [this] { Spin(sdUp); });
    connect(m_down, &QAbstractButton::clicked, this, [this] { Spin(sdDown); });
    connect(m_check, &QAbstractButton::clicked, this, [this] { Check(); });
}

TKMultiFieldSpinEdit::~TKMultiFieldSpinEdit() = default;

QLineEdit* TKMultiFieldSpinEdit::Fields(int index) const {
    if (index < 0 || index >= FieldCount()) {
        throw EListError(QStringLiteral("Index out of bounds"));
    }
    return m_fields[static_cast<std::size_t>(index)];
}

void TKMultiFieldSpinEdit::SetSeparator(QChar separator) {
    m_separator = separator;
    for (QLabel* label : m_labels) {
        label->setText(QString(separator));
        label->setFixedWidth(label->fontMetrics().horizontalAdvance(separator) + 2);
    }
}

void TKMultiFieldSpinEdit::SetFieldStretch(int index, int stretch) {
    m_fieldLayout->setStretchFactor(Fields(index), stretch);
}

void TKMultiFieldSpinEdit::SetFocusedField(int index) {
    if (index < 0 || index >= FieldCount()) {
        m_focusedField = -1;
        return;
    }
    m_focusedField = index;
    m_fields[static_cast<std::size_t>(index)]->setFocus();
}

void TKMultiFieldSpinEdit::SetButtonsEnabled(bool enabled) {
    m_buttonsEnabled = enabled;
    m_up->SetGlyphEnabled(enabled);
    m_down->SetGlyphEnabled(enabled);
}

void TKMultiFieldSpinEdit::SetFieldsReadOnly(bool readOnly) {
    for (QLineEdit* field : m_fields) {
        field->setReadOnly(readOnly);
    }
    if (readOnly && m_typing) {
        m_typing = false;
        m_check->hide();
        m_up->show();
        m_down->show();
    }
}

void TKMultiFieldSpinEdit::BeginTyping() {
    if (m_typing) {
        return;
    }
    m_typing = true;
    m_up->hide();
    m_down->hide();
    m_check->show();
}

void TKMultiFieldSpinEdit::Check() {
    m_typing = false;
    m_check->hide();
    m_up->show();
    m_down->show();
    const int focused = m_focusedField;
    QPointer<TKMultiFieldSpinEdit> guard(this);
    m_onCheck(this);
    if (guard && focused >= 0 && focused < FieldCount()) {
        m_fields[static_cast<std::size_t>(focused)]->setFocus();
    }
}

void TKMultiFieldSpinEdit::Spin(TSpinDirection direction) {
    // An owner waiting for its control's answer has the buttons off.
    if (!m_buttonsEnabled || !isEnabled()) {
        return;
    }
    const int focused = m_focusedField;
    QPointer<TKMultiFieldSpinEdit> guard(this);
    m_onSpin(this, direction);
    if (guard && focused >= 0 && focused < FieldCount()) {
        m_fields[static_cast<std::size_t>(focused)]->setFocus();
    }
}

void TKMultiFieldSpinEdit::ButtonDown(TKSpeedButton* button, Qt::MouseButton mouseButton) {
    delete m_repeat;
    m_repeat = nullptr;
    if (mouseButton != Qt::LeftButton) {
        return;
    }
    m_heldDirection = button == m_up ? sdUp : sdDown;
    m_repeat = new QTimer(this);
    m_repeat->setInterval(SpinRepeatIntervalMs());
    connect(m_repeat, &QTimer::timeout, this, [this] { Spin(m_heldDirection); });
    m_repeat->start();
}

void TKMultiFieldSpinEdit::ButtonUp(TKSpeedButton*, Qt::MouseButton) {
    delete m_repeat;
    m_repeat = nullptr;
}

void TKMultiFieldSpinEdit::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange && !isEnabled()) {
        // A disabled button hears no release.
        delete m_repeat;
        m_repeat = nullptr;
    }
}

bool TKMultiFieldSpinEdit::eventFilter(QObject* watched, QEvent* event) {
    int index = -1;
    for (int i = 0; i < FieldCount(); ++i) {
        if (m_fields[static_cast<std::size_t>(i)] == watched) {
            index = i;
        }
    }
    if (index < 0) {
        return QWidget::eventFilter(watched, event);
    }
    switch (event->type()) {
    case QEvent::FocusIn:
        m_focusedField = index;
        return false;
    case QEvent::FocusOut: {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        // A window that loses the activation keeps its focused field.
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
            m_focusedField == index) {
            m_focusedField = -1;
        }
        return false;
    }
    case QEvent::KeyPress:
        break;
    default:
        return false;
    }
    auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
        m_focusedField = index;
        Spin(key->key() == Qt::Key_Up ? sdUp : sdDown);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_typing) {
            m_focusedField = index;
            Check();
        }
        return true;
    default:
        break;
    }
    const QString text = key->text();
    if (text.isEmpty() || key->modifiers().testFlag(Qt::ControlModifier) ||
        text.at(0) == QLatin1Char('\b') || static_cast<QLineEdit*>(watched)->isReadOnly()) {
        return false;
    }
    if (text.at(0) == QLatin1Char('=')) {
        if (m_typing) {
            m_focusedField = index;
            Check();
        }
        return true;
    }
    bool accept = true;
    if (m_onKeyFilter) {
        m_onKeyFilter(text.at(0), &accept);
    }
    if (!accept) {
        QApplication::beep();
    }
    return !accept;
}

} // namespace orvane
