#pragma once

// The main window's busy state for the length of a scope: hourglass and
// disabled windows (EnableWindows(false)), restored even when an exception
// leaves the scope. Does nothing without a main window.

#include "windows/OrvaneMDIForm.h"

namespace orvane {

class TBusyScope {
public:
    TBusyScope() {
        if (auto* services = MainWindowServices()) {
            services->EnableWindows(false);
        }
    }
    ~TBusyScope() {
        if (auto* services = MainWindowServices()) {
            services->EnableWindows(true);
        }
    }
    TBusyScope(const TBusyScope&) = delete;
    TBusyScope& operator=(const TBusyScope&) = delete;
};

} // namespace orvane
