#include "cli/CliCommand.h"

#include <cmath>

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace orvane::cli {

namespace {

struct OptionInfo {
    const char* name;
    const char* valueName; // null: a switch
    const char* description;
};

// Every option of the program; Commands() says which command takes which.
const OptionInfo kOptions[] = {
    {"json", nullptr, "Machine-readable output (one JSON document on stdout)."},
    {"server-timeout", "S", "Longest wait for the server or a control, in seconds (default 30)."},
    {"network", "FILE", "Network definition file to give a server that knows no controls."},
    {"yes", nullptr, "Answer Yes to the questions the command asks."},
    {"yes-to-all", nullptr, "Answer Yes to All where offered (a load goes on past bad items)."},
    {"ignore-product", nullptr, "Download even when the product identifiers differ."},
    {"mutable", nullptr, "Only the variables that can be written."},
    {"filter", "TEXT", "Only variables whose name contains TEXT (letter case ignored)."},
    {"interval", "MS", "Watch: at most one row per MS milliseconds (default 100)."},
    {"duration", "S", "Watch: stop after S seconds (default: at Ctrl+C)."},
    {"output", "FILE", "Watch: write the CSV to FILE instead of stdout."},
    {"decimals", "N", "Decimal places of real values in reports, 0 to 15 (default 2)."},
    {"reset", nullptr, "Settings load: reset the control afterwards."},
    {"no-save", nullptr, "Reset: do not save values first."},
};

const QStringList kGlobal = {QStringLiteral("server-timeout"), QStringLiteral("network")};

std::vector<CommandInfo> BuildCommands() {
    const QString json = QStringLiteral("json");
    return {
        {QStringLiteral("controls"),
         QString(),
         0,
         0,
         {json},
         QStringLiteral("Every control with its identifiers, run mode and status."),
         QStringLiteral("Lists every control of the server's network with its system, "
                        "application, configuration, product and protocol identifiers, its "
                        "operational state (I/O Locked or I/O Active) and whether it "
                        "communicates. Exit status 3 when a control could not be reached.")},
        {QStringLiteral("list"),
         QStringLiteral("CONTROL"),
         1,
         1,
         {json, QStringLiteral("mutable"), QStringLiteral("filter")},
         QStringLiteral("The control's variables with class, type and limits."),
         QStringLiteral("Lists the variables of CONTROL (all of them, or with --mutable those "
                        "that can be written) with their class (monitor, tunable, configure), "
                        "data type and limits.")},
        {QStringLiteral("read"),
         QStringLiteral("CONTROL ITEM..."),
         2,
         -1,
         {json},
         QStringLiteral("Read values."),
         QStringLiteral("Reads each ITEM of CONTROL and prints its name and value. Exit "
                        "status 1 when the control refuses an item.")},
        {QStringLiteral("write"),
         QStringLiteral("CONTROL ITEM VALUE"),
         3,
         3,
         {json},
         QStringLiteral("Write one value, confirmed by reading it back."),
         QStringLiteral("Writes VALUE to ITEM of CONTROL and reads it back. A monitor variable "
                        "is never written, a configure variable only while the control's I/O "
                        "is locked, and a number only within the item's limits. Exit status 1 "
                        "when the value is refused.")},
        {QStringLiteral("watch"),
         QStringLiteral("CONTROL ITEM..."),
         2,
         -1,
         {QStringLiteral("interval"), QStringLiteral("duration"), QStringLiteral("output")},
         QStringLiteral("Live values as CSV, from hot links."),
         QStringLiteral("Holds a hot link on each ITEM and writes CSV: a header \"time\" and "
                        "one column per item, then one row per interval in which a value "
                        "changed, the time in ISO 8601 (UTC) with milliseconds. Ctrl+C or "
                        "--duration ends it; the file is complete either way.")},
        {QStringLiteral("settings save"),
         QStringLiteral("CONTROL FILE"),
         2,
         2,
         {},
         QStringLiteral("Save the control's settings to a settings file."),
         QStringLiteral("Writes one line per mutable item of CONTROL (name, TAB, value) to "
                        "FILE, in the program's settings file format.")},
        {QStringLiteral("settings load"),
         QStringLiteral("CONTROL FILE"),
         2,
         2,
         {QStringLiteral("yes"), QStringLiteral("yes-to-all"), QStringLiteral("reset")},
         QStringLiteral("Load a settings file into the control."),
         QStringLiteral("Locks the control's I/O, writes every value of FILE and has the "
                        "control save its values. Asks first: --yes answers; without it "
                        "nothing changes and the exit status is 2. A value the control "
                        "refuses asks whether to go on: --yes goes on item by item, "
                        "--yes-to-all past every bad item; the exit status is then 1. The "
                        "control stays in I/O lock unless --reset is given.")},
        {QStringLiteral("settings report"),
         QStringLiteral("CONTROL FILE"),
         2,
         2,
         {QStringLiteral("decimals")},
         QStringLiteral("Write the settings report of the control."),
         QStringLiteral("Writes the settings report of CONTROL to FILE: the settings file's "
                        "lines with real values in fixed-point notation.")},
        {QStringLiteral("settings diff"),
         QStringLiteral("CONTROL FILE"),
         2,
         2,
         {json},
         QStringLiteral("Compare a settings file with the live control."),
         QStringLiteral("Lists the items whose values differ (with both values), the items "
                        "only in FILE and the mutable items only in the control. Real values "
                        "match when they differ by less than half a unit of the file's last "
                        "digit. Exit status 1 when they differ, 0 when they match.")},
        {QStringLiteral("backup"),
         QStringLiteral("FOLDER"),
         1,
         1,
         {json, QStringLiteral("decimals")},
         QStringLiteral("Every control's settings into FOLDER."),
         QStringLiteral("Writes, for every control, FOLDER/<control>.cfg (its settings) and "
                        "FOLDER/<control>.txt (its settings report). Exit status 3 when a "
                        "control could not be reached, 1 when one could not be saved; the "
                        "others are saved all the same.")},
        {QStringLiteral("download"),
         QStringLiteral("CONTROL SCRIPT.scp"),
         2,
         2,
         {QStringLiteral("yes"), QStringLiteral("ignore-product")},
         QStringLiteral("Download an application script into the control."),
         QStringLiteral("Reads the application script, locks the control's I/O (asks first: "
                        "--yes answers) and runs the script's statements. A product "
                        "identifier that differs from the control's stops the download before "
                        "anything is sent unless --ignore-product is given.")},
        {QStringLiteral("reset"),
         QStringLiteral("CONTROL"),
         1,
         1,
         {QStringLiteral("yes"), QStringLiteral("no-save")},
         QStringLiteral("Reset the control (its I/O must be locked)."),
         QStringLiteral("Resets CONTROL and waits until it answers again. Asks whether to save "
                        "values first: --yes saves them, --no-save does not.")},
        {QStringLiteral("lock-io"),
         QStringLiteral("CONTROL"),
         1,
         1,
         {QStringLiteral("yes")},
         QStringLiteral("Lock the control's I/O (configure mode)."),
         QStringLiteral("Locks the I/O of CONTROL. Asks first: --yes answers.")},
        {QStringLiteral("save-values"),
         QStringLiteral("CONTROL"),
         1,
         1,
         {QStringLiteral("yes")},
         QStringLiteral("Have the control save its values."),
         QStringLiteral("Has CONTROL save its values. Asks first: --yes answers.")},
        {QStringLiteral("properties"),
         QStringLiteral("CONTROL"),
         1,
         1,
         {json},
         QStringLiteral("The control's identification and state."),
         QStringLiteral("Shows the System, Application, Configuration, Product and Protocol "
                        "identifiers, the operational state and the communication state.")},
        {QStringLiteral("help"),
         QStringLiteral("[COMMAND]"),
         0,
         2,
         {},
         QStringLiteral("Explain a command."),
         QStringLiteral("Explains COMMAND.")},
        {QStringLiteral("completion"),
         QStringLiteral("bash"),
         1,
         1,
         {},
         QStringLiteral("Print the bash completion script."),
         QStringLiteral("Prints a bash completion script: source <(orvane-cli completion "
                        "bash)")},
    };
}

const OptionInfo* FindOption(const QString& name) {
    for (const OptionInfo& option : kOptions) {
        if (name == QLatin1String(option.name)) {
            return &option;
        }
    }
    return nullptr;
}

int IntValue(const QCommandLineParser& parser, const char* name, int low, int high) {
    bool ok = false;
    const int value = parser.value(QLatin1String(name)).toInt(&ok);
    if (!ok || value < low || value > high) {
        throw CliError(kExitUsage, QStringLiteral("--%1 takes a whole number from %2 to %3.")
                                       .arg(QLatin1String(name))
                                       .arg(low)
                                       .arg(high));
    }
    return value;
}

double SecondsValue(const QCommandLineParser& parser, const char* name, double low) {
    bool ok = false;
    const double value = parser.value(QLatin1String(name)).toDouble(&ok);
    // A day is the longest wait anyone means; larger numbers are typing errors.
    if (!ok || !std::isfinite(value) || value < low || value > 86400.0) {
        throw CliError(kExitUsage, QStringLiteral("--%1 takes a number of seconds above %2.")
                                       .arg(QLatin1String(name))
                                       .arg(low));
    }
    return value;
}

} // namespace

const std::vector<CommandInfo>& Commands() {
    static const std::vector<CommandInfo> commands = BuildCommands();
    return commands;
}

const CommandInfo* FindCommand(const QString& name) {
    for (const CommandInfo& command : Commands()) {
        if (command.name == name) {
            return &command;
        }
    }
    return nullptr;
}

QStringList GlobalOptions() {
    return kGlobal;
}

Invocation ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the version."));
    parser.addOption(help);
    parser.addOption(version);
    for (const OptionInfo& option : kOptions) {
        if (option.valueName != nullptr) {
            parser.addOption(QCommandLineOption(QLatin1String(option.name),
                                                QLatin1String(option.description),
                                                QLatin1String(option.valueName)));
        } else {
            parser.addOption(
                QCommandLineOption(QLatin1String(option.name), QLatin1String(option.description)));
        }
    }
    if (!parser.parse(QStringList{QStringLiteral("orvane-cli")} + arguments)) {
        throw CliError(kExitUsage, parser.errorText());
    }

    Invocation invocation;
    invocation.showHelp = parser.isSet(help);
    invocation.showVersion = parser.isSet(version);
    QStringList words = parser.positionalArguments();
    if (words.isEmpty()) {
        if (!invocation.showHelp && !invocation.showVersion) {
            throw CliError(kExitUsage, QStringLiteral("No command given; see --help."));
        }
        return invocation;
    }
    QString name = words.takeFirst();
    if (name == QLatin1String("settings")) {
        if (words.isEmpty()) {
            throw CliError(kExitUsage,
                           QStringLiteral("settings needs save, load, report or diff."));
        }
        name += QLatin1Char(' ') + words.takeFirst();
    }
    const CommandInfo* command = FindCommand(name);
    if (command == nullptr) {
        throw CliError(kExitUsage, QStringLiteral("Unknown command \"%1\"; see --help.").arg(name));
    }
    invocation.command = name;
    invocation.arguments = words;
    if (invocation.showHelp) {
        return invocation;
    }
    const int count = static_cast<int>(words.size());
    if (count < command->minArguments ||
        (command->maxArguments >= 0 && count > command->maxArguments)) {
        throw CliError(kExitUsage, QStringLiteral("usage: orvane-cli %1 %2")
                                       .arg(command->name, command->arguments)
                                       .trimmed());
    }
    for (const OptionInfo& option : kOptions) {
        const QString optionName = QLatin1String(option.name);
        if (parser.isSet(optionName) && !command->options.contains(optionName) &&
            !kGlobal.contains(optionName)) {
            throw CliError(kExitUsage,
                           QStringLiteral("%1 does not take --%2.").arg(command->name, optionName));
        }
    }

    invocation.json = parser.isSet(QStringLiteral("json"));
    invocation.yes = parser.isSet(QStringLiteral("yes"));
    invocation.yesToAll = parser.isSet(QStringLiteral("yes-to-all"));
    invocation.ignoreProduct = parser.isSet(QStringLiteral("ignore-product"));
    invocation.mutableOnly = parser.isSet(QStringLiteral("mutable"));
    invocation.reset = parser.isSet(QStringLiteral("reset"));
    invocation.noSave = parser.isSet(QStringLiteral("no-save"));
    invocation.filter = parser.value(QStringLiteral("filter"));
    invocation.output = parser.value(QStringLiteral("output"));
    invocation.network = parser.value(QStringLiteral("network"));
    if (parser.isSet(QStringLiteral("interval"))) {
        invocation.intervalMs = IntValue(parser, "interval", 1, 3600000);
    }
    if (parser.isSet(QStringLiteral("duration"))) {
        invocation.durationS = SecondsValue(parser, "duration", 0.0);
    }
    if (parser.isSet(QStringLiteral("decimals"))) {
        invocation.decimals = IntValue(parser, "decimals", 0, 15);
    }
    if (parser.isSet(QStringLiteral("server-timeout"))) {
        invocation.serverTimeoutS = SecondsValue(parser, "server-timeout", 0.0);
        if (invocation.serverTimeoutS <= 0) {
            throw CliError(kExitUsage, QStringLiteral("--server-timeout must be above 0."));
        }
    }
    if (invocation.yes && invocation.noSave) {
        throw CliError(kExitUsage, QStringLiteral("--yes and --no-save answer the same question "
                                                  "differently; give one of them."));
    }
    if (command->name == QLatin1String("completion") &&
        invocation.arguments.first() != QLatin1String("bash")) {
        throw CliError(kExitUsage, QStringLiteral("Only bash completion is offered."));
    }
    return invocation;
}

namespace {

QString OptionLine(const OptionInfo& option) {
    QString left = QStringLiteral("  --") + QLatin1String(option.name);
    if (option.valueName != nullptr) {
        left += QLatin1Char(' ') + QLatin1String(option.valueName);
    }
    return left.leftJustified(24) + QLatin1Char(' ') + QLatin1String(option.description) +
           QLatin1Char('\n');
}

const char* const kStatusText = "Exit status:\n"
                                "  0  success\n"
                                "  1  a difference, or a refusal by a control or the server\n"
                                "  2  bad usage, a malformed file, or a question no flag "
                                "answered (nothing changed)\n"
                                "  3  the server or a control could not be reached in time\n";

} // namespace

QString UsageText() {
    QString text = QStringLiteral(
        "Usage: orvane-cli COMMAND [ARGUMENTS] [OPTIONS]\n"
        "The Orvane service tool from a terminal: reads, writes and watches the variables of\n"
        "the controls on the Duxlane network, saves, loads and compares their settings and\n"
        "runs their commands. It starts the server program when it is not running.\n\n"
        "Commands:\n");
    for (const CommandInfo& command : Commands()) {
        text += (QStringLiteral("  ") + command.name + QLatin1Char(' ') + command.arguments)
                    .leftJustified(38) +
                QLatin1Char(' ') + command.summary + QLatin1Char('\n');
    }
    text += QStringLiteral("\nOptions of every command:\n");
    for (const QString& name : kGlobal) {
        text += OptionLine(*FindOption(name));
    }
    text += QStringLiteral("  -h, --help").leftJustified(24) +
            QStringLiteral(" This help; orvane-cli help COMMAND explains a command.\n") +
            QStringLiteral("  --version").leftJustified(24) + QStringLiteral(" The version.\n\n");
    text += QLatin1String(kStatusText);
    text += QStringLiteral("\nMessages go to stderr, results to stdout.\n");
    return text;
}

namespace {

// The text broken into lines of at most kHelpWidth characters at blanks.
QString Wrapped(const QString& text) {
    constexpr int kHelpWidth = 78;
    QString result;
    QString line;
    for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && line.size() + 1 + word.size() > kHelpWidth) {
            result += line + QLatin1Char('\n');
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    return result + line + QLatin1Char('\n');
}

} // namespace

QString CommandHelpText(const CommandInfo& command) {
    QString text =
        QStringLiteral("Usage: orvane-cli %1 %2\n\n").arg(command.name, command.arguments) +
        Wrapped(command.help);
    QStringList options = command.options;
    if (command.name != QLatin1String("help") && command.name != QLatin1String("completion")) {
        options += kGlobal;
    }
    if (!options.isEmpty()) {
        text += QStringLiteral("\nOptions:\n");
        for (const QString& name : options) {
            text += OptionLine(*FindOption(name));
        }
    }
    text += QLatin1Char('\n') + QLatin1String(kStatusText);
    return text;
}

QString BashCompletion(const QString& program) {
    QStringList top;
    QStringList settings;
    QString cases;
    for (const CommandInfo& command : Commands()) {
        const QStringList words = command.name.split(QLatin1Char(' '));
        if (words.size() == 2) {
            settings << words[1];
            if (!top.contains(words[0])) {
                top << words[0];
            }
        } else {
            top << command.name;
        }
        QStringList options;
        for (const QString& name : command.options + kGlobal) {
            options << QStringLiteral("--") + name;
        }
        options << QStringLiteral("--help");
        cases += QStringLiteral("        \"%1\") opts=\"%2\" ;;\n")
                     .arg(command.name, options.join(QLatin1Char(' ')));
    }
    QString fn = program;
    fn.replace(QLatin1Char('-'), QLatin1Char('_'));
    return QStringLiteral(
               "# bash completion for %1 (generated by %1 completion bash)\n"
               "_%2() {\n"
               "    local cur=\"${COMP_WORDS[COMP_CWORD]}\" cmd=\"\" i\n"
               "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
               "        case \"${COMP_WORDS[i]}\" in -*) continue ;; esac\n"
               "        if [[ -z \"$cmd\" ]]; then cmd=\"${COMP_WORDS[i]}\";\n"
               "        elif [[ \"$cmd\" == settings ]]; then cmd=\"settings "
               "${COMP_WORDS[i]}\"; break;\n"
               "        else break; fi\n"
               "    done\n"
               "    if [[ -z \"$cmd\" ]]; then\n"
               "        COMPREPLY=($(compgen -W \"%3 --help --version\" -- \"$cur\")); return\n"
               "    fi\n"
               "    if [[ \"$cmd\" == settings ]]; then\n"
               "        COMPREPLY=($(compgen -W \"%4\" -- \"$cur\")); return\n"
               "    fi\n"
               "    local opts=\"\"\n"
               "    case \"$cmd\" in\n"
               "%5"
               "    esac\n"
               "    if [[ \"$cur\" == -* ]]; then\n"
               "        COMPREPLY=($(compgen -W \"$opts\" -- \"$cur\"))\n"
               "    else\n"
               "        COMPREPLY=($(compgen -f -- \"$cur\"))\n"
               "    fi\n"
               "}\n"
               "complete -F _%2 %1\n")
        .arg(program, fn, top.join(QLatin1Char(' ')), settings.join(QLatin1Char(' ')), cases);
}

} // namespace orvane::cli
