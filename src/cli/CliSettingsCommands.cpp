// The settings commands: save, load, report and diff of one control, and the
// backup of every control. They run the program's settings engine, so the
// files are the program's files.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

#include "cli/CliCommand.h"
#include "cli/CliDialogService.h"
#include "cli/CliRun.h"
#include "cli/CliSession.h"
#include "cli/CliText.h"
#include "ddelink/Synchronizer.h"
#include "model/KIDuxlaneControl.h"
#include "model/KIDuxlaneItem.h"
#include "model/KIItem.h"
#include "model/OVServer.h"
#include "platform/DialogService.h"
#include "settings/KIDuxlaneConfig.h"
#include "settings/SettingsFile.h"

namespace orvane::cli {

namespace {

// Runs one engine operation; a failure that is not one of reaching the
// control ends the command with status 1 and the engine's message.
template <typename F>
void RunEngine(F&& operation) {
    try {
        operation();
    } catch (const CliError&) {
        throw;
    } catch (const Exception& error) {
        RaiseIfUnreachable(error);
        throw CliError(kExitDifference, QStringLiteral("Error: ") + error.message());
    }
}

// A file to be written needs its folder: a missing one is a wrong argument,
// told before the control is asked for anything.
void CheckFolderOf(const QString& fileName) {
    const QFileInfo info(fileName);
    if (!info.absoluteDir().exists()) {
        throw CliError(kExitUsage, QStringLiteral("Error: Cannot create file \"%1\". The folder "
                                                  "does not exist.")
                                       .arg(fileName));
    }
}

bool IsIn(const QStringList& list, const QString& name) {
    for (const QString& entry : list) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

int RunSettingsSave(const Invocation& invocation, CliSession& session) {
    CheckFolderOf(invocation.arguments[1]);
    TKIDuxlaneControl* control = session.Control(invocation.arguments[0]);
    TKIDuxlaneConfig engine;
    engine.SetDevice(control);
    RunEngine([&] { engine.SaveToFile(invocation.arguments[1]); });
    return kExitOk;
}

int RunSettingsReport(const Invocation& invocation, CliSession& session) {
    CheckFolderOf(invocation.arguments[1]);
    TKIDuxlaneControl* control = session.Control(invocation.arguments[0]);
    TKIDuxlaneConfig engine;
    engine.SetDevice(control);
    RunEngine([&] { engine.CreateReport(invocation.arguments[1], invocation.decimals); });
    return kExitOk;
}

int RunSettingsLoad(const Invocation& invocation, CliSession& session, CliDialogService& dialogs) {
    const QString file = invocation.arguments[1];
    // The file is read once without a control first, so that a bad file is
    // reported before anything is asked or sent.
    try {
        TKIDuxlaneConfig check;
        check.LoadFromFile(file);
    } catch (const Exception&) {
        return kExitUsage; // the engine has shown "Configuration Error: ..."
    }
    TKIDuxlaneControl* control = session.Control(invocation.arguments[0]);
    const QString name = control->Identifier();
    if (messageDlg(QStringLiteral("Loading the application settings from a file will cause "
                                  "control ") +
                       name + QStringLiteral(" to lock I\\O.  Are you sure you want to proceed?"),
                   mtConfirmation, mbYesNo) != mrYes) {
        return kExitUsage;
    }
    const QString skipped = QStringLiteral("Configuration Error: ");
    const int before = dialogs.CountStartingWith(skipped);
    {
        TKIDuxlaneConfig engine;
        engine.SetDevice(control);
        RunEngine([&] { engine.LoadFromFile(file); });
    }
    // Items the control refused were passed over at the question: the load
    // is not what the file holds.
    const int status = dialogs.CountStartingWith(skipped) > before ? kExitDifference : kExitOk;
    if (invocation.reset) {
        const int resetStatus = ResetControl(session, control, false);
        return resetStatus != kExitOk ? resetStatus : status;
    }
    Message(QStringLiteral("Load of the application settings to the control is finished. "
                           "Control %1 stays in I\\O lock until it is reset "
                           "(orvane-cli reset %1).")
                .arg(name));
    return status;
}

int RunSettingsDiff(const Invocation& invocation, CliSession& session, Output& out) {
    const QString fileName = invocation.arguments[1];
    TSettingsLines lines;
    {
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly)) {
            throw CliError(kExitUsage, QStringLiteral("Error: Cannot open file \"%1\". %2")
                                           .arg(fileName, file.errorString()));
        }
        try {
            ParseSettings(file, fileName, lines);
        } catch (const Exception& error) {
            throw CliError(kExitUsage, QStringLiteral("Error: ") + error.message());
        }
    }
    TKIDuxlaneControl* control = session.Control(invocation.arguments[0]);
    const QStringList mutableItems = control->GetMutableItemList();

    QJsonArray differ;
    QJsonArray onlyInFile;
    QJsonArray onlyInControl;
    TextTable table({QStringLiteral("DIFFERENCE"), QStringLiteral("ITEM"), QStringLiteral("FILE"),
                     QStringLiteral("CONTROL")});
    QStringList seen;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString& name = lines.names[i];
        const QString& fileValue = lines.values[i];
        seen.append(name);
        if (!IsIn(mutableItems, name)) {
            onlyInFile.append(
                QJsonObject{{QStringLiteral("item"), name}, {QStringLiteral("file"), fileValue}});
            table.AddRow({QStringLiteral("only in file"), name, fileValue, QString()});
            continue;
        }
        TKIItem* item = control->AcquireItem(name);
        const QString itemName = item->Name();
        QString controlValue;
        ItemDataType type = vdtString;
        try {
            controlValue = item->Value().toString();
            if (auto* duxlane = dynamic_cast<TKIDuxlaneItem*>(item)) {
                type = duxlane->DataType();
            }
        } catch (...) {
            control->ReleaseItem(itemName);
            throw;
        }
        control->ReleaseItem(itemName);
        if (!SettingsValuesMatch(fileValue, controlValue, type)) {
            differ.append(QJsonObject{{QStringLiteral("item"), name},
                                      {QStringLiteral("file"), fileValue},
                                      {QStringLiteral("control"), controlValue}});
            table.AddRow({QStringLiteral("differs"), name, fileValue, controlValue});
        }
    }
    for (const QString& name : mutableItems) {
        if (IsIn(seen, name)) {
            continue;
        }
        TKIItem* item = control->AcquireItem(name);
        const QString itemName = item->Name();
        QString controlValue;
        try {
            controlValue = item->Value().toString();
        } catch (...) {
            control->ReleaseItem(itemName);
            throw;
        }
        control->ReleaseItem(itemName);
        onlyInControl.append(QJsonObject{{QStringLiteral("item"), itemName},
                                         {QStringLiteral("control"), controlValue}});
        table.AddRow({QStringLiteral("only in control"), itemName, QString(), controlValue});
    }
    const bool match = differ.isEmpty() && onlyInFile.isEmpty() && onlyInControl.isEmpty();
    if (invocation.json) {
        out.Json(QJsonObject{{QStringLiteral("control"), control->Identifier()},
                             {QStringLiteral("file"), fileName},
                             {QStringLiteral("match"), match},
                             {QStringLiteral("differ"), differ},
                             {QStringLiteral("onlyInFile"), onlyInFile},
                             {QStringLiteral("onlyInControl"), onlyInControl}});
    } else if (!match) {
        table.Print(out);
    }
    return match ? kExitOk : kExitDifference;
}

int RunBackup(const Invocation& invocation, CliSession& session, Output& out) {
    const QString folder = invocation.arguments[0];
    if (!QDir().mkpath(folder)) {
        throw CliError(kExitUsage,
                       QStringLiteral("Error: Cannot create folder \"%1\".").arg(folder));
    }
    session.ConnectAll();
    const QDir dir(folder);
    int status = kExitOk;
    QStringList taken;
    QJsonArray array;
    TextTable table({QStringLiteral("CONTROL"), QStringLiteral("SETTINGS"),
                     QStringLiteral("REPORT"), QStringLiteral("RESULT")});
    for (TKIDuxlaneControl* control : session.Server().Controls()) {
        const QString base = ControlFileName(control->Identifier(), taken);
        const QString settings = dir.filePath(base + QStringLiteral(".cfg"));
        const QString report = dir.filePath(base + QStringLiteral(".txt"));
        QString result = QStringLiteral("saved");
        if (!control->Active()) {
            result = QStringLiteral("Not Communicating");
            status = kExitUnreachable;
        } else {
            try {
                TKIDuxlaneConfig engine;
                engine.SetDevice(control);
                engine.SaveToFile(settings);
                engine.CreateReport(report, invocation.decimals);
            } catch (const Exception& error) {
                result = error.message();
                Message(QStringLiteral("Error: %1: %2").arg(control->Identifier(), result));
                const bool unreachable =
                    dynamic_cast<const SynchronizerException*>(&error) || session.Lost();
                status =
                    std::max(status, unreachable ? int(kExitUnreachable) : int(kExitDifference));
            }
        }
        array.append(QJsonObject{{QStringLiteral("control"), control->Identifier()},
                                 {QStringLiteral("settings"), settings},
                                 {QStringLiteral("report"), report},
                                 {QStringLiteral("result"), result}});
        table.AddRow({control->Identifier(), settings, report, result});
    }
    if (invocation.json) {
        out.Json(array);
    } else {
        table.Print(out);
    }
    return status;
}

} // namespace orvane::cli
