#pragma once

// TKMultiFieldSpinEdit: a spin edit of N numeric fields in one frame,
// separated by a character (default ":"), with one up and one down button
// (15 wide, stacked, at most 17 high) and a check button that shows in typing mode. What a step
// does is left to the owner: a step fires OnSpin (sender, direction 0 up / 1 down) and the owner
// reads FocusedField(). Holding a button repeats the step every kSpinRepeatIntervalMs (the click at
// the release makes one more); the Up and Down arrow keys step too. Typed characters go to
// OnKeyFilter, which accepts or refuses them (refused ones are dropped). The check button, Enter or
// "=" leave typing mode and fire OnCheck. Fields(i) with i not below the field count raises
// EListError "Index out of bounds".
//
// Thread: GUI thread only.

#include <vector>

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include "bound/KIForms.h"
#include "bound/KSpeedButton.h"
#include "platform/Delegate.h"

namespace orvane {

enum TSpinDirection : int { sdUp = 0, sdDown = 1 };

using TSpinEvent = Delegate<QWidget*, int>;
// Decides whether a typed character is taken: sets *accept.
using TKeyFilterEvent = Delegate<QChar, bool*>;

class TKMultiFieldSpinEdit : public QWidget {
    Q_OBJECT
public:
    explicit TKMultiFieldSpinEdit(int fieldCount, QWidget* parent = nullptr);
    ~TKMultiFieldSpinEdit() override;

    int FieldCount() const { return static_cast<int>(m_fields.size()); }
    // Raises EListError("Index out of bounds") for an index not below the count.
    QLineEdit* Fields(int index) const;
    QChar Separator() const { return m_separator; }
    void SetSeparator(QChar separator);
    // The share of the width a field takes (1 each at creation).
    void SetFieldStretch(int index, int stretch);
    // The field that has the focus, or -1.
    int FocusedField() const { return m_focusedField; }
    // Gives the field the focus (it counts as focused at once).
    void SetFocusedField(int index);

    void SetOnSpin(const TSpinEvent& handler) { m_onSpin = handler; }
    void SetOnCheck(const TNotifyEvent& handler) { m_onCheck = handler; }
    void SetOnKeyFilter(const TKeyFilterEvent& handler) { m_onKeyFilter = handler; }

    // The up and down buttons (their enabled look follows this flag).
    void SetButtonsEnabled(bool enabled);
    bool ButtonsEnabled() const { return m_buttonsEnabled; }
    // Fields writable or read-only.
    void SetFieldsReadOnly(bool readOnly);

    void BeginTyping();
    bool Typing() const { return m_typing; }
    // Leaves typing mode and fires OnCheck.
    void Check();
    // One step in the direction (as a click).
    void Spin(TSpinDirection direction);

    TKArrowButton* UpButton() const { return m_up; }
    TKArrowButton* DownButton() const { return m_down; }
    TKSpeedButton* CheckButton() const { return m_check; }
    bool IsRepeating() const { return m_repeat != nullptr; }

    QSize sizeHint() const override { return QSize(100, 24); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void ButtonDown(TKSpeedButton* button, Qt::MouseButton mouseButton);
    void ButtonUp(TKSpeedButton* button, Qt::MouseButton mouseButton);

    std::vector<QLineEdit*> m_fields;
    std::vector<QLabel*> m_labels;
    QFrame* m_frame;
    QHBoxLayout* m_fieldLayout;
    TKArrowButton* m_up;
    TKArrowButton* m_down;
    TKSpeedButton* m_check;
    QTimer* m_repeat = nullptr; // exists while a button is held
    TSpinDirection m_heldDirection = sdUp;
    QChar m_separator = QLatin1Char(':');
    int m_focusedField = -1;
    bool m_buttonsEnabled = true;
    bool m_typing = false;
    TSpinEvent m_onSpin;
    TNotifyEvent m_onCheck;
    TKeyFilterEvent m_onKeyFilter;
};

} // namespace orvane
