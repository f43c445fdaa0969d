#pragma once

// Everything that asks the user goes through one dialog service: message
// boxes (type, text, a set of buttons; the answer is the button pressed) and
// the open and save file dialogs. The program installs the Qt service; tests
// install a scripted one that answers from a queue (tests/support).
//
// Thread: main thread only. Every call is modal: the event loop runs while the
// dialog is open, so timers and DDE callbacks may run inside the call.
// Ownership: setCurrent borrows the service; whoever installs it removes it
// (DialogServiceScope does both) before the service dies.

#include <optional>

#include <QFlags>
#include <QString>
#include <QStringList>

namespace orvane {

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation };

// The button sets that messages use.
enum TMsgDlgButtons {
    mbOK,
    mbYesNo,
    mbYesNoCancel,
    mbOKCancel,
    mbYesNoYesToAll,
    mbIgnoreCancel,
};

// The button pressed; the values are those of the Windows dialog results.
enum TModalResult {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7,
    mrYesToAll = 10,
};

// The buttons of a set, in the order they are shown.
QList<TModalResult> buttonsOf(TMsgDlgButtons buttons);
// Whether the set holds the button.
bool hasButton(TMsgDlgButtons buttons, TModalResult result);
// The answer when the user closes the box without pressing a button: the
// set's Cancel, else its No, else OK. A box that offers "Yes to All" goes on
// when closed, so closing it answers Yes.
TModalResult closeResultOf(TMsgDlgButtons buttons);
// The window title of a message type ("Error", "Warning", "Information",
// "Confirm").
QString captionOf(TMsgDlgType type);

enum TOpenOption {
    ofOverwritePrompt = 0x1, // save: ask before replacing an existing file
    ofHideReadOnly = 0x2,    // no "open read-only" box (never offered here)
    ofNoChangeDir = 0x4,     // keep the current directory (it never changes here)
    ofPathMustExist = 0x8,   // the chosen file's folder must exist
    ofFileMustExist = 0x10,  // open: the chosen file must exist
};
Q_DECLARE_FLAGS(TOpenOptions, TOpenOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TOpenOptions)

// What a file dialog shows and accepts.
struct FileDialogRequest {
    QString caption;
    // Initial folder; backslashes are taken as folder separators and a relative
    // folder is taken from the program's folder.
    QString initialDir;
    // Initial file name, may be empty.
    QString fileName;
    // Pairs of description and patterns joined by '|', patterns separated by
    // ';': "Inspector file (*.ovi)|*.OVI|All Files (*.*)|*.*".
    QString filter;
    // Added to a typed name that has no extension ("ovi").
    QString defaultExt;
    TOpenOptions options;
};

// The filter text as name filters of a Qt file dialog: one entry per pair,
// the description (without its own parenthesised patterns) followed by the
// patterns in parentheses; "*.*" becomes "*". A malformed text (odd number of
// parts) keeps the pairs it has; an empty text gives no filter.
QStringList qtNameFilters(const QString& filter);

class DialogService {
public:
    virtual ~DialogService();

    // Shows a modal message box; returns the button pressed, or
    // closeResultOf(buttons) when the box was closed.
    virtual TModalResult messageBox(TMsgDlgType type, const QString& text,
                                    TMsgDlgButtons buttons) = 0;
    // The same with a caption of the caller's instead of the type's (a
    // question that names the control it acts on). By default the caption is
    // dropped and messageBox shows the type's.
    virtual TModalResult captionedMessageBox(TMsgDlgType type, const QString& caption,
                                             const QString& text, TMsgDlgButtons buttons);
    // The chosen file's full path, or nothing when the user cancelled.
    virtual std::optional<QString> openFile(const FileDialogRequest& request) = 0;
    virtual std::optional<QString> saveFile(const FileDialogRequest& request) = 0;

    // The service in use: the one installed, else the widget service (see
    // setGuiDefault) when a QApplication exists, else a service that logs each
    // message and answers as if it had been closed.
    static DialogService& current();
    // The service used when none is installed and a QApplication exists (the
    // Qt service makes itself that while it lives); returns the previous one.
    // Kept apart from setCurrent so that the headless server never needs the
    // widget library.
    static DialogService* setGuiDefault(DialogService* service);
    // Installs a service (null returns to the default); returns the previous.
    static DialogService* setCurrent(DialogService* service);
};

// Installs a service for the life of the scope and then restores the one
// that was there before.
class DialogServiceScope {
public:
    explicit DialogServiceScope(DialogService* service)
        : m_previous(DialogService::setCurrent(service)) {}
    ~DialogServiceScope() { DialogService::setCurrent(m_previous); }
    DialogServiceScope(const DialogServiceScope&) = delete;
    DialogServiceScope& operator=(const DialogServiceScope&) = delete;

private:
    DialogService* m_previous;
};

// Shortcuts through the current service.
TModalResult messageDlg(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons);
// The same with its own caption.
TModalResult messageDlg(const QString& caption, const QString& text, TMsgDlgType type,
                        TMsgDlgButtons buttons);
// An error box with an OK button.
void showError(const QString& text);

} // namespace orvane
