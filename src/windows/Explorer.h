#pragma once

// TExplorerForm: the window in which the engineer picks a control and
// browses what it offers. One tab per control of the server's network (filled
// once, at creation); under the tabs a filter field and the tree of the
// selected control's service and configure headers and application variables.
// Variables go to inspectors by copy (Ctrl+C or the main window's Copy) and by
// drag. A pop-up menu on the tab strip carries the control commands for the
// selected control; the main window's Control commands trigger the same
// actions.
//
// The command handlers (ResetClick, ...) are defined with the commands they
// run, apart from the window; InitCommands marks the items whose handler
// exists (SetCommandAvailable). Until then the items stay disabled.
//
// A control that never connected keeps its tab, marked with kNotConnectedMark
// and a sign, its tree says why, and it offers no commands; the other
// controls work.
//
// Ownership: owned by the main window; the server connection and the variable
// clipboard are borrowed and outlive the window. Thread: main thread only.

#include <QAction>
#include <QPointer>

#include "windows/OrvaneMDIForm.h"

class QLabel;
class QLineEdit;
class QMenu;
class QStackedWidget;
class QTabBar;

namespace orvane {

class TDuxlaneTreeView;
class THeaderIterator;
class TKIDuxlaneControl;
class TServer;
class TStatusBar;
class TVariableClipboard;

class TExplorerForm : public TOrvaneMDIForm {
    Q_OBJECT
public:
    static constexpr int kInitialWidth = 216;
    static constexpr int kInitialHeight = 379;
    static constexpr int kTabHeight = 25;
    static constexpr int kStatusPanelWidth = 200;

    // The pop-up items of the tab strip, in menu order.
    enum TCommand {
        cmdLoadApplication,
        cmdLoadFromFile,
        cmdSaveToFile,
        cmdCreateReport,
        cmdReset,
        cmdLockIO,
        cmdSaveValues,
        cmdProperties,
        cmdCount
    };

    TExplorerForm(QWidget* owner, TActivatedEvent onActivated, TServer* server,
                  TVariableClipboard* clipboard);
    ~TExplorerForm() override;

    void Copy() override;
    int EditState() override;

    // The control of the selected tab, or null without controls.
    TKIDuxlaneControl* SelectedControl() const;
    // Selects the control's tab (rebuilding the tree).
    void SelectTab(int index);
    int TabCount() const;
    // Starts a header iterator on this window's tree.
    void StartHeaderIterator(THeaderIterator* iterator);

    TDuxlaneTreeView* Tree() const { return m_tree; }
    QTabBar* TabControl() const { return m_tabControl; }
    QLineEdit* FilterEdit() const { return m_filterEdit; }
    TStatusBar* StatusBar() const { return m_statusBar; }
    QMenu* ControlTabPopupMenu() const { return m_popupMenu; }
    // The tree's pop-up menu (Copy, Trend) and its Trend item.
    QMenu* TreePopupMenu() const { return m_treePopup; }
    QAction* TrendAction() const { return m_trend; }
    // Enables the tree's pop-up items for the selected node.
    void UpdateTreePopup();
    // The pop-up item of a command (shared with the main window's command).
    QAction* CommandAction(TCommand command) const { return m_commands[command]; }

    // The text the tree shows instead of variables (a control that has not
    // connected, or a list that could not be read); empty when it shows them.
    QString TreeMessage() const;
    // Why a control has no tree, or empty when it connected.
    static QString NotConnectedText(TKIDuxlaneControl* control);

    // The pop-up command handlers (with the control commands).
    virtual void LoadApplicationClick();
    virtual void LoadFromFileClick();
    virtual void SaveToFileClick();
    virtual void CreateReportClick();
    virtual void ResetClick();
    virtual void LockIOClick();
    virtual void SaveValuesClick();
    virtual void PropertiesClick();

    // Marks every tab from its control's state again (a control that
    // connected late loses its mark).
    void UpdateTabMarks();

    // Whether a pop-up command has its handler (InitCommands says so); an
    // available command is enabled while the selected control is connected.
    void SetCommandAvailable(TCommand command, bool available);
    bool CommandAvailable(TCommand command) const { return m_available[command]; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FillTabs();
    void TabControlChange();
    void FocusChange();
    // Marks the pop-up items whose handlers exist (SetCommandAvailable); it
    // is defined with the commands.
    void InitCommands();
    void updateCommands();
    void createCommands();
    void showTreeMessage(const QString& text);

    TServer* m_server;
    TVariableClipboard* m_clipboard;
    TStatusBar* m_statusBar = nullptr;
    QTabBar* m_tabControl = nullptr;
    QLineEdit* m_filterEdit = nullptr;
    QStackedWidget* m_treeStack = nullptr;
    QLabel* m_treeMessage = nullptr;
    TDuxlaneTreeView* m_tree = nullptr;
    QMenu* m_popupMenu = nullptr;
    QMenu* m_appSettingsMenu = nullptr;
    QMenu* m_treePopup = nullptr;
    QAction* m_treeCopy = nullptr;
    QAction* m_trend = nullptr;
    QAction* m_commands[cmdCount] = {};
    bool m_available[cmdCount] = {};
    QMetaObject::Connection m_focusConnection;
};

} // namespace orvane
