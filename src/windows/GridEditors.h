#pragma once

// The value editors that the inspector grid lays over the Value cell of the
// selected row. The grid knows them only through TGridValueEditor and makes
// them with CreateGridValueEditor, so the editor behind each data type can be
// exchanged in one place.
//
// An editor is bound to one item of one control at a time. While it is active
// (visible and enabled) it subscribes to the item and shows each new value;
// inactive, it holds no subscription. Text the engineer is typing is never
// replaced by an arriving value.
//
// Ownership: the grid owns the editors; an editor's widget is a child of the
// widget given to the factory. Devices are borrowed: the grid unbinds the
// editors (Bind with an empty name) before the sheet that lends them goes.
// Thread: main thread only.

#include <memory>

#include <QString>

class QWidget;

namespace orvane {

class TKIDevice;

enum class TGridEditorKind { Spin, String, Toggle, Timer };

class TGridValueEditor {
public:
    virtual ~TGridValueEditor() = default;

    virtual QWidget* Widget() = 0;
    // Unbinds from the previous item, then binds to itemName of device (an
    // empty name leaves it unbound). Rebinds even to the same name.
    virtual void Bind(TKIDevice* device, const QString& itemName) = 0;
    // Visible and enabled: subscribed to the item, showing its value.
    // Inactive: unsubscribed; a string editor also clears its text.
    virtual void SetActive(bool active) = 0;
    virtual bool IsActive() const = 0;
    // Digits after the decimal point (spin editors; others ignore it).
    virtual void SetDecimalPlaces(int places) = 0;
    // The text shown (what the engineer sees or is typing).
    virtual QString Text() const = 0;
};

// The editor of a kind, its widget a child of parent.
std::unique_ptr<TGridValueEditor> CreateGridValueEditor(TGridEditorKind kind, QWidget* parent);

// The value text of a real in fixed-point notation with `places` digits
// (precision 9 as the grid shows reals); a text that is no number is shown as
// it is.
QString FixedPointText(const QString& text, int places);

} // namespace orvane
