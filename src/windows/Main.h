#pragma once

// TMainForm: the program's main window, a slim bar at the top of the screen
// holding only the menu and the tool bar. All work happens in the windows it
// owns and places below itself: the Explorer and the inspectors. It connects
// to the control network server at its first activation, enables its
// commands once every control is connected, forwards the Edit commands to the
// active child window and the Control commands to the Explorer, keeps its
// place in the registry (HKEY_LOCAL_MACHINE "Software\Kestova\Orvane"), and
// shows the About box and the help.
//
// Every command is one QAction shared by its menu item and tool button,
// created with the window: other parts connect handlers to action(...) and
// never rebuild the menus. The inspector commands (File New, Open, Close,
// Save, Save As, the Sheet menu, Options > Precision) belong to the inspector
// management, which plugs in with SetInspectorManagement; without it those
// commands stay disabled and there are no inspectors.
//
// Ownership: owns the control connection (TServer), the variable clipboard,
// the Explorer, the help window and the network file dialog; the inspector
// management is borrowed. Thread: main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QMainWindow>
#include <QPointer>

#include "platform/WaitCursorScope.h"
#include "windows/OrvaneMDIForm.h"

class QAction;
class QMenu;
class QToolBar;

namespace orvane {

class TExplorerForm;
class THelpWindow;
class TNetworkFilesDialog;
class TServer;
class TVariableClipboard;

enum class TMainAction {
    NewInspector,
    NewQuickInspector,
    Open,
    Close,
    Save,
    SaveAs,
    Exit,
    Cut,
    Copy,
    Paste,
    AddSheet,
    RemoveSheet,
    RenameSheet,
    LoadApplication,
    LoadSettings,
    SaveSettings,
    Report,
    Reset,
    LockIO,
    SaveValues,
    Properties,
    Precision,
    NetworkFiles,
    Explorer,
    Contents,
    About,
    Count
};

enum class TMainMenu { File, Edit, Sheet, Control, AppSettings, Options, Window, Help, Count };

// What the main window asks of the inspector management. Installed once,
// before the first activation; borrowed.
class TInspectorManagement {
public:
    virtual ~TInspectorManagement() = default;
    // Every open inspector, in ownership order.
    virtual std::vector<TOrvaneMDIForm*> Inspectors() const = 0;
    // The first inspector, when the controls have connected.
    virtual void OpenFirstInspector() = 0;
    // Saves the inspector (as its Save command does).
    virtual void SaveInspector(TOrvaneMDIForm* inspector) = 0;
    // Closes the inspector; it asks about its own unsaved changes. False when
    // the engineer chose to keep it open.
    virtual bool CloseInspector(TOrvaneMDIForm* inspector) = 0;
};

class TMainForm : public QMainWindow, public TMainWindowServices {
    Q_OBJECT
public:
    static constexpr int kHeight = 80;
    static constexpr int kFirstRunWidth = 790;
    static constexpr int kFirstRunAboveMiddle = 240;
    static constexpr int kChildGap = 3;
    static constexpr int kExplorerHeight = 360;
    static const char* const kRegistryKey; // "Software\Kestova\Orvane"

    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    QAction* action(TMainAction command) const { return m_actions[static_cast<int>(command)]; }
    QMenu* menu(TMainMenu which) const { return m_menus[static_cast<int>(which)]; }
    QToolBar* ToolBar() const { return m_toolBar; }

    TServer* Server() const { return m_server.get(); }
    TVariableClipboard* Clipboard() const { return m_clipboard.get(); }
    TExplorerForm* Explorer() const;
    TOrvaneMDIForm* ActiveChild() const { return m_activeChild; }
    TOrvaneMDIForm* ActiveInspector() const { return m_activeInspector; }
    TNetworkFilesDialog* NetworkFilesDialog() const { return m_networkFiles; }

    void SetInspectorManagement(TInspectorManagement* management);
    TInspectorManagement* InspectorManagement() const { return m_inspectors; }
    std::vector<TOrvaneMDIForm*> Inspectors() const;

    // TMainWindowServices.
    void EnableWindows(bool enable) override;
    void UpdateEditCommands(int flags) override;
    void UpdateInspectorCommands(TOrvaneMDIForm* inspector) override;
    void ExplorerClosed() override;
    bool CloseAllInspectors(const QString& question) override;
    void TrendSelection(TOrvaneMDIForm* source) override;

    // Who opens trends for TrendSelection; none: trends are not offered.
    void SetTrendOpener(std::function<void(TOrvaneMDIForm*)> opener) {
        m_trendOpener = std::move(opener);
    }
    // The working windows besides the Explorer and the inspectors (trends),
    // shown ones only, in creation order.
    std::vector<TOrvaneMDIForm*> OtherWindows() const;

    // A child window became active.
    void ChildActivated(TOrvaneMDIForm* child);
    // Connects to the server (done once, at the first activation).
    void FirstActivation();
    // Every control has connected, or there are none.
    void ServerConnected(TServer* server);
    // The server's conversations are lost: a save question per inspector,
    // then the end.
    void TerminateAfterLostCommunications(TServer* server);
    // A failed DDE transaction: an error box, then the windows are enabled.
    void DdeMessage(const QString& text);

    // Help > Contents and Help > About.
    void ShowHelp();
    void ShowAbout();
    // The folder of the help pages beside the executable: the executable's
    // path with ".chm" in place of its extension.
    static QString HelpPath();
    static QString HelpTopic(); // "OVHelp.htm"

    // The place of a first run on a screen of that size.
    static QRect FirstRunGeometry(const QSize& screen);
    // Writes "WindowState" and, in normal state, "Left", "Width" and "Top".
    void SaveRegistrySettings();

    // Whether the program has been ended (no controls, no server, lost
    // communications); the event loop ends soon after.
    bool Ended() const { return m_ended; }
    // How the program ends; by default the event loop is left (queued, so
    // that it never happens inside a DDE callback). Tests replace it.
    void SetEndProgram(std::function<void()> endProgram) { m_endProgram = std::move(endProgram); }
    // Ends the program (a control command after which the connection is not
    // to be trusted).
    void EndProgram() { endProgram(); }

signals:
    // The controls have connected (or there are none) and the commands are
    // enabled.
    void connected();

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    void createActions();
    void createMenus();
    void createToolBar();
    void placeFromRegistry();
    void endProgram();
    void clipboardChanged(TVariableClipboard* clipboard);
    void editMenuAboutToShow();
    void windowMenuAboutToShow();
    void toggleExplorer(bool show);
    void updateControlCommands();
    void fitMaximizedChildren();
    void releaseAll();
    void serverConnectedEvent(TServer* server) { ServerConnected(server); }

    std::unique_ptr<TServer> m_server;
    std::unique_ptr<TVariableClipboard> m_clipboard;
    QPointer<TExplorerForm> m_explorer;
    QPointer<TOrvaneMDIForm> m_activeChild;
    QPointer<TOrvaneMDIForm> m_activeInspector;
    QPointer<THelpWindow> m_help;
    TNetworkFilesDialog* m_networkFiles = nullptr;
    TInspectorManagement* m_inspectors = nullptr;
    QAction* m_actions[static_cast<int>(TMainAction::Count)] = {};
    QMenu* m_menus[static_cast<int>(TMainMenu::Count)] = {};
    QToolBar* m_toolBar = nullptr;
    std::vector<QAction*> m_windowMenuInspectors;
    std::function<void()> m_endProgram;
    std::function<void(TOrvaneMDIForm*)> m_trendOpener;
    bool m_firstActivation = true;
    bool m_connected = false;
    bool m_ended = false;
    bool m_closing = false;
    // Held while the program connects or the windows are switched off.
    std::optional<TWaitCursorScope> m_hourglass;
    int m_editFlags = 0;
};

} // namespace orvane
