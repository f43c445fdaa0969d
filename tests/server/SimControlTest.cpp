// The simulated control without DDE: names, attributes, poke rules, the
// commands with their result codes, reset timing, saved values and program
// memory, and the live values.

#include "SimControl.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "NetworkFile.h"
#include "ValueStore.h"

using namespace orvane::server;

namespace {

const QByteArray kControl = R"(duxlane-network 1
control "PLC1"
    application-id "App 1"
    product-id "P-1"
    reset-time 150
    erase-time 0
    program-block 4096 256
    item "Service: Loop.Set Point" tunable real min 0 max 100 decimals 1 value 20
    item "Service: Loop.Actual" monitor real min 0 max 100 decimals 1 value 20 live follow "Service: Loop.Set Point" tau 0.5
    item "Configure: Loop.Gain" configure real min 0.5 max 10 decimals 2 value 1
    item "Plant.Area.Name" tunable string maxlen 8 value "North"
    item Running monitor boolean value 1
end
)";

ControlDefinition definition(const QByteArray& text = kControl) {
    NetworkFileError error;
    auto network = NetworkFile::parse(text, &error);
    EXPECT_TRUE(network) << error.toString().toStdString();
    return network->controls.at(0);
}

class SimControlTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        store = std::make_unique<ValueStore>(dir.path());
        make();
    }
    void make(ControlDefinition def = definition()) {
        ControlTiming timing;
        timing.commandLatencyMs = 0;
        control = std::make_unique<SimControl>(std::move(def), store.get(), timing);
    }
    QString value(const char* name) { return control->value(control->find(name)); }
    // Runs a command and waits for its result code (empty when none came).
    QString run(const QString& command) {
        QString why;
        EXPECT_TRUE(control->execute(command, &why)) << why.toStdString();
        const auto which = SimControl::commandOf(command);
        const int slot = control->resultSlot(*which);
        [[maybe_unused]] const bool came =
            QTest::qWaitFor([&] { return !control->value(slot).isEmpty(); }, 1000);
        return control->value(slot);
    }
    QTemporaryDir dir;
    std::unique_ptr<ValueStore> store;
    std::unique_ptr<SimControl> control;
};

} // namespace

TEST_F(SimControlTest, AnswersNamesListsAndIdentificationIgnoringLetterCase) {
    EXPECT_EQ(control->find("service: loop.SET POINT"), 0);
    EXPECT_EQ(control->find("nothing"), -1);
    EXPECT_EQ(value("TopicItemList"),
              "Service: Loop.Set Point\tService: Loop.Actual\tConfigure: Loop.Gain\t"
              "Plant.Area.Name\tRunning");
    EXPECT_EQ(value("mutableitemlist"),
              "Service: Loop.Set Point\tConfigure: Loop.Gain\tPlant.Area.Name");
    EXPECT_EQ(value("Application ID"), "App 1");
    EXPECT_EQ(value("Product ID"), "P-1");
    EXPECT_EQ(value("Run Mode"), "0");
    EXPECT_EQ(value("Control Status"), "1");
    EXPECT_EQ(value("Reset.Result"), "");
}

TEST_F(SimControlTest, AttributeReplyCarriesClassTypeAndLimits) {
    EXPECT_EQ(control->attributes(control->find("Configure: Loop.Gain")), QByteArray("\x03\x21"
                                                                                     "0.5\0"
                                                                                     "10\0",
                                                                                     9));
    EXPECT_EQ(control->attributes(control->find("Plant.Area.Name")), QByteArray("\x02\x50\0\0", 4));
    EXPECT_EQ(control->attributes(control->find("Running")), QByteArray("\x01\x01"
                                                                        "0\0"
                                                                        "1\0",
                                                                        6));
}

TEST_F(SimControlTest, PokesObeyClassLockLimitsAndForm) {
    using R = SimControl::PokeResult;
    EXPECT_EQ(control->poke(control->find("Running"), "0"), R::ReadOnly);
    EXPECT_EQ(control->poke(control->find("Run Mode"), "1"), R::ReadOnly);
    EXPECT_EQ(control->poke(-1, "1"), R::UnknownItem);
    const int gain = control->find("Configure: Loop.Gain");
    EXPECT_EQ(control->poke(gain, "2"), R::NeedsIoLock);
    EXPECT_EQ(run("Shutdown"), "0");
    EXPECT_EQ(value("Run Mode"), "1");
    EXPECT_EQ(control->poke(gain, "2,5"), R::Ok);
    EXPECT_EQ(control->value(gain), "2.50");
    EXPECT_EQ(control->poke(gain, "11"), R::OutOfRange);
    EXPECT_EQ(control->poke(gain, "fast"), R::BadValue);
    EXPECT_EQ(control->poke(control->find("Plant.Area.Name"), "Far too long"), R::TooLong);
    EXPECT_EQ(control->value(gain), "2.50");
}

TEST_F(SimControlTest, ResetNeedsTheLockThenComesBackUnlockedWithSavedValues) {
    EXPECT_EQ(run("Reset"), "1");
    EXPECT_EQ(value("Control Status"), "1");
    const int sp = control->find("Service: Loop.Set Point");
    ASSERT_EQ(control->poke(sp, "30"), SimControl::PokeResult::Ok);
    EXPECT_EQ(run("SaveValues"), "0");
    ASSERT_EQ(control->poke(sp, "55"), SimControl::PokeResult::Ok);
    EXPECT_EQ(run("Shutdown"), "0");
    EXPECT_EQ(run("Reset"), "0");
    EXPECT_EQ(value("Control Status"), "0");
    EXPECT_EQ(control->poke(sp, "60"), SimControl::PokeResult::OffLine);
    QString why;
    EXPECT_FALSE(control->execute("Shutdown", &why)); // off line: no commands
    EXPECT_TRUE(QTest::qWaitFor([&] { return value("Control Status") == "1"; }, 2000));
    EXPECT_EQ(value("Run Mode"), "0");
    EXPECT_EQ(control->value(sp), "30.0");
}

TEST_F(SimControlTest, SavedValuesSurviveANewControlAndDamagedFilesAreIgnored) {
    const int name = control->find("Plant.Area.Name");
    ASSERT_EQ(control->poke(name, "South"), SimControl::PokeResult::Ok);
    EXPECT_EQ(run("SaveValues"), "0");
    make();
    EXPECT_EQ(value("Plant.Area.Name"), "South");

    QFile file(store->controlFile("PLC1"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("garbage\n");
    file.close();
    make();
    EXPECT_EQ(value("Plant.Area.Name"), "North");
}

TEST_F(SimControlTest, SaveValuesReportsUnsupportedAndMemoryErrors) {
    ControlDefinition def = definition();
    def.saveValuesSupported = false;
    make(def);
    EXPECT_EQ(run("SaveValues"), "255");

    // A data folder that is a plain file cannot take the values: "Memory Error",
    // and the file stays as it was.
    const QString blocked = dir.filePath("blocked");
    QFile file(blocked);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("keep");
    file.close();
    store = std::make_unique<ValueStore>(blocked);
    make();
    EXPECT_EQ(run("SaveValues"), "1");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "keep");
}

TEST_F(SimControlTest, ProgrammingCommandsCheckModeBlockAddressesAndLengths) {
    EXPECT_EQ(run("BeginProgrammingMode(4096;16)"), "7"); // no I/O lock
    EXPECT_EQ(run("Shutdown"), "0");
    EXPECT_EQ(run("WriteProgramMemory(4096;1\t2)"), "2"); // nothing opened
    EXPECT_EQ(run("BeginProgrammingMode(100;16)"), "1");
    EXPECT_EQ(run("BeginProgrammingMode(4097;16)"), "5");
    EXPECT_EQ(run("BeginProgrammingMode(4096;15)"), "6");
    EXPECT_EQ(run("BeginProgrammingMode(4096;258)"), "4");
    EXPECT_EQ(run("BeginProgrammingMode(4096;16)"), "0");
    EXPECT_EQ(run("WriteProgramMemory(4097;1\t2)"), "5");
    EXPECT_EQ(run("WriteProgramMemory(4096;1\t2\t3)"), "6");
    EXPECT_EQ(run("WriteProgramMemory(4112;1\t2)"), "3");
    EXPECT_EQ(run("WriteProgramMemory(4110;1\t2\t3\t4)"), "4");
    EXPECT_EQ(run("WriteProgramMemory(4096;1\t2\t255\t0)"), "0");
    EXPECT_EQ(run("WriteProgramMemory(4096;9\t9)"), "2"); // written once per erase
    EXPECT_EQ(run("WriteProgramMemory(4100;)"), "0");
    EXPECT_EQ(value("Application ID"), "App 1");
    EXPECT_EQ(run("EndProgrammingMode"), "0");
    const QString app = value("Application ID");
    EXPECT_TRUE(app.startsWith("APP-")) << app.toStdString();
    EXPECT_EQ(run("EndProgrammingMode"), "1");
    // The new application stays after a restart of the server.
    make();
    EXPECT_EQ(value("Application ID"), app);
}

TEST_F(SimControlTest, ControlWithoutProgramMemoryOrWithSecurityLockRefusesProgramming) {
    ControlDefinition def = definition();
    def.programBlocks.clear();
    make(def);
    EXPECT_EQ(run("BeginProgrammingMode(4096;16)"), "255");
    def = definition();
    def.securityLocked = true;
    make(def);
    EXPECT_EQ(run("WriteProgramMemory(4096;1\t2)"), "254");
}

TEST_F(SimControlTest, MalformedCommandsAreRefusedAndChangeNothing) {
    const QString bad[] = {"Reboot",
                           "Reset(1)",
                           "ShutdownNow",
                           "BeginProgrammingMode(4096)",
                           "BeginProgrammingMode(4096;x)",
                           "BeginProgrammingMode(4096;99999999999)",
                           "WriteProgramMemory(4096;256)",
                           "WriteProgramMemory(4096;1,2)",
                           "WriteProgramMemory 4096;1",
                           "WriteProgramMemory(4096;1\t\t2)",
                           "WriteProgramMemory(4096;1\t2\t)",
                           "WriteProgramMemory(4096;\t1)",
                           "WriteProgramMemory(4096;1\t 2)",
                           QString(70000, 'R')};
    for (const QString& text : bad) {
        QString why;
        EXPECT_FALSE(control->execute(text, &why)) << text.left(40).toStdString();
        EXPECT_FALSE(why.isEmpty());
    }
    EXPECT_EQ(value("Run Mode"), "0");
}

TEST_F(SimControlTest, LiveValuesMoveWithinLimitsAndFollowTheirSetPoint) {
    const int sp = control->find("Service: Loop.Set Point");
    const int actual = control->find("Service: Loop.Actual");
    ASSERT_EQ(control->poke(sp, "80"), SimControl::PokeResult::Ok);
    int changes = 0;
    QObject::connect(control.get(), &SimControl::valueChanged,
                     [&](int slot) { changes += slot == actual; });
    for (int i = 0; i < 50; ++i) {
        control->advance(0.1, 0);
    }
    EXPECT_GT(changes, 10);
    EXPECT_NEAR(control->value(actual).toDouble(), 80.0, 0.5);
}
