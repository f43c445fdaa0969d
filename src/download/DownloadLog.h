#pragma once

// The logging category of the application download subsystem (script reader,
// download driver), switchable with QT_LOGGING_RULES="orvane.download=true".

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcDownload)
