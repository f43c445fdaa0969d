#include "settings/SettingsLog.h"

Q_LOGGING_CATEGORY(lcSettings, "orvane.settings", QtInfoMsg)
