#pragma once

// TKIControlAppDownload: the download driver. Download(file) reads an
// application script, asks the engineer to accept the I/O lock, locks the
// control's I/O (Shutdown) and runs the script from the modal progress dialog
// (TKProgressDialog), which sends the statements one by one.
//
// Download returns true once the engineer accepted the I/O lock, whatever
// happened afterwards; false when the script could not be read (an error box
// says why) or the lock was declined (nothing was sent). After a true result,
// GetOutcome() and InProgrammingMode() tell what the control was left in and
// StateText() says it in words for the engineer (empty when the script ran to
// its end).
//
// Status texts ("Reading in file.", "Not Active.", "Active.") go to
// StatusPanel, which the caller binds to a status bar.
//
// Ownership: the status panel and the dialog are owned; Device is borrowed and
// forgotten when it is destroyed (free notification).
// Thread: main thread only; the dialog's commands wait with the event loop
// running.

#include <memory>

#include <QString>

#include "download/KDownloadAppProgress.h"
#include "platform/Component.h"

namespace orvane {

class TKIDuxlaneControl;
class TKIStatusPanel;

class TKIControlAppDownload : public TComponent {
public:
    explicit TKIControlAppDownload(TComponent* owner = nullptr);
    ~TKIControlAppDownload() override;

    TKIDuxlaneControl* Device() const { return m_device; }
    void SetDevice(TKIDuxlaneControl* device);

    TKIStatusPanel* StatusPanel() const { return m_statusPanel.get(); }
    void SetStatusText(const QString& text);

    bool Download(const QString& fileName);

    // The progress dialog of the running download, or null (for tests and
    // screenshots).
    TKProgressDialog* Dialog() const { return m_dialog.get(); }

    TKProgressDialog::Outcome GetOutcome() const { return m_outcome; }
    bool InProgrammingMode() const { return m_inProgramming; }
    std::int64_t BytesDownloaded() const { return m_bytes; }
    // Where the progress bar stood when the dialog closed, and its end.
    int ProgressPosition() const { return m_progressPosition; }
    int ProgressMaximum() const { return m_progressMaximum; }
    // What the engineer must know about the control after an unfinished
    // download; empty after a complete one or before any.
    const QString& StateText() const { return m_stateText; }

    void Notification(TComponent* component, TOperation operation) override;

private:
    QString ControlName() const;

    TKIDuxlaneControl* m_device = nullptr;
    std::unique_ptr<TKIStatusPanel> m_statusPanel;
    std::unique_ptr<TKProgressDialog> m_dialog;
    TKProgressDialog::Outcome m_outcome = TKProgressDialog::Outcome::Running;
    bool m_inProgramming = false;
    std::int64_t m_bytes = 0;
    int m_progressPosition = 0;
    int m_progressMaximum = 0;
    QString m_stateText;
    QString m_controlName;
};

} // namespace orvane
