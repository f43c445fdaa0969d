#pragma once

// TCtrlApplication: the Load Application command's link to the download.
// ChooseFile asks for an application script; Run downloads it into a control
// with the windows disabled, and says whether the control's application
// changed (the engineer accepted the I/O lock, whatever happened afterwards).
//
// Thread: main thread only. Run's control and status bar are borrowed for
// the call.

#include <QString>

#include "download/KDownloadAppProgress.h"

namespace orvane {

class TKIDuxlaneControl;
class TStatusBar;

class TCtrlApplication {
public:
    static const char* const kFilter;

    // The file-open dialog; true with FileName() set on OK.
    bool ChooseFile();
    // False at once without a chosen file. Disables the windows (hourglass)
    // for the download and enables them again however it ends; the driver's
    // errors pass on.
    bool Run(TKIDuxlaneControl* device, TStatusBar* statusBar);

    const QString& FileName() const { return m_fileName; }
    void SetFileName(const QString& fileName) { m_fileName = fileName; }

    // After Run: how the download ended and, when it did not end with the
    // script's end statement, what state the control is in.
    TKProgressDialog::Outcome GetOutcome() const { return m_outcome; }
    const QString& StateText() const { return m_stateText; }

private:
    QString m_fileName;
    TKProgressDialog::Outcome m_outcome = TKProgressDialog::Outcome::Running;
    QString m_stateText;
};

} // namespace orvane
