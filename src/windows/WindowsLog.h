#pragma once

// Logging category of the windows. Switch with QT_LOGGING_RULES="orvane.windows.debug=true".

#include <QLoggingCategory>

namespace orvane {
Q_DECLARE_LOGGING_CATEGORY(lcWindows)
}
