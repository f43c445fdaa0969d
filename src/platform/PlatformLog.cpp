#include "platform/PlatformLog.h"

namespace orvane {
Q_LOGGING_CATEGORY(lcPlatform, "orvane.platform")
}
