#pragma once

// TCtrlConfiguration: the App Settings commands' link to the settings engine
// (TKIDuxlaneConfig). Each operation asks for a file and, on OK, runs one
// engine operation for the control with its status texts in the given status
// bar; false when the engineer cancelled the file dialog. The engine's errors
// pass on to the caller.
//
// Thread: main thread only; holds no state.

namespace orvane {

class TKIDuxlaneControl;
class TStatusBar;

class TCtrlConfiguration {
public:
    static const char* const kSettingsFilter;
    static const char* const kReportFilter;

    bool SaveToFile(TKIDuxlaneControl* control, TStatusBar* statusBar);
    bool LoadFromFile(TKIDuxlaneControl* control, TStatusBar* statusBar);
    bool CreateReport(TKIDuxlaneControl* control, TStatusBar* statusBar, int decimalPlaces);
};

} // namespace orvane
