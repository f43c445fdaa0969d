#pragma once

// TKISpinEdit: a spin edit bound to a numeric item of a control (binding as in
// KIBinding.h). It shows the item's value (an integer item with 0 decimals),
// and every step or accepted typed value writes the item:
//   1. a configure item needs I/O lock (information box, nothing written);
//   2. the value is clamped to the item's limits when they differ;
//   3. it is written (poke) once the item has reported a value, unless
//      monitor-only; otherwise the item's value shows again.
// The display follows the item, not the steps: a written value shows when the
// control reports it, a refused one is replaced by the control's value and
// reported (tool tip, OnWriteRefused).
//
// Typed values must lie within 10 % of the shown one while DoRangeChecking is
// true and the control is not in I/O lock. All buttons start disabled and are
// enabled with the first value; monitor-only (or disabled) edits are
// read-only and grey.
//
//     auto* edit = new TKISpinEdit(parent);
//     edit->SetDevice(control);
//     edit->SetItemName("Service: Loop.Set Point");   // or BindItem(control, item)
//
// Thread: GUI thread only.

#include "bound/KIBinding.h"
#include "bound/KSpinEdit.h"

namespace orvane {

class TKISpinEdit : public TKIBound<TKSpinEdit> {
public:
    explicit TKISpinEdit(QWidget* parent = nullptr);
    ~TKISpinEdit() override;

    // The shown value.
    double Value() const { return SpinValue(); }
    // Writes the value to the item (the rules above).
    void SetValue(double value);
    // Stores the value and writes it to the item once a value has been
    // received; the display still follows the item.
    void SetSpinValue(double value) override;

    bool DoRangeChecking() const { return m_doRangeChecking; }
    void SetDoRangeChecking(bool check) { m_doRangeChecking = check; }
    bool ValueReceived() const { return m_valueReceived; }
    // The item's limits as numbers (0 when they do not read).
    double Min();
    double Max();

    void SetEnabled(bool enabled) override;

    // TKIBoundControl
    void ItemValueChanged(TKIItem* item) override;
    void ApplyMonitorOnly() override;
    void ItemChanging() override;

protected:
    bool IsInteger() const override { return m_isInteger; }
    bool RangeCheck() override;
    void Click() override;
    bool MayType() const override { return !IsMonitorOnly(); }
    void TypedValueRefused(const QString& text) override;

private:
    void UpdateLook();
    void UpdateDataType();

    bool m_doRangeChecking = true;
    bool m_valueReceived = false;
    bool m_isInteger = false;
    bool m_typedValueRefused = false;
};

} // namespace orvane
