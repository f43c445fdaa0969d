#pragma once

// The commands of orvane-cli, their options and the parsed command line.
// One table (Commands()) feeds the parser, `help`, `--help` and the bash
// completion, so that they never disagree.
//
// Exit status of every command:
//   0 success; 1 a difference (settings diff) or a refusal by a control or
//   the server (a refused write, a failed command, an item that does not
//   exist); 2 bad usage, a malformed input file, or a question that no flag
//   answered (nothing has been changed); 3 the server or a control could not
//   be reached within the time-out.

#include <QString>
#include <QStringList>
#include <vector>

#include "platform/Exception.h"

namespace orvane::cli {

enum ExitStatus : int {
    kExitOk = 0,
    kExitDifference = 1,
    kExitUsage = 2,
    kExitUnreachable = 3,
};

// Ends a command with a status; the message (may be empty) goes to stderr.
class CliError : public Exception {
public:
    CliError(int status, const QString& message) : Exception(message), m_status(status) {}
    int Status() const { return m_status; }

private:
    int m_status;
};

// How long a command waits for the server or a control, by default.
constexpr double kDefaultServerTimeoutS = 30.0;
// Defaults of watch and of the reports of backup and settings report.
constexpr int kDefaultWatchIntervalMs = 100;
constexpr int kDefaultReportDecimals = 2;

struct CommandInfo {
    QString name;      // "read", "settings save"
    QString arguments; // "CONTROL ITEM..."
    int minArguments;
    int maxArguments;    // -1: any number
    QStringList options; // long names of the options the command takes
    QString summary;
    QString help;
};

// Every command, in the order help lists them.
const std::vector<CommandInfo>& Commands();
const CommandInfo* FindCommand(const QString& name);

// The options every command takes.
QStringList GlobalOptions();

struct Invocation {
    QString command; // "" for none; "help" for the help command
    QStringList arguments;
    bool json = false;
    bool yes = false;
    bool yesToAll = false;
    bool ignoreProduct = false;
    bool mutableOnly = false;
    bool reset = false;
    bool noSave = false;
    QString filter;
    QString output;
    QString network;
    int intervalMs = kDefaultWatchIntervalMs;
    double durationS = 0; // 0: until Ctrl+C
    int decimals = kDefaultReportDecimals;
    double serverTimeoutS = kDefaultServerTimeoutS;
    bool showHelp = false;
    bool showVersion = false;
};

// Parses the arguments (without the program name). Raises CliError with
// status 2 and the reason for bad usage.
Invocation ParseCommandLine(const QStringList& arguments);

// The text of --help (no command) or of `help COMMAND`.
QString UsageText();
QString CommandHelpText(const CommandInfo& command);
// A bash completion script for the program name.
QString BashCompletion(const QString& program);

} // namespace orvane::cli
