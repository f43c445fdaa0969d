#include "bound/KSpinEdit.h"

#include <algorithm>
#include <cmath>

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLocale>
#include <QPointer>

namespace orvane {

namespace {

int g_repeatIntervalMs = kSpinRepeatIntervalMs;

QLocale numberLocale() {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return locale;
}

} // namespace

int SpinRepeatIntervalMs() {
    return g_repeatIntervalMs;
}

double RoundSignificant(double value) {
    if (value == 0.0 || !std::isfinite(value)) {
        return value;
    }
    return QString::number(value, 'g', kSignificantDigits).toDouble();
}

double StepValue(double value, bool isInteger, TSpinStep step) {
    const double m = std::fabs(value);
    const double sign = (step == ssFineUp || step == ssCoarseUp) ? 1.0 : -1.0;
    const bool coarse = step == ssCoarseUp || step == ssCoarseDown;
    if (isInteger) {
        const double limit = coarse ? 10.0 : 100.0;
        const double share = coarse ? 0.1 : 0.01;
        if (m > limit) {
            return std::nearbyint(value + sign * m * share);
        }
        return value + sign;
    }
    const double limit = coarse ? 0.2 : 1.0;
    const double share = coarse ? 0.1 : 0.01;
    const double delta = m > limit ? m * share : 0.01;
    return RoundSignificant(value + sign * delta);
}

QString FormatNumber(double value, int decimals) {
    const QLocale locale = numberLocale();
    if (!std::isfinite(value)) {
        return locale.toString(value);
    }
    if (std::fabs(value) >= 1e9) {
        return locale.toString(value, 'e', kSignificantDigits - 1);
    }
    QString text = locale.toString(RoundSignificant(value), 'f', qBound(0, decimals, 18));
    if (text.startsWith(locale.negativeSign())) {
        double back = 0;
        if (ReadNumber(text, &back) && back == 0.0) {
            text.remove(0, locale.negativeSign().size());
        }
    }
    return text;
}

QString NumberText(double value) {
    const QLocale locale = numberLocale();
    if (std::fabs(value) >= 1e15 || !std::isfinite(value)) {
        return locale.toString(value, 'g', kSignificantDigits);
    }
    const double rounded = RoundSignificant(value);
    const int whole =
        rounded == 0.0 ? 1 : std::max(1, int(std::floor(std::log10(std::fabs(rounded)))) + 1);
    QString text = locale.toString(rounded, 'f', std::max(0, kSignificantDigits - whole));
    const QString point = locale.decimalPoint();
    if (text.contains(point)) {
        while (text.endsWith(QLatin1Char('0'))) {
            text.chop(1);
        }
        if (text.endsWith(point)) {
            text.chop(point.size());
        }
    }
    if (text == locale.negativeSign() + QLatin1Char('0')) {
        text = QStringLiteral("0");
    }
    return text;
}

bool ReadNumber(const QString& text, double* value) {
    const QString t = text.trimmed();
    if (t.isEmpty()) {
        return false;
    }
    bool ok = false;
    double v = numberLocale().toDouble(t, &ok);
    if (!ok) {
        QLocale c = QLocale::c();
        c.setNumberOptions(QLocale::RejectGroupSeparator);
        v = c.toDouble(t, &ok);
    }
    if (!ok || !std::isfinite(v)) {
        return false;
    }
    *value = v;
    return true;
}

void TKSpinEdit::SetRepeatIntervalMsForTesting(int ms) {
    g_repeatIntervalMs = ms > 0 ? ms : kSpinRepeatIntervalMs;
}

TKSpinEdit::TKSpinEdit(QWidget* parent) : QWidget(parent) {
    resize(100, 24);
    m_edit = new QLineEdit(this);
    m_edit->installEventFilter(this);
    setFocusProxy(m_edit);
    connect(m_edit, &QLineEdit::textEdited, this, [this] { TextEdited(); });

    const QColor silver(192, 192, 192);
    const QColor grey(128, 128, 128);
    const TKGlyphKind kinds[4] = {gkUpArrow, gkUpArrow, gkDownArrow, gkDownArrow};
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_edit, 1);
    // Fine buttons (20 px) first, then the coarse ones (15 px).
    const TSpinStep order[4] = {ssFineUp, ssFineDown, ssCoarseUp, ssCoarseDown};
    for (const TSpinStep step : order) {
        const bool fine = step == ssFineUp || step == ssFineDown;
        auto* button = new TKArrowButton(kinds[step], this);
        button->setFixedSize(fine ? 20 : 15, 17);
        button->SetFace(fine ? silver : grey);
        button->SetOnMouseDown(TSpeedButtonMouseEvent(this, &TKSpinEdit::ButtonDown));
        button->SetOnMouseUp(TSpeedButtonMouseEvent(this, &TKSpinEdit::ButtonUp));
        m_buttons[step] = button;
        layout->addWidget(button);
    }
    m_check = new TKSpeedButton(gkCheckMark, this);
    m_check->setFixedSize(15, 17);
    m_check->hide();
    connect(m_check, &QAbstractButton::clicked, this, [this] { Accept(); });
    layout->addWidget(m_check);

    m_repeat.setInterval(g_repeatIntervalMs);
    connect(&m_repeat, &QTimer::timeout, this, [this] { RepeatTick(); });
    Display(m_value);
}

TKSpinEdit::~TKSpinEdit() = default;

void TKSpinEdit::SetSpinValue(double value) {
    Display(value);
    m_value = value;
    Click();
}

void TKSpinEdit::SetDecimalPlaces(int places) {
    places = qBound(0, places, 18);
    if (places == m_decimalPlaces) {
        return;
    }
    m_decimalPlaces = places;
    Display(m_value);
}

void TKSpinEdit::Display(double value) {
    if (m_typing) {
        return;
    }
    const QString text = FormatNumber(value, IsInteger() ? 0 : m_decimalPlaces);
    // setText is not taken for typing: only textEdited (the user) is.
    if (m_edit->text() != text) {
        m_edit->setText(text);
    }
}

void TKSpinEdit::SetWritableLook(bool writable) {
    for (TKArrowButton* button : m_buttons) {
        button->setEnabled(writable);
    }
    m_check->setEnabled(writable);
    m_edit->setReadOnly(!writable);
    QPalette palette = m_edit->palette();
    palette.setColor(QPalette::Text,
                     writable ? QApplication::palette().color(QPalette::Text)
                              : QApplication::palette().color(QPalette::Disabled, QPalette::Text));
    m_edit->setPalette(palette);
    if (!writable && m_typing) {
        CancelTyping();
    }
}

void TKSpinEdit::Step(TSpinStep step) {
    // A step that waits for the control runs the event loop; a repeat tick
    // arriving meanwhile must not start a second step inside the first.
    if (m_stepping) {
        return;
    }
    m_stepping = true;
    QPointer<TKSpinEdit> guard(this);
    SetSpinValue(StepValue(m_value, IsInteger(), step));
    if (!guard) {
        return;
    }
    m_stepping = false;
    m_onChangeValue(this);
}

int TKSpinEdit::IndexOf(TKSpeedButton* button) const {
    for (int i = 0; i < 4; ++i) {
        if (m_buttons[i] == button) {
            return i;
        }
    }
    return -1;
}

void TKSpinEdit::ButtonDown(TKSpeedButton* button, Qt::MouseButton mouseButton) {
    const int index = IndexOf(button);
    if (index < 0) {
        return;
    }
    if (mouseButton != Qt::LeftButton) {
        ButtonUp(button, Qt::LeftButton);
        return;
    }
    m_held[index] = true;
    QPointer<TKSpinEdit> guard(this);
    Step(static_cast<TSpinStep>(index));
    if (!guard) {
        return;
    }
    // The step may have waited for the control, and the button may have been
    // let go meanwhile.
    if (m_held[index]) {
        m_repeat.setInterval(g_repeatIntervalMs);
        m_repeat.start();
    }
    m_onMouseDown(this);
}

void TKSpinEdit::ButtonUp(TKSpeedButton* button, Qt::MouseButton mouseButton) {
    const int index = IndexOf(button);
    if (index < 0 || mouseButton != Qt::LeftButton) {
        return;
    }
    m_held[index] = false;
    m_repeat.stop();
    m_onMouseUp(this);
}

void TKSpinEdit::RepeatTick() {
    const TSpinStep order[4] = {ssFineUp, ssCoarseUp, ssCoarseDown, ssFineDown};
    for (const TSpinStep step : order) {
        if (m_held[step]) {
            Step(step);
            return;
        }
    }
    m_repeat.stop();
}

void TKSpinEdit::BeginTyping() {
    if (m_typing || !MayType()) {
        return;
    }
    m_typing = true;
    m_textBeforeTyping = m_edit->text();
    for (TKArrowButton* button : m_buttons) {
        button->hide();
    }
    m_check->show();
}

void TKSpinEdit::EndTyping() {
    m_typing = false;
    m_check->hide();
    for (TKArrowButton* button : m_buttons) {
        button->show();
    }
}

void TKSpinEdit::CancelTyping() {
    if (!m_typing) {
        return;
    }
    m_edit->setText(m_textBeforeTyping);
    EndTyping();
    Display(m_value);
}

void TKSpinEdit::TextEdited() {
    BeginTyping();
}

void TKSpinEdit::Accept() {
    const double old = m_value;
    double typed = old;
    const QString text = m_edit->text();
    const bool readable = ReadNumber(text, &typed);
    double chosen = readable ? typed : old;
    bool refused = !readable;
    if (readable && RangeCheck()) {
        const double low = old >= 0 ? 0.9 * old : 1.1 * old;
        const double high = old >= 0 ? 1.1 * old : 0.9 * old;
        if (typed < low || typed > high) {
            chosen = old;
            refused = true;
        }
    }
    QPointer<TKSpinEdit> guard(this);
    EndTyping();
    if (refused) {
        Display(old);
        TypedValueRefused(text);
        if (!guard) {
            return;
        }
    }
    SetSpinValue(chosen);
    if (!guard) {
        return;
    }
    m_onCheckClick(this);
    if (!guard) {
        return;
    }
    m_onChangeValue(this);
}

void TKSpinEdit::SetFocus() {
    m_edit->setFocus();
}

bool TKSpinEdit::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_edit) {
        return QWidget::eventFilter(watched, event);
    }
    if (event->type() == QEvent::MouseButtonDblClick) {
        m_onDblClick(this);
        return false;
    }
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (m_buttons[ssFineUp]->isEnabled() && !m_typing) {
            Step(key->key() == Qt::Key_Up ? ssFineUp : ssFineDown);
        }
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_typing) {
            Accept();
        }
        return true;
    case Qt::Key_Escape:
        if (m_typing) {
            CancelTyping();
            return true;
        }
        return false;
    default:
        break;
    }
    const QString text = key->text();
    if (text.isEmpty() || key->modifiers().testFlag(Qt::ControlModifier)) {
        return false; // navigation, deletion and shortcuts work as in any edit
    }
    const QChar c = text.at(0);
    if (c == QLatin1Char('\b')) {
        return false;
    }
    if (c == QLatin1Char('=')) {
        if (m_typing) {
            Accept();
        }
        return true;
    }
    const QString point = QLocale().decimalPoint();
    if (c.isDigit() || c == QLatin1Char('-') || c == QLatin1Char('.') || text == point) {
        if (!m_edit->isReadOnly()) {
            BeginTyping();
        }
        return false;
    }
    QApplication::beep();
    return true;
}

} // namespace orvane
