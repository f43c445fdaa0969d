#pragma once

// Runs one parsed command line of orvane-cli and returns its exit status
// (CliCommand.h). Results go to `out`, messages to stderr (the dialog
// service's stream).
//
// The command implementations share this header: each takes the invocation,
// the session (connected on demand) and the output, and returns the status or
// raises CliError.

#include <cstdio>

#include <QJsonValue>
#include <QString>

namespace orvane {
class TKIDuxlaneControl;
}

namespace orvane::cli {

class CliDialogService;
class CliSession;
struct Invocation;

// Where results go.
class Output {
public:
    explicit Output(std::FILE* out) : m_out(out) {}
    void Line(const QString& text);
    void Json(const QJsonValue& value);
    void Raw(const QByteArray& bytes);
    std::FILE* Stream() const { return m_out; }

private:
    std::FILE* m_out;
};

// Prints a message to stderr.
void Message(const QString& text);

int RunInvocation(const Invocation& invocation, CliDialogService& dialogs, Output& out);

// Command families (CliControlCommands.cpp, CliSettingsCommands.cpp,
// CliWatch.cpp, CliDownload.cpp).
int RunControls(const Invocation& invocation, CliSession& session, Output& out);
int RunList(const Invocation& invocation, CliSession& session, Output& out);
int RunRead(const Invocation& invocation, CliSession& session, Output& out);
int RunWrite(const Invocation& invocation, CliSession& session, Output& out);
int RunReset(const Invocation& invocation, CliSession& session, CliDialogService& dialogs);
int RunLockIo(const Invocation& invocation, CliSession& session, CliDialogService& dialogs);
int RunSaveValues(const Invocation& invocation, CliSession& session, CliDialogService& dialogs);
int RunProperties(const Invocation& invocation, CliSession& session, Output& out);
int RunSettingsSave(const Invocation& invocation, CliSession& session);
int RunSettingsLoad(const Invocation& invocation, CliSession& session, CliDialogService& dialogs);
int RunSettingsReport(const Invocation& invocation, CliSession& session);
int RunSettingsDiff(const Invocation& invocation, CliSession& session, Output& out);
int RunBackup(const Invocation& invocation, CliSession& session, Output& out);
int RunWatch(const Invocation& invocation, CliSession& session, Output& out);
int RunDownload(const Invocation& invocation, CliSession& session, CliDialogService& dialogs);

// Shared by the commands: resets the control with the program's dialogue
// answered already (saveFirst), waiting for it to come back; returns the
// status.
int ResetControl(CliSession& session, TKIDuxlaneControl* control, bool saveFirst);

} // namespace orvane::cli
