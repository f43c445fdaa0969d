#include "platform/QtDialogService.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace orvane {

namespace {

// The service is no QObject: its texts are translated in its own context.
QString tr(const char* text) {
    return QCoreApplication::translate("orvane::QtDialogService", text);
}

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

QtDialogService::QtDialogService() {
    m_previousGuiDefault = DialogService::setGuiDefault(this);
}

QtDialogService::~QtDialogService() {
    DialogService::setGuiDefault(m_previousGuiDefault);
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
                            : save                     ? tr("Save As")
                                                       : tr("Open");
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
                                 tr("The path does not exist:\n%1")
                                     .arg(QDir::toNativeSeparators(info.absolutePath())));
            continue;
        }
        if (mustExist && !info.exists()) {
            QMessageBox::warning(
                &dialog, caption,
                tr("File not found:\n%1").arg(QDir::toNativeSeparators(info.absoluteFilePath())));
            continue;
        }
        return info.absoluteFilePath();
    }
}

} // namespace orvane
