#pragma once

// TKProgressDialog: the modal "Download" dialog that runs an application
// script's statements as commands on a control, driven by posted step
// messages: one statement per message, or a quick run of them while the
// control answers fast (kStepBatchMs). Every command waits with the event
// loop running, so the dialog repaints and takes Cancel between commands.
//
// - product: the control's Product ID is compared with the script's (exact
//   text, letter case included); a mismatch asks Ignore or Cancel.
// - begin: BeginProgrammingMode, then the control is polled ("Control
//   Status") until it answers again after erasing its block; the wait has no
//   limit but Cancel, and shows for how long it has waited.
// - write: WriteProgramMemory; the bytes sent are counted against the total of
//   the script.
// - end: EndProgrammingMode; the dialog closes by itself.
// A script that runs out of statements without an end statement leaves the
// dialog open, saying so, until Cancel. A command that fails shows its error,
// and the dialog stays open, halted, until Cancel.
//
// Cancel hides the dialog at once; a command already sent finishes first
// (within its own time limit) and nothing further is sent. Outcome() and
// InProgrammingMode() then say what state the control was left in.
//
// Thread: main thread only. Script and control are borrowed; ForgetDevice()
// is called when the control goes away while the dialog runs.

#include <cstdint>

#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>

class QLabel;
class QProgressBar;
class QPushButton;

namespace orvane {

class TKDownloadScript;
class TKIDuxlaneControl;
class TKStatement;
class TStatusBar;

class TKProgressDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kWidth = 312;
    static constexpr int kHeight = 202;
    // The two private window messages that drive the dialog.
    static constexpr int kNextStepMessage = 1024;
    static constexpr int kWaitForControlMessage = 1025;
    // While waiting for the control, the step text is blank for these polls
    // and the count starts again after kWaitCounterWrap: it blinks.
    static constexpr int kBlankFirstPoll = 101;
    static constexpr int kBlankLastPoll = 109;
    static constexpr int kWaitCounterWrap = 110;
    // Pause between two polls of a control that is erasing, so that the
    // server is not flooded with requests (one blink is about a second).
    static constexpr int kWaitPollIntervalMs = 10;
    // Longest run of statements within one step message.
    static constexpr int kStepBatchMs = 20;

    enum class Outcome {
        Running,         // still stepping (or halted after a failure)
        Completed,       // the end statement ran
        Cancelled,       // the engineer pressed Cancel
        ProductRejected, // the product check was answered Cancel
        Failed,          // a command failed; closed by Cancel afterwards
    };

    explicit TKProgressDialog(QWidget* parent = nullptr);
    ~TKProgressDialog() override;

    // Borrows script and control; resets the counters and labels.
    void Setup(const QString& fileName, TKIDuxlaneControl* device, TKDownloadScript* script);
    // The control went away: nothing more is sent; the dialog ends as cancelled.
    void ForgetDevice();

    // Sets cancelled and ends the dialog (the Cancel button).
    void Cancel();

    Outcome GetOutcome() const { return m_outcome; }
    bool Cancelled() const { return m_cancelled; }
    // BeginProgrammingMode was accepted and EndProgrammingMode has not run.
    bool InProgrammingMode() const { return m_inProgramming; }
    bool Halted() const { return m_halted; }
    std::int64_t BytesDownloaded() const { return m_bytes; }
    std::int64_t BytesTotal() const { return m_bytesTotal; }
    int WaitCounter() const { return m_waitCounter; }
    QString StepText() const;
    // The bytes as shown (updated a few times a second while writing).
    QString BytesText() const;
    QString ProductIDText() const;
    QString AppNameText() const;
    int Position() const;
    int Maximum() const;

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void reject() override;

private:
    void Post(int message);
    void NextStep();
    void WaitForControl();
    // Runs one statement; false when stepping stops here.
    bool RunStatement(TKStatement* statement);
    void SetStepText(const QString& text);
    void Halt(const QString& message);
    void Finish(Outcome outcome);
    // One statement done: the bar moves on (shown by the next refresh).
    void Advance();
    // Shows the bytes and the bar as they stand now.
    void Refresh();
    void UpdateBytes();
    void UpdateElapsed();

    QProgressBar* m_progressBar;
    QLabel* m_appName;
    QPushButton* m_cancelButton;
    QLabel* m_bytesDownloaded;
    QLabel* m_bytesOf;
    QLabel* m_productId;
    QLabel* m_elapsed;
    TStatusBar* m_statusBar;
    QTimer m_refreshTimer;
    QTimer m_elapsedTimer;
    QElapsedTimer m_clock;

    TKDownloadScript* m_script = nullptr;
    TKIDuxlaneControl* m_device = nullptr;
    bool m_cancelled = false;
    bool m_halted = false;
    bool m_inProgramming = false;
    bool m_started = false;
    std::int32_t m_waitCounter = 0;
    int m_position = 0; // statements done
    std::int64_t m_bytes = 0;
    std::int64_t m_bytesTotal = 0;
    Outcome m_outcome = Outcome::Running;
};

} // namespace orvane
