#include "bound/KIToggleButton.h"

#include <QPointer>

#include "model/KIItem.h"

namespace orvane {

bool ReadBoolean(const QString& text, bool* value) {
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("true") || t == QLatin1String("yes") || t == QLatin1String("on")) {
        *value = true;
        return true;
    }
    if (t == QLatin1String("false") || t == QLatin1String("no") || t == QLatin1String("off")) {
        *value = false;
        return true;
    }
    bool ok = false;
    const long long number = t.toLongLong(&ok);
    if (!ok) {
        return false;
    }
    *value = number != 0;
    return true;
}

TKIToggleButton::TKIToggleButton(QWidget* parent) : TKIBound<TKToggleButton>(parent) {}

TKIToggleButton::~TKIToggleButton() = default;

bool TKIToggleButton::TakesMouse(Qt::MouseButton button) const {
    return button == Qt::LeftButton && !IsMonitorOnly();
}

void TKIToggleButton::Flipped() {
    SetValue(ButtonOn());
}

void TKIToggleButton::SetValue(bool value) {
    if (Item() == nullptr || IsMonitorOnly() || m_binding.ComponentState().testFlag(csLoading)) {
        return;
    }
    QPointer<TKIToggleButton> guard(this);
    m_binding.ClearRefusal();
    if (!m_binding.MayWrite()) {
        if (guard) {
            // The state stays as the control last reported it.
            m_binding.ShowItemValue();
        }
        return;
    }
    m_binding.Write(TKIItem::VariantToText(QVariant(value)));
}

void TKIToggleButton::ItemValueChanged(TKIItem* item) {
    if (item == nullptr || item != Item()) {
        return;
    }
    const std::optional<QString> text = m_binding.ReadItemText();
    if (!text) {
        return;
    }
    bool on = false;
    if (!ReadBoolean(*text, &on)) {
        m_binding.Report(m_binding.ControlName() + QLatin1String(kConversionFailedText));
        return;
    }
    QPointer<TKIToggleButton> guard(this);
    SetButtonOn(on);
    if (guard) {
        m_binding.OnValueChange()(this);
    }
}

void TKIToggleButton::ApplyMonitorOnly() {
    SetButtonEnabled(!IsMonitorOnly());
}

} // namespace orvane
