#include "cli/CliRun.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "cli/CliCommand.h"
#include "cli/CliDialogService.h"
#include "cli/CliSession.h"
#include "ddelink/Synchronizer.h"
#include "platform/Exception.h"

namespace orvane::cli {

void Output::Line(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), m_out);
    std::fputc('\n', m_out);
}

void Output::Json(const QJsonValue& value) {
    QJsonDocument document;
    if (value.isArray()) {
        document.setArray(value.toArray());
    } else {
        document.setObject(value.toObject());
    }
    Raw(document.toJson(QJsonDocument::Indented));
}

void Output::Raw(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), m_out);
    std::fflush(m_out);
}

void Message(const QString& text) {
    if (text.isEmpty()) {
        return;
    }
    const QByteArray bytes = text.toLocal8Bit();
    std::fprintf(stderr, "%s\n", bytes.constData());
    std::fflush(stderr);
}

namespace {

int RunConnected(const Invocation& invocation, CliDialogService& dialogs, Output& out) {
    CliSession session(invocation.serverTimeoutS);
    const QString& name = invocation.command;
    if (name == QLatin1String("controls")) {
        return RunControls(invocation, session, out);
    }
    if (name == QLatin1String("list")) {
        return RunList(invocation, session, out);
    }
    if (name == QLatin1String("read")) {
        return RunRead(invocation, session, out);
    }
    if (name == QLatin1String("write")) {
        return RunWrite(invocation, session, out);
    }
    if (name == QLatin1String("watch")) {
        return RunWatch(invocation, session, out);
    }
    if (name == QLatin1String("settings save")) {
        return RunSettingsSave(invocation, session);
    }
    if (name == QLatin1String("settings load")) {
        return RunSettingsLoad(invocation, session, dialogs);
    }
    if (name == QLatin1String("settings report")) {
        return RunSettingsReport(invocation, session);
    }
    if (name == QLatin1String("settings diff")) {
        return RunSettingsDiff(invocation, session, out);
    }
    if (name == QLatin1String("backup")) {
        return RunBackup(invocation, session, out);
    }
    if (name == QLatin1String("download")) {
        return RunDownload(invocation, session, dialogs);
    }
    if (name == QLatin1String("reset")) {
        return RunReset(invocation, session, dialogs);
    }
    if (name == QLatin1String("lock-io")) {
        return RunLockIo(invocation, session, dialogs);
    }
    if (name == QLatin1String("save-values")) {
        return RunSaveValues(invocation, session, dialogs);
    }
    if (name == QLatin1String("properties")) {
        return RunProperties(invocation, session, out);
    }
    throw CliError(kExitUsage, QStringLiteral("Unknown command \"%1\".").arg(name));
}

} // namespace

int RunInvocation(const Invocation& invocation, CliDialogService& dialogs, Output& out) {
    if (invocation.showVersion) {
        out.Line(QStringLiteral("orvane-cli %1").arg(QCoreApplication::applicationVersion()));
        return kExitOk;
    }
    if (invocation.command.isEmpty() ||
        (invocation.showHelp && invocation.command == QLatin1String("help"))) {
        out.Line(UsageText());
        return kExitOk;
    }
    if (invocation.showHelp) {
        out.Line(CommandHelpText(*FindCommand(invocation.command)));
        return kExitOk;
    }
    if (invocation.command == QLatin1String("help")) {
        if (invocation.arguments.isEmpty()) {
            out.Line(UsageText());
            return kExitOk;
        }
        const CommandInfo* command = FindCommand(invocation.arguments.join(QLatin1Char(' ')));
        if (command == nullptr) {
            Message(QStringLiteral("Unknown command \"%1\"; see --help.")
                        .arg(invocation.arguments.join(QLatin1Char(' '))));
            return kExitUsage;
        }
        out.Line(CommandHelpText(*command));
        return kExitOk;
    }
    if (invocation.command == QLatin1String("completion")) {
        out.Raw(BashCompletion(QStringLiteral("orvane-cli")).toUtf8());
        return kExitOk;
    }

    try {
        const int status = RunConnected(invocation, dialogs, out);
        // A question that no flag answered outweighs what followed it.
        return dialogs.Unanswered() ? kExitUsage : status;
    } catch (const CliError& error) {
        Message(error.message());
        return error.Status();
    } catch (const SynchronizerException& error) {
        Message(QStringLiteral("Error: ") + error.message());
        return kExitUnreachable;
    } catch (const Exception& error) {
        try {
            RaiseIfUnreachable(error);
        } catch (const CliError& unreachable) {
            Message(QStringLiteral("Error: ") + unreachable.message());
            return unreachable.Status();
        }
        Message(QStringLiteral("Error: ") + error.message());
        return dialogs.Unanswered() ? kExitUsage : kExitDifference;
    }
}

} // namespace orvane::cli
