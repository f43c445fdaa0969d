#pragma once

// Watched variables and inspector sheets.
//
// TOVVariable is one row of a sheet: one item of one control, named by its
// full item name, with a free-text description. It holds a claim on the
// device's item (AcquireItem) and, while its sheet is shown, subscribes to the
// item's value changes, which it relays to its sheet.
//
// TOVVariableList is one sheet: a name, the ordered variables (owned), the
// grid's stored view of the sheet, and the Advised and Modified flags. It
// relays value changes with the row number to the grid (row -1: the set or
// order of rows changed, refresh everything) and reports structural changes
// to its document through OnModified.
//
// Ownership: a list owns its variables; variables borrow their device and item
// (the device owns its items and must outlive the variables that use them; the
// variable's claim is kept until the device is destroyed, so an item a
// variable used is never freed under a running notification).
// Row access by position costs the same for every row.
//
// Thread: main thread only. Creating a variable of a connected item may fetch
// the item's attributes by a synchronous DDE request, during which the event
// loop runs. Handlers are called synchronously from the operations below and
// from the item's advise deliveries.

#include <memory>
#include <vector>

#include <QString>
#include <QVariant>

#include "model/KIDuxlaneItem.h"
#include "platform/Delegate.h"

namespace orvane {

class TKIDevice;
class TKIItem;
class TOVVariable;
class TOVVariableList;
class TVariableClipboard;

using TOVVariableEvent = Delegate<TOVVariable*>;
// (sheet, row); row -1: refresh all rows.
using TOVVariableChangedEvent = Delegate<TOVVariableList*, int>;
using TOVModifiedEvent = Delegate<>;

class TOVVariable {
public:
    // Acquires the device's item of that name (the device upper-cases it) and
    // runs the attribute check: a connected item has its attributes fetched at
    // once; an unconnected one is watched, and when it receives its
    // conversation the attributes are fetched and onChange is called so that
    // the row is redrawn. device must not be null.
    TOVVariable(const QString& itemName, const QString& description, int index, TKIDevice* device,
                const TOVVariableEvent& onChange, const TOVVariableEvent& onDescriptionChanged);
    // Unadvises. The claim on the item stays with the device (see above).
    ~TOVVariable();

    TOVVariable(const TOVVariable&) = delete;
    TOVVariable& operator=(const TOVVariable&) = delete;

    const QString& Description() const { return m_description; }
    // A different text (exact comparison) is stored and OnDescriptionChanged
    // called; an equal one changes nothing.
    void SetDescription(const QString& text);

    int Index() const { return m_index; }
    void SetIndex(int index) { m_index = index; }

    TKIItem* Item() const { return m_item; }
    TKIDevice* Device() const { return m_device; }
    bool AttributesKnown() const { return m_attributesKnown; }

    // Read from the item or the device at each call; nothing is cached.
    // ItemName: the item's upper-case full name; DeviceName: the control's
    // identifier; Category, Block, Field: the parts of ItemName.
    QString ItemName() const;
    QString DeviceName() const;
    QString Category() const;
    QString Block() const;
    QString Field() const;

    // The item's attributes once they are fetched; before that vctUnassigned,
    // vdtUnassigned and empty limits (so drawing a row never sends a request).
    orvane::ItemClassType ItemClassType() const;
    ItemDataType DataType() const;
    QVariant MinValue() const;
    QVariant MaxValue() const;

    // The item's held value while its hot link runs and a value has arrived;
    // otherwise an empty string. Never sends a request.
    QVariant Value() const;

    // Subscribes to the item's value changes (the item starts its hot link
    // with its first subscriber). Raises TKIItemException when the DDE library
    // refuses the link.
    void Advise();
    // Unsubscribes; the item stops its link when no subscriber remains.
    void Unadvise();
    bool IsAdvised() const;

    void SetOnChange(const TOVVariableEvent& handler) { m_onChange = handler; }

    // Ends when the variable is destroyed: the item's listeners and
    // subscriptions to it are then not called.
    const Lifetime& lifetime() const { return m_lifetime; }

private:
    TKIDuxlaneItem* duxlaneItem() const;
    void CheckAttributes();
    // The item has its conversation: fetch the attributes, redraw the row.
    void ItemConnected(TKIItem* item);
    void ItemChanged(TKIItem* item);

    QString m_description;
    int m_index = 0;
    TKIItem* m_item = nullptr;
    TKIDevice* m_device = nullptr;
    TOVVariableEvent m_onChange;
    TOVVariableEvent m_onDescriptionChanged;
    bool m_attributesKnown = false;
    bool m_waitingForAttributes = false;
    Lifetime m_lifetime; // last: ends first
};

class TOVVariableList {
public:
    // An empty sheet; not Advised, not Modified, view all 0.
    TOVVariableList(const QString& name, const TOVVariableChangedEvent& onVariableChanged,
                    const TOVModifiedEvent& onModified);
    // Destroys every variable (each unadvises) without calling any handler.
    ~TOVVariableList();

    TOVVariableList(const TOVVariableList&) = delete;
    TOVVariableList& operator=(const TOVVariableList&) = delete;

    const QString& Name() const { return m_name; }
    void SetName(const QString& name) { m_name = name; }

    int Count() const { return static_cast<int>(m_variables.size()); }
    // The variable at row, or null when row is outside 0..Count-1.
    TOVVariable* Get(int row) const;

    // Appends a variable with Index = Count: no advise, no handler called,
    // Modified unchanged (the file reader fills sheets this way).
    TOVVariable* Add(const QString& itemName, const QString& description, TKIDevice* device);

    // Inserts a new variable for every clipboard entry, in clipboard order,
    // before the variable at row (0 <= row < Count), or appends them (any other
    // row). Advises them when the sheet is Advised; renumbers every row; then
    // OnVariableChanged(-1), OnModified, and Modified becomes true (also for an
    // empty clipboard). When the DDE library refuses an advise link, every
    // variable is still inserted and the first refusal is raised afterwards.
    void PasteAt(int row, const TVariableClipboard& clipboard);

    // Removes and destroys the variable at row, renumbers, then
    // OnVariableChanged(-1), OnModified; Modified becomes true. A row outside
    // the sheet is a programming error: logged and ignored.
    void Delete(int row);

    // Removes and destroys every variable, then OnVariableChanged(-1) and
    // OnModified. The sheet's own Modified flag stays as it was.
    void Clear();

    // Advised becomes true / false and every variable is advised / unadvised.
    // AdviseAll advises every variable even when a link is refused, and then
    // raises the first refusal (TKIItemException).
    void AdviseAll();
    void UnadviseAll();
    bool Advised() const { return m_advised; }

    // The grid's view of this sheet, kept while another sheet is shown.
    int TopRow() const { return m_topRow; }
    int SelectionTop() const { return m_selectionTop; }
    int SelectionBottom() const { return m_selectionBottom; }
    void SetTopRow(int row) { m_topRow = row; }
    void SetSelectionTop(int row) { m_selectionTop = row; }
    void SetSelectionBottom(int row) { m_selectionBottom = row; }

    bool Modified() const { return m_modified; }
    void SetModified(bool modified) { m_modified = modified; }

    void SetOnVariableChanged(const TOVVariableChangedEvent& handler) {
        m_onVariableChanged = handler;
    }
    void SetOnModified(const TOVModifiedEvent& handler) { m_onModified = handler; }

private:
    std::unique_ptr<TOVVariable> createVariable(const QString& itemName, const QString& description,
                                                int index, TKIDevice* device);
    void renumber();
    void structureChanged();
    void VariableChanged(TOVVariable* variable);
    void DescriptionChanged(TOVVariable* variable);

    QString m_name;
    TOVVariableChangedEvent m_onVariableChanged;
    bool m_advised = false;
    std::vector<std::unique_ptr<TOVVariable>> m_variables;
    int m_topRow = 0;
    int m_selectionTop = 0;
    int m_selectionBottom = 0;
    TOVModifiedEvent m_onModified;
    bool m_modified = false;
};

} // namespace orvane
