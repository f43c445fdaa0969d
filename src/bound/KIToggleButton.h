#pragma once

// TKIToggleButton: a toggle button bound to a Boolean item (binding as in
// KIBinding.h). It shows the item's state; a left click (unless monitor-only)
// flips it and writes the new state, under the I/O-lock rule. A refused write
// puts the button back to the state the control reports. A monitor-only
// button is drawn disabled and ignores the mouse.
//
//     auto* toggle = new TKIToggleButton(parent);
//     toggle->SetDevice(control);
//     toggle->SetItemName("Configure: Burner.Low Fire Start");
//
// Thread: GUI thread only.

#include "bound/KIBinding.h"
#include "bound/KToggleButton.h"

namespace orvane {

// Reads a Boolean value text: "1", "-1", "True", "Yes", "On" (any case) and
// other non-zero numbers are true; "0", "False", "No", "Off" false.
bool ReadBoolean(const QString& text, bool* value);

class TKIToggleButton : public TKIBound<TKToggleButton> {
public:
    explicit TKIToggleButton(QWidget* parent = nullptr);
    ~TKIToggleButton() override;

    bool Value() const { return ButtonOn(); }
    // Writes the state to the item (I/O-lock rule; not while monitor-only or
    // loading).
    void SetValue(bool value);

    // TKIBoundControl
    void ItemValueChanged(TKIItem* item) override;
    void ApplyMonitorOnly() override;

protected:
    bool TakesMouse(Qt::MouseButton button) const override;
    void Flipped() override;
};

} // namespace orvane
