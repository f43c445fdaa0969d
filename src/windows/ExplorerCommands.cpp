// The Explorer's control commands: the handlers of the tab strip's pop-up
// items, which the main window's Control commands trigger too.

#include "windows/Explorer.h"

namespace orvane {

void TExplorerForm::InitCommands() {
    // No command has a handler yet: every item stays disabled.
}

void TExplorerForm::LoadApplicationClick() {}
void TExplorerForm::LoadFromFileClick() {}
void TExplorerForm::SaveToFileClick() {}
void TExplorerForm::CreateReportClick() {}
void TExplorerForm::ResetClick() {}
void TExplorerForm::LockIOClick() {}
void TExplorerForm::SaveValuesClick() {}
void TExplorerForm::PropertiesClick() {}

} // namespace orvane
