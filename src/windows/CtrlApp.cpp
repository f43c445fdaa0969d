#include "windows/CtrlApp.h"

#include "download/KIControlAppDownload.h"
#include "model/KIStatusPanel.h"
#include "platform/DialogService.h"
#include "platform/WaitCursorScope.h"
#include "windows/WindowsScope.h"

namespace orvane {

const char* const TCtrlApplication::kFilter = "Application Script Files (*.scp)|*.SCP";

bool TCtrlApplication::ChooseFile() {
    FileDialogRequest request;
    request.filter = QString::fromLatin1(kFilter);
    request.options = ofHideReadOnly | ofNoChangeDir | ofPathMustExist | ofFileMustExist;
    const std::optional<QString> chosen = DialogService::current().openFile(request);
    if (!chosen) {
        return false;
    }
    m_fileName = *chosen;
    return true;
}

bool TCtrlApplication::Run(TKIDuxlaneControl* device, TStatusBar* statusBar) {
    if (m_fileName.isEmpty()) {
        return false;
    }
    TWindowsDisabled disabled;
    TWaitCursorScope cursor;
    TKIControlAppDownload driver;
    driver.SetDevice(device);
    driver.StatusPanel()->SetStatusBar(statusBar);
    const bool changed = driver.Download(m_fileName);
    m_outcome = driver.GetOutcome();
    m_stateText = driver.StateText();
    return changed;
}

} // namespace orvane
