#include "windows/TrendValue.h"

#include <cmath>

#include "bound/KITimerEdit.h"
#include "bound/KIToggleButton.h"

namespace orvane {

namespace {

std::optional<double> ReadNumber(const QString& text) {
    QString t = text.trimmed();
    // The server writes the decimal separator of its locale.
    t.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double value = t.toDouble(&ok);
    if (!ok || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

} // namespace

bool IsTrendable(ItemDataType type) {
    switch (type) {
    case vdtBoolean:
    case vdtInteger:
    case vdtReal:
    case vdtTime:
    case vdtTimer:
        return true;
    case vdtUnassigned:
    case vdtString:
        break;
    }
    return false;
}

std::optional<double> TrendNumber(ItemDataType type, const QString& text) {
    switch (type) {
    case vdtBoolean: {
        bool on = false;
        if (!ReadBoolean(text, &on)) {
            return std::nullopt;
        }
        return on ? 1.0 : 0.0;
    }
    case vdtInteger:
    case vdtReal:
        return ReadNumber(text);
    case vdtTime:
    case vdtTimer: {
        // Either decimal separator in the seconds, whatever this machine's
        // locale is.
        QString t = text.trimmed();
        t.replace(QLatin1Char(','), QLatin1Char('.'));
        TKTimer timer;
        if (!timer.SetText(t)) {
            return std::nullopt;
        }
        return timer.Hours * 3600.0 + timer.Minutes * 60.0 + static_cast<double>(timer.Seconds);
    }
    case vdtUnassigned:
    case vdtString:
        break;
    }
    return std::nullopt;
}

} // namespace orvane
