#include "windows/WindowsLog.h"

namespace orvane {
Q_LOGGING_CATEGORY(lcWindows, "orvane.windows")
}
