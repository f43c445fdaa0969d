#include "platform/DialogService.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>

#include "platform/PlatformLog.h"

namespace orvane {

namespace {

DialogService* g_current = nullptr;

// Used when no service is installed and there is no QApplication to show a
// box (a console tool): the message goes to the log and the box counts as
// closed, the file dialog as cancelled.
class LoggingDialogService final : public DialogService {
public:
    TModalResult messageBox(TMsgDlgType type, const QString& text,
                            TMsgDlgButtons buttons) override {
        qCWarning(lcPlatform).noquote() << captionOf(type) + QStringLiteral(": ") + text;
        return closeResultOf(buttons);
    }
    std::optional<QString> openFile(const FileDialogRequest& request) override {
        qCWarning(lcPlatform).noquote() << "no dialog to open a file:" << request.caption;
        return std::nullopt;
    }
    std::optional<QString> saveFile(const FileDialogRequest& request) override {
        qCWarning(lcPlatform).noquote() << "no dialog to save a file:" << request.caption;
        return std::nullopt;
    }
};

QMessageBox::StandardButton standardButtonOf(TModalResult result) {
    switch (result) {
    case mrOk:
        return QMessageBox::Ok;
    case mrCancel:
        return QMessageBox::Cancel;
    case mrIgnore:
        return QMessageBox::Ignore;
    case mrYes:
        return QMessageBox::Yes;
    case mrNo:
        return QMessageBox::No;
    case mrYesToAll:
        return QMessageBox::YesToAll;
    case mrNone:
        break;
    }
    return QMessageBox::NoButton;
}

QMessageBox::Icon iconOf(TMsgDlgType type) {
    switch (type) {
    case mtWarning:
        return QMessageBox::Warning;
    case mtError:
        return QMessageBox::Critical;
    case mtInformation:
        return QMessageBox::Information;
    case mtConfirmation:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

QString initialFolder(const QString& folder) {
    if (folder.isEmpty()) {
        return QDir::currentPath();
    }
    QString path = folder;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (QDir::isRelativePath(path)) {
        path = QDir(QCoreApplication::applicationDirPath()).filePath(path);
    }
    return QDir::cleanPath(path);
}

} // namespace

QList<TModalResult> buttonsOf(TMsgDlgButtons buttons) {
    switch (buttons) {
    case mbOK:
        return {mrOk};
    case mbYesNo:
        return {mrYes, mrNo};
    case mbYesNoCancel:
        return {mrYes, mrNo, mrCancel};
    case mbOKCancel:
        return {mrOk, mrCancel};
    case mbYesNoYesToAll:
        return {mrYes, mrNo, mrYesToAll};
    case mbIgnoreCancel:
        return {mrIgnore, mrCancel};
    }
    return {mrOk};
}

bool hasButton(TMsgDlgButtons buttons, TModalResult result) {
    return buttonsOf(buttons).contains(result);
}

TModalResult closeResultOf(TMsgDlgButtons buttons) {
    if (buttons == mbYesNoYesToAll) {
        return mrYes;
    }
    if (hasButton(buttons, mrCancel)) {
        return mrCancel;
    }
    if (hasButton(buttons, mrNo)) {
        return mrNo;
    }
    return mrOk;
}

QString captionOf(TMsgDlgType type) {
    switch (type) {
    case mtWarning:
        return QStringLiteral("Warning");
    case mtError:
        return QStringLiteral("Error");
    case mtInformation:
        return QStringLiteral("Information");
    case mtConfirmation:
        return QStringLiteral("Confirm");
    }
    return QString();
}

QStringList qtNameFilters(const QString& filter) {
    static const QRegularExpression ownPatterns(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
    QStringList result;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i].trimmed();
        description.remove(ownPatterns);
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString pattern = p.trimmed();
            if (!pattern.isEmpty()) {
                patterns.append(pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern);
            }
        }
        if (patterns.isEmpty()) {
            patterns.append(QStringLiteral("*"));
        }
        const QString joined = patterns.join(QLatin1Char(' '));
        result.append(description.isEmpty()
                          ? joined
                          : description + QStringLiteral(" (") + joined + QLatin1Char(')'));
    }
    return result;
}

DialogService::~DialogService() {
    if (g_current == this) {
        g_current = nullptr;
    }
}

DialogService& DialogService::current() {
    if (g_current != nullptr) {
        return *g_current;
    }
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
        static QtDialogService qtService;
        return qtService;
    }
    static LoggingDialogService loggingService;
    return loggingService;
}

DialogService* DialogService::setCurrent(DialogService* service) {
    DialogService* previous = g_current;
    g_current = service;
    return previous;
}

TModalResult messageDlg(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons) {
    return DialogService::current().messageBox(type, text, buttons);
}

TModalResult DialogService::captionedMessageBox(TMsgDlgType type, const QString&,
                                                const QString& text, TMsgDlgButtons buttons) {
    return messageBox(type, text, buttons);
}

TModalResult messageDlg(const QString& caption, const QString& text, TMsgDlgType type,
                        TMsgDlgButtons buttons) {
    return DialogService::current().captionedMessageBox(type, caption, text, buttons);
}

void showError(const QString& text) {
    messageDlg(text, mtError, mbOK);
}

TModalResult QtDialogService::messageBox(TMsgDlgType type, const QString& text,
                                         TMsgDlgButtons buttons) {
    return captionedMessageBox(type, captionOf(type), text, buttons);
}

TModalResult QtDialogService::captionedMessageBox(TMsgDlgType type, const QString& caption,
                                                  const QString& text, TMsgDlgButtons buttons) {
    QMessageBox box(iconOf(type), caption, text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    for (TModalResult result : buttonsOf(buttons)) {
        box.addButton(standardButtonOf(result));
    }
    // Escape and the window's close button give the set's close answer.
    box.setEscapeButton(box.button(standardButtonOf(closeResultOf(buttons))));
    box.setDefaultButton(standardButtonOf(buttonsOf(buttons).front()));
    const int pressed = box.exec();
    for (TModalResult result : buttonsOf(buttons)) {
        if (standardButtonOf(result) == pressed) {
            return result;
        }
    }
    return closeResultOf(buttons);
}

std::optional<QString> QtDialogService::openFile(const FileDialogRequest& request) {
    return runFileDialog(request, false);
}

std::optional<QString> QtDialogService::saveFile(const FileDialogRequest& request) {
    return runFileDialog(request, true);
}

std::optional<QString> QtDialogService::runFileDialog(const FileDialogRequest& request, bool save) {
    const QString caption = !request.caption.isEmpty() ? request.caption
                            : save                     ? QStringLiteral("Save As")
                                                       : QStringLiteral("Open");
    QFileDialog dialog(QApplication::activeWindow(), caption, initialFolder(request.initialDir));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    const bool mustExist = !save && request.options.testFlag(ofFileMustExist);
    dialog.setFileMode(mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    if (save && !request.options.testFlag(ofOverwritePrompt)) {
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    }
    // Patterns such as "*.OVI" match names in any letter case, as on Windows.
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    const QStringList filters = qtNameFilters(request.filter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
    }
    dialog.setDefaultSuffix(request.defaultExt);
    if (!request.fileName.isEmpty()) {
        dialog.selectFile(request.fileName);
    }
    for (;;) {
        if (dialog.exec() != QDialog::Accepted) {
            return std::nullopt;
        }
        const QString chosen = dialog.selectedFiles().value(0);
        if (chosen.isEmpty()) {
            return std::nullopt;
        }
        const QFileInfo info(chosen);
        if (request.options.testFlag(ofPathMustExist) && !info.absoluteDir().exists()) {
            QMessageBox::warning(&dialog, caption,
                                 QStringLiteral("The path does not exist:\n%1")
                                     .arg(QDir::toNativeSeparators(info.absolutePath())));
            continue;
        }
        if (mustExist && !info.exists()) {
            QMessageBox::warning(&dialog, caption,
                                 QStringLiteral("File not found:\n%1")
                                     .arg(QDir::toNativeSeparators(info.absoluteFilePath())));
            continue;
        }
        return info.absoluteFilePath();
    }
}

} // namespace orvane
