#pragma once

// Logging category of the platform stand-ins (registry, dialogs, components,
// status bar, text codec). Switch with QT_LOGGING_RULES="orvane.platform.debug=true".

#include <QLoggingCategory>

namespace orvane {
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)
}
