#pragma once

// The logging categories of the simulated server, switchable with
// QT_LOGGING_RULES: "orvane.server" for what it does, and
// "orvane.server.traffic" (off unless enabled) for one line per request and
// command on a control's topic, in the order they arrive:
//     traffic: request <item> on <topic>
//     traffic: execute <command> on <topic>

#include <QLoggingCategory>

namespace orvane::server {
Q_DECLARE_LOGGING_CATEGORY(lcServer)
Q_DECLARE_LOGGING_CATEGORY(lcTraffic)
} // namespace orvane::server
