#include "windows/Main.h"

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QMenuBar>
#include <QScreen>
#include <QToolBar>
#include <QWindow>

#include "inspector/VarClipboard.h"
#include "model/KIServer.h"
#include "model/OVServer.h"
#include "platform/DialogService.h"
#include "platform/Exception.h"
#include "platform/Registry.h"
#include "windows/About.h"
#include "windows/Explorer.h"
#include "windows/Glyphs.h"
#include "windows/HelpWindow.h"
#include "windows/NetworkFilesDialog.h"
#include "windows/WindowsLog.h"

namespace orvane {

const char* const TMainForm::kRegistryKey = "Software\\Kestova\\Orvane";

namespace {

struct ActionSpec {
    TMainAction command;
    const char* name;
    const char* caption;
    const char* hint; // tool button hint; empty for menu-only commands
    bool hasGlyph;
    TGlyph glyph;
};

const ActionSpec kActionSpecs[] = {
    {TMainAction::NewInspector, "NewInspector", "&New Inspector", "New Inspector", true,
     TGlyph::NewInspector},
    {TMainAction::NewQuickInspector, "NewQuickInspector", "New &Quick Inspector",
     "New Quick Inspector", true, TGlyph::QuickInspector},
    {TMainAction::Open, "Open", "&Open...", "Open Inspector", true, TGlyph::OpenInspector},
    {TMainAction::Close, "Close", "&Close", "", false, TGlyph::Logo},
    {TMainAction::Save, "Save", "&Save", "Save Inspector", true, TGlyph::SaveInspector},
    {TMainAction::SaveAs, "SaveAs", "Save &As...", "", false, TGlyph::Logo},
    {TMainAction::Exit, "Exit", "E&xit", "", false, TGlyph::Logo},
    {TMainAction::Cut, "Cut", "Cu&t      Ctrl-X", "Cut", true, TGlyph::Cut},
    {TMainAction::Copy, "Copy", "&Copy    Ctrl-C", "Copy", true, TGlyph::Copy},
    {TMainAction::Paste, "Paste", "&Paste   Ctrl-V", "Paste", true, TGlyph::Paste},
    {TMainAction::AddSheet, "AddSheet", "&Add", "Add Sheet", true, TGlyph::AddSheet},
    {TMainAction::RemoveSheet, "RemoveSheet", "&Remove", "Remove Sheet", true, TGlyph::RemoveSheet},
    {TMainAction::RenameSheet, "RenameSheet", "Re&name", "", false, TGlyph::Logo},
    {TMainAction::LoadApplication, "LoadApplication", "Load Application...", "Load Application",
     true, TGlyph::LoadApplication},
    {TMainAction::LoadSettings, "LoadFromFile", "Load From File...", "Load Application Settings",
     true, TGlyph::LoadSettings},
    {TMainAction::SaveSettings, "SaveToFile", "Save To File...", "Save Application Settings", true,
     TGlyph::SaveSettings},
    {TMainAction::Report, "CreateReport", "Create Report...", "", false, TGlyph::Logo},
    {TMainAction::Reset, "Reset", "Reset", "Reset", true, TGlyph::Reset},
    {TMainAction::LockIO, "LockIO", "Lock I/O", "Lock I/O", true, TGlyph::LockIO},
    {TMainAction::SaveValues, "SaveValues", "Save Values", "Save Values", true, TGlyph::SaveValues},
    {TMainAction::Properties, "Properties", "Properties...", "", false, TGlyph::Logo},
    {TMainAction::Precision, "Precision", "Precision...", "", false, TGlyph::Logo},
    {TMainAction::NetworkFiles, "NetworkFiles", "&Network Definition Files...", "", false,
     TGlyph::Logo},
    {TMainAction::Explorer, "Explorer", "Explorer", "", false, TGlyph::Logo},
    {TMainAction::Contents, "Contents", "&Contents", "", true, TGlyph::Help},
    {TMainAction::About, "About", "&About...", "", false, TGlyph::Logo},
};

// The control commands and the Explorer's pop-up item each one triggers.
struct ControlCommand {
    TMainAction command;
    TExplorerForm::TCommand explorerCommand;
};
const ControlCommand kControlCommands[] = {
    {TMainAction::LoadApplication, TExplorerForm::cmdLoadApplication},
    {TMainAction::LoadSettings, TExplorerForm::cmdLoadFromFile},
    {TMainAction::SaveSettings, TExplorerForm::cmdSaveToFile},
    {TMainAction::Report, TExplorerForm::cmdCreateReport},
    {TMainAction::Reset, TExplorerForm::cmdReset},
    {TMainAction::LockIO, TExplorerForm::cmdLockIO},
    {TMainAction::SaveValues, TExplorerForm::cmdSaveValues},
    {TMainAction::Properties, TExplorerForm::cmdProperties},
};

// The commands of the inspector management: disabled while none is installed.
const TMainAction kInspectorCommands[] = {
    TMainAction::NewInspector, TMainAction::NewQuickInspector,
    TMainAction::Open,         TMainAction::Close,
    TMainAction::Save,         TMainAction::SaveAs,
    TMainAction::AddSheet,     TMainAction::RemoveSheet,
    TMainAction::RenameSheet,  TMainAction::Precision,
};

QSize screenSize() {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        return screen->geometry().size();
    }
    return QSize(1024, 768);
}

} // namespace

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowIcon(OrvaneIcon(TGlyph::Logo));
    // 1. The connection starts at the first activation.
    m_firstActivation = true;
    // 2. The control connection and the variable clipboard.
    m_server = std::make_unique<TServer>();
    m_clipboard = std::make_unique<TVariableClipboard>();

    createActions();
    createMenus();
    createToolBar();
    setCentralWidget(new QWidget(this));
    m_networkFiles = new TNetworkFilesDialog(this);

    // 3. and 4. The place from the registry (or of a first run), height 80.
    placeFromRegistry();
    setFixedHeight(kHeight);

    // 5. No inspector yet; the Explorer does not exist yet.
    UpdateInspectorCommands(nullptr);
    action(TMainAction::Explorer)->setChecked(false);
    action(TMainAction::Explorer)->setEnabled(false);

    // 6. The paste button follows the clipboard; DDE failures come here.
    m_clipboard->SetOnChange(TVariableClipboardEvent(this, &TMainForm::clipboardChanged));
    m_server->SetOnDdeMessage(TServerMessageEvent(this, &TMainForm::DdeMessage));
    m_server->SetOnTerminate(TServerEvent(this, &TMainForm::TerminateAfterLostCommunications));

    // 7. No input until the controls are connected.
    setEnabled(false);
    // 8.
    setWindowTitle(QStringLiteral("Orvane") + QStringLiteral(" Professional"));
    // 9. The program's own folder, where the server's folder is found.
    QDir::setCurrent(QCoreApplication::applicationDirPath());

    SetMainWindowServices(this);
}

TMainForm::~TMainForm() {
    releaseAll();
    if (MainWindowServices() == this) {
        SetMainWindowServices(nullptr);
    }
}

TExplorerForm* TMainForm::Explorer() const {
    return m_explorer;
}

void TMainForm::createActions() {
    for (const ActionSpec& spec : kActionSpecs) {
        auto* a = new QAction(QString::fromLatin1(spec.caption), this);
        a->setObjectName(QString::fromLatin1(spec.name));
        if (spec.hasGlyph) {
            a->setIcon(OrvaneIcon(spec.glyph));
        }
        if (*spec.hint) {
            a->setToolTip(QString::fromLatin1(spec.hint));
            a->setStatusTip(QString::fromLatin1(spec.hint));
        }
        a->setIconVisibleInMenu(false);
        m_actions[static_cast<int>(spec.command)] = a;
    }
    action(TMainAction::Explorer)->setCheckable(true);
    action(TMainAction::Exit)->setShortcut(QKeySequence::Quit);
    action(TMainAction::Contents)->setShortcut(QKeySequence::HelpContents);
    // Ctrl+X, C and V belong to the window that has the focus (the Explorer
    // or an inspector), which handles them itself.

    connect(action(TMainAction::Exit), &QAction::triggered, this, &QWidget::close);
    connect(action(TMainAction::Cut), &QAction::triggered, this, [this] {
        if (m_activeChild) {
            m_activeChild->Cut();
        }
    });
    connect(action(TMainAction::Copy), &QAction::triggered, this, [this] {
        if (m_activeChild) {
            m_activeChild->Copy();
        }
    });
    connect(action(TMainAction::Paste), &QAction::triggered, this, [this] {
        if (m_activeChild) {
            m_activeChild->Paste();
        }
    });
    for (const ControlCommand& c : kControlCommands) {
        const auto explorerCommand = c.explorerCommand;
        connect(action(c.command), &QAction::triggered, this, [this, explorerCommand] {
            if (m_explorer) {
                m_explorer->CommandAction(explorerCommand)->trigger();
            }
        });
    }
    connect(action(TMainAction::Explorer), &QAction::triggered, this,
            [this](bool checked) { toggleExplorer(checked); });
    connect(action(TMainAction::Contents), &QAction::triggered, this, &TMainForm::ShowHelp);
    connect(action(TMainAction::About), &QAction::triggered, this, &TMainForm::ShowAbout);
    connect(action(TMainAction::NetworkFiles), &QAction::triggered, this, [this] {
        m_networkFiles->SetFiles(m_server->Server()->NetworkDefFiles());
        if (m_networkFiles->exec() == QDialog::Accepted) {
            try {
                // The server opens each file; one it has open already is
                // left as it is.
                m_server->Server()->SetNetworkDefFiles(m_networkFiles->Files());
            } catch (const Exception& e) {
                showError(e.message());
            }
        }
    });
}

void TMainForm::createMenus() {
    QMenuBar* bar = menuBar();
    auto add = [this, bar](TMainMenu which, const char* title, const char* name) {
        QMenu* m = bar->addMenu(QString::fromLatin1(title));
        m->setObjectName(QString::fromLatin1(name));
        m_menus[static_cast<int>(which)] = m;
        return m;
    };
    QMenu* file = add(TMainMenu::File, "&File", "FileMenu");
    file->addAction(action(TMainAction::NewInspector));
    file->addAction(action(TMainAction::NewQuickInspector));
    file->addAction(action(TMainAction::Open));
    file->addAction(action(TMainAction::Close));
    file->addAction(action(TMainAction::Save));
    file->addAction(action(TMainAction::SaveAs));
    file->addSeparator();
    file->addAction(action(TMainAction::Exit));

    QMenu* edit = add(TMainMenu::Edit, "&Edit", "EditMenu");
    edit->addAction(action(TMainAction::Cut));
    edit->addAction(action(TMainAction::Copy));
    edit->addAction(action(TMainAction::Paste));
    connect(edit, &QMenu::aboutToShow, this, &TMainForm::editMenuAboutToShow);

    QMenu* sheet = add(TMainMenu::Sheet, "&Sheet", "SheetMenu");
    sheet->addAction(action(TMainAction::AddSheet));
    sheet->addAction(action(TMainAction::RemoveSheet));
    sheet->addAction(action(TMainAction::RenameSheet));

    QMenu* control = add(TMainMenu::Control, "Con&trol", "ControlMenu");
    control->addAction(action(TMainAction::LoadApplication));
    QMenu* appSettings = control->addMenu(QStringLiteral("App Settings"));
    appSettings->setObjectName(QStringLiteral("AppSettingsMenu"));
    m_menus[static_cast<int>(TMainMenu::AppSettings)] = appSettings;
    appSettings->addAction(action(TMainAction::LoadSettings));
    appSettings->addAction(action(TMainAction::SaveSettings));
    appSettings->addAction(action(TMainAction::Report));
    control->addAction(action(TMainAction::Reset));
    control->addAction(action(TMainAction::LockIO));
    control->addAction(action(TMainAction::SaveValues));
    control->addSeparator();
    control->addAction(action(TMainAction::Properties));

    QMenu* options = add(TMainMenu::Options, "&Options", "OptionsMenu");
    options->addAction(action(TMainAction::Precision));
    options->addAction(action(TMainAction::NetworkFiles));

    QMenu* window = add(TMainMenu::Window, "&Window", "WindowMenu");
    window->addAction(action(TMainAction::Explorer));
    window->addSeparator();
    connect(window, &QMenu::aboutToShow, this, &TMainForm::windowMenuAboutToShow);

    QMenu* help = add(TMainMenu::Help, "&Help", "HelpMenu");
    help->addAction(action(TMainAction::Contents));
    help->addAction(action(TMainAction::About));

    // At creation every menu title is disabled.
    for (QMenu* m : {file, edit, sheet, control, options, window, help}) {
        m->menuAction()->setEnabled(false);
    }
}

void TMainForm::createToolBar() {
    m_toolBar = addToolBar(QStringLiteral("Tool Bar"));
    m_toolBar->setObjectName(QStringLiteral("ToolBar"));
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->setIconSize(QSize(22, 22));
    m_toolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    const std::initializer_list<std::initializer_list<TMainAction>> groups = {
        {TMainAction::NewInspector, TMainAction::NewQuickInspector, TMainAction::Open,
         TMainAction::Save},
        {TMainAction::Cut, TMainAction::Copy, TMainAction::Paste},
        {TMainAction::AddSheet, TMainAction::RemoveSheet},
        {TMainAction::LoadApplication, TMainAction::LoadSettings, TMainAction::SaveSettings,
         TMainAction::Reset, TMainAction::LockIO, TMainAction::SaveValues},
    };
    bool first = true;
    for (const auto& group : groups) {
        if (!first) {
            m_toolBar->addSeparator();
        }
        first = false;
        for (TMainAction command : group) {
            m_toolBar->addAction(action(command));
            // At creation every tool button is disabled.
            action(command)->setEnabled(false);
        }
    }
    for (TMainAction command :
         {TMainAction::Open, TMainAction::Close, TMainAction::Save, TMainAction::SaveAs}) {
        action(command)->setEnabled(false);
    }
    m_toolBar->setEnabled(false);
}

// ---------------------------------------------------------------- placement

QRect TMainForm::FirstRunGeometry(const QSize& screen) {
    const int top = screen.height() / 2 - kFirstRunAboveMiddle;
    if (screen.width() > kFirstRunWidth) {
        return QRect(screen.width() / 2 - kFirstRunWidth / 2, top, kFirstRunWidth, kHeight);
    }
    return QRect(0, top, screen.width(), kHeight);
}

void TMainForm::placeFromRegistry() {
    std::optional<int> left, width, top, state;
    try {
        TRegistry registry(HKEY_LOCAL_MACHINE);
        if (registry.OpenKey(QString::fromLatin1(kRegistryKey), true)) {
            left = registry.TryReadInteger(QStringLiteral("Left"));
            width = registry.TryReadInteger(QStringLiteral("Width"));
            top = registry.TryReadInteger(QStringLiteral("Top"));
            state = registry.TryReadInteger(QStringLiteral("WindowState"));
        }
    } catch (const Exception& e) {
        qCWarning(lcWindows) << "main window place:" << e.message();
    }
    if (!left || !width || !top || !state) {
        // First run.
        const QRect place = FirstRunGeometry(screenSize());
        move(place.topLeft());
        resize(place.width(), kHeight);
        return;
    }
    move(*left, y());
    resize(std::max(*width, 1), kHeight);
    move(x(), *top);
    if (*state == 1) {
        setWindowState(Qt::WindowMaximized);
    } else if (*state == 2) {
        setWindowState(Qt::WindowMinimized);
    }
}

void TMainForm::SaveRegistrySettings() {
    try {
        TRegistry registry(HKEY_LOCAL_MACHINE);
        if (!registry.OpenKey(QString::fromLatin1(kRegistryKey), true)) {
            return;
        }
        const int state = isMinimized() ? 2 : isMaximized() ? 1 : 0;
        registry.WriteInteger(QStringLiteral("WindowState"), state);
        if (state == 0) {
            registry.WriteInteger(QStringLiteral("Left"), frameGeometry().x());
            registry.WriteInteger(QStringLiteral("Width"), width());
            registry.WriteInteger(QStringLiteral("Top"), frameGeometry().y());
        }
    } catch (const Exception& e) {
        // Placement is a comfort: failing to keep it must not disturb work.
        qCWarning(lcWindows) << "saving the main window place:" << e.message();
    }
}

void TMainForm::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (isVisible()) {
        SaveRegistrySettings();
    }
    if (height() != kHeight) {
        setFixedHeight(kHeight);
    }
    if (!isMinimized()) {
        fitMaximizedChildren();
    }
}

void TMainForm::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    if (isVisible()) {
        SaveRegistrySettings();
    }
}

void TMainForm::fitMaximizedChildren() {
    const QRect frame = frameGeometry();
    const int top = frame.y() + frame.height() + kChildGap;
    const int height = screenSize().height() - top;
    auto fit = [&](QWidget* w) {
        if (w && w->isMaximized() && height > 0) {
            w->setGeometry(frame.x(), top, frame.width(), height);
        }
    };
    fit(m_explorer);
    for (TOrvaneMDIForm* inspector : Inspectors()) {
        fit(inspector);
    }
    for (TOrvaneMDIForm* other : OtherWindows()) {
        fit(other);
    }
}

// ---------------------------------------------------------------- start-up

bool TMainForm::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate && m_firstActivation) {
        FirstActivation();
    }
    return QMainWindow::event(e);
}

void TMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // A desktop without a window manager may never activate the window: the
    // first showing counts as the first activation then.
    if (m_firstActivation) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_firstActivation) {
                    FirstActivation();
                }
            },
            Qt::QueuedConnection);
    }
}

void TMainForm::FirstActivation() {
    if (!m_firstActivation) {
        return;
    }
    m_firstActivation = false;
    if (!m_hourglass) {
        m_hourglass.emplace();
    }
    bool started = false;
    try {
        started = m_server->Connect(TServerEvent(this, &TMainForm::serverConnectedEvent));
    } catch (const Exception& e) {
        qCWarning(lcWindows) << "connecting:" << e.what();
        showError(e.message());
    }
    if (!started && !m_connected && !m_ended) {
        // The user has been told why the server could not be started.
        m_hourglass.reset();
        endProgram();
    }
}

void TMainForm::ServerConnected(TServer* server) {
    if (m_connected || m_ended || !m_server || server != m_server.get()) {
        return;
    }
    // 1.
    m_hourglass.reset();
    // 2. A server that never answered has said so already; controls that
    // were all given up leave nothing to work with either.
    if (!m_server->ServerAnswered()) {
        endProgram();
        return;
    }
    if (m_server->ControlCount() == 0 || m_server->ConnectedCount() == 0) {
        showError(QStringLiteral("The Duxlane Server is not connected to any controls and the "
                                 "application will be terminated"));
        endProgram();
        return;
    }
    m_connected = true;
    // 3. The Explorer under the main bar.
    m_explorer =
        new TExplorerForm(this, TOrvaneMDIForm::TActivatedEvent(this, &TMainForm::ChildActivated),
                          m_server.get(), m_clipboard.get());
    const QRect frame = frameGeometry();
    m_explorer->move(frame.x(), frame.y() + frame.height() + kChildGap);
    m_explorer->resize(m_explorer->width(), kExplorerHeight);
    m_explorer->show();
    action(TMainAction::Explorer)->setEnabled(true);
    action(TMainAction::Explorer)->setChecked(true);
    for (const ControlCommand& c : kControlCommands) {
        connect(m_explorer->CommandAction(c.explorerCommand), &QAction::changed, this,
                &TMainForm::updateControlCommands);
    }
    // 4. The first inspector.
    if (m_inspectors) {
        m_inspectors->OpenFirstInspector();
    }
    // 5. The commands.
    m_toolBar->setEnabled(true);
    for (TMainMenu m : {TMainMenu::File, TMainMenu::Edit, TMainMenu::Sheet, TMainMenu::Control,
                        TMainMenu::Window, TMainMenu::Options, TMainMenu::Help}) {
        menu(m)->menuAction()->setEnabled(true);
    }
    if (m_inspectors) {
        for (TMainAction a :
             {TMainAction::NewInspector, TMainAction::NewQuickInspector, TMainAction::Open}) {
            action(a)->setEnabled(true);
        }
    }
    updateControlCommands();
    // 6.
    setEnabled(true);
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    emit connected();
}

void TMainForm::updateControlCommands() {
    // A Control command works once its Explorer item has a handler.
    for (const ControlCommand& c : kControlCommands) {
        const bool enabled =
            m_connected && m_explorer && m_explorer->CommandAction(c.explorerCommand)->isEnabled();
        action(c.command)->setEnabled(enabled);
    }
}

void TMainForm::endProgram() {
    if (m_ended) {
        return;
    }
    m_ended = true;
    if (m_endProgram) {
        m_endProgram();
    } else {
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    }
}

// ---------------------------------------------------------------- services

void TMainForm::SetInspectorManagement(TInspectorManagement* management) {
    m_inspectors = management;
    UpdateInspectorCommands(m_activeInspector);
}

std::vector<TOrvaneMDIForm*> TMainForm::Inspectors() const {
    return m_inspectors ? m_inspectors->Inspectors() : std::vector<TOrvaneMDIForm*>();
}

void TMainForm::EnableWindows(bool enable) {
    if (enable) {
        m_hourglass.reset();
    } else if (!m_hourglass) {
        m_hourglass.emplace();
    }
    setEnabled(enable);
    if (m_explorer) {
        m_explorer->setEnabled(isEnabled());
    }
    for (TOrvaneMDIForm* inspector : Inspectors()) {
        inspector->setEnabled(isEnabled());
    }
    for (TOrvaneMDIForm* other : OtherWindows()) {
        other->setEnabled(isEnabled());
    }
}

std::vector<TOrvaneMDIForm*> TMainForm::OtherWindows() const {
    const std::vector<TOrvaneMDIForm*> inspectors = Inspectors();
    std::vector<TOrvaneMDIForm*> others;
    for (TOrvaneMDIForm* child : findChildren<TOrvaneMDIForm*>(Qt::FindDirectChildrenOnly)) {
        if (child != m_explorer.data() && !child->isHidden() &&
            std::find(inspectors.begin(), inspectors.end(), child) == inspectors.end()) {
            others.push_back(child);
        }
    }
    return others;
}

void TMainForm::TrendSelection(TOrvaneMDIForm* source) {
    if (m_trendOpener) {
        m_trendOpener(source);
    }
}

void TMainForm::UpdateEditCommands(int flags) {
    m_editFlags = flags;
    action(TMainAction::Cut)->setEnabled(flags & esCut);
    action(TMainAction::Copy)->setEnabled(flags & esCopy);
    action(TMainAction::Paste)->setEnabled((flags & esPaste) && !m_clipboard->IsEmpty());
}

void TMainForm::clipboardChanged(TVariableClipboard* clipboard) {
    if (clipboard->IsEmpty()) {
        action(TMainAction::Paste)->setEnabled(false);
    } else if (m_activeChild && (m_activeChild->EditState() & esPaste)) {
        action(TMainAction::Paste)->setEnabled(true);
    }
}

void TMainForm::editMenuAboutToShow() {
    UpdateEditCommands(m_activeChild ? m_activeChild->EditState() : 0);
}

void TMainForm::UpdateInspectorCommands(TOrvaneMDIForm* inspector) {
    m_activeInspector = inspector;
    if (!m_inspectors) {
        // Nothing to manage inspectors: their commands stay off.
        for (TMainAction a : kInspectorCommands) {
            action(a)->setEnabled(false);
        }
        return;
    }
    const bool with = inspector != nullptr;
    for (TMainAction a : {TMainAction::AddSheet, TMainAction::RemoveSheet, TMainAction::Close,
                          TMainAction::Save, TMainAction::SaveAs}) {
        action(a)->setEnabled(with);
    }
    menu(TMainMenu::Sheet)->menuAction()->setEnabled(with);
    if (with) {
        action(TMainAction::Open)->setEnabled(true);
    }
}

void TMainForm::ChildActivated(TOrvaneMDIForm* child) {
    m_activeChild = child;
    const std::vector<TOrvaneMDIForm*> inspectors = Inspectors();
    if (std::find(inspectors.begin(), inspectors.end(), child) != inspectors.end()) {
        UpdateInspectorCommands(child);
    }
    UpdateEditCommands(child ? child->EditState() : 0);
}

void TMainForm::ExplorerClosed() {
    action(TMainAction::Explorer)->setChecked(false);
}

void TMainForm::toggleExplorer(bool show) {
    if (!m_explorer) {
        action(TMainAction::Explorer)->setChecked(false);
        return;
    }
    m_explorer->setVisible(show);
    action(TMainAction::Explorer)->setChecked(show);
    if (show) {
        m_explorer->raise();
        m_explorer->activateWindow();
    }
}

bool TMainForm::CloseAllInspectors(const QString& question) {
    const std::vector<TOrvaneMDIForm*> inspectors = Inspectors();
    if (inspectors.empty()) {
        return true;
    }
    if (messageDlg(question, mtConfirmation, mbOKCancel) != mrOk) {
        return false;
    }
    bool allClosed = true;
    for (TOrvaneMDIForm* inspector : inspectors) {
        allClosed = m_inspectors->CloseInspector(inspector) && allClosed;
    }
    // An inspector the engineer kept open (its own save question) still
    // stands in the way of what was asked.
    return allClosed;
}

void TMainForm::windowMenuAboutToShow() {
    for (QAction* a : m_windowMenuInspectors) {
        menu(TMainMenu::Window)->removeAction(a);
        a->deleteLater();
    }
    m_windowMenuInspectors.clear();
    std::vector<TOrvaneMDIForm*> windows = Inspectors();
    const std::vector<TOrvaneMDIForm*> others = OtherWindows();
    windows.insert(windows.end(), others.begin(), others.end());
    for (TOrvaneMDIForm* window : windows) {
        QPointer<TOrvaneMDIForm> target(window);
        QAction* a = menu(TMainMenu::Window)->addAction(window->windowTitle());
        connect(a, &QAction::triggered, this, [target] {
            if (!target) {
                return;
            }
            if (target->isMinimized()) {
                target->showNormal();
            }
            target->raise();
            target->activateWindow();
            target->setFocus();
        });
        m_windowMenuInspectors.push_back(a);
    }
}

void TMainForm::DdeMessage(const QString& text) {
    showError(text);
    EnableWindows(true);
}

// ---------------------------------------------------------------- the end

void TMainForm::TerminateAfterLostCommunications(TServer*) {
    hide();
    for (TOrvaneMDIForm* inspector : Inspectors()) {
        if (messageDlg(QStringLiteral("Do you want to save the changes to ") +
                           inspector->windowTitle(),
                       mtConfirmation, mbYesNo) == mrYes) {
            m_inspectors->SaveInspector(inspector);
        }
    }
    endProgram();
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (m_closing) {
        event->accept();
        return;
    }
    hide();
    for (TOrvaneMDIForm* inspector : Inspectors()) {
        if (!m_inspectors->CloseInspector(inspector)) {
            // The engineer kept an inspector with unsaved changes: the
            // program goes on rather than lose them.
            show();
            event->ignore();
            return;
        }
    }
    m_closing = true;
    releaseAll();
    SaveRegistrySettings();
    event->accept();
}

void TMainForm::releaseAll() {
    if (m_help) {
        delete m_help.data();
    }
    if (m_explorer) {
        delete m_explorer.data();
    }
    m_activeChild = nullptr;
    m_activeInspector = nullptr;
    // The inspectors this window owns use the clipboard and the controls'
    // items: they go before either (also those closed and not yet deleted).
    for (TOrvaneMDIForm* child : findChildren<TOrvaneMDIForm*>(Qt::FindDirectChildrenOnly)) {
        delete child;
    }
    m_clipboard.reset();
    if (m_server) {
        m_server->SetOnTerminate(TServerEvent());
        m_server->SetOnDdeMessage(TServerMessageEvent());
        m_server.reset();
    }
}

// ---------------------------------------------------------------- help

QString TMainForm::HelpTopic() {
    return QStringLiteral("OVHelp.htm");
}

QString TMainForm::HelpPath() {
    // The executable's name with ".chm" for its extension (on a system
    // whose programs have none, added to the name).
    const QFileInfo exe(QCoreApplication::applicationFilePath());
    return exe.absolutePath() + QLatin1Char('/') + exe.completeBaseName() + QStringLiteral(".chm");
}

void TMainForm::ShowHelp() {
    const QString topic = HelpPath() + QLatin1Char('/') + HelpTopic();
    if (!QFileInfo(topic).isFile()) {
        showError(QStringLiteral("Error while trying to access help file."));
        return;
    }
    if (!m_help) {
        m_help = new THelpWindow(this);
    }
    m_help->ShowTopic(topic);
}

void TMainForm::ShowAbout() {
    TAboutBox box(this);
    box.exec();
}

} // namespace orvane
