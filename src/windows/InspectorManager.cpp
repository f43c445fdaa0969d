#include "windows/InspectorManager.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QVBoxLayout>

#include "inspector/VarClipboard.h"
#include "model/KIDevice.h"
#include "platform/DialogService.h"
#include "platform/Exception.h"
#include "platform/WaitCursorScope.h"
#include "windows/InspectorForm.h"
#include "windows/WindowsLog.h"

namespace orvane {

namespace {

const QString kServicePrefix = QStringLiteral("Service: ");
const QString kConfigurePrefix = QStringLiteral("Configure: ");
const QString kInspectorFilter =
    QStringLiteral("Inspector files (*.ovi)|*.ovi|All Files (*.*)|*.*");
constexpr int kMaxPrecision = 15;

class TEnableWindowsScope {
public:
    TEnableWindowsScope() { enable(false); }
    ~TEnableWindowsScope() { enable(true); }
    TEnableWindowsScope(const TEnableWindowsScope&) = delete;
    TEnableWindowsScope& operator=(const TEnableWindowsScope&) = delete;

private:
    static void enable(bool on) {
        if (auto* services = MainWindowServices()) {
            services->EnableWindows(on);
        }
    }
};

QString doubleFirstAmpersand(QString text) {
    const int at = text.indexOf(QLatin1Char('&'));
    if (at >= 0) {
        text.insert(at, QLatin1Char('&'));
    }
    return text;
}

} // namespace

// ---------------------------------------------------------------------------
// TItemListHeaderWalk

TItemListHeaderWalk::TItemListHeaderWalk(TKIDevice* device, TVariableClipboard* clipboard)
    : m_device(device), m_clipboard(clipboard) {}

void TItemListHeaderWalk::Start(bool configure) {
    m_headers.clear();
    m_current = 0;
    if (!m_device) {
        return;
    }
    const QString& prefix = configure ? kConfigurePrefix : kServicePrefix;
    for (const QString& name : m_device->GetTopicItemList()) {
        if (!name.startsWith(prefix)) {
            continue;
        }
        const QString rest = name.mid(prefix.size());
        const int dot = rest.indexOf(QLatin1Char('.'));
        const QString block = dot < 0 ? rest : rest.left(dot);
        // Headers are grouped by runs, as the tree groups them.
        if (m_headers.empty() || m_headers.back().name != block) {
            m_headers.push_back({block, {}});
        }
        m_headers.back().items << name;
    }
    fill();
}

QString TItemListHeaderWalk::HeaderName() const {
    return HasCurrent() ? doubleFirstAmpersand(m_headers[m_current].name) : QString();
}

void TItemListHeaderWalk::Next() {
    if (HasCurrent()) {
        ++m_current;
        fill();
    }
}

void TItemListHeaderWalk::fill() {
    if (!HasCurrent() || !m_clipboard) {
        return;
    }
    m_clipboard->Clear();
    for (const QString& item : m_headers[m_current].items) {
        m_clipboard->Add(item, QString(), m_device);
    }
}

// ---------------------------------------------------------------------------
// TDecimalPlacesForm

TDecimalPlacesForm::TDecimalPlacesForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint) {
    setWindowTitle(QStringLiteral("Orvane"));
    auto* label = new QLabel(QStringLiteral("Decimal Places:"), this);
    m_spin = new QSpinBox(this);
    m_spin->setRange(0, kMaxPrecision);
    // The value is chosen with the arrows; typing is refused.
    m_spin->findChild<QLineEdit*>()->setReadOnly(true);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    auto* row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(m_spin);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(ok, 0, Qt::AlignHCenter);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

// ---------------------------------------------------------------------------
// TInspectorManager

TInspectorManager::TInspectorManager(QWidget* mainWindow, TVariableClipboard* clipboard,
                                     TOrvaneMDIForm::TActivatedEvent onActivated,
                                     TControlFinder findControl)
    : QObject(mainWindow), m_mainWindow(mainWindow), m_clipboard(clipboard),
      m_onActivated(onActivated), m_findControl(std::move(findControl)) {}

TInspectorManager::~TInspectorManager() = default;

QList<TInspectorForm*> TInspectorManager::Inspectors() const {
    QList<TInspectorForm*> forms;
    if (!m_mainWindow) {
        return forms;
    }
    for (TInspectorForm* form :
         m_mainWindow->findChildren<TInspectorForm*>(Qt::FindDirectChildrenOnly)) {
        if (!form->IsClosing()) {
            forms << form;
        }
    }
    return forms;
}

TInspectorForm* TInspectorManager::NewInspector() {
    const QList<TInspectorForm*> existing = Inspectors();
    TInspectorForm* previous = existing.isEmpty() ? nullptr : existing.back();
    auto* form = new TInspectorForm(m_mainWindow, m_onActivated, m_clipboard);
    const int explorerWidth =
        m_explorer ? m_explorer->frameGeometry().width() : kExplorerDefaultWidth;
    const QRect main = m_mainWindow->frameGeometry();
    const int width = std::max(200, main.width() - (explorerWidth + 2));
    form->resize(width, kInspectorHeight);
    ++m_counter;

    const QPoint underMain(main.left() + main.width() - width,
                           main.top() + main.height() + kInspectorGapBelowMain);
    QPoint place =
        previous ? QPoint(previous->x() + kInspectorCascade, previous->y() + kInspectorCascade)
                 : underMain;
    QScreen* screen =
        m_mainWindow->screen() ? m_mainWindow->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->geometry();
        if (place.y() + kInspectorHeight > area.bottom() + 1 ||
            place.x() + width > area.right() + 1) {
            place = underMain;
        }
    }
    form->move(place);

    form->SetInspectorName(QStringLiteral("Inspector%1").arg(m_counter));
    form->show();
    form->SetModified(false);
    form->RecordGeometry();
    form->activateWindow();
    m_active = form;
    return form;
}

TInspectorForm* TInspectorManager::OpenInspector() {
    FileDialogRequest request;
    request.filter = kInspectorFilter;
    request.defaultExt = QStringLiteral("ovi");
    request.options = ofHideReadOnly | ofFileMustExist;
    const std::optional<QString> path = DialogService::current().openFile(request);
    if (!path || path->isEmpty()) {
        return nullptr;
    }
    return OpenInspectorFile(*path);
}

TInspectorForm* TInspectorManager::OpenInspectorFile(const QString& path) {
    TInspectorForm* form = NewInspector();
    bool opened = false;
    {
        TEnableWindowsScope disabled;
        try {
            opened = form->Open(path, m_findControl);
        } catch (const Exception& e) {
            showError(e.message());
        }
    }
    if (!opened) {
        form->SetModified(false);
        delete form;
        if (auto* services = MainWindowServices()) {
            services->UpdateInspectorCommands(nullptr);
        }
        return nullptr;
    }
    return form;
}

TInspectorForm* TInspectorManager::NewQuickInspector(THeaderWalk& headers) {
    TWaitCursorScope wait;
    TInspectorForm* form = NewInspector();
    try {
        bool first = true;
        for (bool configure : {false, true}) {
            const QString& prefix = configure ? kConfigurePrefix : kServicePrefix;
            for (headers.Start(configure); headers.HasCurrent(); headers.Next()) {
                if (first) {
                    form->RenameCurrentSheet(prefix + headers.HeaderName());
                    first = false;
                } else {
                    form->AddNamedSheet(prefix + headers.HeaderName());
                }
                form->PasteToSheet(-1, 0);
            }
        }
    } catch (const Exception& e) {
        showError(e.message());
    }
    form->SelectSheet(0);
    return form;
}

void TInspectorManager::SetActiveInspector(TOrvaneMDIForm* form) {
    m_active = qobject_cast<TInspectorForm*>(form);
}

TInspectorForm* TInspectorManager::ActiveInspector() const {
    if (m_active && !m_active->IsClosing()) {
        return m_active;
    }
    return nullptr;
}

void TInspectorManager::CloseActive() {
    if (TInspectorForm* form = ActiveInspector()) {
        form->close();
    }
}

void TInspectorManager::SaveActive() {
    if (TInspectorForm* form = ActiveInspector()) {
        form->Save();
    }
}

void TInspectorManager::SaveActiveAs() {
    if (TInspectorForm* form = ActiveInspector()) {
        form->SaveAs();
    }
}

void TInspectorManager::AddSheet() {
    if (TInspectorForm* form = ActiveInspector()) {
        form->AddSheet();
    }
}

void TInspectorManager::RemoveSheet() {
    if (TInspectorForm* form = ActiveInspector()) {
        form->RemoveSheet();
    }
}

void TInspectorManager::RenameSheet() {
    if (TInspectorForm* form = ActiveInspector()) {
        form->RenameSheet();
    }
}

void TInspectorManager::Precision() {
    {
        TDecimalPlacesForm dialog(m_mainWindow);
        auto* settings = TInspectorInitialization::Instance();
        dialog.SpinEdit()->setValue(settings ? settings->DecimalPlaces()
                                             : TInspectorInitialization::kDefaultDecimalPlaces);
        if (dialog.exec() == QDialog::Accepted && settings) {
            settings->SetDecimalPlaces(dialog.SpinEdit()->value());
        }
    }
    ApplyPrecisionToAll();
}

void TInspectorManager::ApplyPrecisionToAll() {
    for (TInspectorForm* form : Inspectors()) {
        form->ApplyPrecision();
    }
}

void TInspectorManager::FillWindowMenu(QMenu* menu) {
    const QList<QAction*> actions = menu->actions();
    for (int i = 2; i < actions.size(); ++i) {
        menu->removeAction(actions[i]);
        if (actions[i]->parent() == menu) {
            actions[i]->deleteLater();
        }
    }
    for (TInspectorForm* form : Inspectors()) {
        QPointer<TInspectorForm> target(form);
        QAction* action = menu->addAction(form->windowTitle());
        connect(action, &QAction::triggered, form, [target] {
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
    }
}

} // namespace orvane
