#pragma once

// The one logging category of the simulated server ("orvane.server"),
// switchable with QT_LOGGING_RULES.

#include <QLoggingCategory>

namespace orvane::server {
Q_DECLARE_LOGGING_CATEGORY(lcServer)
} // namespace orvane::server
