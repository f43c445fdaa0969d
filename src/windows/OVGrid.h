#pragma once

// The inspector grid: one sheet of an inspector (a TOVVariableList) as a table
// of seven columns (control, kind picture, category, block, field, value,
// description) under a header bar, with the bound value editor of the selected
// row laid over its Value cell and a plain edit over its Description cell.
//
// TOVGridModel is the table model over the sheet. Value changes reach it as
// RowChanged(sheet, row) from the sheet; it marks the row dirty and one timer
// turns the dirty rows into dataChanged of exactly their Value cells, at most
// once a frame, so a burst of values costs one repaint of the cells that
// changed. Row -1 (rows added, removed or moved) resets the model.
//
// TOVStringGrid is the view (whole-row selection of one contiguous range, no
// grid lines, no editing by the view); it paints only the visible rows, and
// carries the key commands and the dragging and dropping of rows.
//
// Ownership: the grid owns its parts and editors; the sheet is borrowed from
// the inspector's document (SetSheet(nullptr) before it goes); the clipboard
// and the status bar are borrowed from the main window and the inspector.
// Thread: main thread only.

#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QPixmap>
#include <QPointer>
#include <QTableView>
#include <QTimer>

#include "model/KIDuxlaneItem.h"
#include "platform/Delegate.h"
#include "platform/StatusBar.h"
#include "windows/GridEditors.h"

class QMimeData;

namespace orvane {

class TOVGrid;
class TOVVariable;
class TOVVariableList;
class TVariableClipboard;

// The grid's columns.
enum TOVGridColumn : int {
    gcControl,
    gcKind,
    gcCategory,
    gcBlock,
    gcField,
    gcValue,
    gcDescription,
    gcColumnCount
};

// Shortest time between two batches of value repaints: one frame.
constexpr int kValueRepaintIntervalMs = 16;
constexpr int kDefaultRowHeight = 24;
constexpr int kHeaderHeight = 20;
constexpr int kKindColumnWidth = 18;
constexpr int kMaxDecimalPlaces = 16;
constexpr int kDefaultDecimalPlaces = 2;

// The MIME type of rows dragged out of an inspector grid; the data is empty:
// the rows travel through the variable clipboard when the drop fills it.
extern const char* const kGridRowsMimeType;

// The kind pictures of the Kind column (25 x 25, white is transparent).
QPixmap KindPicture(ItemClassType classType);

// The text of a value cell: booleans "False" for "0" and "True" otherwise,
// reals in fixed-point notation with `places` digits, other types unchanged.
QString ValueText(ItemDataType dataType, const QString& value, int places);

class TOVGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TOVGridModel(QObject* parent = nullptr);

    void SetSheet(TOVVariableList* sheet);
    TOVVariableList* Sheet() const { return m_sheet; }
    void SetDecimalPlaces(int places);
    int DecimalPlaces() const { return m_decimalPlaces; }

    // From the sheet: the row's value changed (batched), or row -1: the rows
    // changed (at once).
    void RowChanged(TOVVariableList* sheet, int row);
    // Emits the pending value changes now.
    void Flush();
    int PendingRows() const { return static_cast<int>(m_dirtyRows.size()); }

    // Called after each batch with the rows it repainted (for the grid's
    // editors and for measurements).
    std::function<void(const std::vector<int>&)> onFlushed;
    // Called after a reset (row -1) with the new row count.
    std::function<void()> onReset;
    // The rows on screen (first, last); rows outside are not repainted (they
    // are drawn with their current value when they come into view).
    std::function<std::pair<int, int>()> visibleRows;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    void reset();

    TOVVariableList* m_sheet = nullptr;
    int m_rowCount = 0;
    int m_decimalPlaces = kDefaultDecimalPlaces;
    std::vector<char> m_dirty; // per row
    std::vector<int> m_dirtyRows;
    QTimer m_timer;
    QElapsedTimer m_sinceFlush;
};

class TOVHeaderControl : public QHeaderView {
    Q_OBJECT
public:
    explicit TOVHeaderControl(QWidget* parent = nullptr);
};

// The description editor: Enter, Up and Down are the grid's.
class TOVGridEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TOVGridEdit(QWidget* parent = nullptr);

    std::function<void()> OnReturn;
    std::function<void()> OnUp;
    std::function<void()> OnDown;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

class TOVStringGrid : public QTableView {
    Q_OBJECT
public:
    explicit TOVStringGrid(TOVGrid* owner);
    ~TOVStringGrid() override;

    TOVGrid* Grid() const { return m_owner; }

    bool DragIsMove = false;
    int DragFirstRow = 0;
    int DragLastRow = 0;

    // Selection rectangle's rows; -1 when nothing is selected.
    int SelectionTop() const;
    int SelectionBottom() const;
    // Selects rows top..bottom (whole rows) and makes top current.
    void SelectRows(int top, int bottom);
    // Row under a point of the viewport; -1 below the last row.
    int RowAt(const QPoint& viewportPoint) const;

    // Called after each paint of the viewport (measurements).
    std::function<void()> onPainted;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;

private:
    bool acceptsDrag(const QDropEvent* event) const;

    TOVGrid* m_owner;
};

class TOVGrid : public QWidget {
    Q_OBJECT
public:
    using TNotifyEvent = Delegate<>;

    explicit TOVGrid(QWidget* parent = nullptr);
    ~TOVGrid() override;

    // Shows a sheet (null: none); the view of the sheet shown before is stored
    // in it.
    void SetSheet(TOVVariableList* sheet);
    TOVVariableList* Sheet() const { return m_model.Sheet(); }
    // Drops the sheet without touching it (it is about to be destroyed).
    void ForgetSheet();

    // Control, Category, Block, Field, Value, Description.
    void SetColumnWidths(const int widths[6]);
    void GetColumnWidths(int widths[6]) const;

    // Accepted for 0..16; hides the editors and redraws the values.
    void SetDecimalPlaces(int places);
    int DecimalPlaces() const { return m_model.DecimalPlaces(); }

    void SetStatusBar(TStatusBar* statusBar) { m_statusBar = statusBar; }
    void SetClipboard(TVariableClipboard* clipboard) { m_clipboard = clipboard; }
    TVariableClipboard* Clipboard() const { return m_clipboard; }
    // Called when the set of rows may have changed (the window updates the
    // main window's edit commands).
    void SetOnCommandState(const TNotifyEvent& handler) { m_onCommandState = handler; }

    // Row commands.
    void Copy();
    void Cut();
    void Paste();
    void DeleteSelected();
    // Invalidates the rows and the header (selection colours follow activation).
    void Refresh();

    // The sheet's row handler (installed by the document).
    void RowChanged(TOVVariableList* sheet, int row);

    // Dragging rows: the source side. BeginRowDrag records the selected rows
    // and installs this grid as the clipboard's filler; the fill copies the
    // rows and, for a move, removes them from the sheet.
    void BeginRowDrag();
    void EndRowDrag();
    // Dropping: the rows of a source grid (null: the Explorer's variables)
    // dropped at row (-1 below the last row).
    void DropAt(int row, TOVStringGrid* source);

    TOVStringGrid* StringGrid() const { return m_grid; }
    TOVHeaderControl* Header() const { return m_header; }
    TOVGridModel* Model() { return &m_model; }
    TOVGridEdit* DescriptionEditor() const { return m_description; }
    // The value editor in front, or null.
    TGridValueEditor* ActiveValueEditor() const { return m_shownEditor; }
    TGridValueEditor* ValueEditor(TGridEditorKind kind) const;

    // Editors: hidden now, placed again on the selected row when the event
    // loop runs.
    void HideEditors();
    void PlaceEditors();
    void SchedulePlaceEditors();

    void LayoutColumns();
    void CommandState();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    void FillClipboard(TVariableClipboard* clipboard);
    void copyRows(int top, int bottom);
    void deleteRows(int top, int count);
    void DescriptionEdited(const QString& text);
    void MoveSelection(int delta);
    void ValuesFlushed(const std::vector<int>& rows);
    void SetStatusText(const QString& text);

    TOVGridModel m_model;
    TOVHeaderControl* m_header = nullptr;
    TOVStringGrid* m_grid = nullptr;
    std::unique_ptr<TGridValueEditor> m_editors[4];
    TOVGridEdit* m_description = nullptr;
    TGridValueEditor* m_shownEditor = nullptr;
    TOVVariable* m_shownVariable = nullptr;
    QPointer<TStatusBar> m_statusBar;
    TVariableClipboard* m_clipboard = nullptr;
    TNotifyEvent m_onCommandState;
    bool m_placeScheduled = false;
    bool m_layingOut = false;
};

} // namespace orvane
