#include "ServerLog.h"

namespace orvane::server {
Q_LOGGING_CATEGORY(lcServer, "orvane.server")
} // namespace orvane::server
