#include "ServerLog.h"

namespace orvane::server {
Q_LOGGING_CATEGORY(lcServer, "orvane.server")
Q_LOGGING_CATEGORY(lcTraffic, "orvane.server.traffic", QtWarningMsg)
} // namespace orvane::server
