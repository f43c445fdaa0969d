#include "platform/DialogService.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include "platform/PlatformLog.h"

namespace orvane {

namespace {

DialogService* g_current = nullptr;
// The service of the widget library, when the program has one.
DialogService* g_guiDefault = nullptr;

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
    // Shown as the title of every message box.
    switch (type) {
    case mtWarning:
        return QCoreApplication::translate("orvane::DialogService", "Warning");
    case mtError:
        return QCoreApplication::translate("orvane::DialogService", "Error");
    case mtInformation:
        return QCoreApplication::translate("orvane::DialogService", "Information");
    case mtConfirmation:
        return QCoreApplication::translate("orvane::DialogService", "Confirm");
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
    if (g_guiDefault == this) {
        g_guiDefault = nullptr;
    }
}

DialogService& DialogService::current() {
    if (g_current != nullptr) {
        return *g_current;
    }
    if (g_guiDefault != nullptr && QCoreApplication::instance() != nullptr &&
        QCoreApplication::instance()->inherits("QApplication")) {
        return *g_guiDefault;
    }
    static LoggingDialogService loggingService;
    return loggingService;
}

DialogService* DialogService::setGuiDefault(DialogService* service) {
    DialogService* previous = g_guiDefault;
    g_guiDefault = service;
    return previous;
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

} // namespace orvane
