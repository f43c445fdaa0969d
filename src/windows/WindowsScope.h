#pragma once

// The main window's windows switched off (EnableWindows(false): hourglass,
// main window, Explorer and inspectors disabled) for the life of a scope, and
// on again when it ends, also by an exception, so that no failing command
// leaves them disabled. Keep() hands the switching on to someone else (a
// reset whose done handler enables them). Without main window services it
// does nothing.
//
// Thread: main thread only.

#include "windows/OrvaneMDIForm.h"

namespace orvane {

class TWindowsDisabled {
public:
    TWindowsDisabled() {
        if (TMainWindowServices* services = MainWindowServices()) {
            services->EnableWindows(false);
            m_disabled = true;
        }
    }
    ~TWindowsDisabled() { Enable(); }
    TWindowsDisabled(const TWindowsDisabled&) = delete;
    TWindowsDisabled& operator=(const TWindowsDisabled&) = delete;

    // Enables the windows now.
    void Enable() {
        if (m_disabled) {
            m_disabled = false;
            if (TMainWindowServices* services = MainWindowServices()) {
                services->EnableWindows(true);
            }
        }
    }
    // The windows stay disabled after the scope; someone else enables them.
    void Keep() { m_disabled = false; }

private:
    bool m_disabled = false;
};

} // namespace orvane
