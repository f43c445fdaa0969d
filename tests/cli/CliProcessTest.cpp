// The real orvane-cli process against the simulated server: every command's
// way to success and to failure, with its exit status.

#include <csignal>

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "SimServer.h"
#include "TestEnvironment.h"
#include "Wait.h"
#include "platform/Registry.h"
#include "platform/WindowClass.h"

namespace orvane::test {
namespace {

struct CliResult {
    int status = -1;
    QString out;
    QString err;
    qint64 elapsedMs = 0;
};

// Generous: the machine is shared; the time-out tests check their own bound.
constexpr int kCliTimeoutMs = 90000;

void RegisterServer(const QString& executable) {
    TRegistry registry(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(
        registry.OpenKey(QStringLiteral("\\SOFTWARE\\Kestova\\DDE Servers\\UPCIDuxlane"), true));
    registry.WriteString(QString(), executable);
}

CliResult RunCli(const QStringList& arguments, int timeoutMs = kCliTimeoutMs) {
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral(ORVANE_CLI_EXE), arguments);
    CliResult result;
    if (!process.waitForStarted(10000)) {
        result.err = process.errorString();
        return result;
    }
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        result.err = QStringLiteral("orvane-cli did not end");
        return result;
    }
    result.elapsedMs = clock.elapsed();
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

QStringList Args(std::initializer_list<const char*> words) {
    QStringList list;
    for (const char* word : words) {
        list << QString::fromUtf8(word);
    }
    return list;
}

#define EXPECT_STATUS(result, expected)                                                            \
    EXPECT_EQ((result).status, (expected)) << "stdout:\n"                                          \
                                           << (result).out.toStdString() << "stderr:\n"            \
                                           << (result).err.toStdString()

class CliProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_files.isValid());
        RegisterServer(serverExecutable());
        ASSERT_TRUE(m_sim.start(m_sim.writeNetwork(SimServer::kSmallNetwork), ServerArguments()))
            << m_sim.errorString().toStdString();
    }
    void TearDown() override { m_sim.stop(); }

    virtual QStringList ServerArguments() const { return Args({"--command-latency", "10"}); }

    QString Read(const char* control, const char* item) {
        const CliResult result = RunCli(Args({"read", control, item}));
        EXPECT_STATUS(result, 0);
        return result.out.trimmed();
    }

    QString FilePath(const QString& name) const { return m_files.filePath(name); }

    QTemporaryDir m_files;
    SimServer m_sim;
};

TEST_F(CliProcessTest, ReadAndWriteWithTheirRefusals) {
    EXPECT_EQ(Read("PLC1", "Count"), "5");
    // Control and item names are matched without regard to letter case.
    EXPECT_EQ(Read("plc1", "count"), "5");

    CliResult several = RunCli(Args({"read", "PLC1", "Count", "Plant.Area.Name"}));
    EXPECT_STATUS(several, 0);
    EXPECT_EQ(several.out, "Count\t5\nPlant.Area.Name\tNorth\n");

    CliResult json = RunCli(Args({"read", "PLC1", "Count", "No.Such.Item", "--json"}));
    EXPECT_STATUS(json, 1);
    const QJsonArray values = QJsonDocument::fromJson(json.out.toUtf8()).array();
    ASSERT_EQ(values.size(), 2);
    EXPECT_EQ(values[0].toObject()["value"].toString(), "5");
    EXPECT_TRUE(values[1].toObject().contains("error"));

    CliResult write = RunCli(Args({"write", "PLC1", "Count", "--", "-7"}));
    EXPECT_STATUS(write, 0);
    EXPECT_EQ(write.out, "-7\n");
    EXPECT_EQ(Read("PLC1", "Count"), "-7");

    // Out of the item's limits: the control refuses and keeps its value.
    CliResult refused = RunCli(Args({"write", "PLC1", "Count", "500"}));
    EXPECT_STATUS(refused, 1);
    EXPECT_TRUE(refused.err.contains("500 is outside the limits of Count (-100 to 100)"));
    EXPECT_EQ(Read("PLC1", "Count"), "-7");

    EXPECT_STATUS(RunCli(Args({"write", "PLC1", "Running", "0"})), 1);              // monitor
    EXPECT_STATUS(RunCli(Args({"write", "PLC1", "Configure: Loop.Gain", "2"})), 1); // not locked
    EXPECT_STATUS(RunCli(Args({"write", "PLC1", "No.Such.Item", "2"})), 1);
    CliResult unknown = RunCli(Args({"read", "PLC9", "Count"}));
    EXPECT_STATUS(unknown, 2);
    EXPECT_TRUE(unknown.err.contains("PLC9"));
}

TEST_F(CliProcessTest, ControlsListAndProperties) {
    CliResult controls = RunCli(Args({"controls", "--json"}));
    EXPECT_STATUS(controls, 0);
    const QJsonArray array = QJsonDocument::fromJson(controls.out.toUtf8()).array();
    ASSERT_EQ(array.size(), 2);
    EXPECT_EQ(array[0].toObject()["control"].toString(), "PLC1");
    EXPECT_EQ(array[0].toObject()["product"].toString(), "DX100-TEST");
    EXPECT_EQ(array[0].toObject()["operationalState"].toString(), "I/O Active");
    EXPECT_EQ(array[0].toObject()["communications"].toString(), "Ok");
    EXPECT_EQ(array[1].toObject()["control"].toString(), "PLC2");

    CliResult list = RunCli(Args({"list", "PLC1", "--mutable", "--filter", "loop", "--json"}));
    EXPECT_STATUS(list, 0);
    const QJsonArray items = QJsonDocument::fromJson(list.out.toUtf8()).array();
    ASSERT_EQ(items.size(), 2) << list.out.toStdString(); // Set Point and Gain
    for (const QJsonValue& item : items) {
        const QJsonObject object = item.toObject();
        EXPECT_TRUE(object["item"].toString().contains("Loop"));
        EXPECT_EQ(object["type"].toString(), "real");
        if (object["item"].toString().contains("Gain")) {
            EXPECT_EQ(object["class"].toString(), "configure");
            EXPECT_EQ(object["min"].toString().toDouble(), 0.5);
            EXPECT_EQ(object["max"].toString().toDouble(), 10.0);
        } else {
            EXPECT_EQ(object["class"].toString(), "tunable");
        }
    }
    CliResult all = RunCli(Args({"list", "PLC1"}));
    EXPECT_STATUS(all, 0);
    EXPECT_TRUE(all.out.contains("monitor")); // monitors are listed without --mutable

    CliResult properties = RunCli(Args({"properties", "PLC1"}));
    EXPECT_STATUS(properties, 0);
    EXPECT_TRUE(properties.out.contains("PLC1 Properties"));
    EXPECT_TRUE(properties.out.contains("Product: DX100-TEST"));
    EXPECT_TRUE(properties.out.contains("Communications: Ok"));
    EXPECT_STATUS(RunCli(Args({"properties", "NOPE"})), 2);
    EXPECT_STATUS(RunCli(Args({"list", "NOPE"})), 2);
}

TEST_F(CliProcessTest, SaveThenDiffMatchesAndAWriteShowsExactlyThatItem) {
    const QString file = FilePath("plc1.cfg");
    EXPECT_STATUS(RunCli(Args({"settings", "save", "PLC1"}) << file), 0);
    ASSERT_TRUE(QFile::exists(file));

    CliResult same = RunCli(Args({"settings", "diff", "PLC1"}) << file);
    EXPECT_STATUS(same, 0);
    EXPECT_TRUE(same.out.isEmpty());

    EXPECT_STATUS(RunCli(Args({"write", "PLC1", "Service: Loop.Set Point", "42.5"})), 0);
    CliResult differ = RunCli(Args({"settings", "diff", "PLC1", "--json"}) << file);
    EXPECT_STATUS(differ, 1);
    const QJsonObject diff = QJsonDocument::fromJson(differ.out.toUtf8()).object();
    EXPECT_FALSE(diff["match"].toBool());
    const QJsonArray items = diff["differ"].toArray();
    ASSERT_EQ(items.size(), 1) << differ.out.toStdString();
    EXPECT_EQ(items[0].toObject()["item"].toString(), "SERVICE: LOOP.SET POINT");
    EXPECT_EQ(items[0].toObject()["file"].toString().toDouble(), 20.0);
    EXPECT_EQ(items[0].toObject()["control"].toString().toDouble(), 42.5);
    EXPECT_TRUE(diff["onlyInFile"].toArray().isEmpty());
    EXPECT_TRUE(diff["onlyInControl"].toArray().isEmpty());

    // A file with an item the control lacks and without one it has.
    QFile edited(FilePath("edited.cfg"));
    ASSERT_TRUE(edited.open(QIODevice::WriteOnly));
    edited.write("COUNT\t5\r\nNO.SUCH.ITEM\t1\r\n");
    edited.close();
    CliResult partial = RunCli(Args({"settings", "diff", "PLC1"}) << edited.fileName());
    EXPECT_STATUS(partial, 1);
    EXPECT_TRUE(partial.out.contains("only in file"));
    EXPECT_TRUE(partial.out.contains("NO.SUCH.ITEM"));
    EXPECT_TRUE(partial.out.contains("only in control"));
    EXPECT_TRUE(partial.out.contains("PLANT.AREA.NAME"));

    EXPECT_STATUS(RunCli(Args({"settings", "diff", "PLC1"}) << FilePath("missing.cfg")), 2);
    EXPECT_STATUS(RunCli(Args({"settings", "save", "PLC1"}) << FilePath("no/such/dir/a.cfg")), 2);
    EXPECT_STATUS(RunCli(Args({"settings", "report", "PLC1"}) << FilePath("no/such/dir/a.txt")), 2);

    const QString report = FilePath("plc1.txt");
    EXPECT_STATUS(RunCli(Args({"settings", "report", "PLC1", "--decimals", "3"}) << report), 0);
    QFile reportFile(report);
    ASSERT_TRUE(reportFile.open(QIODevice::ReadOnly));
    EXPECT_TRUE(reportFile.readAll().contains("SERVICE: LOOP.SET POINT\t42.500\r\n"));
}

TEST_F(CliProcessTest, LoadWithoutYesChangesNothing) {
    const QString file = FilePath("plc1.cfg");
    EXPECT_STATUS(RunCli(Args({"settings", "save", "PLC1"}) << file), 0);
    EXPECT_STATUS(RunCli(Args({"write", "PLC1", "Count", "9"})), 0);

    CliResult refused = RunCli(Args({"settings", "load", "PLC1"}) << file);
    EXPECT_STATUS(refused, 2);
    EXPECT_TRUE(refused.err.contains("Loading the application settings from a file will cause "
                                     "control PLC1 to lock I\\O."));
    EXPECT_EQ(Read("PLC1", "Count"), "9");
    EXPECT_EQ(Read("PLC1", "Run Mode"), "0");

    CliResult loaded = RunCli(Args({"settings", "load", "PLC1", "--yes"}) << file);
    EXPECT_STATUS(loaded, 0);
    EXPECT_EQ(Read("PLC1", "Count"), "5");
    EXPECT_EQ(Read("PLC1", "Run Mode"), "1"); // left in I/O lock without --reset

    // A bad file is refused before anything is asked or sent.
    QFile bad(FilePath("bad.cfg"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("\r\nCOUNT\t3\r\nno tab here\r\n");
    bad.close();
    CliResult syntax = RunCli(Args({"settings", "load", "PLC2", "--yes"}) << bad.fileName());
    EXPECT_STATUS(syntax, 2);
    EXPECT_TRUE(syntax.err.contains("line 3."));
    EXPECT_EQ(Read("PLC2", "Run Mode"), "0");
}

TEST_F(CliProcessTest, LoadAnswersTheContinueQuestionFromTheFlags) {
    QFile file(FilePath("mixed.cfg"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("COUNT\t999\r\nPLANT.AREA.NAME\tSouth\r\n");
    file.close();
    CliResult result =
        RunCli(Args({"settings", "load", "PLC1", "--yes-to-all", "--reset"}) << file.fileName());
    // The refused item is reported and makes the load a difference; the
    // good one is loaded and the control reset.
    EXPECT_STATUS(result, 1);
    EXPECT_TRUE(result.err.contains("COUNT does not exist or the value being loaded is invalid"));
    EXPECT_TRUE(result.err.contains("PLC1 is Reset"));
    EXPECT_EQ(Read("PLC1", "Plant.Area.Name"), "South");
    EXPECT_EQ(Read("PLC1", "Run Mode"), "0");
}

TEST_F(CliProcessTest, WatchWritesWellFormedCsvWithIncreasingTimes) {
    const QString csv = FilePath("watch.csv");
    // The motor current moves with every tick of the server; the speed stays.
    CliResult result =
        RunCli(Args({"watch", "PLC2", "Service: Motor.Current", "Service: Motor.Speed",
                     "--duration", "2", "--interval", "50", "--output"})
               << csv);
    EXPECT_STATUS(result, 0);
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.endsWith('\n'));
    const QList<QByteArray> lines = text.trimmed().split('\n');
    ASSERT_GE(lines.size(), 3) << text.toStdString();
    EXPECT_EQ(lines[0], "time,Service: Motor.Current,Service: Motor.Speed");
    qint64 last = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines[i].split(',');
        ASSERT_EQ(fields.size(), 3) << lines[i].toStdString();
        const QDateTime time =
            QDateTime::fromString(QString::fromLatin1(fields[0]), Qt::ISODateWithMs);
        ASSERT_TRUE(time.isValid()) << fields[0].toStdString();
        EXPECT_TRUE(fields[0].contains('.')); // milliseconds
        EXPECT_GT(time.toMSecsSinceEpoch(), last);
        last = time.toMSecsSinceEpoch();
        EXPECT_EQ(fields[2], "1500");
        bool number = false;
        fields[1].toDouble(&number);
        EXPECT_TRUE(number) << fields[1].toStdString();
    }
}

TEST_F(CliProcessTest, WatchOfAnItemWithoutHotLinkIsARefusal) {
    const QString csv = FilePath("watch.csv");
    CliResult result = RunCli(Args({"watch", "PLC2", "Service: Motor.Current", "No.Such.Item",
                                    "--duration", "1", "--output"})
                              << csv);
    EXPECT_STATUS(result, 1);
    EXPECT_TRUE(result.err.contains("NO.SUCH.ITEM"));
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().startsWith("time,Service: Motor.Current,No.Such.Item\n"));
}

TEST_F(CliProcessTest, WatchEndsCleanlyOnInterrupt) {
    const QString csv = FilePath("watch.csv");
    QProcess process;
    process.start(QStringLiteral(ORVANE_CLI_EXE),
                  Args({"watch", "PLC2", "Service: Motor.Current", "--output"}) << csv);
    ASSERT_TRUE(process.waitForStarted(10000));
    // Wait for the first rows, then Ctrl+C.
    QElapsedTimer clock;
    clock.start();
    while (QFileInfo(csv).size() < 80 && clock.elapsed() < 60000) {
        process.waitForFinished(100);
    }
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.startsWith("time,Service: Motor.Current\n"));
    EXPECT_TRUE(text.endsWith('\n'));
    EXPECT_GE(text.count('\n'), 2);
}

TEST_F(CliProcessTest, ControlCommandsAskFirst) {
    CliResult unanswered = RunCli(Args({"lock-io", "PLC1"}));
    EXPECT_STATUS(unanswered, 2);
    EXPECT_TRUE(unanswered.err.contains(
        "This will cause an I\\O lock in control PLC1. Are you sure you want to continue?"));
    EXPECT_EQ(Read("PLC1", "Run Mode"), "0");

    // Reset needs the lock first.
    CliResult notLocked = RunCli(Args({"reset", "PLC1", "--no-save"}));
    EXPECT_STATUS(notLocked, 1);
    EXPECT_TRUE(notLocked.err.contains("Control PLC1 must be in I\\O lock before resetting."));

    CliResult locked = RunCli(Args({"lock-io", "PLC1", "--yes"}));
    EXPECT_STATUS(locked, 0);
    EXPECT_TRUE(locked.err.contains("PLC1 has it's I\\O locked."));
    EXPECT_EQ(Read("PLC1", "Run Mode"), "1");

    EXPECT_STATUS(RunCli(Args({"reset", "PLC1"})), 2); // the save question unanswered
    EXPECT_EQ(Read("PLC1", "Run Mode"), "1");
    CliResult reset = RunCli(Args({"reset", "PLC1", "--yes"}));
    EXPECT_STATUS(reset, 0);
    EXPECT_TRUE(reset.err.contains("PLC1 is Reset"));
    EXPECT_EQ(Read("PLC1", "Run Mode"), "0");

    EXPECT_STATUS(RunCli(Args({"save-values", "PLC1"})), 2);
    EXPECT_STATUS(RunCli(Args({"save-values", "PLC1", "--yes"})), 0);
    // PLC2 has no SaveValues: the control's refusal.
    EXPECT_STATUS(RunCli(Args({"save-values", "PLC2", "--yes"})), 1);
}

TEST_F(CliProcessTest, BackupSavesEveryControl) {
    const QString folder = FilePath("backup/nightly");
    CliResult result = RunCli(Args({"backup"}) << folder);
    EXPECT_STATUS(result, 0);
    for (const char* name : {"PLC1.cfg", "PLC1.txt", "PLC2.cfg", "PLC2.txt"}) {
        EXPECT_TRUE(QFile::exists(folder + "/" + name)) << name;
    }
    // The backup is the settings file of each control.
    CliResult diff = RunCli(Args({"settings", "diff", "PLC2"}) << folder + "/PLC2.cfg");
    EXPECT_STATUS(diff, 0);
    QFile plc2(folder + "/PLC2.cfg");
    ASSERT_TRUE(plc2.open(QIODevice::ReadOnly));
    EXPECT_EQ(plc2.readAll(), "SERVICE: MOTOR.SPEED\t1500\r\n");

    // A file where the folder should be.
    QFile blocker(FilePath("blocked"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_STATUS(RunCli(Args({"backup"}) << FilePath("blocked")), 2);
}

TEST_F(CliProcessTest, DownloadRunsTheScriptOnlyWhenAnswered) {
    QFile script(FilePath("app.scp"));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("product DX100-TEST\n"
                 "begin 00001000 00000100\n"
                 "write 00001000 4 DE AD BE EF\n"
                 "write 00001004 2 01 02\n"
                 "end\n");
    script.close();
    CliResult unanswered = RunCli(Args({"download", "PLC1"}) << script.fileName());
    EXPECT_STATUS(unanswered, 2);
    EXPECT_EQ(Read("PLC1", "Run Mode"), "0");

    CliResult done = RunCli(Args({"download", "PLC1", "--yes"}) << script.fileName());
    EXPECT_STATUS(done, 0);
    EXPECT_TRUE(done.err.contains("Bytes Downloaded: 6"));
    EXPECT_TRUE(done.err.contains("The application has changed in the control"));

    // Another product: stopped before the control is touched.
    CliResult other = RunCli(Args({"download", "PLC2", "--yes"}) << script.fileName());
    EXPECT_STATUS(other, 2);
    EXPECT_TRUE(other.err.contains("does not match the Product ID"));
    EXPECT_EQ(Read("PLC2", "Run Mode"), "0");

    QFile bad(FilePath("bad.scp"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("product DX100-TEST\nbegin 00001000 XYZ\n");
    bad.close();
    CliResult malformed = RunCli(Args({"download", "PLC1", "--yes"}) << bad.fileName());
    EXPECT_STATUS(malformed, 2);
    EXPECT_TRUE(malformed.err.contains("on line 2."));
}

TEST_F(CliProcessTest, UsageHelpAndCompletion) {
    EXPECT_STATUS(RunCli({}), 2);
    EXPECT_STATUS(RunCli(Args({"explode"})), 2);
    CliResult help = RunCli(Args({"help", "settings", "diff"}));
    EXPECT_STATUS(help, 0);
    EXPECT_TRUE(help.out.simplified().contains("Exit status 1 when they differ"));
    CliResult usage = RunCli(Args({"--help"}));
    EXPECT_STATUS(usage, 0);
    EXPECT_TRUE(usage.out.contains("settings diff"));
    CliResult completion = RunCli(Args({"completion", "bash"}));
    EXPECT_STATUS(completion, 0);

    // The script completes in a real bash.
    const QString script = FilePath("orvane-cli.bash");
    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(completion.out.toUtf8());
    file.close();
    const auto complete = [&script](const QString& words, int cword) {
        QProcess bash;
        bash.start(QStringLiteral("bash"),
                   {QStringLiteral("-c"),
                    QStringLiteral("source '%1'; COMP_WORDS=(%2); COMP_CWORD=%3; _orvane_cli; "
                                   "echo \"${COMPREPLY[*]}\"")
                        .arg(script, words)
                        .arg(cword)});
        bash.waitForFinished(10000);
        return QString::fromUtf8(bash.readAllStandardOutput()).trimmed();
    };
    EXPECT_EQ(complete("orvane-cli sett", 1), "settings");
    EXPECT_EQ(complete("orvane-cli settings l", 2), "load");
    EXPECT_EQ(complete("orvane-cli watch PLC1 --int", 3), "--interval");
    EXPECT_EQ(complete("orvane-cli settings load PLC1 --ye", 4), "--yes --yes-to-all");
    EXPECT_EQ(complete("orvane-cli read PLC1 --ye", 3), ""); // read asks nothing
}

// A server that does not answer one item: the read ends in time with status 3.
class CliSilentItemTest : public CliProcessTest {
protected:
    QStringList ServerArguments() const override { return Args({"--silent-item", "Count"}); }
};

TEST_F(CliSilentItemTest, UnansweredReadGivesStatusThreeWithinTheTimeOut) {
    CliResult silent = RunCli(Args({"read", "PLC1", "Count", "--server-timeout", "2"}));
    EXPECT_STATUS(silent, 3);
    // Connecting plus the bound, with room for a loaded machine.
    EXPECT_LT(silent.elapsedMs, 2000 + 8000);
    EXPECT_EQ(Read("PLC1", "Plant.Area.Name"), "North"); // the others still answer
}

// A server process that stands still (stopped, as a hung program would be):
// even the calls that block inside the DDE library end in time.
TEST_F(CliProcessTest, StoppedServerGivesStatusThreeWithinTheTimeOut) {
    ASSERT_EQ(::kill(static_cast<pid_t>(m_sim.pid()), SIGSTOP), 0);
    CliResult stopped = RunCli(Args({"read", "PLC1", "Count", "--server-timeout", "2"}));
    ::kill(static_cast<pid_t>(m_sim.pid()), SIGCONT);
    EXPECT_STATUS(stopped, 3);
    // Starting the tool plus the bound, with room for a loaded machine.
    EXPECT_LT(stopped.elapsedMs, 2000 + 8000);
    EXPECT_TRUE(stopped.err.contains("did not answer within"));
}

// A server that ends while a watch runs.
class CliEndingServerTest : public CliProcessTest {
protected:
    QStringList ServerArguments() const override { return Args({"--exit-after", "10000"}); }
};

TEST_F(CliEndingServerTest, LostServerEndsWatchWithACompleteFile) {
    const QString csv = FilePath("lost.csv");
    CliResult lost = RunCli(
        Args({"watch", "PLC1", "Service: Loop.Actual", "--duration", "60", "--output"}) << csv);
    EXPECT_STATUS(lost, 3);
    EXPECT_LT(lost.elapsedMs, 40000);
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.startsWith("time,Service: Loop.Actual\n"));
    EXPECT_TRUE(text.endsWith('\n'));
}

// A server that knows no controls asks for a network file, as the program
// does; --network answers.
TEST(CliEmptyServerTest, NetworkFileIsGivenByTheOption) {
    RegisterServer(serverExecutable());
    SimServer sim;
    ASSERT_TRUE(sim.start()) << sim.errorString().toStdString();
    CliResult empty = RunCli(Args({"controls", "--server-timeout", "10"}));
    EXPECT_STATUS(empty, 3);
    EXPECT_TRUE(empty.err.contains("--network FILE"));

    const QString network = sim.writeNetwork(SimServer::kSmallNetwork);
    CliResult given = RunCli(Args({"controls", "--network"}) << network);
    EXPECT_STATUS(given, 0);
    EXPECT_TRUE(given.out.contains("PLC1"));
    EXPECT_TRUE(given.out.contains("PLC2"));
}

// A server program that the tool started is closed again when it ends, also
// after a watch (whose hot links end just before).
TEST(CliStartedServerTest, ServerStartedByTheToolIsClosedAtTheEnd) {
    RegisterServer(serverExecutable());
    const auto serverWindow = [] { return FindWindow("Duxlane Server", nullptr); };
    ASSERT_EQ(serverWindow(), 0u);
    QTemporaryDir dir;
    for (const QStringList& arguments :
         {Args({"read", "BOILER_1", "Service: Drum.Pressure"}),
          Args({"watch", "BOILER_1", "Service: Drum.Pressure", "--duration", "1", "--output"})
              << dir.filePath("w.csv")}) {
        CliResult result = RunCli(arguments);
        EXPECT_STATUS(result, 0);
        // The tool asks the server to close; it ends on its own time.
        WaitUntil([&] { return serverWindow() == 0; }, 15000);
        const HWND left = serverWindow();
        EXPECT_EQ(left, 0u) << arguments.first().toStdString() << " left the server running";
        if (left != 0) {
            std::uint32_t pid = 0;
            GetWindowThreadProcessId(left, &pid);
            ::kill(static_cast<pid_t>(pid), SIGKILL);
        }
    }
}

// No server answers and the registered one cannot be started.
TEST(CliNoServerTest, UnreachableServerGivesStatusThree) {
    QTemporaryDir dir;
    RegisterServer(dir.filePath("no-such-server"));
    CliResult none = RunCli(Args({"controls", "--server-timeout", "3"}));
    EXPECT_STATUS(none, 3);
    EXPECT_LT(none.elapsedMs, 3000 + 10000);
    CliResult read = RunCli(Args({"read", "PLC1", "Count", "--server-timeout", "3"}));
    EXPECT_STATUS(read, 3);
}

} // namespace
} // namespace orvane::test
