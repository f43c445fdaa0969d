#pragma once

// The program's images: the desktop theme's icon where it has one, else one
// drawn here (vector shapes, sharp at every device pixel ratio) or the style's
// own.

#include <QIcon>

namespace orvane {

enum class TGlyph {
    ClosedFolder,
    OpenFolder,
    Variable,
    NewInspector,
    QuickInspector,
    OpenInspector,
    SaveInspector,
    Cut,
    Copy,
    Paste,
    AddSheet,
    RemoveSheet,
    LoadApplication,
    LoadSettings,
    SaveSettings,
    Reset,
    LockIO,
    SaveValues,
    Help,
    NotConnected,
    Trend,
    Logo,
};

QIcon OrvaneIcon(TGlyph glyph);

} // namespace orvane
