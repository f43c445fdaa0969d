#pragma once

// What every working window of the program shares: the Explorer and the
// inspectors are top-level windows owned by the main window (a Qt parent with
// the Qt::Window flag), derive from TOrvaneMDIForm and reach the main window
// only through TMainWindowServices. The display settings of inspectors are kept
// by the one TInspectorInitialization of the run.
//
// Thread: the GUI thread.

#include <memory>

#include <QWidget>

#include "platform/Delegate.h"
#include "platform/Registry.h"

namespace orvane {

class TOrvaneMDIForm;

// Edit commands a window offers (EditState), combined as flags.
enum TEditStateFlag : int { esCut = 1, esCopy = 2, esPaste = 4 };

// The services the main window offers its child windows. The main window
// installs itself with SetMainWindowServices while it lives; with none
// installed (a window tested on its own) the free functions below do nothing
// and CloseAllInspectors answers true.
class TMainWindowServices {
public:
    virtual ~TMainWindowServices() = default;
    // Hourglass and disabled windows while a long operation runs.
    virtual void EnableWindows(bool enable) = 0;
    // Enables Cut, Copy and Paste of the main window from TEditStateFlag flags.
    virtual void UpdateEditCommands(int flags) = 0;
    // The active inspector changed; none when an inspector closes.
    virtual void UpdateInspectorCommands(TOrvaneMDIForm* inspector) = 0;
    // The Explorer was closed: the menu item that shows it is unchecked.
    virtual void ExplorerClosed() = 0;
    // Asks the question once (OK/Cancel) when inspectors are open and closes
    // them all on OK; true when none is left open.
    virtual bool CloseAllInspectors(const QString& question) = 0;
    // Opens a trend of the variables selected in the window (its pop-up
    // menu's Trend); does nothing where trends are not offered.
    virtual void TrendSelection(TOrvaneMDIForm* source) { (void)source; }
};

void SetMainWindowServices(TMainWindowServices* services);
TMainWindowServices* MainWindowServices();

class TOrvaneMDIForm : public QWidget {
    Q_OBJECT
public:
    using TActivatedEvent = Delegate<TOrvaneMDIForm*>;

    // The window is owned by `owner` (may be null in tests) and calls
    // `onActivated` with itself each time it becomes the active window.
    TOrvaneMDIForm(QWidget* owner, TActivatedEvent onActivated);
    ~TOrvaneMDIForm() override;

    virtual void Activated();
    virtual void Cut() {}
    virtual void Copy() {}
    virtual void Paste() {}
    // The edit commands this window offers now (TEditStateFlag flags).
    virtual int EditState() = 0;

    // Passes the flags to the main window's edit-command update.
    void NotifyEditState(int flags);

protected:
    bool event(QEvent* e) override;

private:
    TActivatedEvent m_onActivated;
};

// The display settings of inspectors, kept under HKEY_CURRENT_USER
// "Software\Kestova\Orvane". A value missing or not an integer takes its
// default, which is written back at once.
class TInspectorInitialization {
public:
    static constexpr int kColumnCount = 6;
    static constexpr int kDefaultDecimalPlaces = 2;
    static constexpr int kDefaultWidths[kColumnCount] = {80, 90, 90, 90, 120, 100};
    static const char* const kWidthValueNames[kColumnCount];
    static const char* const kDecimalPlacesValueName;
    static const char* const kKey;

    TInspectorInitialization();

    // Control, Category, Block, Field, Value, Description.
    void GetColumnWidths(int widths[kColumnCount]) const;
    // Stores the widths and writes all seven values.
    void SetColumnWidths(const int widths[kColumnCount]);
    int DecimalPlaces() const { return m_decimalPlaces; }
    void SetDecimalPlaces(int places);

    // The one instance of the run, made before the first window; null before.
    static TInspectorInitialization* Instance();
    static void SetInstance(TInspectorInitialization* instance);

private:
    int readOrDefault(const QString& name, int fallback);
    void writeAll();

    TRegistry m_registry{HKEY_CURRENT_USER};
    int m_widths[kColumnCount];
    int m_decimalPlaces = kDefaultDecimalPlaces;
};

} // namespace orvane
