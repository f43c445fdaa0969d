#pragma once

// A dialog service for tests: it answers message boxes and file dialogs from a
// queue that the test fills beforehand, records every dialog it was shown, and
// fails the running test (ADD_FAILURE) on a dialog it was not told to expect,
// on an answer that is not among the box's buttons, and, when it goes away,
// on expected dialogs that never came.
//
// Creating one installs it as the current service; destroying it puts the
// previous one back, so scripted services nest.

#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include <QString>
#include <QStringList>

#include "platform/DialogService.h"

namespace orvane::test {

class ScriptedDialogService : public DialogService {
public:
    struct Message {
        TMsgDlgType type;
        QString text;
        TMsgDlgButtons buttons;
        TModalResult answer;  // what the service answered
        QString caption = {}; // a caller's own caption, else empty
    };
    struct FileDialog {
        bool save;
        FileDialogRequest request;
        std::optional<QString> answer;
    };

    ScriptedDialogService();
    ~ScriptedDialogService() override;
    ScriptedDialogService(const ScriptedDialogService&) = delete;
    ScriptedDialogService& operator=(const ScriptedDialogService&) = delete;

    // The next message box is answered with this button. With expectedText
    // given, the box's text must be exactly that.
    ScriptedDialogService& answerMessage(TModalResult answer, const QString& expectedText = {});
    // The next message box is closed without pressing a button.
    ScriptedDialogService& closeMessage(const QString& expectedText = {});
    // The box scripted last runs the action while it is open, inside a nested
    // event loop as a modal box does (a window closed meanwhile, a server
    // gone, a timer firing).
    ScriptedDialogService& whileShown(std::function<void()> action);
    // The next open (save) dialog returns this path, or is cancelled with
    // std::nullopt.
    ScriptedDialogService& answerOpenFile(std::optional<QString> path);
    ScriptedDialogService& answerSaveFile(std::optional<QString> path);

    const std::vector<Message>& messages() const { return m_messages; }
    QStringList messageTexts() const;
    const std::vector<FileDialog>& fileDialogs() const { return m_fileDialogs; }
    // Expected dialogs not shown yet.
    int pending() const { return static_cast<int>(m_script.size()); }

    TModalResult messageBox(TMsgDlgType type, const QString& text, TMsgDlgButtons buttons) override;
    TModalResult captionedMessageBox(TMsgDlgType type, const QString& caption, const QString& text,
                                     TMsgDlgButtons buttons) override;
    std::optional<QString> openFile(const FileDialogRequest& request) override;
    std::optional<QString> saveFile(const FileDialogRequest& request) override;

private:
    enum class Kind { Message, OpenFile, SaveFile };
    struct Step {
        Kind kind;
        TModalResult answer = mrNone; // mrNone: close the box
        QString expectedText;
        std::optional<QString> path;
        std::function<void()> whileOpen;
    };
    std::optional<QString> fileDialog(const FileDialogRequest& request, bool save);

    DialogService* m_previous;
    std::deque<Step> m_script;
    std::vector<Message> m_messages;
    std::vector<FileDialog> m_fileDialogs;
};

} // namespace orvane::test
