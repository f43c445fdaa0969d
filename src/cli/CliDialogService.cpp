#include "cli/CliDialogService.h"

namespace orvane::cli {

CliDialogService::CliDialogService(const DialogAnswers& answers, std::FILE* out)
    : m_answers(answers), m_out(out != nullptr ? out : stderr) {}

TModalResult CliDialogService::Answer(const DialogAnswers& answers, TMsgDlgButtons buttons,
                                      bool* answered) {
    *answered = true;
    switch (buttons) {
    case mbOK:
        return mrOk;
    case mbYesNoYesToAll:
        if (answers.yesToAll) {
            return mrYesToAll;
        }
        if (answers.yes) {
            return mrYes;
        }
        break;
    case mbIgnoreCancel:
        // Going on past a mismatch can leave a control that does not run:
        // only the flag that names it says so.
        if (answers.ignoreProduct) {
            return mrIgnore;
        }
        break;
    case mbOKCancel:
        if (answers.yes || answers.yesToAll) {
            return mrOk;
        }
        break;
    case mbYesNo:
    case mbYesNoCancel:
        if (answers.yes || answers.yesToAll) {
            return mrYes;
        }
        break;
    }
    *answered = false;
    // The safe answer: Cancel where the box has it, else No.
    return hasButton(buttons, mrCancel) ? mrCancel : mrNo;
}

TModalResult CliDialogService::messageBox(TMsgDlgType type, const QString& text,
                                          TMsgDlgButtons buttons) {
    // CR LF inside a message reads better as one line break on a terminal.
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    Print(captionOf(type) + QLatin1String(": ") + shown);
    bool answered = false;
    const TModalResult result = Answer(m_answers, buttons, &answered);
    if (!answered) {
        m_unanswered = true;
        Print(QStringLiteral("(not answered: give --yes%1 to answer it)")
                  .arg(buttons == mbIgnoreCancel ? QStringLiteral(" and --ignore-product")
                                                 : QString()));
    }
    return result;
}

std::optional<QString> CliDialogService::openFile(const FileDialogRequest& request) {
    if (!m_answers.networkFile.isEmpty() && request.filter.contains(QLatin1String("*.net"))) {
        return m_answers.networkFile;
    }
    Print(request.caption + QLatin1String(": no file given") +
          (request.filter.contains(QLatin1String("*.net")) ? QStringLiteral(" (--network FILE)")
                                                           : QString()));
    return std::nullopt;
}

std::optional<QString> CliDialogService::saveFile(const FileDialogRequest& request) {
    Print(request.caption + QLatin1String(": no file given"));
    return std::nullopt;
}

int CliDialogService::CountStartingWith(const QString& prefix) const {
    int count = 0;
    for (const QString& line : m_shown) {
        const qsizetype colon = line.indexOf(QLatin1String(": "));
        if (line.mid(colon + 2).startsWith(prefix)) {
            ++count;
        }
    }
    return count;
}

void CliDialogService::Print(const QString& line) {
    m_shown.append(line);
    const QByteArray bytes = line.toLocal8Bit();
    std::fprintf(m_out, "%s\n", bytes.constData());
    std::fflush(m_out);
}

} // namespace orvane::cli
