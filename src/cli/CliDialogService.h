#pragma once

// The dialog service of orvane-cli. Nobody sits at a terminal to press a
// button, so every box the libraries show is printed to stderr with its text
// ("Error: Control PLC1 must be in I\O lock before resetting."), and every
// question is answered from the command line:
// - --yes answers Yes (or OK) to every question, and Yes to a
//   "Yes / No / Yes to All" question;
// - --yes-to-all answers "Yes to All" where it is offered, Yes elsewhere;
// - an Ignore / Cancel question (a product mismatch before a download) is
//   answered Ignore only by --ignore-product;
// - without an answering flag the question is refused: the service answers
//   the box's safe button (Cancel, else No) and remembers it, so that the
//   command ends with status 2.
// File dialogs: the open dialog for a network definition file is answered by
// --network FILE; any other file dialog is refused (commands take their files
// as arguments).
//
// Thread: main thread only. The stream is borrowed (stderr in the program, a
// buffer in tests).

#include <cstdio>
#include <optional>

#include <QString>
#include <QStringList>

#include "platform/DialogService.h"

namespace orvane::cli {

struct DialogAnswers {
    bool yes = false;
    bool yesToAll = false;
    bool ignoreProduct = false;
    QString networkFile;
};

class CliDialogService : public DialogService {
public:
    // Messages go to `out` (stderr when null).
    explicit CliDialogService(const DialogAnswers& answers, std::FILE* out = nullptr);

    TModalResult messageBox(TMsgDlgType type, const QString& text, TMsgDlgButtons buttons) override;
    std::optional<QString> openFile(const FileDialogRequest& request) override;
    std::optional<QString> saveFile(const FileDialogRequest& request) override;

    // A question was refused for want of an answering flag.
    bool Unanswered() const { return m_unanswered; }
    // Every message shown, as "<caption>: <text>", in order.
    const QStringList& Shown() const { return m_shown; }
    // Messages whose text starts with prefix.
    int CountStartingWith(const QString& prefix) const;

    // The answer given to a box with these buttons (and whether the flags
    // answered it at all); exposed for tests.
    static TModalResult Answer(const DialogAnswers& answers, TMsgDlgButtons buttons,
                               bool* answered);

private:
    void Print(const QString& line);

    DialogAnswers m_answers;
    std::FILE* m_out;
    bool m_unanswered = false;
    QStringList m_shown;
};

} // namespace orvane::cli
