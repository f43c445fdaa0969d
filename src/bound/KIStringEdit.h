#pragma once

// TKIStringEdit: a single-line edit bound to a string item (binding as in
// KIBinding.h). It shows the item's text; Enter or Tab writes the edit text
// (the key goes no further), Escape puts the item's text back, and leaving
// the field writes the text, changed or not, while the edit shows a live
// value. Configure items are written without the I/O-lock rule (the control
// refuses them itself, and the refusal is shown). When the advise link stops
// (hidden, disabled, or a container without both flags) the text empties, and
// an empty text is never written for it. A new value from the control does
// not replace text the engineer is typing in the focused field. Monitor-only:
// read-only in the grey text colour.
//
//     auto* edit = new TKIStringEdit(parent);
//     edit->SetDevice(control);
//     edit->SetItemName("Plant.Area.Name");
//
// Thread: GUI thread only.

#include <QColor>
#include <QLineEdit>

#include "bound/KIBinding.h"

namespace orvane {

class TKIStringEdit : public TKIBound<QLineEdit> {
public:
    explicit TKIStringEdit(QWidget* parent = nullptr);
    ~TKIStringEdit() override;

    // Writes the text to the item (not while monitor-only); true when sent.
    bool Write(const QString& text);

    // TKIBoundControl
    void ItemValueChanged(TKIItem* item) override;
    void ApplyMonitorOnly() override;
    void AdviseStopped() override;
    void ItemChanging() override { AdviseStopped(); }

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    QColor m_fontColor;
    bool m_greyed = false;
};

} // namespace orvane
