#include "inspector/InspectorLog.h"

namespace orvane {
Q_LOGGING_CATEGORY(lcInspector, "orvane.inspector")
}
