#include "windows/MainTrends.h"

#include <algorithm>

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QToolBar>

#include "model/KIDevice.h"
#include "model/KIDuxlaneControl.h"
#include "model/OVServer.h"
#include "platform/DialogService.h"
#include "windows/Explorer.h"
#include "windows/Glyphs.h"
#include "windows/InspectorForm.h"
#include "windows/InspectorManager.h"
#include "windows/Main.h"
#include "windows/TrendDrop.h"
#include "windows/TrendForm.h"
#include "windows/TrendSet.h"

namespace orvane {

namespace {

const QString kNothingSelected =
    QStringLiteral("Select the variables to trend in an inspector or in the Explorer.");
const QString kNothingTrendable =
    QStringLiteral("The selection holds no variable that can be trended.");

void tell(const QString& text) {
    if (!text.isEmpty()) {
        messageDlg(text, mtWarning, mbOK);
    }
}

} // namespace

TMainTrends::TMainTrends(TMainForm* main) : QObject(main), m_main(main) {
    struct Spec {
        TCommand command;
        const char* name;
        const char* caption;
        const char* hint;
    };
    static const Spec specs[cmdCount] = {
        {cmdNewTrend, "NewTrend", "New &Trend", "Trend Selected Variables"},
        {cmdOpenTrendSet, "OpenTrendSet", "Open Trend Set...", "Open Trend Set"},
        {cmdSaveTrendSet, "SaveTrendSet", "Save Trend Set...", "Save Trend Set"},
    };
    for (const Spec& spec : specs) {
        auto* a = new QAction(QString::fromLatin1(spec.caption), this);
        a->setObjectName(QString::fromLatin1(spec.name));
        a->setToolTip(QString::fromLatin1(spec.hint));
        a->setStatusTip(QString::fromLatin1(spec.hint));
        a->setEnabled(false);
        m_actions[spec.command] = a;
    }
    m_actions[cmdNewTrend]->setIcon(OrvaneIcon(TGlyph::Trend));
    m_actions[cmdNewTrend]->setIconVisibleInMenu(false);

    // In the File menu after the inspector openings; the trend sets beside
    // the inspector files.
    QMenu* file = main->menu(TMainMenu::File);
    file->insertAction(main->action(TMainAction::Open), m_actions[cmdNewTrend]);
    QAction* exit = main->action(TMainAction::Exit);
    const QList<QAction*> items = file->actions();
    const qsizetype exitAt = items.indexOf(exit);
    QAction* beforeExit = exitAt > 0 ? items[exitAt - 1] : exit; // its separator
    file->insertSeparator(beforeExit);
    file->insertAction(beforeExit, m_actions[cmdOpenTrendSet]);
    file->insertAction(beforeExit, m_actions[cmdSaveTrendSet]);
    main->ToolBar()->insertAction(main->action(TMainAction::Open), m_actions[cmdNewTrend]);

    connect(m_actions[cmdNewTrend], &QAction::triggered, this,
            [this] { TrendSelection(m_main->ActiveChild()); });
    connect(m_actions[cmdOpenTrendSet], &QAction::triggered, this, &TMainTrends::openTrendSet);
    connect(m_actions[cmdSaveTrendSet], &QAction::triggered, this, &TMainTrends::saveTrendSet);
    connect(main, &TMainForm::connected, this, &TMainTrends::updateCommands);

    QPointer<TMainTrends> self(this);
    main->SetTrendOpener([self](TOrvaneMDIForm* source) {
        if (self) {
            self->TrendSelection(source);
        }
    });
    updateCommands();
}

// Goes with the main window, which has closed the trends by then.
TMainTrends::~TMainTrends() = default;

namespace {

// The trend window behind a guard; none once it is being destroyed.
TTrendForm* trendOf(const QPointer<QObject>& guard) {
    return dynamic_cast<TTrendForm*>(guard.data());
}

} // namespace

std::vector<TTrendForm*> TMainTrends::Trends() const {
    std::vector<TTrendForm*> trends;
    for (const QPointer<QObject>& guard : m_trends) {
        TTrendForm* form = trendOf(guard);
        if (form && !form->isHidden()) {
            trends.push_back(form);
        }
    }
    return trends;
}

TTrendForm* TMainTrends::ActiveTrend() const {
    return trendOf(m_activeTrend);
}

void TMainTrends::updateCommands() {
    const bool connected = m_main->Server() && m_main->Explorer();
    m_actions[cmdNewTrend]->setEnabled(connected);
    m_actions[cmdOpenTrendSet]->setEnabled(connected);
    m_actions[cmdSaveTrendSet]->setEnabled(connected && ActiveTrend());
}

void TMainTrends::trendActivated(TOrvaneMDIForm* form) {
    m_activeTrend = dynamic_cast<TTrendForm*>(form);
    updateCommands();
    m_main->ChildActivated(form);
}

TTrendForm* TMainTrends::newTrend() {
    auto* form =
        new TTrendForm(m_main, TOrvaneMDIForm::TActivatedEvent(this, &TMainTrends::trendActivated));
    // Closing ends the trend's hot links at once.
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->setWindowTitle(QStringLiteral("Trend%1").arg(++m_counter));
    connect(form, &QObject::destroyed, this, [this] {
        // The guards are cleared by now; the list and the commands follow.
        std::erase_if(m_trends, [](const QPointer<QObject>& p) { return p.isNull(); });
        updateCommands();
    });
    m_trends.emplace_back(form);
    auto* drop = new TTrendDrop(form, m_main->Clipboard());
    drop->OnDropped = [](const QStringList& refusals) { tell(TrendRefusalMessage(refusals)); };
    return form;
}

TTrendForm* TMainTrends::showTrend(TTrendForm* form, const QStringList& refusals) {
    place(form);
    form->show();
    form->raise();
    form->activateWindow();
    m_activeTrend = form;
    updateCommands();
    tell(TrendRefusalMessage(refusals));
    return form;
}

void TMainTrends::place(TTrendForm* form) {
    const QRect main = m_main->frameGeometry();
    const int explorerWidth =
        m_main->Explorer() ? m_main->Explorer()->frameGeometry().width() : kExplorerDefaultWidth;
    const int width = std::max(400, main.width() - (explorerWidth + 2));
    form->resize(width, kTrendHeight);
    // Under the main window at its right edge, where the inspectors start,
    // then each further trend a step down and right of the previous one.
    const QPoint underMain(main.right() + 1 - width,
                           main.bottom() + 1 + kInspectorGapBelowMain + 2 * kTrendCascade);
    const TTrendForm* last = trendOf(m_lastPlaced);
    QPoint at =
        last && !last->isHidden() ? last->pos() + QPoint(kTrendCascade, kTrendCascade) : underMain;
    QScreen* screen = m_main->screen() ? m_main->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->geometry();
        if (at.y() + kTrendHeight > area.bottom() + 1 || at.x() + width > area.right() + 1) {
            at = underMain;
        }
    }
    form->move(at);
    m_lastPlaced = form;
}

TTrendForm* TMainTrends::OpenTrend(const std::vector<TTrendRequest>& requests) {
    if (requests.empty()) {
        tell(kNothingSelected);
        return nullptr;
    }
    TTrendForm* form = newTrend();
    int added = 0;
    const QStringList refusals = AddTrendRequests(*form, requests, &added);
    if (form->Feed().TraceCount() == 0) {
        delete form;
        --m_counter;
        tell(refusals.isEmpty() ? kNothingTrendable : TrendRefusalMessage(refusals));
        return nullptr;
    }
    return showTrend(form, refusals);
}

TTrendForm* TMainTrends::TrendSelection(TOrvaneMDIForm* source) {
    std::vector<TTrendRequest> requests;
    auto* inspector = qobject_cast<TInspectorForm*>(source);
    auto* explorer = qobject_cast<TExplorerForm*>(source);
    if (inspector) {
        requests = TrendRequestsOfInspector(inspector);
    } else if (explorer) {
        requests = TrendRequestsOfTree(explorer->Tree());
    } else {
        // From the main window: what the engineer last selected in an
        // inspector, else in the Explorer.
        requests =
            TrendRequestsOfInspector(qobject_cast<TInspectorForm*>(m_main->ActiveInspector()));
        if (requests.empty() && m_main->Explorer()) {
            requests = TrendRequestsOfTree(m_main->Explorer()->Tree());
        }
    }
    return OpenTrend(requests);
}

TTrendSet TMainTrends::TrendSetOf(TTrendForm* trend) {
    TTrendSet set;
    set.perTraceScale = trend->Scale() == TTrendScale::PerTrace;
    set.timeWindowMs = trend->TimeWindowMs();
    for (int i = 0; i < trend->Feed().TraceCount(); ++i) {
        const TTrendTrace& trace = trend->Feed().Trace(i);
        set.variables.push_back({trace.device->Identifier(), trace.name});
    }
    return set;
}

TTrendForm* TMainTrends::OpenTrendSetFile(const QString& path) {
    const TTrendSetReadResult read = ReadTrendSetFile(path);
    const QString name = QFileInfo(path).fileName();
    if (!read.ok) {
        showError(
            QStringLiteral("The trend set %1 cannot be opened.\n\n%2").arg(name, read.Message()));
        return nullptr;
    }
    std::vector<TTrendRequest> requests;
    QStringList missing;
    for (const TTrendSetVariable& v : read.set.variables) {
        TKIDevice* device = m_main->Server() ? m_main->Server()->FindControl(v.control) : nullptr;
        if (!device || device->ConnectionState() != TKIDeviceState::Connected) {
            const QString line = device ? QStringLiteral("%1: the control is not connected.")
                                        : QStringLiteral("%1: the control does not exist.");
            if (!missing.contains(line.arg(v.control))) {
                missing << line.arg(v.control);
            }
            continue;
        }
        requests.push_back({device, v.itemName, false});
    }
    TTrendForm* form = nullptr;
    QStringList refusals = missing;
    if (!requests.empty()) {
        form = newTrend();
        refusals += AddTrendRequests(*form, requests);
        if (form->Feed().TraceCount() == 0) {
            delete form;
            --m_counter;
            form = nullptr;
        }
    }
    if (!form) {
        tell(QStringLiteral("No variable of the trend set %1 could be trended:\n\n%2")
                 .arg(name, refusals.join(QLatin1Char('\n'))));
        return nullptr;
    }
    form->SetScale(read.set.perTraceScale ? TTrendScale::PerTrace : TTrendScale::Shared);
    form->SetTimeWindowMs(read.set.timeWindowMs);
    form->setWindowTitle(name);
    return showTrend(form, refusals);
}

bool TMainTrends::SaveTrendSetFile(TTrendForm* trend, const QString& path) {
    QString error;
    if (!WriteTrendSetFile(path, TrendSetOf(trend), &error)) {
        showError(QStringLiteral("The trend set could not be written to %1.\n\n%2")
                      .arg(QDir::toNativeSeparators(path), error));
        return false;
    }
    trend->setWindowTitle(QFileInfo(path).fileName());
    return true;
}

void TMainTrends::openTrendSet() {
    FileDialogRequest request;
    request.caption = QStringLiteral("Open Trend Set");
    request.filter = QString::fromLatin1(kTrendSetFilter);
    request.defaultExt = QString::fromLatin1(kTrendSetExtension);
    request.options = ofHideReadOnly | ofFileMustExist;
    const std::optional<QString> path = DialogService::current().openFile(request);
    if (path && !path->isEmpty()) {
        OpenTrendSetFile(*path);
    }
}

void TMainTrends::saveTrendSet() {
    TTrendForm* trend = ActiveTrend();
    if (!trend) {
        return;
    }
    FileDialogRequest request;
    request.caption = QStringLiteral("Save Trend Set");
    request.filter = QString::fromLatin1(kTrendSetFilter);
    request.defaultExt = QString::fromLatin1(kTrendSetExtension);
    request.fileName = trend->windowTitle().endsWith(QStringLiteral(".ovt"), Qt::CaseInsensitive)
                           ? trend->windowTitle()
                           : trend->windowTitle() + QStringLiteral(".ovt");
    request.options = ofOverwritePrompt | ofHideReadOnly | ofPathMustExist;
    const std::optional<QString> path = DialogService::current().saveFile(request);
    if (path && !path->isEmpty()) {
        SaveTrendSetFile(trend, *path);
    }
}

} // namespace orvane
