#include "windows/CtrlCfg.h"

#include <optional>

#include "model/KIStatusPanel.h"
#include "platform/DialogService.h"
#include "settings/KIDuxlaneConfig.h"

namespace orvane {

const char* const TCtrlConfiguration::kSettingsFilter =
    "Configuration Files (*.cfg)|*.CFG|All File (*.*)|*.*";
const char* const TCtrlConfiguration::kReportFilter = "Text Files (*.txt)|*.TXT|All File (*.*)|*.*";

namespace {

std::optional<QString> AskSave(const char* filter, const char* extension) {
    FileDialogRequest request;
    request.filter = QString::fromLatin1(filter);
    request.defaultExt = QString::fromLatin1(extension);
    request.options = ofOverwritePrompt | ofHideReadOnly;
    return DialogService::current().saveFile(request);
}

// One engine for one operation, bound to the control and the status bar.
struct Engine {
    Engine(TKIDuxlaneControl* control, TStatusBar* statusBar) {
        config.SetDevice(control);
        config.StatusPanel()->SetStatusBar(statusBar);
    }
    TKIDuxlaneConfig config;
};

} // namespace

bool TCtrlConfiguration::SaveToFile(TKIDuxlaneControl* control, TStatusBar* statusBar) {
    const std::optional<QString> fileName = AskSave(kSettingsFilter, "cfg");
    if (!fileName) {
        return false;
    }
    Engine(control, statusBar).config.SaveToFile(*fileName);
    return true;
}

bool TCtrlConfiguration::LoadFromFile(TKIDuxlaneControl* control, TStatusBar* statusBar) {
    FileDialogRequest request;
    request.filter = QString::fromLatin1(kSettingsFilter);
    request.options = ofHideReadOnly | ofPathMustExist | ofFileMustExist;
    const std::optional<QString> fileName = DialogService::current().openFile(request);
    if (!fileName) {
        return false;
    }
    Engine(control, statusBar).config.LoadFromFile(*fileName);
    return true;
}

bool TCtrlConfiguration::CreateReport(TKIDuxlaneControl* control, TStatusBar* statusBar,
                                      int decimalPlaces) {
    const std::optional<QString> fileName = AskSave(kReportFilter, "txt");
    if (!fileName) {
        return false;
    }
    Engine(control, statusBar).config.CreateReport(*fileName, decimalPlaces);
    return true;
}

} // namespace orvane
