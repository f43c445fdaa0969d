#pragma once

// TKTimer: the hours, minutes and seconds of a time or timer item, with the
// steps of the timer edit. Minutes stay within 0..59 and seconds below 60;
// hours have no upper limit and never go below 0.
//
// TKITimerEdit: a three-field spin edit ("hh:mm:ss.ss") bound to a time or
// timer item (binding as in KIBinding.h). The up and down buttons step the
// focused field (hours, minutes or seconds) and write the new time text to
// the item; the buttons wait (look disabled) until the control reports its
// value or answers the write, at most kTimerAnswerTimeoutMs. Typed fields are
// taken by the check button, Enter or "=": minutes and seconds of 59 or more
// become 59. A monitor-only timer edit shows the item's value and neither
// steps nor takes typing.
//
//     auto* edit = new TKITimerEdit(parent);
//     edit->SetDevice(control);
//     edit->SetItemName("Configure: Burner.Prepurge Time");
//
// Thread: GUI thread only.

#include <cstdint>
#include <optional>

#include <QString>
#include <QTimer>
#include <QWidget>

#include "bound/KIBinding.h"
#include "bound/KMultiFieldSpinEdit.h"

namespace orvane {

// How long the timer edit's buttons wait for the control's answer to a write.
constexpr int kTimerAnswerTimeoutMs = 5000;

class TKTimer {
public:
    std::int32_t Hours = 0;
    std::int32_t Minutes = 0;
    float Seconds = 0.0f;

    void IncHours();
    void IncMinutes();
    void IncSeconds();
    void DecHours();
    void DecMinutes();
    void DecSeconds();

    // "hh:mm:ss.ss": hours and minutes with at least two digits, seconds with
    // two decimals (the locale's separator) and two digits before them.
    QString Text() const;
    // Reads a time text ("h:m:s", seconds with either separator). False, and
    // nothing changed, when it is not one (minutes above 59, seconds of 60 or
    // more, negative parts).
    bool SetText(const QString& text);
    // Seconds as in the time text.
    static QString SecondsText(float seconds);
    // Hours or minutes as in the time text.
    static QString TwoDigits(std::int32_t value);
};

class TKITimerEdit : public TKIBound<QWidget> {
public:
    explicit TKITimerEdit(QWidget* parent = nullptr);
    ~TKITimerEdit() override;

    const TKTimer& Timer() const { return m_timer; }
    TKMultiFieldSpinEdit* SpinEdit() const { return m_spin; }

    // The multi-field edit's OnSpin: steps the focused field and writes.
    void SpinHandler(QWidget* sender, int direction);
    // The multi-field edit's OnCheck: takes the typed fields and writes.
    void CheckHandler(QWidget* sender);
    // The item's value into the timer and the fields.
    void DisplayRoutine();
    // Whether the buttons wait for the control's answer.
    bool AwaitingAnswer() const { return m_answerTimer.isActive(); }

    // TKIBoundControl
    void ItemValueChanged(TKIItem* item) override;
    void ApplyMonitorOnly() override;
    void ItemChanging() override;

    QSize sizeHint() const override { return QSize(100, 24); }

    // Test hook: the wait for the control's answer.
    static void SetAnswerTimeoutMsForTesting(int ms);

private:
    void KeyFilter(QChar c, bool* accept);
    // One write at a time: the I/O-lock question runs the event loop.
    void WriteTimer();
    void WriteTimerOnce();
    void EndWait();
    void ShowTimer();

    TKTimer m_timer;
    TKMultiFieldSpinEdit* m_spin;
    QTimer m_answerTimer;
    bool m_writing = false;
};

} // namespace orvane
