#pragma once

// The number a trend plots for a variable's value text: reals and integers as
// they read (either decimal separator), time and timer values as seconds,
// Booleans as 0 or 1. Strings are not plotted.

#include <optional>

#include <QString>

#include "model/KIDuxlaneItem.h"

namespace orvane {

// Whether a variable of this data type can be trended.
bool IsTrendable(ItemDataType type);

// The value to plot, or nothing when the text does not read as the type (the
// trace then shows a gap rather than a wrong value) or the type is a string.
std::optional<double> TrendNumber(ItemDataType type, const QString& text);

} // namespace orvane
