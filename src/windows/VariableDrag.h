#pragma once

// Dragging variables between the program's windows. The drag object is the
// variable clipboard itself: the source installs the clipboard's OnFill, the
// drop target calls Fill when the drop happens and then pastes. The Qt drag
// only carries a marker of this private type naming the process, so a drop
// is accepted only from this program's own windows (the clipboard is not
// shared with other programs).

#include <QMimeData>

namespace orvane {

inline constexpr const char* kVariableMimeType = "application/x-orvane-variables";

// New drag data for a drag of variables from this process (caller owns it).
QMimeData* NewVariableMimeData();
// Whether the data is a drag of variables from this process.
bool IsVariableDrag(const QMimeData* data);

} // namespace orvane
