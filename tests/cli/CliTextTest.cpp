// orvane-cli without a server: the command line, the answers its dialog
// service gives, value comparison, control file names and CSV fields.

#include <cstdio>

#include <gtest/gtest.h>

#include "cli/CliCommand.h"
#include "cli/CliDialogService.h"
#include "cli/CliText.h"

namespace orvane::cli {
namespace {

QStringList Args(std::initializer_list<const char*> words) {
    QStringList list;
    for (const char* word : words) {
        list << QString::fromUtf8(word);
    }
    return list;
}

int UsageStatus(std::initializer_list<const char*> words) {
    try {
        ParseCommandLine(Args(words));
    } catch (const CliError& error) {
        return error.Status();
    }
    return -1;
}

TEST(CliCommandLine, ParsesCommandsWithTheirOptions) {
    const Invocation watch =
        ParseCommandLine(Args({"watch", "PLC1", "Count", "Running", "--interval", "50",
                               "--duration", "2.5", "--output", "x.csv", "--server-timeout", "4"}));
    EXPECT_EQ(watch.command, "watch");
    EXPECT_EQ(watch.arguments, Args({"PLC1", "Count", "Running"}));
    EXPECT_EQ(watch.intervalMs, 50);
    EXPECT_DOUBLE_EQ(watch.durationS, 2.5);
    EXPECT_EQ(watch.output, "x.csv");
    EXPECT_DOUBLE_EQ(watch.serverTimeoutS, 4.0);

    const Invocation load =
        ParseCommandLine(Args({"settings", "load", "PLC1", "a.cfg", "--yes-to-all"}));
    EXPECT_EQ(load.command, "settings load");
    EXPECT_TRUE(load.yesToAll);
    EXPECT_FALSE(load.yes);

    // A negative value after "--" is a value, not an option.
    const Invocation write = ParseCommandLine(Args({"write", "PLC1", "Count", "--", "-5"}));
    EXPECT_EQ(write.arguments, Args({"PLC1", "Count", "-5"}));
}

TEST(CliCommandLine, RefusesBadUsageWithStatusTwo) {
    EXPECT_EQ(UsageStatus({}), kExitUsage);
    EXPECT_EQ(UsageStatus({"frobnicate"}), kExitUsage);
    EXPECT_EQ(UsageStatus({"settings"}), kExitUsage);
    EXPECT_EQ(UsageStatus({"settings", "copy", "A", "B"}), kExitUsage);
    EXPECT_EQ(UsageStatus({"read", "PLC1"}), kExitUsage);           // no item
    EXPECT_EQ(UsageStatus({"write", "PLC1", "Count"}), kExitUsage); // no value
    EXPECT_EQ(UsageStatus({"reset", "PLC1", "PLC2"}), kExitUsage);
    // Options belong to their commands: --yes on a read changes nothing and
    // is surely a mistake.
    EXPECT_EQ(UsageStatus({"read", "PLC1", "Count", "--yes"}), kExitUsage);
    EXPECT_EQ(UsageStatus({"settings", "save", "PLC1", "f", "--json"}), kExitUsage);
    EXPECT_EQ(UsageStatus({"watch", "PLC1", "Count", "--interval", "0"}), kExitUsage);
    EXPECT_EQ(UsageStatus({"watch", "PLC1", "Count", "--duration", "soon"}), kExitUsage);
    EXPECT_EQ(UsageStatus({"list", "PLC1", "--server-timeout", "0"}), kExitUsage);
    EXPECT_EQ(UsageStatus({"list", "PLC1", "--server-timeout", "nan"}), kExitUsage);
    EXPECT_EQ(UsageStatus({"settings", "report", "PLC1", "f", "--decimals", "16"}), kExitUsage);
    EXPECT_EQ(UsageStatus({"reset", "PLC1", "--yes", "--no-save"}), kExitUsage);
    EXPECT_EQ(UsageStatus({"completion", "zsh"}), kExitUsage);
    EXPECT_EQ(UsageStatus({"read", "PLC1", "Count", "--no-such-option"}), kExitUsage);
}

TEST(CliCommandLine, HelpAndCompletionCoverEveryCommand) {
    const QString usage = UsageText();
    const QString completion = BashCompletion(QStringLiteral("orvane-cli"));
    EXPECT_TRUE(completion.contains("complete -F _orvane_cli orvane-cli"));
    for (const CommandInfo& command : Commands()) {
        EXPECT_TRUE(usage.contains(command.name)) << command.name.toStdString();
        EXPECT_TRUE(completion.contains(QLatin1Char('"') + command.name + QLatin1Char('"')))
            << command.name.toStdString();
        const QString help = CommandHelpText(command);
        for (const QString& option : command.options) {
            EXPECT_TRUE(help.contains("--" + option)) << option.toStdString();
            EXPECT_TRUE(completion.contains("--" + option)) << option.toStdString();
        }
    }
    EXPECT_TRUE(usage.contains("3  the server or a control could not be reached"));
}

TEST(CliDialogAnswers, FlagsAnswerQuestionsAndNothingElseDoes) {
    struct Case {
        DialogAnswers answers;
        TMsgDlgButtons buttons;
        TModalResult expected;
        bool answered;
    };
    DialogAnswers none;
    DialogAnswers yes;
    yes.yes = true;
    DialogAnswers yesToAll;
    yesToAll.yesToAll = true;
    DialogAnswers ignore;
    ignore.ignoreProduct = true;
    const Case cases[] = {
        {none, mbOK, mrOk, true},
        {none, mbYesNo, mrNo, false},
        {none, mbYesNoCancel, mrCancel, false},
        {none, mbYesNoYesToAll, mrNo, false},
        {none, mbIgnoreCancel, mrCancel, false},
        {yes, mbYesNo, mrYes, true},
        {yes, mbYesNoCancel, mrYes, true},
        {yes, mbOKCancel, mrOk, true},
        {yes, mbYesNoYesToAll, mrYes, true},
        // --yes alone never goes on past a product mismatch.
        {yes, mbIgnoreCancel, mrCancel, false},
        {yesToAll, mbYesNoYesToAll, mrYesToAll, true},
        {yesToAll, mbYesNo, mrYes, true},
        {ignore, mbIgnoreCancel, mrIgnore, true},
        {ignore, mbYesNo, mrNo, false},
    };
    for (const Case& c : cases) {
        bool answered = false;
        EXPECT_EQ(CliDialogService::Answer(c.answers, c.buttons, &answered), c.expected)
            << "buttons " << c.buttons;
        EXPECT_EQ(answered, c.answered) << "buttons " << c.buttons;
    }
}

TEST(CliDialogAnswers, BoxesArePrintedAndRefusalsRemembered) {
    std::FILE* sink = std::tmpfile();
    ASSERT_NE(sink, nullptr);
    CliDialogService service(DialogAnswers{}, sink);
    EXPECT_EQ(service.messageBox(mtError, "Line one\r\nline two", mbOK), mrOk);
    EXPECT_FALSE(service.Unanswered());
    EXPECT_EQ(service.messageBox(mtConfirmation, "Proceed?", mbYesNo), mrNo);
    EXPECT_TRUE(service.Unanswered());
    FileDialogRequest request;
    request.caption = "Open Network Definition File";
    request.filter = "Network Definition Files (*.net)|*.net";
    EXPECT_FALSE(service.openFile(request).has_value());

    std::rewind(sink);
    char buffer[512] = {};
    const size_t read = std::fread(buffer, 1, sizeof buffer - 1, sink);
    std::fclose(sink);
    const QString text = QString::fromLocal8Bit(buffer, static_cast<qsizetype>(read));
    EXPECT_TRUE(text.startsWith("Error: Line one\nline two\n"));
    EXPECT_TRUE(text.contains("Confirm: Proceed?\n"));
    EXPECT_TRUE(text.contains("--network FILE"));
    EXPECT_EQ(service.CountStartingWith("Proceed"), 1);

    DialogAnswers withNetwork;
    withNetwork.networkFile = "/tmp/plant.net";
    CliDialogService answering(withNetwork, stderr);
    EXPECT_EQ(answering.openFile(request).value_or(QString()), "/tmp/plant.net");
}

TEST(CliSettingsCompare, RealsMatchWithinTheFilesDigits) {
    EXPECT_TRUE(SettingsValuesMatch("20.0", "20.04", vdtReal));
    EXPECT_FALSE(SettingsValuesMatch("20.0", "20.06", vdtReal));
    EXPECT_TRUE(SettingsValuesMatch("20", "20.000", vdtReal));
    EXPECT_TRUE(SettingsValuesMatch("1,25", "1.25", vdtReal)); // the other separator
    EXPECT_FALSE(SettingsValuesMatch("1.25", "1.27", vdtReal));
    EXPECT_TRUE(SettingsValuesMatch("1.5E-3", "0.00152", vdtReal));
    EXPECT_FALSE(SettingsValuesMatch("1.5E-3", "0.0016", vdtReal));
    EXPECT_TRUE(SettingsValuesMatch("-0.5", "-0.50", vdtReal));
    EXPECT_FALSE(SettingsValuesMatch("abc", "abd", vdtReal));
    EXPECT_FALSE(SettingsValuesMatch("1,000.5", "1000.5", vdtReal)); // groups are not numbers
    // Other types compare as text: "05" is not "5" for a string or a time.
    EXPECT_FALSE(SettingsValuesMatch("05", "5", vdtInteger));
    EXPECT_FALSE(SettingsValuesMatch("North", "north", vdtString));
    EXPECT_TRUE(SettingsValuesMatch("", "", vdtString));
}

TEST(CliBackupNames, ControlNamesNeverLeaveTheFolder) {
    QStringList taken;
    EXPECT_EQ(ControlFileName("BOILER_1", taken), "BOILER_1");
    EXPECT_EQ(ControlFileName("../etc/passwd", taken), ".._etc_passwd");
    EXPECT_EQ(ControlFileName("..", taken), "_..");
    EXPECT_EQ(ControlFileName("", taken), "_");
    EXPECT_EQ(ControlFileName("A:B\\C\tD", taken), "A_B_C_D");
    // Distinct controls never share a file, also where the file system
    // ignores letter case.
    EXPECT_EQ(ControlFileName("boiler_1", taken), "boiler_1~2");
    EXPECT_EQ(ControlFileName("BOILER/1", taken), "BOILER_1~3");
}

TEST(CliCsv, FieldsAreQuotedOnlyWhenNeeded) {
    EXPECT_EQ(CsvField("20.5"), "20.5");
    EXPECT_EQ(CsvField("1,5"), "\"1,5\"");
    EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CsvField(" padded"), "\" padded\"");
    EXPECT_EQ(CsvField("two\nlines"), "\"two\nlines\"");
}

} // namespace
} // namespace orvane::cli
