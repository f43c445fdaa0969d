#include "inspector/InspectorDoc.h"

#include <exception>

#include "inspector/InspectorLog.h"
#include "model/KIDevice.h"
#include "platform/DialogService.h"
#include "platform/SoftAssert.h"
#include "platform/TextCodec.h"

namespace orvane {

namespace {

const QString kInspectorFilter = QStringLiteral("Inspector file (*.ovi)|*.OVI|All Files (*.*)|*.*");
const QString kInspectorExtension = QStringLiteral("ovi");

} // namespace

TInspectorDoc::TInspectorDoc() = default;

TInspectorDoc::~TInspectorDoc() {
    m_currentSheet = nullptr;
    m_sheets.clear();
}

QString TInspectorDoc::FileErrorText() {
    return QStringLiteral("Error opening file.  File could not be found");
}

TOVVariableList* TInspectorDoc::Sheet(int index) const {
    if (index < 0 || index >= SheetCount()) {
        return nullptr;
    }
    return m_sheets[static_cast<std::size_t>(index)].get();
}

int TInspectorDoc::IndexOfSheet(const TOVVariableList* sheet) const {
    for (int i = 0; i < SheetCount(); ++i) {
        if (m_sheets[static_cast<std::size_t>(i)].get() == sheet) {
            return i;
        }
    }
    return -1;
}

TOVVariableList* TInspectorDoc::AddSheet(const QString& name,
                                         const TOVVariableChangedEvent& rowRefresh) {
    m_sheets.push_back(std::make_unique<TOVVariableList>(
        name, rowRefresh, TOVModifiedEvent(this, &TInspectorDoc::SheetModified)));
    TOVVariableList* const sheet = m_sheets.back().get();
    m_modified = true;
    SelectSheet(SheetCount() - 1);
    return sheet;
}

TOVVariableList* TInspectorDoc::RemoveSheet(int index) {
    // The window never removes the only sheet.
    ORVANE_ASSERT(index >= 0 && index < SheetCount() && SheetCount() >= 2, return m_currentSheet);
    // The neighbour is shown first, so the sheet leaves unadvised. A link of
    // the neighbour that is refused must not keep the sheet: the window drops
    // its tab whatever happens, and the sheet's links are stopped either way.
    std::exception_ptr refused;
    try {
        SelectSheet(index > 0 ? index - 1 : 1);
    } catch (const Exception&) {
        refused = std::current_exception();
    }
    m_sheets.erase(m_sheets.begin() + index);
    m_modified = true;
    if (refused) {
        std::rethrow_exception(refused);
    }
    return m_currentSheet;
}

TOVVariableList* TInspectorDoc::SelectSheet(int index) {
    TOVVariableList* const sheet = Sheet(index);
    ORVANE_ASSERT(sheet != nullptr, return m_currentSheet);
    if (m_currentSheet != nullptr) {
        m_currentSheet->UnadviseAll();
    }
    m_currentSheet = sheet;
    sheet->AdviseAll();
    return sheet;
}

QString TInspectorDoc::SheetName() const {
    return m_currentSheet != nullptr ? m_currentSheet->Name() : QString();
}

void TInspectorDoc::SetSheetName(const QString& name) {
    if (m_currentSheet == nullptr) {
        return;
    }
    m_currentSheet->SetName(name);
    m_modified = true;
}

TOVVariableList* TInspectorDoc::MoveSheet(int from, int to) {
    ORVANE_ASSERT(from >= 0 && from < SheetCount(), return nullptr);
    TOVVariableList* const before = Sheet(to);
    std::unique_ptr<TOVVariableList> moved = std::move(m_sheets[std::size_t(from)]);
    m_sheets.erase(m_sheets.begin() + from);
    // Inserted before the sheet that was at to, or at the end when there is
    // none; a sheet moved onto itself stays where it was.
    int position = SheetCount();
    if (before == moved.get()) {
        position = from;
    } else if (before != nullptr) {
        position = IndexOfSheet(before);
    }
    TOVVariableList* const sheet = moved.get();
    m_sheets.insert(m_sheets.begin() + position, std::move(moved));
    m_modified = true;
    return sheet;
}

void TInspectorDoc::PasteToSheet(int sheetIndex, int row, const TVariableClipboard& clipboard) {
    TOVVariableList* const sheet = sheetIndex == -1 ? m_currentSheet : Sheet(sheetIndex);
    ORVANE_ASSERT(sheet != nullptr, return );
    m_modified = true;
    sheet->PasteAt(row, clipboard);
}

TOVVariable* TInspectorDoc::AddVariable(const QString& itemName, const QString& description,
                                        TKIDevice* device) {
    ORVANE_ASSERT(m_currentSheet != nullptr, return nullptr);
    return m_currentSheet->Add(itemName, description, device);
}

bool TInspectorDoc::IsModified() const {
    if (m_modified) {
        return true;
    }
    for (const auto& sheet : m_sheets) {
        if (sheet->Modified()) {
            return true;
        }
    }
    return false;
}

void TInspectorDoc::SetFileName(const QString& path) {
    m_fileName = path;
    m_modified = false;
}

void TInspectorDoc::SheetModified() {
    m_modified = true;
}

QString TInspectorDoc::Save(int top, int width, int left, int height, int stateCode) {
    if (m_fileName.isEmpty()) {
        return SaveAs(top, width, left, height, stateCode);
    }
    return write({top, width, left, height, stateCode}) ? m_fileName : QString();
}

QString TInspectorDoc::SaveAs(int top, int width, int left, int height, int stateCode) {
    const QString previous = m_fileName;
    if (!PromptFileName()) {
        return QString();
    }
    if (!write({top, width, left, height, stateCode})) {
        // The document is not in the chosen file: a later Save must not aim
        // at a path that has just failed as if it held the document.
        m_fileName = previous;
        return QString();
    }
    return m_fileName;
}

bool TInspectorDoc::PromptFileName() {
    FileDialogRequest request;
    request.fileName = m_fileName;
    request.filter = kInspectorFilter;
    request.defaultExt = kInspectorExtension;
    request.options = TOpenOptions(ofOverwritePrompt) | ofHideReadOnly;
    const std::optional<QString> chosen = DialogService::current().saveFile(request);
    if (!chosen || chosen->isEmpty()) {
        return false;
    }
    m_fileName = *chosen;
    return true;
}

void TInspectorDoc::fill(TInspectorFileWriter& writer) const {
    for (const auto& sheet : m_sheets) {
        writer.AddSheet(sheet->Name());
        for (int row = 0; row < sheet->Count(); ++row) {
            const TOVVariable* const variable = sheet->Get(row);
            writer.AddVariable(variable->DeviceName(), variable->ItemName(),
                               variable->Description());
        }
    }
}

QByteArray TInspectorDoc::FileBytes(const TInspectorWindowSettings& settings) const {
    TInspectorFileWriter writer(settings);
    fill(writer);
    return writer.Bytes();
}

QString TInspectorDoc::UnsavableText() const {
    const auto keeps = [](const QString& text) {
        return fromWindows1252(toWindows1252(text)) == text;
    };
    for (const auto& sheet : m_sheets) {
        const QString& name = sheet->Name();
        // A sheet name is read back as the line after an empty one, up to its
        // first TAB: an empty one would give its variables to the sheet before.
        if (name.isEmpty() || name.contains(QLatin1Char('\t')) ||
            name.contains(QLatin1Char('\r')) || name.contains(QLatin1Char('\n')) ||
            name.size() > kMaxSheetNameLength || !keeps(name)) {
            return QStringLiteral("The sheet name \"%1\" cannot be saved in an inspector file: "
                                  "give the sheet a name of one line, without TAB, of at most "
                                  "%2 characters of the system code page.")
                .arg(name)
                .arg(kMaxSheetNameLength);
        }
        for (int row = 0; row < sheet->Count(); ++row) {
            const TOVVariable* const variable = sheet->Get(row);
            if (!keeps(variable->Description())) {
                return QStringLiteral("The description of %1 on sheet \"%2\" holds characters "
                                      "that cannot be saved in an inspector file.")
                    .arg(variable->ItemName(), name);
            }
        }
    }
    return QString();
}

bool TInspectorDoc::write(const TInspectorWindowSettings& settings) {
    // Refused before anything is written: the file must read back the same.
    const QString unsavable = UnsavableText();
    if (!unsavable.isEmpty()) {
        showError(unsavable);
        return false;
    }
    TInspectorFileWriter writer(settings);
    fill(writer);
    if (!writer.SaveTo(m_fileName)) {
        showError(FileErrorText());
        return false;
    }
    // The flags are cleared only once the whole file is in place.
    for (const auto& sheet : m_sheets) {
        sheet->SetModified(false);
    }
    m_modified = false;
    qCInfo(lcInspector) << "inspector written to" << m_fileName;
    return true;
}

} // namespace orvane
