#include "model/ModelLog.h"

namespace orvane {
Q_LOGGING_CATEGORY(lcModel, "orvane.model", QtInfoMsg)
}
