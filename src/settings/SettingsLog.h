#pragma once

// The logging category of the settings subsystem (settings files, report),
// switchable with QT_LOGGING_RULES="orvane.settings=true".

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcSettings)
