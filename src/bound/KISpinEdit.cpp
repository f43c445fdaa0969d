#include "bound/KISpinEdit.h"

#include <algorithm>
#include <cmath>

#include "bound/BoundLog.h"
#include "model/KIItem.h"
#include "platform/Exception.h"

namespace orvane {

TKISpinEdit::TKISpinEdit(QWidget* parent) : TKIBound<TKSpinEdit>(parent) {
    UpdateLook();
}

TKISpinEdit::~TKISpinEdit() = default;

void TKISpinEdit::UpdateDataType() {
    TKIDuxlaneItem* item = m_binding.DuxlaneItem();
    if (item == nullptr) {
        return;
    }
    try {
        m_isInteger = item->DataType() == vdtInteger;
    } catch (const Exception& e) {
        qCInfo(lcBound) << "Data type of" << ItemName() << "unknown:" << e.message();
    }
}

void TKISpinEdit::ItemValueChanged(TKIItem* item) {
    if (item == nullptr || item != Item()) {
        return;
    }
    const std::optional<QString> text = m_binding.ReadItemText();
    if (!text) {
        return;
    }
    QPointer<TKISpinEdit> guard(this);
    UpdateDataType();
    if (!guard) {
        return;
    }
    double value = 0;
    if (!ReadNumber(*text, &value)) {
        m_binding.Report(m_binding.ControlName() + QLatin1String(kConversionFailedText));
        return;
    }
    Display(value);
    StoreValue(value);
    const bool first = !m_valueReceived;
    m_valueReceived = true;
    if (first) {
        UpdateLook();
    }
    m_binding.OnValueChange()(this);
}

void TKISpinEdit::SetSpinValue(double value) {
    StoreValue(value);
    if (m_typedValueRefused) {
        // The old value stays; writing it again would only hide the report.
        m_typedValueRefused = false;
        m_binding.ShowItemValue();
        return;
    }
    Click();
}

void TKISpinEdit::Click() {
    if (m_valueReceived) {
        SetValue(SpinValue());
    }
}

void TKISpinEdit::SetValue(double value) {
    if (Item() == nullptr) {
        return;
    }
    QPointer<TKISpinEdit> guard(this);
    m_binding.ClearRefusal();
    if (!m_binding.MayWrite()) {
        if (guard) {
            m_binding.ShowItemValue();
        }
        return;
    }
    UpdateDataType();
    if (!guard) {
        return;
    }
    if (m_isInteger) {
        SetDecimalPlaces(0);
    }
    const double low = Min();
    if (!guard) {
        return;
    }
    const double high = Max();
    if (!guard) {
        return;
    }
    if (low != high) {
        value = std::clamp(value, std::min(low, high), std::max(low, high));
    }
    if (!IsMonitorOnly() && Item()->ValueReceived()) {
        const QString text = m_isInteger ? QString::number(std::llround(value)) : NumberText(value);
        m_binding.Write(text);
    } else {
        m_binding.ShowItemValue();
    }
}

double TKISpinEdit::Min() {
    TKIDuxlaneItem* item = m_binding.DuxlaneItem();
    double value = 0;
    try {
        if (item == nullptr || !ReadNumber(item->MinValue().toString(), &value)) {
            return 0;
        }
    } catch (const Exception&) {
        return 0;
    }
    return value;
}

double TKISpinEdit::Max() {
    TKIDuxlaneItem* item = m_binding.DuxlaneItem();
    double value = 0;
    try {
        if (item == nullptr || !ReadNumber(item->MaxValue().toString(), &value)) {
            return 0;
        }
    } catch (const Exception&) {
        return 0;
    }
    return value;
}

bool TKISpinEdit::RangeCheck() {
    if (!m_doRangeChecking) {
        return false;
    }
    return Device() == nullptr || !m_binding.DeviceInConfigureMode();
}

void TKISpinEdit::TypedValueRefused(const QString& text) {
    m_typedValueRefused = true;
    double typed = 0;
    if (ReadNumber(text, &typed)) {
        m_binding.Report(QStringLiteral("%1: %2 is more than 10 % away from %3; not written.")
                             .arg(m_binding.ControlName(), text,
                                  FormatNumber(SpinValue(), m_isInteger ? 0 : DecimalPlaces())));
    } else {
        m_binding.Report(m_binding.ControlName() + QLatin1String(kConversionFailedText));
    }
}

void TKISpinEdit::ItemChanging() {
    // Nothing to step from until the new item reports.
    m_valueReceived = false;
    m_isInteger = false;
    CancelTyping();
    Edit()->clear();
    UpdateLook();
}

void TKISpinEdit::SetEnabled(bool enabled) {
    TKIBound<TKSpinEdit>::SetEnabled(enabled);
    UpdateLook();
}

void TKISpinEdit::ApplyMonitorOnly() {
    UpdateLook();
}

void TKISpinEdit::UpdateLook() {
    SetWritableLook(!IsMonitorOnly() && Enabled() && m_valueReceived);
}

} // namespace orvane
