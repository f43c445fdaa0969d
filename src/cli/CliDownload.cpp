// download: an application script into a control's program memory, the
// program's download procedure without its dialog. Differences a terminal
// needs: the product identifiers are compared before anything is sent (a
// refusal then leaves the control as it was), the wait for the control after
// BeginProgrammingMode is bounded by --server-timeout, and a script without
// an end statement ends the command instead of waiting for a Cancel.

#include <vector>

#include <QDeadlineTimer>

#include "cli/CliCommand.h"
#include "cli/CliDialogService.h"
#include "cli/CliRun.h"
#include "cli/CliSession.h"
#include "download/KDownloadScript.h"
#include "model/KIDuxlaneControl.h"
#include "platform/DialogService.h"

namespace orvane::cli {

namespace {

// How often the control is asked whether it is back after
// BeginProgrammingMode.
constexpr int kStatusPollMs = 100;

const QString kLockQuestion = QStringLiteral(
    "The I/O on the control must be locked in order to download software. Do you want to "
    "continue the download?");

QString MismatchText(const QString& control, const QString& script) {
    return QStringLiteral("The Product ID in the control does not match the Product ID in the "
                          "download script. The controlID is : ") +
           control + QStringLiteral("  The script file Product ID is : ") + script +
           QStringLiteral("  Continuing could result in a failure to program the control.") +
           QStringLiteral(" Ignore the problem and continue?");
}

// Runs the statements; returns the status.
int RunStatements(CliSession& session, TKIDuxlaneControl* control,
                  const std::vector<TKStatement*>& statements) {
    qint64 bytes = 0;
    for (TKStatement* statement : statements) {
        if (auto* write = dynamic_cast<TKWriteStatement*>(statement)) {
            control->WriteProgramMemory(write->Address(), write->Data().data(), write->Count());
            bytes += write->Count();
        } else if (auto* begin = dynamic_cast<TKBeginStatement*>(statement)) {
            Message(QStringLiteral("Initializing Control..."));
            control->BeginProgrammingMode(begin->Address(), begin->Length());
            QDeadlineTimer deadline(session.TimeoutMs());
            while (!control->ControlStatus()) {
                if (deadline.hasExpired() || session.Lost()) {
                    throw CliError(kExitUnreachable,
                                   QStringLiteral("Error: Control %1 did not answer within %2 s "
                                                  "after BeginProgrammingMode.")
                                       .arg(control->Identifier())
                                       .arg(session.TimeoutMs() / 1000.0));
                }
                session.WaitUntil([] { return false; }, kStatusPollMs);
            }
            Message(QStringLiteral("Downloading File..."));
        } else if (dynamic_cast<TKEndStatement*>(statement) != nullptr) {
            control->EndProgrammingMode();
            Message(QStringLiteral("Bytes Downloaded: %1").arg(bytes));
            messageDlg(QStringLiteral("The application has changed in the control and the "
                                      "connection may not be valid. The Orvane will be closed "
                                      "and you may need to create a new Network Definition file "
                                      "in the Server."),
                       mtInformation, mbOK);
            return kExitOk;
        }
    }
    Message(QStringLiteral("Bytes Downloaded: %1").arg(bytes));
    Message(QStringLiteral("Error: The script has no end statement: control %1 stays in "
                           "programming mode with its I\\O locked.")
                .arg(control->Identifier()));
    return kExitDifference;
}

} // namespace

int RunDownload(const Invocation& invocation, CliSession& session, CliDialogService&) {
    const QString fileName = invocation.arguments[1];
    TKDownloadScript script;
    try {
        script.Load(fileName);
    } catch (const Exception& error) {
        if (const TKDownloadScriptError* record = script.Error()) {
            messageDlg(QStringLiteral("Error in file: %1 on line %2.  Error: %3")
                           .arg(record->FileName)
                           .arg(record->LineNumber)
                           .arg(record->Message),
                       mtError, mbOK);
        } else {
            messageDlg(QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, error.message()),
                       mtError, mbOK);
        }
        return kExitUsage;
    }
    std::vector<TKStatement*> statements;
    while (TKStatement* statement = script.Next()) {
        statements.push_back(statement);
    }

    TKIDuxlaneControl* control = session.Control(invocation.arguments[0]);
    for (TKStatement* statement : statements) {
        if (auto* product = dynamic_cast<TKProductStatement*>(statement)) {
            const QString controlProduct = control->ProductID();
            if (controlProduct != product->ProductID() &&
                messageDlg(MismatchText(controlProduct, product->ProductID()), mtWarning,
                           mbIgnoreCancel) != mrIgnore) {
                return kExitUsage;
            }
            Message(QStringLiteral("Product ID: ") + product->ProductID());
        }
    }
    if (messageDlg(kLockQuestion, mtWarning, mbYesNo) != mrYes) {
        return kExitUsage;
    }
    try {
        control->Shutdown();
    } catch (const Exception& error) {
        // The download goes on as the program's does; the control refuses
        // programming itself when its I/O is not locked.
        RaiseIfUnreachable(error);
        Message(QStringLiteral("Warning: ") + error.message());
    }
    try {
        return RunStatements(session, control, statements);
    } catch (const CliError&) {
        throw;
    } catch (const Exception& error) {
        RaiseIfUnreachable(error);
        throw CliError(kExitDifference, QStringLiteral("Error: ") + error.message());
    }
}

} // namespace orvane::cli
