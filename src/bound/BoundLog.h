#pragma once

// The logging category of the bound control library, switchable with
// QT_LOGGING_RULES="orvane.bound=true".

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcBound)
