#pragma once

// Logging category of the inspector model (names, variables, sheets, inspector
// documents and files, the variable clipboard). Switch on with
// QT_LOGGING_RULES="orvane.inspector.debug=true".

#include <QLoggingCategory>

namespace orvane {
Q_DECLARE_LOGGING_CATEGORY(lcInspector)
}
