#pragma once

// TKIDuxlaneConfig: the settings engine. It saves a control's settings (the
// values of its mutable items) into a settings file, loads such a file back
// into a control, and writes the settings report. One engine serves one
// command: the caller creates it, sets Device, binds StatusPanel to a status
// bar, runs one operation and frees it.
//
// - SaveToFile writes one line per name of the control's mutable item list:
//   the item's name, TAB, its value exactly as the server gave it. A line
//   that would not read back the same (SettingsLineProblem) raises "<item>
//   cannot be saved to the settings file: <why>." and leaves the earlier
//   file as it was.
// - LoadFromFile parses the whole file first (a syntax or file error is shown
//   as "Configuration Error: ..." and raised; the control is untouched), then
//   locks the control's I/O (Shutdown), writes every line's value with a
//   synchronous poke, asking "Continue loading?" (Yes, No, Yes to All) when an
//   item does not exist or refuses its value, and has the control save its
//   values (SaveValues). The control is left in I/O lock; the caller offers
//   the reset. A real value written with the foreign decimal separator has
//   its first one replaced by the local separator.
// - CreateReport writes the same lines with real values formatted with the
//   chosen decimal places (SettingsFile.h).
//
// Files are written through a temporary file that replaces the old one only
// once complete: a failure leaves the earlier file as it was.
//
// Status texts go to StatusPanel while an operation runs and the panel's
// earlier text is shown again afterwards, also on failure; the progress
// window (TKConfigProgress) lives exactly as long as the operation.
//
// Ownership: StatusPanel is owned; Device is borrowed and forgotten when it is
// destroyed (free notification).
// Thread: main thread only. Every item read, poke and control command waits
// with the event loop running, so timers and user commands may run inside the
// operations; the progress window and status bar repaint meanwhile.
// Errors: all raised as exceptions carrying the user's message text: file
// errors ("Cannot open file ...", "Cannot create file ...", "Cannot write
// file ..."), syntax errors, the control's command failures, item failures
// while saving or reporting, and the item failure at which the user answered
// No while loading.

#include <memory>

#include <QChar>
#include <QString>

#include "platform/Component.h"

namespace orvane {

class TKConfigProgress;
class TKIDuxlaneControl;
class TKIItem;
class TKIStatusPanel;
struct TSettingsLines;

// The pause after each item of a load, so that the control keeps up.
constexpr int kItemPauseMs = 1;

class TKIDuxlaneConfig : public TComponent {
public:
    // Fixes the decimal separators from the system's number format; raises
    // "Internal error: unrecognized DecimalSeparator" when it is neither a
    // point nor a comma.
    explicit TKIDuxlaneConfig(TComponent* owner = nullptr);
    ~TKIDuxlaneConfig() override;

    const QString& FileName() const { return m_fileName; }
    void SetFileName(const QString& fileName) { m_fileName = fileName; }

    TKIDuxlaneControl* Device() const { return m_device; }
    // Borrowed; the engine registers for its destruction notice.
    void SetDevice(TKIDuxlaneControl* device);

    // Owned; the caller binds it to a status bar (the Explorer's panel 0).
    TKIStatusPanel* StatusPanel() const { return m_statusPanel.get(); }

    // "," and "." (or "." and ",") as fixed at creation.
    QChar LocalSeparator() const { return m_localSeparator; }
    QChar ForeignSeparator() const { return m_foreignSeparator; }

    // Writes the settings file of Device (an empty file without Device).
    void SaveToFile(const QString& fileName);
    // Reads the file and, with Device set, loads it into the control.
    void LoadFromFile(const QString& fileName);
    // Writes the settings report of Device; real values get decimalPlaces
    // decimals (0 to kMaxReportDecimals).
    void CreateReport(const QString& fileName, int decimalPlaces);

    // The part of FileName after its last folder separator ("\" or "/").
    QString FileTitle() const;

    void Notification(TComponent* component, TOperation operation) override;

    // The progress window of the running operation, or null (for tests).
    TKConfigProgress* Progress() const { return m_progress; }

    // Test hook: the pause after each loaded item (kItemPauseMs).
    static void SetItemPauseMsForTesting(int ms);
    static int ItemPauseMs();

private:
    class StatusScope;
    class ProgressScope;

    void SetStatus(const QString& text);
    void RestoreStatus();
    void Parse(TSettingsLines& lines);
    // Pokes one value; raises the item's failure or an invalid value.
    void WriteValue(TKIItem* item, const QString& value);
    // The line of one item in a settings file (report: real values formatted).
    QString ItemLine(TKIItem* item, bool report, int decimalPlaces);
    void WriteItems(const QString& fileName, const QString& status, const QString& caption,
                    bool report, int decimalPlaces);
    void CheckDevice() const;

    QString m_fileName;
    TKIDuxlaneControl* m_device = nullptr;
    std::unique_ptr<TKIStatusPanel> m_statusPanel;
    QString m_savedStatus;
    QChar m_localSeparator;
    QChar m_foreignSeparator;
    TKConfigProgress* m_progress = nullptr; // owned by the running operation
};

} // namespace orvane
