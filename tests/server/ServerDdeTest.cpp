// The duxlane-server process driven through the DDE library's client side:
// services and topics, replies and refusals, command result codes, reset
// timing, saved values across a restart, the termination request, and every
// fault injection switch.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>

#include "DdeTestClient.h"
#include "SimServer.h"
#include "platform/WindowClass.h"

using namespace orvane::test;

namespace {

class ServerDdeTest : public testing::Test {
protected:
    bool startWith(const QStringList& arguments = {}, const QHash<QString, QString>& env = {}) {
        SimServer::Options options;
        options.arguments = arguments;
        options.environment = env;
        if (network.isEmpty()) {
            network = server.writeNetwork(SimServer::kSmallNetwork);
        }
        const bool ok = server.start(network, options);
        EXPECT_TRUE(ok) << server.errorString().toStdString();
        return ok;
    }
    HCONV plc1() {
        const HCONV conv = client.connectControl("PLC1");
        EXPECT_NE(conv, 0u) << "error " << client.lastError();
        return conv;
    }
    SimServer server;
    DdeTestClient client;
    QString network;
};

} // namespace

TEST_F(ServerDdeTest, SystemTopicListsControlsAndCountsConversations) {
    ASSERT_TRUE(startWith());
    const HCONV generic = client.connect("Duxlane", "System");
    const HCONV system = client.connect("UPCIDuxlane", "system");
    ASSERT_NE(generic, 0u);
    ASSERT_NE(system, 0u);
    EXPECT_EQ(client.text(system, "Topics"), "PLC1\tPLC2\tSYSTEM");
    EXPECT_EQ(client.text(system, "conversation count"), "2");
    const HCONV control = plc1();
    EXPECT_EQ(client.text(system, "Conversation Count"), "3");
    client.disconnect(control);
    EXPECT_TRUE(waitUntil([&] { return client.text(system, "Conversation Count") == "2"; }));
    EXPECT_EQ(client.connect("UPCIDuxlane", "NOPE"), 0u);
    EXPECT_EQ(client.connect("Duxlane", "PLC1"), 0u);
    EXPECT_FALSE(client.text(system, "Nothing"));
}

TEST_F(ServerDdeTest, OpenCommandOpensGoodFilesAndRefusesBadOnes) {
    ASSERT_TRUE(server.start());
    const HCONV generic = client.connect("Duxlane", "System");
    const HCONV system = client.connect("UPCIDuxlane", "System");
    ASSERT_NE(generic, 0u);
    EXPECT_EQ(client.text(system, "Topics"), "SYSTEM");

    const QString bad = server.writeNetwork(
        "duxlane-network 1\ncontrol \"X\"\n  item Y blue real\nend\n", "bad.net");
    EXPECT_FALSE(client.execute(generic, "[open(\"" + bad.toUtf8() + "\")]"));
    EXPECT_FALSE(client.execute(generic, "[open(\"/nonexistent/plant.net\")]"));
    EXPECT_FALSE(client.execute(generic, "[close(\"x\")]"));
    EXPECT_FALSE(client.execute(generic, "open it"));
    EXPECT_EQ(client.text(system, "Topics"), "SYSTEM");
    EXPECT_TRUE(server.output().contains("line 3")) << server.output().toStdString();

    const QString good = server.writeNetwork(SimServer::kSmallNetwork, "good.net");
    EXPECT_TRUE(client.execute(generic, "[open(\"" + good.toUtf8() + "\")]"));
    EXPECT_EQ(client.text(system, "Topics"), "PLC1\tPLC2\tSYSTEM");
    // Opening the same file again changes nothing.
    EXPECT_TRUE(client.execute(generic, "[open(\"" + good.toUtf8() + "\")]"));
    EXPECT_EQ(client.text(system, "Topics"), "PLC1\tPLC2\tSYSTEM");
}

TEST_F(ServerDdeTest, ControlTopicAnswersListsValuesAttributesAndIdentification) {
    ASSERT_TRUE(startWith());
    const HCONV conv = plc1();
    EXPECT_EQ(client.text(conv, "TopicItemList"),
              "Service: Loop.Set Point\tService: Loop.Actual\tConfigure: Loop.Gain\t"
              "Plant.Area.Name\tPlant.Area.Start\tRunning\tCount");
    EXPECT_EQ(client.text(conv, "MutableItemList"),
              "Service: Loop.Set Point\tConfigure: Loop.Gain\tPlant.Area.Name\tPlant.Area.Start\t"
              "Count");
    EXPECT_EQ(client.text(conv, "SERVICE: LOOP.SET POINT"), "20.0");
    EXPECT_EQ(client.text(conv, "plant.area.name"), "North");
    EXPECT_EQ(client.request(conv, "Configure: Loop.Gain", 0x0200), QByteArray("\x03\x21"
                                                                               "0.5\0"
                                                                               "10\0",
                                                                               9));
    EXPECT_EQ(client.request(conv, "Plant.Area.Start", 0x0200), QByteArray("\x02\x40"
                                                                           "00:00:00.00\0"
                                                                           "23:59:59.99\0",
                                                                           26));
    EXPECT_EQ(client.text(conv, "Protocol ID"), "DXP 2.1");
    EXPECT_EQ(client.text(conv, "System ID"), "DX-100 S/N 1");
    EXPECT_EQ(client.text(conv, "Application ID"), "Test App 1.0");
    EXPECT_EQ(client.text(conv, "Product ID"), "DX100-TEST");
    EXPECT_EQ(client.text(conv, "Configuration ID"), "CFG-1");
    EXPECT_EQ(client.text(conv, "Run Mode"), "0");
    EXPECT_EQ(client.text(conv, "Control Status"), "1");
    EXPECT_FALSE(client.text(conv, "No Such Item"));
    EXPECT_FALSE(client.request(conv, "Running", 7)); // an unknown format
    EXPECT_TRUE(server.output().contains("No Such Item"));
}

TEST_F(ServerDdeTest, PokesFollowClassLockLimitsAndForm) {
    ASSERT_TRUE(startWith());
    const HCONV conv = plc1();
    EXPECT_FALSE(client.poke(conv, "Running", "0"));
    EXPECT_FALSE(client.poke(conv, "Configure: Loop.Gain", "2"));
    EXPECT_FALSE(client.poke(conv, "Count", "abc"));
    EXPECT_FALSE(client.poke(conv, "Count", "101"));
    EXPECT_FALSE(client.poke(conv, "Plant.Area.Name", "Much too long"));
    EXPECT_FALSE(client.poke(conv, "Plant.Area.Name", QByteArray(10000, 'x')));
    EXPECT_FALSE(client.poke(conv, "Nowhere", "1"));
    EXPECT_TRUE(client.poke(conv, "count", "-7"));
    EXPECT_EQ(client.text(conv, "Count"), "-7");
    EXPECT_TRUE(client.poke(conv, "Service: Loop.Set Point", "33,3"));
    EXPECT_EQ(client.text(conv, "Service: Loop.Set Point"), "33.3");

    EXPECT_EQ(client.runCommand(conv, "Shutdown"), "0");
    EXPECT_EQ(client.text(conv, "Run Mode"), "1");
    EXPECT_TRUE(client.poke(conv, "Configure: Loop.Gain", "2.5"));
    EXPECT_EQ(client.text(conv, "Configure: Loop.Gain"), "2.50");
    EXPECT_TRUE(server.isRunning());
}

TEST_F(ServerDdeTest, CommandsAnswerTheirResultCodes) {
    ASSERT_TRUE(startWith());
    const HCONV conv = plc1();
    EXPECT_EQ(client.runCommand(conv, "Reset"), "1");
    EXPECT_EQ(client.runCommand(conv, "BeginProgrammingMode(4096;16)"), "7");
    EXPECT_EQ(client.runCommand(conv, "Shutdown"), "0");
    EXPECT_EQ(client.runCommand(conv, "BeginProgrammingMode(4096;16)"), "0");
    EXPECT_EQ(client.runCommand(conv, "WriteProgramMemory(4097;1\t2)"), "5");
    EXPECT_EQ(client.runCommand(conv, "WriteProgramMemory(5000;1\t2)"), "3");
    EXPECT_EQ(client.runCommand(conv, "WriteProgramMemory(4096;1\t2\t3\t4)"), "0");
    EXPECT_EQ(client.runCommand(conv, "EndProgrammingMode"), "0");
    EXPECT_TRUE(client.text(conv, "Application ID")->startsWith("APP-"));
    // The result item can also be read.
    EXPECT_EQ(client.text(conv, "EndProgrammingMode.Result"), "0");

    const HCONV plc2 = client.connectControl("PLC2");
    EXPECT_EQ(client.runCommand(plc2, "SaveValues"), "255");
    EXPECT_EQ(client.runCommand(plc2, "Shutdown"), "0");
    EXPECT_EQ(client.runCommand(plc2, "BeginProgrammingMode(0;2)"), "255");

    // Malformed commands are refused as transactions.
    EXPECT_FALSE(client.execute(conv, "Reboot"));
    EXPECT_FALSE(client.execute(conv, "WriteProgramMemory(4096;1,2)"));
    EXPECT_FALSE(client.execute(conv, QByteArray(100000, 'W')));
    EXPECT_TRUE(server.isRunning());
}

TEST_F(ServerDdeTest, ResetTakesTheControlOffLineAndBringsItBackWithSavedValues) {
    ASSERT_TRUE(startWith({"--reset-time", "300"}));
    const HCONV conv = plc1();
    ASSERT_TRUE(client.poke(conv, "Count", "11"));
    EXPECT_EQ(client.runCommand(conv, "SaveValues"), "0");
    ASSERT_TRUE(client.poke(conv, "Count", "12"));
    EXPECT_EQ(client.runCommand(conv, "Shutdown"), "0");
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(client.runCommand(conv, "Reset"), "0");
    EXPECT_EQ(client.text(conv, "Control Status"), "0");
    EXPECT_FALSE(client.poke(conv, "Count", "13"));
    EXPECT_TRUE(waitUntil([&] { return client.text(conv, "Control Status") == "1"; }));
    EXPECT_GE(clock.elapsed(), 250);
    EXPECT_EQ(client.text(conv, "Run Mode"), "0");
    EXPECT_EQ(client.text(conv, "Count"), "11");
}

TEST_F(ServerDdeTest, HotLinksPushLiveValuesAndPokedChanges) {
    ASSERT_TRUE(startWith());
    const HCONV conv = plc1();
    ASSERT_TRUE(client.poke(conv, "Service: Loop.Set Point", "90"));
    ASSERT_TRUE(client.startAdvise(conv, "service: loop.actual"));
    ASSERT_TRUE(client.startAdvise(conv, "Count"));
    // A new link gets the current value at once, even of an item that stands still.
    EXPECT_TRUE(client.waitForPushes("Count", 1));
    EXPECT_EQ(client.pushed("Count"), QStringList({"5"}));
    EXPECT_TRUE(client.waitForPushes("Service: Loop.Actual", 3));
    ASSERT_TRUE(client.poke(conv, "Count", "42"));
    EXPECT_TRUE(client.waitForPushes("Count", 2));
    EXPECT_EQ(client.pushed("Count").last(), "42");
    // Stopped links get nothing more. Pushes and replies of a conversation
    // arrive in order: once a request made after a change is answered, a push
    // of that change would have arrived.
    ASSERT_TRUE(client.stopAdvise(conv, "Service: Loop.Actual"));
    ASSERT_TRUE(client.stopAdvise(conv, "Count"));
    const qsizetype stopped = client.pushed("Service: Loop.Actual").size();
    const QStringList counts = client.pushed("Count");
    ASSERT_TRUE(client.poke(conv, "Count", "43"));
    EXPECT_EQ(client.text(conv, "Count"), "43");
    // The actual value follows a new set point tick by tick.
    ASSERT_TRUE(client.poke(conv, "Service: Loop.Set Point", "10"));
    const std::optional<QString> actual = client.text(conv, "Service: Loop.Actual");
    ASSERT_TRUE(actual);
    EXPECT_TRUE(waitUntil([&] { return client.text(conv, "Service: Loop.Actual") != actual; }));
    EXPECT_EQ(client.pushed("Service: Loop.Actual").size(), stopped);
    EXPECT_EQ(client.pushed("Count"), counts);
    EXPECT_FALSE(client.startAdvise(conv, "No Such Item"));
}

TEST_F(ServerDdeTest, SavedValuesAndOpenedNetworksSurviveARestart) {
    ASSERT_TRUE(startWith());
    HCONV conv = plc1();
    ASSERT_TRUE(client.poke(conv, "Plant.Area.Name", "South"));
    ASSERT_TRUE(client.poke(conv, "Count", "-3"));
    EXPECT_EQ(client.runCommand(conv, "SaveValues"), "0");
    ASSERT_TRUE(client.poke(conv, "Count", "99")); // not saved
    EXPECT_EQ(server.stop(), 0);

    // No file given this time: the server reopens the one it remembers.
    ASSERT_TRUE(server.start());
    conv = plc1();
    EXPECT_EQ(client.text(conv, "Plant.Area.Name"), "South");
    EXPECT_EQ(client.text(conv, "Count"), "-3");
}

TEST_F(ServerDdeTest, FirstStartOpensTheDemoNetworkUnlessToldNotTo) {
    SimServer::Options options;
    options.defaultNetwork = true;
    ASSERT_TRUE(server.start(QString(), options)) << server.errorString().toStdString();
    const HCONV system = client.connect("UPCIDuxlane", "System");
    EXPECT_EQ(client.text(system, "Topics"), "BOILER_1\tPUMPS_2\tDRIVE_3\tSYSTEM");
    const HCONV boiler = client.connectControl("BOILER_1");
    EXPECT_GT(client.text(boiler, "TopicItemList")->count('\t'), 100);
    ASSERT_TRUE(client.startAdvise(boiler, "Service: Burner.Flame Temperature"));
    EXPECT_TRUE(client.waitForPushes("Service: Burner.Flame Temperature", 2));
}

TEST_F(ServerDdeTest, TerminationRequestEndsTheServerCleanly) {
    ASSERT_TRUE(startWith());
    const HCONV conv = plc1();
    const qint64 pid = server.pid();
    EXPECT_EQ(static_cast<qint64>(FindWindow("Duxlane Server", nullptr)), pid);
    EXPECT_EQ(server.stop(), 0);
    EXPECT_EQ(FindWindow("Duxlane Server", nullptr), 0u);
    EXPECT_TRUE(waitUntil([&] { return client.wasDisconnected(conv); }));
}

TEST_F(ServerDdeTest, ClientThatLeavesMidTransactionDoesNotHurtTheServer) {
    ASSERT_TRUE(startWith({"--silent-item", "Count"}));
    HCONV conv = plc1();
    EXPECT_FALSE(client.text(conv, "Count", 200)); // times out while the server holds it
    client.disconnect(conv);
    conv = plc1();
    EXPECT_EQ(client.text(conv, "Running"), "1");
    EXPECT_TRUE(server.isRunning());
}

TEST_F(ServerDdeTest, FaultLateTopicsAppearOnlyAfterTheirDelay) {
    // The delay runs from the server's start: the early checks hold only when
    // they were made within it (a loaded machine may take longer to get here).
    constexpr int kDelayMs = 1500;
    QElapsedTimer sinceStart;
    sinceStart.start();
    ASSERT_TRUE(startWith({"--topic-delay", QString::number(kDelayMs)}));
    const HCONV system = client.connect("UPCIDuxlane", "System");
    const std::optional<QString> early = client.text(system, "Topics");
    const HCONV tooSoon = client.connectControl("PLC1");
    if (sinceStart.elapsed() < kDelayMs) {
        EXPECT_EQ(early, "SYSTEM");
        EXPECT_EQ(tooSoon, 0u);
    }
    EXPECT_TRUE(waitUntil([&] { return client.text(system, "Topics") == "PLC1\tPLC2\tSYSTEM"; }));
    EXPECT_NE(client.connectControl("PLC1"), 0u);
}

TEST_F(ServerDdeTest, FaultDelayedRepliesComeLate) {
    ASSERT_TRUE(startWith({"--reply-delay", "300"}));
    const HCONV conv = plc1();
    EXPECT_FALSE(client.text(conv, "Running", 100));
    EXPECT_EQ(client.lastError(), DMLERR_DATAACKTIMEOUT);
    EXPECT_EQ(client.text(conv, "Running", 3000), "1");
}

TEST_F(ServerDdeTest, FaultSilentAndRefusedItems) {
    ASSERT_TRUE(startWith({"--silent-item", "Count", "--error-item", "plant.area.name"}));
    const HCONV conv = plc1();
    EXPECT_FALSE(client.text(conv, "Plant.Area.Name", 3000));
    EXPECT_EQ(client.lastError(), DMLERR_NOTPROCESSED);
    EXPECT_FALSE(client.poke(conv, "Plant.Area.Name", "West", 3000));
    EXPECT_FALSE(client.startAdvise(conv, "Plant.Area.Name"));
    const HCONV other = client.connectControl("PLC1");
    EXPECT_FALSE(client.text(other, "Count", 200));
    EXPECT_EQ(client.lastError(), DMLERR_DATAACKTIMEOUT);
    EXPECT_EQ(client.text(conv, "Running"), "1");
}

TEST_F(ServerDdeTest, FaultSilentAndFailingCommands) {
    ASSERT_TRUE(startWith({"--silent-command", "Reset"},
                          {{"DUXLANE_FAIL_COMMANDS", "SaveValues=1|Shutdown=9"}}));
    const HCONV conv = plc1();
    EXPECT_EQ(client.runCommand(conv, "SaveValues"), "1");
    EXPECT_EQ(client.runCommand(conv, "Shutdown"), "9");
    EXPECT_EQ(client.text(conv, "Run Mode"), "0"); // a failed command did nothing
    EXPECT_EQ(client.runCommand(conv, "Reset", 400), "");
    EXPECT_EQ(client.text(conv, "Control Status"), "1");
}

TEST_F(ServerDdeTest, FaultDeadControlNeverAnswersStatusOne) {
    ASSERT_TRUE(startWith({"--dead-control", "plc2"}));
    const HCONV plc2 = client.connectControl("PLC2");
    ASSERT_NE(plc2, 0u);
    EXPECT_EQ(client.text(plc2, "Control Status"), "0");
    // Still so once the server's clock has moved on: the live current of the
    // same control has changed a few times meanwhile.
    ASSERT_TRUE(client.startAdvise(plc2, "Service: Motor.Current"));
    EXPECT_TRUE(client.waitForPushes("Service: Motor.Current", 3));
    EXPECT_EQ(client.text(plc2, "Control Status"), "0");
    EXPECT_EQ(client.text(plc1(), "Control Status"), "1");
}

TEST_F(ServerDdeTest, FaultServerExitsAfterItsTime) {
    // The time runs from the server's start, not from this client's
    // connection: on a loaded machine the server may be gone before the
    // client reaches it, so the start is not awaited and the conversation may
    // never come.
    SimServer::Options options;
    options.environment = {{"DUXLANE_EXIT_AFTER_MS", "800"}};
    options.waitUntilAnswering = false;
    ASSERT_TRUE(server.start(server.writeNetwork(SimServer::kSmallNetwork), options))
        << server.errorString().toStdString();
    HCONV conv = 0;
    waitUntil([&] {
        conv = client.connectControl("PLC1");
        return conv != 0 || !server.isRunning();
    });
    EXPECT_TRUE(server.waitForExit(5000));
    EXPECT_EQ(server.exitCode(), 3);
    if (conv != 0) {
        EXPECT_TRUE(waitUntil([&] { return client.wasDisconnected(conv); }));
    }
}
