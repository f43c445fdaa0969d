#include "ServerLog.h"

namespace duxlane {
Q_LOGGING_CATEGORY(lcServer, "orvane.server")
} // namespace duxlane
