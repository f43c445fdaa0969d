#pragma once

// The logging category of the DDE link ("orvane.dde").

#include <QLoggingCategory>

namespace orvane {
Q_DECLARE_LOGGING_CATEGORY(lcDdeLink)
}
