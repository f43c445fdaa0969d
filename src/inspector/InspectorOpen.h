#pragma once

// Opening an inspector file into a freshly created inspector window: the
// reading and applying logic of the window's Open, behind the small interface
// that the window implements (TInspectorOpenTarget), so that what the reader
// tolerates is decided in one place.
//
// The steps: hide the sheets; open the file; apply the window settings when
// the file has them; read records: the first sheet record renames the
// window's default sheet and every later one adds a sheet first; variable
// lines whose control is found (by name, letter case ignored) are added to the
// sheet read last, those whose control is absent are skipped; a format error
// stops the open. At the end, one "control does not exist." message per
// distinct absent control (exact comparison of names), in the order first
// met; then the sheets are shown, the first one selected, the file name set
// (Modified cleared) and the caption set to the file's name.
//
// Messages (error boxes with OK through the current DialogService):
// "Error opening file.  File could not be found" when the file cannot be
// opened; "The file format is incorrect and it cannot be opened." at a
// malformed variable line; name + " control does not exist." per absent
// control.
//
// Thread: main thread only; the event loop may run inside message boxes and
// when the first sheet is shown (advise links start).

#include <functional>

#include <QString>

#include "inspector/InspectorFile.h"

namespace orvane {

class TInspectorDoc;
class TKIDevice;
class TServer;

// What the open operation needs of the inspector window.
class TInspectorOpenTarget {
public:
    virtual ~TInspectorOpenTarget();

    // The window's document; it has its one default sheet, selected.
    virtual TInspectorDoc& Document() = 0;
    // Hides the tab bar and the grid while the file is read.
    virtual void HideSheets() = 0;
    // Called only when the file has window settings (Height is not -1):
    // applies Height, Top, Width and Left, and the state: 0 normal,
    // 1 maximized, 2 minimized; other codes leave the state as it is.
    virtual void ApplyWindowSettings(const TInspectorWindowSettings& settings) = 0;
    // Adds a sheet with the window's next default name ("Sheet" + number) and
    // makes it the current sheet and tab.
    virtual void AddSheet() = 0;
    // The current tab's caption and the current sheet's name become name.
    virtual void RenameCurrentSheet(const QString& name) = 0;
    // Shows the tab bar and the grid, selects the first tab and shows its
    // sheet (which advises it).
    virtual void ShowFirstSheet() = 0;
    virtual void SetCaption(const QString& caption) = 0;
};

// The server's control of a name (letter case ignored), or null.
using TControlFinder = std::function<TKIDevice*(const QString& name)>;

// Runs the open operation. Returns false when the file cannot be opened or
// has a format error (the caller discards the window; its sheets stay
// hidden). Throws orvane::Exception with the conversion error when a window
// settings line is not an integer; the caller lets it reach the application's
// general error report and discards the window as well.
bool OpenInspectorFile(const QString& path, TInspectorOpenTarget& target,
                       const TControlFinder& findControl);

// The same, with the controls of the program's control connection
// (TServer::FindControl).
bool OpenInspectorFile(const QString& path, TInspectorOpenTarget& target, const TServer& server);

// The message for an absent control: name + " control does not exist.".
QString ControlDoesNotExistText(const QString& deviceName);

} // namespace orvane
