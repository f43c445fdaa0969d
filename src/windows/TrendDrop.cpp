#include "windows/TrendDrop.h"

#include <QDropEvent>
#include <QMimeData>

#include "inspector/VarClipboard.h"
#include "windows/DuxlaneTreeView.h"
#include "windows/OVGrid.h"
#include "windows/TrendForm.h"
#include "windows/TrendOpen.h"
#include "windows/VariableDrag.h"

namespace orvane {

namespace {

const TOVStringGrid* rowsSource(const QMimeData* data, const QObject* source) {
    if (!data || !data->hasFormat(QString::fromLatin1(kGridRowsMimeType))) {
        return nullptr;
    }
    return qobject_cast<const TOVStringGrid*>(source);
}

} // namespace

TTrendDrop::TTrendDrop(TTrendForm* form, TVariableClipboard* clipboard)
    : QObject(form), m_form(form), m_clipboard(clipboard) {
    form->setAcceptDrops(true);
    form->installEventFilter(this);
}

bool TTrendDrop::Accepts(const QMimeData* data, const QObject* source) {
    return rowsSource(data, source) != nullptr || IsVariableDrag(data);
}

void TTrendDrop::Drop(const QMimeData* data, const QObject* source) {
    std::vector<TTrendRequest> requests;
    if (const TOVStringGrid* grid = rowsSource(data, source)) {
        requests =
            TrendRequestsOfRows(grid->Grid()->Sheet(), grid->DragFirstRow, grid->DragLastRow);
    } else if (const auto* tree = qobject_cast<const TDuxlaneTreeView*>(source)) {
        requests = TrendRequestsOfTree(tree);
    }
    if (requests.empty() && m_clipboard && IsVariableDrag(data)) {
        // A whole control's root, or a source this window does not know:
        // the drag's own fill says what it carries.
        m_clipboard->Fill();
        requests = TrendRequestsOfClipboard(*m_clipboard, m_clipboard->Count() > 1);
    }
    if (requests.empty()) {
        return;
    }
    const QStringList refusals = AddTrendRequests(*m_form, requests);
    if (OnDropped) {
        OnDropped(refusals);
    }
}

bool TTrendDrop::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_form) {
        return QObject::eventFilter(watched, event);
    }
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDropEvent*>(event);
        if (Accepts(drag->mimeData(), drag->source())) {
            // The grid offers only a move; its rows stay, since nothing here
            // takes them out of the sheet.
            drag->acceptProposedAction();
        } else {
            drag->ignore();
        }
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        if (!Accepts(drop->mimeData(), drop->source())) {
            drop->ignore();
            return true;
        }
        drop->acceptProposedAction();
        Drop(drop->mimeData(), drop->source());
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}

} // namespace orvane
