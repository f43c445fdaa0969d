#pragma once

// TInspectorDoc: the document of one inspector window: its ordered sheets
// (owned), which of them is shown (the only one whose variables hold advise
// links), its file name and whether it has unsaved changes. It writes itself,
// with the window's place, to an inspector file (*.ovi, see InspectorFile.h).
//
// Modified is set by adding, removing, renaming and moving sheets and by
// pasting; the sheets' own Modified flags record deletions and description
// edits; IsModified combines both. Writing the file clears them all.
//
// Messages and file dialogs go through the current DialogService. Saving never
// damages the previous file: the new file replaces it only once complete.
//
// Thread: main thread only. Selecting a sheet starts advise links; pasting may
// fetch attributes synchronously (the event loop runs).

#include <memory>
#include <vector>

#include <QString>

#include "inspector/InspectorFile.h"
#include "inspector/OVVariable.h"

namespace orvane {

class TKIDevice;
class TVariableClipboard;

class TInspectorDoc {
public:
    // No sheets, empty file name, not modified.
    TInspectorDoc();
    // Destroys every sheet (each unadvises and destroys its variables).
    ~TInspectorDoc();

    TInspectorDoc(const TInspectorDoc&) = delete;
    TInspectorDoc& operator=(const TInspectorDoc&) = delete;

    int SheetCount() const { return static_cast<int>(m_sheets.size()); }
    // The sheet at index, or null outside 0..SheetCount-1.
    TOVVariableList* Sheet(int index) const;
    int IndexOfSheet(const TOVVariableList* sheet) const;
    TOVVariableList* CurrentSheet() const { return m_currentSheet; }
    const QString& FileName() const { return m_fileName; }

    // A new sheet named name whose row changes go to rowRefresh (the grid) and
    // whose structural changes set Modified; appended and selected; Modified.
    TOVVariableList* AddSheet(const QString& name, const TOVVariableChangedEvent& rowRefresh);
    // Selects the neighbour (index-1, or sheet 1 when index is 0), then removes
    // and destroys the sheet at index; Modified. Returns CurrentSheet. The
    // only sheet is never removed (the window clears it instead): such a call,
    // or an index outside the sheets, is logged and ignored. When the DDE
    // library refuses a link of the neighbour, the sheet is removed all the
    // same (the neighbour current and advised) and the refusal
    // (TKIItemException) is raised afterwards.
    TOVVariableList* RemoveSheet(int index);
    // Unadvises the current sheet, makes Sheets[index] current and advises it;
    // Modified unchanged. Raises TKIItemException when the DDE library refuses
    // a link (the sheet is current and advised nevertheless).
    TOVVariableList* SelectSheet(int index);

    QString SheetName() const;
    void SetSheetName(const QString& name);

    // Moves the sheet at from before the sheet that was at to (to outside the
    // sheets: to the end); Modified. Returns the moved sheet, which is then at
    // to when from > to and at to-1 when from < to.
    TOVVariableList* MoveSheet(int from, int to);

    // Pastes the clipboard into CurrentSheet (sheetIndex -1) or Sheets[sheetIndex]
    // at row (-1 appends); Modified.
    void PasteToSheet(int sheetIndex, int row, const TVariableClipboard& clipboard);

    // CurrentSheet.Add: used while reading a file, before any sheet is advised.
    TOVVariable* AddVariable(const QString& itemName, const QString& description,
                             TKIDevice* device);

    bool IsModified() const;
    bool Modified() const { return m_modified; }
    void SetModified(bool modified) { m_modified = modified; }
    // FileName = path; Modified false.
    void SetFileName(const QString& path);

    // Asks for a name first when the document has none. Returns FileName once
    // the file is written; empty when the user cancelled the dialog or the
    // file could not be written (then "Error opening file.  File could not be
    // found" was shown and nothing changed on disk nor in Modified).
    QString Save(int top, int width, int left, int height, int stateCode);
    // Always asks; writes only when the user chose a name. Result as Save; a
    // write that fails keeps the previous FileName.
    QString SaveAs(int top, int width, int left, int height, int stateCode);
    // The save dialog for inspector files; on OK with a name, FileName becomes
    // that name and the result is true.
    bool PromptFileName();

    // The file contents for the given window place (what Save writes).
    QByteArray FileBytes(const TInspectorWindowSettings& settings) const;

    static QString FileErrorText();

private:
    void fill(TInspectorFileWriter& writer) const;
    bool write(const TInspectorWindowSettings& settings);
    // Why the document cannot be saved so that it reads back the same (a
    // sheet name that is empty, holds a TAB or line break, is too long or has
    // characters outside the code page; a description with such characters),
    // or an empty text.
    QString UnsavableText() const;
    void SheetModified();

    bool m_modified = false;
    TOVVariableList* m_currentSheet = nullptr;
    std::vector<std::unique_ptr<TOVVariableList>> m_sheets;
    QString m_fileName;
};

} // namespace orvane
