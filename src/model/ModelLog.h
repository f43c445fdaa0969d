#pragma once

// Logging category of the control network model and its containers. Its
// debug lines (one per command and request) are off unless switched on with
// QT_LOGGING_RULES="orvane.model.debug=true".

#include <QLoggingCategory>

namespace orvane {
Q_DECLARE_LOGGING_CATEGORY(lcModel)
}
