#pragma once

// Variables dropped on a trend window become traces: rows dragged out of an
// inspector grid and variables or headers dragged from the Explorer's tree.
//
// Rows are read from the source grid's sheet without going through the
// variable clipboard: the grid's fill of the clipboard is a move, and a
// trend must leave the inspector's rows where they are. The Explorer's drag
// fills the clipboard as it does for an inspector.
//
// Installed as an event filter on the trend window, which it makes accept
// drops. Ownership: a Qt child of the window; the clipboard is borrowed and
// must outlive it. OnDropped is called once per drop that offered variables,
// with what was refused (see AddTrendRequests). Thread: GUI thread.

#include <functional>

#include <QObject>
#include <QStringList>

class QMimeData;

namespace orvane {

class TTrendForm;
class TVariableClipboard;

class TTrendDrop : public QObject {
    Q_OBJECT
public:
    TTrendDrop(TTrendForm* form, TVariableClipboard* clipboard);

    // Whether a drag of this data from that source (the widget the drag
    // started in, null when not known) offers variables a trend can take.
    static bool Accepts(const QMimeData* data, const QObject* source);
    // Adds the dropped variables to the window (what a drop event does).
    void Drop(const QMimeData* data, const QObject* source);

    std::function<void(const QStringList& refusals)> OnDropped;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TTrendForm* m_form; // the parent
    TVariableClipboard* m_clipboard;
};

} // namespace orvane
