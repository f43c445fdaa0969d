#pragma once

// The inspector file (*.ovi): Windows-1252 text, every line ended by CR LF.
//
//   Window Settings          optional block of six lines
//   <Top>                    decimal integers, "-" for negatives, no leading zeros
//   <Width>
//   <Left>
//   <Height>
//   <State>                  0 normal, 1 maximized, 2 minimized
//   (empty line)             then for each sheet, in tab order:
//   <sheet name>
//   <device> TAB <full item name> TAB <description>      one line per variable
//
// Nothing follows the last variable line (no trailing empty line). On reading,
// one or more empty lines start a new sheet, the first non-empty line after
// the window settings (or at the start of a file without them) is a sheet
// name, and every other non-empty line is a variable line; LF alone is
// accepted as a line end.
//
// TInspectorFile reads such a file as a stream of records; it shows no
// messages itself (the open operation of InspectorOpen.h does). The writer
// produces the exact bytes and replaces a file only when the new one is
// complete. Main thread only.

#include <memory>

#include <QByteArray>
#include <QString>

class QIODevice;

namespace orvane {

// The window's place as the file stores it (pixels, as the window's own
// Top, Width, Left and Height give them). All -1 when a file has none.
struct TInspectorWindowSettings {
    enum WindowState : int { StateNormal = 0, StateMaximized = 1, StateMinimized = 2 };

    int Top = -1;
    int Width = -1;
    int Left = -1;
    int Height = -1;
    int State = -1;

    friend bool operator==(const TInspectorWindowSettings&,
                           const TInspectorWindowSettings&) = default;
};

// The literal first line of the window settings block.
inline constexpr char kWindowSettingsTag[] = "Window Settings";
// Longest sheet name taken from a file: the reader keeps a sheet-name line in
// a buffer of 1000 characters (999 and the terminator); a longer name is cut
// there and the rest of its line skipped, never read as another record.
inline constexpr int kMaxSheetNameLength = 999;

class TInspectorFile {
public:
    // Record kinds returned by Next.
    enum Record : unsigned char {
        RecordSheet = 0,
        RecordVariable = 1,
        RecordError = 2,
        RecordEnd = 3
    };
    // Reader states.
    enum ReaderState : unsigned char {
        StateBeforeFirstRecord = 0,
        StateSheetNameExpected = 1,
        StateInSheet = 2
    };

    TInspectorFile();
    ~TInspectorFile();
    TInspectorFile(const TInspectorFile&) = delete;
    TInspectorFile& operator=(const TInspectorFile&) = delete;

    // Opens the file at path for reading; State 0. False when it cannot be
    // opened (the caller shows "Error opening file.  File could not be found").
    bool Open(const QString& path);
    // Reads from a device the caller owns and keeps alive (tests, fuzzing).
    // The device must be open for reading and seekable.
    void OpenDevice(QIODevice* device);

    // Reads line 1; if it is exactly "Window Settings", reads the next five
    // lines into Top, Width, Left, Height and State. Otherwise sets all five
    // to -1 and goes back to the start of the file.
    // Throws orvane::Exception with the conversion error ("'x' is not a valid
    // integer value") when one of the five lines is not a decimal 32-bit
    // integer or is missing.
    void ReadWindowSettings(TInspectorWindowSettings& settings);

    // The next record. After RecordSheet SheetName holds the name; after
    // RecordVariable DeviceName, ItemName and Description hold the fields.
    // RecordError: a variable line with an empty device or item name (a
    // missing TAB counts as an empty field); ErrorText() then holds the
    // system's message and ErrorLine() the line number.
    Record Next();

    ReaderState State() const { return m_state; }
    const QString& SheetName() const { return m_sheetName; }
    const QString& DeviceName() const { return m_deviceName; }
    const QString& ItemName() const { return m_itemName; }
    const QString& Description() const { return m_description; }
    // 1-based number of the line read last (0 before the first).
    int LineNumber() const { return m_lineNumber; }

    // The system's message for a malformed variable line.
    static QString FormatErrorText();
    // The platform's integer conversion error for a text.
    static QString ConversionErrorText(const QString& text);

private:
    bool atEnd() const;
    QString readLine();

    std::unique_ptr<QIODevice> m_ownedDevice;
    QIODevice* m_device = nullptr;
    ReaderState m_state = StateBeforeFirstRecord;
    QString m_sheetName;
    QString m_deviceName;
    QString m_itemName;
    QString m_description;
    int m_lineNumber = 0;
};

// Builds the bytes of an inspector file record by record and writes them
// safely: the old file stays untouched until the new one is complete.
class TInspectorFileWriter {
public:
    explicit TInspectorFileWriter(const TInspectorWindowSettings& settings);

    void AddSheet(const QString& name);
    void AddVariable(const QString& deviceName, const QString& itemName,
                     const QString& description);

    const QByteArray& Bytes() const { return m_bytes; }

    // Writes the bytes to path through a temporary file that replaces the old
    // file only when it is complete. False when the file cannot be created or
    // written (the old file, if any, is then unchanged).
    bool SaveTo(const QString& path) const;

    // Test hook: the next SaveTo stops after writing half of the bytes, as a
    // full disk would, and fails.
    static void FailNextWriteForTesting();

private:
    void addLine(const QString& line);

    QByteArray m_bytes;
};

} // namespace orvane
