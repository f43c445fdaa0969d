#include "windows/Explorer.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QShortcut>
#include <QStackedWidget>
#include <QTabBar>
#include <QVBoxLayout>

#include "model/KIDuxlaneControl.h"
#include "model/OVServer.h"
#include "platform/DialogService.h"
#include "platform/Exception.h"
#include "platform/StatusBar.h"
#include "windows/DuxlaneTreeView.h"
#include "windows/Glyphs.h"
#include "windows/WindowsLog.h"

namespace orvane {

TExplorerForm::TExplorerForm(QWidget* owner, TActivatedEvent onActivated, TServer* server,
                             TVariableClipboard* clipboard)
    : TOrvaneMDIForm(owner, onActivated), m_server(server), m_clipboard(clipboard) {
    setObjectName(QStringLiteral("Explorer"));
    setWindowTitle(QStringLiteral("Explorer"));
    setGeometry(202, 195, kInitialWidth, kInitialHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_tabControl = new QTabBar(this);
    m_tabControl->setObjectName(QStringLiteral("TabControl"));
    m_tabControl->setExpanding(false);
    m_tabControl->setUsesScrollButtons(true);
    m_tabControl->setDrawBase(true);
    m_tabControl->setMinimumHeight(kTabHeight);
    m_tabControl->setContextMenuPolicy(Qt::CustomContextMenu);
    layout->addWidget(m_tabControl);

    m_filterEdit = new QLineEdit(this);
    m_filterEdit->setObjectName(QStringLiteral("FilterEdit"));
    m_filterEdit->setPlaceholderText(QStringLiteral("Find variable (Ctrl+F)"));
    m_filterEdit->setClearButtonEnabled(true);
    m_filterEdit->setToolTip(
        QStringLiteral("Shows only the variables whose name contains the text; Esc clears it"));
    m_filterEdit->installEventFilter(this);
    layout->addWidget(m_filterEdit);

    m_treeStack = new QStackedWidget(this);
    // FormCreate: the tree fills the client area below the tabs.
    m_tree = new TDuxlaneTreeView(m_treeStack);
    m_tree->setObjectName(QStringLiteral("Tree"));
    m_tree->SetClipboard(m_clipboard);
    m_tree->SetImages(OrvaneIcon(TGlyph::ClosedFolder), OrvaneIcon(TGlyph::OpenFolder),
                      OrvaneIcon(TGlyph::Variable));
    m_treeMessage = new QLabel(m_treeStack);
    m_treeMessage->setObjectName(QStringLiteral("TreeMessage"));
    m_treeMessage->setWordWrap(true);
    m_treeMessage->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_treeMessage->setMargin(8);
    m_treeMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_treeStack->addWidget(m_tree);
    m_treeStack->addWidget(m_treeMessage);
    layout->addWidget(m_treeStack, 1);

    m_statusBar = new TStatusBar(this);
    m_statusBar->setObjectName(QStringLiteral("StatusBar"));
    m_statusBar->AddPanel(kStatusPanelWidth);
    m_statusBar->setSizeGripEnabled(true);
    layout->addWidget(m_statusBar);

    createCommands();

    auto* find = new QShortcut(QKeySequence::Find, this);
    find->setContext(Qt::WindowShortcut);
    connect(find, &QShortcut::activated, this, [this] {
        m_filterEdit->setFocus(Qt::ShortcutFocusReason);
        m_filterEdit->selectAll();
    });
    connect(m_filterEdit, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_tree->SetFilter(text); });
    connect(m_tabControl, &QTabBar::currentChanged, this, [this] { TabControlChange(); });
    connect(m_tabControl, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (m_tabControl->count() > 0) {
            m_popupMenu->exec(m_tabControl->mapToGlobal(at));
        }
    });
    // The tree's pop-up: copy what is selected, or trend it (a variable, or
    // every numeric variable of a header).
    m_treePopup = new QMenu(this);
    m_treePopup->setObjectName(QStringLiteral("TreePopupMenu"));
    m_treeCopy =
        m_treePopup->addAction(QStringLiteral("&Copy"), this, [this] { m_tree->CopySelection(); });
    m_trend = m_treePopup->addAction(QStringLiteral("Trend"), this, [this] {
        if (auto* services = MainWindowServices()) {
            services->TrendSelection(this);
        }
    });
    m_trend->setObjectName(QStringLiteral("Trend"));
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_tree, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        UpdateTreePopup();
        const int node = m_tree->SelectedNode();
        if (node >= 0) {
            m_treePopup->popup(m_tree->viewport()->mapToGlobal(at));
        }
    });
    // The main window enables Cut, Copy and Paste from where the focus is.
    m_focusConnection =
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
            if ((old && isAncestorOf(old)) || (now && isAncestorOf(now))) {
                FocusChange();
            }
        });

    FillTabs();
    TabControlChange();
    setFocusProxy(m_tree);
}

TExplorerForm::~TExplorerForm() {
    // Focus moves while the children go; this window no longer listens.
    disconnect(m_focusConnection);
    m_tree->SetClipboard(nullptr);
}

void TExplorerForm::createCommands() {
    struct Item {
        TCommand command;
        const char* name;
        const char* caption;
        TGlyph glyph;
        void (TExplorerForm::*handler)();
    };
    static const Item items[cmdCount] = {
        {cmdLoadApplication, "LoadApplication", "Load Application...", TGlyph::LoadApplication,
         &TExplorerForm::LoadApplicationClick},
        {cmdLoadFromFile, "LoadFromFile", "Load From File...", TGlyph::LoadSettings,
         &TExplorerForm::LoadFromFileClick},
        {cmdSaveToFile, "SaveToFile", "Save To File...", TGlyph::SaveSettings,
         &TExplorerForm::SaveToFileClick},
        {cmdCreateReport, "CreateReport", "Create Report...", TGlyph::Logo,
         &TExplorerForm::CreateReportClick},
        {cmdReset, "Reset", "Reset", TGlyph::Reset, &TExplorerForm::ResetClick},
        {cmdLockIO, "LockIO", "Lock I/O", TGlyph::LockIO, &TExplorerForm::LockIOClick},
        {cmdSaveValues, "SaveValues", "Save Values", TGlyph::SaveValues,
         &TExplorerForm::SaveValuesClick},
        {cmdProperties, "Properties", "Properties...", TGlyph::Logo,
         &TExplorerForm::PropertiesClick},
    };
    for (const Item& item : items) {
        auto* action = new QAction(QString::fromLatin1(item.caption), this);
        action->setObjectName(QString::fromLatin1(item.name));
        if (item.glyph != TGlyph::Logo) {
            action->setIcon(OrvaneIcon(item.glyph));
        }
        // Handlers come with the control commands; until InitCommands
        // enables an item it stays disabled.
        action->setEnabled(false);
        const auto handler = item.handler;
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
        m_commands[item.command] = action;
    }
    m_popupMenu = new QMenu(this);
    m_popupMenu->setObjectName(QStringLiteral("ControlTabPopupMenu"));
    m_popupMenu->addAction(m_commands[cmdLoadApplication]);
    m_appSettingsMenu = m_popupMenu->addMenu(QStringLiteral("App Settings"));
    m_appSettingsMenu->setObjectName(QStringLiteral("AppSettings"));
    m_appSettingsMenu->addAction(m_commands[cmdLoadFromFile]);
    m_appSettingsMenu->addAction(m_commands[cmdSaveToFile]);
    m_appSettingsMenu->addAction(m_commands[cmdCreateReport]);
    m_popupMenu->addAction(m_commands[cmdReset]);
    m_popupMenu->addAction(m_commands[cmdLockIO]);
    m_popupMenu->addAction(m_commands[cmdSaveValues]);
    m_popupMenu->addSeparator();
    m_popupMenu->addAction(m_commands[cmdProperties]);
    InitCommands();
}

void TExplorerForm::FillTabs() {
    const QSignalBlocker block(m_tabControl);
    while (m_tabControl->count() > 0) {
        m_tabControl->removeTab(0);
    }
    if (!m_server) {
        return;
    }
    for (TKIDuxlaneControl* control : m_server->Controls()) {
        m_tabControl->addTab(control->Identifier());
    }
}

int TExplorerForm::TabCount() const {
    return m_tabControl->count();
}

void TExplorerForm::SelectTab(int index) {
    m_tabControl->setCurrentIndex(index);
}

TKIDuxlaneControl* TExplorerForm::SelectedControl() const {
    const int index = m_tabControl->currentIndex();
    if (!m_server || index < 0 || index >= m_server->ControlCount()) {
        return nullptr;
    }
    return m_server->Control(index);
}

QString TExplorerForm::NotConnectedText(TKIDuxlaneControl* control) {
    if (!control || control->ConnectionState() == TKIDeviceState::Connected) {
        return {};
    }
    QString why = control->ConnectFailure();
    if (control->ConnectionState() != TKIDeviceState::NotConnected) {
        why = QStringLiteral("The control is still connecting.");
    } else if (why.isEmpty()) {
        why = QStringLiteral("The control did not answer.");
    }
    return QStringLiteral("%1 has not connected to the Duxlane Server, so its variables cannot "
                          "be shown and its commands are not offered. The other controls work as "
                          "usual.\n\n%2")
        .arg(control->Identifier(), why);
}

void TExplorerForm::UpdateTabMarks() {
    if (!m_server) {
        return;
    }
    for (int i = 0; i < m_tabControl->count() && i < m_server->ControlCount(); ++i) {
        TKIDuxlaneControl* control = m_server->Control(i);
        const bool given = control->ConnectionState() == TKIDeviceState::NotConnected;
        m_tabControl->setTabText(i, given ? control->Identifier() +
                                                QString::fromLatin1(kNotConnectedMark)
                                          : control->Identifier());
        m_tabControl->setTabIcon(i, given ? OrvaneIcon(TGlyph::NotConnected) : QIcon());
        m_tabControl->setTabToolTip(i, given ? control->ConnectFailure() : QString());
    }
}

void TExplorerForm::SetCommandAvailable(TCommand command, bool available) {
    m_available[command] = available;
    updateCommands();
}

void TExplorerForm::updateCommands() {
    // A control that never connected offers none of its commands.
    TKIDuxlaneControl* control = SelectedControl();
    const bool usable = control && control->ConnectionState() == TKIDeviceState::Connected;
    for (int c = 0; c < cmdCount; ++c) {
        m_commands[c]->setEnabled(m_available[c] && usable);
    }
}

void TExplorerForm::showTreeMessage(const QString& text) {
    m_treeMessage->setText(text);
    m_treeStack->setCurrentWidget(text.isEmpty() ? static_cast<QWidget*>(m_tree) : m_treeMessage);
}

QString TExplorerForm::TreeMessage() const {
    return m_treeStack->currentWidget() == m_treeMessage ? m_treeMessage->text() : QString();
}

void TExplorerForm::TabControlChange() {
    TKIDuxlaneControl* control = SelectedControl();
    m_tree->SetControl(control);
    UpdateTabMarks();
    updateCommands();
    const QString why = NotConnectedText(control);
    if (!why.isEmpty()) {
        m_tree->ClearTree();
        showTreeMessage(why);
        return;
    }
    showTreeMessage(QString());
    try {
        m_tree->Refresh();
    } catch (const Exception& e) {
        // The tree stays empty and says why; the error is also shown.
        qCWarning(lcWindows) << "Reading the variables of" << control->Identifier()
                             << "failed:" << e.what();
        showTreeMessage(QStringLiteral("The variables of %1 could not be read: %2")
                            .arg(control->Identifier(), e.message()));
        showError(e.message());
    }
}

void TExplorerForm::FocusChange() {
    NotifyEditState(EditState());
}

void TExplorerForm::UpdateTreePopup() {
    const int node = m_tree->SelectedNode();
    const TDuxlaneNodeTree& tree = m_tree->ShownTree();
    const int level = node >= 0 && node < static_cast<int>(tree.nodes.size())
                          ? tree.nodes[static_cast<std::size_t>(node)].level
                          : -1;
    m_treeCopy->setEnabled(node >= 0);
    // A whole root may hold thousands of variables: trends take a header or
    // a variable.
    m_trend->setEnabled(level == 1 || level == 2);
}

int TExplorerForm::EditState() {
    return focusWidget() == m_tree && m_tree->isVisible() ? esCopy : 0;
}

void TExplorerForm::Copy() {
    // The tree is this window's active control even while the main window's
    // menu has the focus.
    if (focusWidget() == m_tree) {
        m_tree->CopySelection();
    }
}

void TExplorerForm::StartHeaderIterator(THeaderIterator* iterator) {
    if (iterator) {
        iterator->Start(m_tree);
    }
}

void TExplorerForm::closeEvent(QCloseEvent* event) {
    if (TMainWindowServices* services = MainWindowServices()) {
        services->ExplorerClosed();
    }
    TOrvaneMDIForm::closeEvent(event);
}

bool TExplorerForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_filterEdit && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && !m_filterEdit->text().isEmpty()) {
            m_filterEdit->clear();
            return true;
        }
        if (key->key() == Qt::Key_Down || key->key() == Qt::Key_Return ||
            key->key() == Qt::Key_Enter) {
            // On to the variables found.
            m_tree->setFocus(Qt::TabFocusReason);
            if (m_tree->SelectedNode() < 0 && !m_tree->ShownTree().roots.empty()) {
                m_tree->SelectNode(m_tree->ShownTree().roots.front());
            }
            return true;
        }
    }
    return TOrvaneMDIForm::eventFilter(watched, event);
}

} // namespace orvane
