#include "bound/BoundLog.h"

Q_LOGGING_CATEGORY(lcBound, "orvane.bound", QtInfoMsg)
