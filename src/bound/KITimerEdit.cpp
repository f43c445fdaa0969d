#include "bound/KITimerEdit.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLocale>
#include <QPointer>

#include "bound/KSpinEdit.h"
#include "model/KIItem.h"

namespace orvane {

namespace {

int g_answerTimeoutMs = kTimerAnswerTimeoutMs;

} // namespace

// The steps carry fractions of a second along, so that stepping a timer of
// 0:00:59.50 by a second gives 0:01:00.50, not 0:01:00.00.

void TKTimer::IncHours() {
    if (Hours < std::numeric_limits<std::int32_t>::max()) {
        ++Hours;
    }
}

void TKTimer::IncMinutes() {
    if (Minutes >= 59) {
        Minutes = 0;
        IncHours();
    } else {
        ++Minutes;
    }
}

void TKTimer::IncSeconds() {
    if (Seconds + 1.0f >= 60.0f) {
        Seconds = std::max(0.0f, Seconds + 1.0f - 60.0f);
        IncMinutes();
    } else {
        Seconds += 1.0f;
    }
}

void TKTimer::DecHours() {
    if (Hours > 0) {
        --Hours;
    }
}

void TKTimer::DecMinutes() {
    if (Minutes > 0) {
        --Minutes;
    } else if (Hours > 0) {
        DecHours();
        Minutes = 59;
    }
}

void TKTimer::DecSeconds() {
    if (Seconds >= 1.0f) {
        Seconds -= 1.0f;
    } else if (Minutes > 0 || Hours > 0) {
        // At a whole hour the second borrows from the hours as the minutes do:
        // 1:00:00 less a second is 0:59:59.
        DecMinutes();
        Seconds += 59.0f;
    }
}

QString TKTimer::TwoDigits(std::int32_t value) {
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

QString TKTimer::SecondsText(float seconds) {
    long long centis = std::llround(static_cast<double>(seconds) * 100.0);
    // Rounding must never show a 60th second, which no control takes.
    centis = std::clamp(centis, 0LL, 5999LL);
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    QString text = locale.toString(static_cast<double>(centis) / 100.0, 'f', 2);
    const int wanted = 4 + static_cast<int>(locale.decimalPoint().size());
    while (text.size() < wanted) {
        text.prepend(QLatin1Char('0'));
    }
    return text;
}

QString TKTimer::Text() const {
    return TwoDigits(Hours) + QLatin1Char(':') + TwoDigits(Minutes) + QLatin1Char(':') +
           SecondsText(Seconds);
}

bool TKTimer::SetText(const QString& text) {
    const QStringList parts = text.trimmed().split(QLatin1Char(':'));
    if (parts.size() != 3) {
        return false;
    }
    bool ok = false;
    const qlonglong hours = parts[0].trimmed().toLongLong(&ok);
    if (!ok || hours < 0 || hours > std::numeric_limits<std::int32_t>::max()) {
        return false;
    }
    const int minutes = parts[1].trimmed().toInt(&ok);
    if (!ok || minutes < 0 || minutes > 59) {
        return false;
    }
    double seconds = 0;
    if (!ReadNumber(parts[2], &seconds) || seconds < 0 || seconds >= 60) {
        return false;
    }
    Hours = static_cast<std::int32_t>(hours);
    Minutes = minutes;
    Seconds = static_cast<float>(seconds);
    return true;
}

void TKITimerEdit::SetAnswerTimeoutMsForTesting(int ms) {
    g_answerTimeoutMs = ms > 0 ? ms : kTimerAnswerTimeoutMs;
}

TKITimerEdit::TKITimerEdit(QWidget* parent) : TKIBound<QWidget>(parent) {
    resize(100, 24);
    setMinimumHeight(24);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_spin = new TKMultiFieldSpinEdit(3, this);
    m_spin->SetSeparator(QLatin1Char(':'));
    // Hours and minutes show two digits, the seconds five characters; a
    // QLineEdit keeps a few pixels of margin on each side.
    const QFontMetrics metrics(m_spin->Fields(0)->font());
    const int margin = 3;
    m_spin->Fields(0)->setMinimumWidth(metrics.horizontalAdvance(QStringLiteral("00")) + margin);
    m_spin->Fields(1)->setMinimumWidth(metrics.horizontalAdvance(QStringLiteral("00")) + margin);
    m_spin->Fields(2)->setMinimumWidth(metrics.horizontalAdvance(QStringLiteral("00.00")) + margin);
    m_spin->SetFieldStretch(2, 2);
    layout->addWidget(m_spin);
    setFocusProxy(m_spin->Fields(0));
    m_spin->SetOnSpin(TSpinEvent(this, &TKITimerEdit::SpinHandler));
    m_spin->SetOnCheck(TNotifyEvent(this, &TKITimerEdit::CheckHandler));
    m_spin->SetOnKeyFilter(TKeyFilterEvent(this, &TKITimerEdit::KeyFilter));
    m_answerTimer.setSingleShot(true);
    QObject::connect(&m_answerTimer, &QTimer::timeout, this, [this] {
        // No word from the control: show what it holds and let the engineer go on.
        EndWait();
        m_binding.ShowItemValue();
    });
}

TKITimerEdit::~TKITimerEdit() = default;

void TKITimerEdit::SpinHandler(QWidget*, int direction) {
    if (IsMonitorOnly() || Item() == nullptr) {
        return;
    }
    const bool up = direction == sdUp;
    switch (m_spin->FocusedField()) {
    case 0:
        up ? m_timer.IncHours() : m_timer.DecHours();
        break;
    case 1:
        up ? m_timer.IncMinutes() : m_timer.DecMinutes();
        break;
    case 2:
        up ? m_timer.IncSeconds() : m_timer.DecSeconds();
        break;
    default:
        return;
    }
    WriteTimer();
}

void TKITimerEdit::CheckHandler(QWidget*) {
    if (IsMonitorOnly() || Item() == nullptr) {
        return;
    }
    bool okHours = false;
    bool okMinutes = false;
    const qlonglong hours = m_spin->Fields(0)->text().trimmed().toLongLong(&okHours);
    const qlonglong minutes = m_spin->Fields(1)->text().trimmed().toLongLong(&okMinutes);
    double seconds = 0;
    const bool okSeconds = ReadNumber(m_spin->Fields(2)->text(), &seconds);
    if (!okHours || !okMinutes || !okSeconds || hours < 0 ||
        hours > std::numeric_limits<std::int32_t>::max()) {
        m_binding.Refused(m_binding.ControlName() + QLatin1String(kConversionFailedText));
        return;
    }
    m_timer.Hours = static_cast<std::int32_t>(hours);
    m_timer.Minutes = static_cast<std::int32_t>(std::clamp(minutes, 0LL, 59LL));
    m_timer.Seconds = static_cast<float>(std::clamp(seconds, 0.0, 59.0));
    WriteTimer();
}

void TKITimerEdit::WriteTimer() {
    if (m_writing) {
        return;
    }
    m_writing = true;
    QPointer<TKITimerEdit> guard(this);
    WriteTimerOnce();
    if (guard) {
        m_writing = false;
    }
}

void TKITimerEdit::WriteTimerOnce() {
    QPointer<TKITimerEdit> guard(this);
    m_binding.ClearRefusal();
    m_spin->SetButtonsEnabled(false);
    if (!m_binding.MayWrite()) {
        if (guard) {
            EndWait();
            m_binding.ShowItemValue();
        }
        return;
    }
    m_answerTimer.start(g_answerTimeoutMs);
    // A refusal shows the item's value, which ends the wait.
    m_binding.Write(m_timer.Text());
}

void TKITimerEdit::EndWait() {
    m_answerTimer.stop();
    m_spin->SetButtonsEnabled(!IsMonitorOnly());
}

void TKITimerEdit::ShowTimer() {
    m_spin->Fields(0)->setText(TKTimer::TwoDigits(m_timer.Hours));
    m_spin->Fields(1)->setText(TKTimer::TwoDigits(m_timer.Minutes));
    m_spin->Fields(2)->setText(TKTimer::SecondsText(m_timer.Seconds));
}

void TKITimerEdit::DisplayRoutine() {
    const std::optional<QString> text = m_binding.ReadItemText();
    if (!text) {
        return;
    }
    if (!m_timer.SetText(*text)) {
        m_binding.Report(m_binding.ControlName() + QLatin1String(kConversionFailedText));
        return;
    }
    if (!m_spin->Typing()) {
        ShowTimer();
    }
}

void TKITimerEdit::ItemValueChanged(TKIItem* item) {
    if (item == nullptr || item != Item()) {
        return;
    }
    QPointer<TKITimerEdit> guard(this);
    DisplayRoutine();
    if (!guard) {
        return;
    }
    EndWait();
    m_binding.OnValueChange()(this);
    if (guard) {
        update();
    }
}

void TKITimerEdit::ItemChanging() {
    m_timer = TKTimer();
    for (int i = 0; i < m_spin->FieldCount(); ++i) {
        m_spin->Fields(i)->clear();
    }
}

void TKITimerEdit::ApplyMonitorOnly() {
    m_spin->SetFieldsReadOnly(IsMonitorOnly());
    m_spin->SetButtonsEnabled(!IsMonitorOnly() && !AwaitingAnswer());
}

void TKITimerEdit::KeyFilter(QChar c, bool* accept) {
    if (IsMonitorOnly()) {
        *accept = false;
        return;
    }
    m_spin->BeginTyping();
    // A time has no sign: only digits and a decimal separator make sense.
    *accept = c.isDigit() || c == QLatin1Char('.') || QString(c) == QLocale().decimalPoint();
}

} // namespace orvane
