#pragma once

// The Explorer's commands on one control as a whole: Reset, Lock I/O, Save
// Values, Load Application, the App Settings commands (Load From File, Save
// To File, Create Report) and Properties, each with its questions, messages
// and busy state. The Explorer's menu handlers (and through them the main
// window's Control menu and tool buttons) are one call each, with the
// Explorer's selected control.
//
// Each command acts on the control it was given, even when the engineer
// selects another tab while a question is open; the questions before a
// command that changes the control name it in their caption. A control that
// goes away while a command waits ends the command without a word.
//
// Windows: whatever a command disables (EnableWindows, the tab strip, the
// hourglass) is enabled again however the command ends, failures included.
// Only an accepted reset leaves the windows disabled, until ResetDone.
//
// Errors of the control's commands and of the engines are shown as error
// boxes with their own texts (the program's error display); Load From File
// adds none for the settings engine's file and item errors, which the engine
// has shown already.
//
// Thread: main thread only. The host and this object must outlive a reset
// that is pending (the windows are disabled meanwhile, so the Explorer cannot
// be closed).

#include <functional>

#include <QString>

namespace orvane {

class TCtrlConfiguration;
class TKIDuxlaneControl;
class TStatusBar;

// What the commands need of the Explorer.
class TControlCommandHost {
public:
    virtual ~TControlCommandHost() = default;
    // The Explorer's status bar; progress texts go to its panel 0.
    virtual TStatusBar* CommandStatusBar() = 0;
    // The control tabs: disabled while a settings or download command runs.
    virtual void SetTabsEnabled(bool enabled) = 0;
    // The hourglass over the Explorer.
    virtual void SetBusyCursor(bool busy) = 0;
    // The program's decimal places setting (0 to 15) for the report.
    virtual int DecimalPlaces() = 0;
    // Ends the program (after a download, or a control lost in its reset).
    virtual void TerminateApplication() = 0;
};

class TControlCommands {
public:
    explicit TControlCommands(TControlCommandHost& host);
    ~TControlCommands();
    TControlCommands(const TControlCommands&) = delete;
    TControlCommands& operator=(const TControlCommands&) = delete;

    // A null control does nothing.
    void Reset(TKIDuxlaneControl* control);
    void LockIO(TKIDuxlaneControl* control);
    void SaveValues(TKIDuxlaneControl* control);
    void LoadApplication(TKIDuxlaneControl* control);
    void LoadFromFile(TKIDuxlaneControl* control);
    void SaveToFile(TKIDuxlaneControl* control);
    void CreateReport(TKIDuxlaneControl* control);
    void Properties(TKIDuxlaneControl* control);
    // The reset-done handler given to the control.
    void ResetDone(TKIDuxlaneControl* control);

    // A reset started here has not reported back yet.
    bool ResetPending() const { return m_resetPending; }

    // The caption of a question about a control: the message type's caption
    // and the control's name.
    static QString QuestionCaption(const QString& controlName);

private:
    // Starts the reset with ResetDone as its handler; raises the reset's error.
    void StartReset(TKIDuxlaneControl* control);
    void SetStatus(const QString& text);
    // Runs a settings file command with the windows disabled and the command
    // busy; its error is shown to the engineer.
    void RunSettingsCommand(const std::function<void(TCtrlConfiguration&)>& command);

    TControlCommandHost& m_host;
    bool m_resetPending = false;
};

} // namespace orvane
