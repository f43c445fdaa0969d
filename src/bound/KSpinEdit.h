#pragma once

// TKSpinEdit: a numeric edit for tuning. The value can be typed or stepped
// with four step buttons (fine up and down, 20 x 17; coarse up and down,
// 15 x 17) that repeat every kSpinRepeatIntervalMs while held. The step is a
// percentage of the value (see StepValue). Typing a character enters typing
// mode: the step buttons hide and a check button shows; Enter, "=" or the
// check button accepts the typed number (Accept), which must lie within 10 %
// of the old value while RangeCheck() is true. Escape gives the text before
// typing back.
//
// Numbers are shown with the decimal separator of the default QLocale and
// never with digit-group separators; typed numbers are read with that
// separator or with ".".
//
// Events (sender: this control): OnChangeValue after every step and every
// accepted typed value; OnCheckClick when a typed value is accepted (before
// OnChangeValue); OnMouseDown and OnMouseUp when a step button is pressed and
// released; OnDblClick on a double click in the edit field.
//
// Thread: GUI thread only.

#include <array>

#include <QLineEdit>
#include <QString>
#include <QTimer>
#include <QWidget>

#include "bound/KIForms.h"
#include "bound/KSpeedButton.h"

namespace orvane {

// The repeat of a held step button.
constexpr int kSpinRepeatIntervalMs = 250;
// Digits a shown number keeps.
constexpr int kSignificantDigits = 9;
// Default digits after the decimal separator.
constexpr int kDefaultDecimalPlaces = 2;

// The repeat interval in use (kSpinRepeatIntervalMs unless a test changed it).
int SpinRepeatIntervalMs();

// The step buttons, in the order the repeat looks for a held one.
enum TSpinStep : int { ssFineUp = 0, ssCoarseUp = 1, ssCoarseDown = 2, ssFineDown = 3 };

// The value after one step. Fine steps are 1 % of the value (at least 0.01,
// or 1 for integers, where the result is rounded); coarse steps 10 % (at
// least 0.01 for values up to 0.2, or 1 for integers up to 10).
double StepValue(double value, bool isInteger, TSpinStep step);
// The value rounded to kSignificantDigits significant digits.
double RoundSignificant(double value);
// Fixed-point text with `decimals` decimals, kSignificantDigits significant
// digits, the locale's decimal separator, no group separators and no "-0".
QString FormatNumber(double value, int decimals);
// The shortest text that gives the value back to kSignificantDigits digits
// (no exponent, locale separator): what a value is written as.
QString NumberText(double value);
// Reads a number typed or received: the locale's form without group
// separators, else the "." form. False for anything else.
bool ReadNumber(const QString& text, double* value);

class TKSpinEdit : public QWidget {
    Q_OBJECT
public:
    explicit TKSpinEdit(QWidget* parent = nullptr);
    ~TKSpinEdit() override;

    double SpinValue() const { return m_value; }
    // Shows and stores the value, then Click() (the bound edit writes there).
    virtual void SetSpinValue(double value);
    int DecimalPlaces() const { return m_decimalPlaces; }
    void SetDecimalPlaces(int places);

    void SetOnChangeValue(const TNotifyEvent& handler) { m_onChangeValue = handler; }
    void SetOnCheckClick(const TNotifyEvent& handler) { m_onCheckClick = handler; }
    void SetOnMouseDown(const TNotifyEvent& handler) { m_onMouseDown = handler; }
    void SetOnMouseUp(const TNotifyEvent& handler) { m_onMouseUp = handler; }
    void SetOnDblClick(const TNotifyEvent& handler) { m_onDblClick = handler; }

    // One step each; then OnChangeValue.
    void FineUp() { Step(ssFineUp); }
    void FineDown() { Step(ssFineDown); }
    void CoarseUp() { Step(ssCoarseUp); }
    void CoarseDown() { Step(ssCoarseDown); }
    // Takes the typed text (see the header comment).
    void Accept();
    // Enters typing mode (no effect where typing is not allowed).
    void BeginTyping();
    // Leaves typing mode with the text before typing.
    void CancelTyping();
    bool Typing() const { return m_typing; }
    void SetFocus();

    bool IsHeld(TSpinStep step) const { return m_held[step]; }
    bool IsRepeating() const { return m_repeat.isActive(); }

    QLineEdit* Edit() const { return m_edit; }
    TKArrowButton* StepButton(TSpinStep step) const { return m_buttons[step]; }
    TKSpeedButton* CheckButton() const { return m_check; }

    QSize sizeHint() const override { return QSize(100, 24); }

    // Test hook: the repeat interval of every spin edit made from now on.
    static void SetRepeatIntervalMsForTesting(int ms);

protected:
    virtual bool IsInteger() const { return false; }
    virtual bool RangeCheck() { return true; }
    // Runs after SetSpinValue has stored a value.
    virtual void Click() {}
    // Typing is allowed (the bound edit refuses it while monitor-only).
    virtual bool MayType() const { return true; }
    // A typed value was refused (unreadable, or outside the 10 % band); the
    // old value stays.
    virtual void TypedValueRefused(const QString&) {}

    // Shows the value (the text is replaced only when it differs; while typing
    // the typed text stays).
    void Display(double value);
    void StoreValue(double value) { m_value = value; }
    // Step buttons enabled, edit writable, own font colour; or all disabled,
    // read-only and grey.
    void SetWritableLook(bool writable);
    // Makes one step of the button (also for the repeat and the arrow keys).
    void Step(TSpinStep step);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ButtonDown(TKSpeedButton* button, Qt::MouseButton mouseButton);
    void ButtonUp(TKSpeedButton* button, Qt::MouseButton mouseButton);
    void RepeatTick();
    void TextEdited();
    void EndTyping();
    int IndexOf(TKSpeedButton* button) const;

    QLineEdit* m_edit;
    std::array<TKArrowButton*, 4> m_buttons{};
    TKSpeedButton* m_check;
    QTimer m_repeat;
    std::array<bool, 4> m_held{};
    double m_value = 0.0;
    int m_decimalPlaces = kDefaultDecimalPlaces;
    bool m_typing = false;
    bool m_stepping = false;
    QString m_textBeforeTyping;
    TNotifyEvent m_onChangeValue;
    TNotifyEvent m_onCheckClick;
    TNotifyEvent m_onMouseDown;
    TNotifyEvent m_onMouseUp;
    TNotifyEvent m_onDblClick;
};

} // namespace orvane
