#pragma once

// An Inspector window: one inspector document shown as a tab bar with one tab
// per sheet, the inspector grid with the shown sheet, and a status bar whose
// panel 0 shows the limits of the selected value. The engineer adds, removes,
// renames and reorders sheets, moves variables between sheets and inspectors
// by drag and drop or through the variable clipboard, tunes values in the
// grid, and saves the inspector to an inspector file.
//
// Closing asks "Do you want to save the changes to <caption>" (Yes/No) when
// the document changed; a resize counts as a change, since the window's
// place is saved with the inspector.
//
// Ownership: owned by the main window (Qt parent); owns its document, grid
// and status bar. The clipboard is borrowed from the main window and must
// outlive the window. Thread: main thread only.

#include <functional>
#include <memory>

#include <QDialog>
#include <QTabBar>

#include "inspector/InspectorDoc.h"
#include "inspector/InspectorOpen.h"
#include "windows/OrvaneMDIForm.h"

class QLineEdit;
class QMenu;
class QPushButton;
class QAction;

namespace orvane {

class TOVGrid;
class TOVStringGrid;
class TStatusBar;
class TVariableClipboard;
class TInspectorForm;

constexpr int kTabBarHeight = 25;
constexpr int kStatusPanelWidth = 200;

// The MIME type of a tab dragged within an inspector's tab bar.
extern const char* const kSheetTabMimeType;

// The small modal dialog that asks for a sheet name; OK only with a name.
class TSheetNameEditor : public QDialog {
    Q_OBJECT
public:
    explicit TSheetNameEditor(QWidget* parent = nullptr);

    QLineEdit* NameEditor() const { return m_name; }
    QPushButton* OkButton() const { return m_ok; }

private:
    QLineEdit* m_name;
    QPushButton* m_ok;
};

// The tab bar: drags its tabs and accepts rows, tabs and variables dropped on
// it.
class TInspectorTabBar : public QTabBar {
    Q_OBJECT
public:
    explicit TInspectorTabBar(TInspectorForm* form);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool accepts(const QDropEvent* event) const;

    TInspectorForm* m_form;
    QPoint m_pressPos;
    bool m_pressed = false;
};

class TInspectorForm : public TOrvaneMDIForm, public TInspectorOpenTarget {
    Q_OBJECT
public:
    // The variable clipboard is the main window's (may be null in tests:
    // the row commands then do nothing).
    TInspectorForm(QWidget* owner, TActivatedEvent onActivated, TVariableClipboard* clipboard);
    ~TInspectorForm() override;

    void AddSheet() override;
    void AddNamedSheet(const QString& name);
    void RemoveSheet();
    // Asks for a new name of the current sheet (TSheetNameEditor).
    void RenameSheet();
    void RenameCurrentSheet(const QString& name) override;
    void SelectSheet(int index);
    void PasteToSheet(int sheetIndex, int row);

    // The caption becomes the file name when one results; false when nothing
    // was written.
    bool Save();
    bool SaveAs();
    // Opens an inspector file into this (new) window; false on failure (the
    // caller discards the window).
    bool Open(const QString& path, const TControlFinder& findControl);

    void Cut() override;
    void Copy() override;
    void Paste() override;
    int EditState() override;
    void Activated() override;

    void ApplyPrecision();
    void SetModified(bool modified);

    // Dropping on the tab bar: rows of a grid (source non-null), a tab of
    // this window (tab true), or the Explorer's variables; T is the tab under
    // the drop point, -1 for none.
    void DropOnTab(int tab, TOVStringGrid* rowsSource, bool tabSource);
    void MoveCurrentTab(int target);

    TInspectorDoc& Document() override { return m_doc; }
    TOVGrid* Grid() const { return m_grid; }
    TInspectorTabBar* TabControl() const { return m_tabs; }
    TStatusBar* StatusBar() const { return m_statusBar; }
    QMenu* InspectorPopup() const { return m_inspectorPopup; }
    QMenu* TabPopup() const { return m_tabPopup; }
    TVariableClipboard* Clipboard() const { return m_clipboard; }
    const TInspectorWindowSettings& WindowSettings() const { return m_windowSettings; }
    bool IsClosing() const { return m_closing; }
    // Sets the window's caption and name ("Inspector" + number).
    void SetInspectorName(const QString& name);

    // Open target.
    void HideSheets() override;
    void ApplyWindowSettings(const TInspectorWindowSettings& settings) override;
    void ShowFirstSheet() override;
    void SetCaption(const QString& caption) override;

    // Records the window's place (Top, Width, Left, Height).
    void RecordGeometry();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void TabControl1Change(int index);
    void GridCommandState();
    void SendEditFlags();
    int StateCode() const;
    bool SheetHasRows() const;
    void showTabName(int index, const QString& name);
    void runSafely(const std::function<void()>& action);

    TInspectorDoc m_doc;
    int m_sheetCounter = 0;
    TOVGrid* m_grid = nullptr;
    TStatusBar* m_statusBar = nullptr;
    TInspectorTabBar* m_tabs = nullptr;
    QWidget* m_panel = nullptr;
    QMenu* m_inspectorPopup = nullptr;
    QMenu* m_tabPopup = nullptr;
    QAction* m_cut = nullptr;
    QAction* m_copy = nullptr;
    QAction* m_paste = nullptr;
    QAction* m_delete = nullptr;
    QAction* m_trend = nullptr;
    QAction* m_tabPaste = nullptr;
    TVariableClipboard* m_clipboard;
    TInspectorWindowSettings m_windowSettings;
    bool m_closing = false;
    bool m_created = false;
};

} // namespace orvane
