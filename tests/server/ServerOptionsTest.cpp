// Options and environment of the server, the remembered network list, and
// the generator mode of the executable.

#include "ServerOptions.h"
#include "ValueStore.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "NetworkFile.h"
#include "TestEnvironment.h"

using namespace orvane::server;

TEST(ServerOptions, ArgumentsSetTimingsAndFaults) {
    ServerOptions o;
    QString error;
    ASSERT_TRUE(o.parseArguments({"--open",
                                  "a.net",
                                  "--open",
                                  "b.net",
                                  "--reset-time",
                                  "250",
                                  "--reply-delay",
                                  "40",
                                  "--silent-item",
                                  "Count",
                                  "--error-item",
                                  "Plant.Area.Name",
                                  "--fail-command",
                                  "savevalues=1",
                                  "--dead-control",
                                  "PLC2",
                                  "--exit-after",
                                  "0",
                                  "--no-default-network",
                                  "--drop-topic",
                                  "plc1=3",
                                  "--drop-topic",
                                  "PLC2=0"},
                                 &error))
        << error.toStdString();
    EXPECT_EQ(o.openFiles, QStringList({"a.net", "b.net"}));
    EXPECT_EQ(o.resetTimeMs, 250);
    EXPECT_EQ(o.replyDelayMs, 40);
    EXPECT_TRUE(o.isSilentItem("COUNT"));
    EXPECT_TRUE(o.isErrorItem("plant.area.name"));
    EXPECT_EQ(o.failCommands.value("SAVEVALUES", -1), 1);
    EXPECT_TRUE(o.isDeadControl("plc2"));
    EXPECT_EQ(o.exitAfterMs, 0);
    EXPECT_TRUE(o.noDefaultNetwork);
    EXPECT_EQ(o.dropTopics, (QHash<QString, int>{{"PLC1", 3}, {"PLC2", 0}}));
}

TEST(ServerOptions, MalformedArgumentsAreRefusedWithAReason) {
    const QStringList bad[] = {{"--reset-time"},
                               {"--reset-time", "-5"},
                               {"--reply-delay", "soon"},
                               {"--fail-command", "Reset"},
                               {"--fail-command", "Reset=300"},
                               {"--tick", "0"},
                               {"--drop-topic", "PLC1"},
                               {"--drop-topic", "=2"},
                               {"--drop-topic", "PLC1=-1"},
                               {"--drop-topic", "PLC1=many"},
                               {"--generate-network", "0", "x.net"},
                               {"--frobnicate"}};
    for (const QStringList& args : bad) {
        ServerOptions o;
        QString error;
        EXPECT_FALSE(o.parseArguments(args, &error)) << args.join(' ').toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(ServerOptions, EnvironmentGivesTheSameSwitches) {
    const std::pair<const char*, const char*> vars[] = {
        {"DUXLANE_NETWORK", "one.net|two.net"},
        {"DUXLANE_NO_DEFAULT_NETWORK", "yes"},
        {"DUXLANE_TOPIC_DELAY_MS", "300"},
        {"DUXLANE_SILENT_COMMANDS", "Reset|SaveValues"},
        {"DUXLANE_FAIL_COMMANDS", "Shutdown=9|bad|Reset=1"},
        {"DUXLANE_RESET_TIME_MS", "not a number"},
        {"DUXLANE_DROP_TOPICS", "PLC1=2|PLC2|x=y"},
    };
    for (const auto& [name, value] : vars) {
        qputenv(name, value);
    }
    const ServerOptions o = ServerOptions::fromEnvironment();
    for (const auto& [name, value] : vars) {
        qunsetenv(name);
    }
    EXPECT_EQ(o.openFiles, QStringList({"one.net", "two.net"}));
    EXPECT_TRUE(o.noDefaultNetwork);
    EXPECT_EQ(o.topicDelayMs, 300);
    EXPECT_EQ(o.silentCommands, QStringList({"Reset", "SaveValues"}));
    EXPECT_EQ(o.failCommands.size(), 2);
    EXPECT_EQ(o.failCommands.value("SHUTDOWN"), 9);
    EXPECT_EQ(o.resetTimeMs, -1); // a malformed value is ignored
    EXPECT_EQ(o.dropTopics, (QHash<QString, int>{{"PLC1", 2}}));
}

TEST(ValueStore, RemembersEachNetworkOnceAndFindsItsFolder) {
    QTemporaryDir dir;
    ValueStore store(dir.filePath("data"));
    EXPECT_FALSE(store.hasNetworkList());
    EXPECT_TRUE(store.rememberNetwork("/plant/a.net"));
    EXPECT_TRUE(store.rememberNetwork("/plant/b.net"));
    EXPECT_TRUE(store.rememberNetwork("/plant/a.net"));
    EXPECT_TRUE(store.hasNetworkList());
    EXPECT_EQ(ValueStore(dir.filePath("data")).networkList(),
              QStringList({"/plant/a.net", "/plant/b.net"}));
    // Topics with characters that do not belong in file names stay one file.
    EXPECT_TRUE(store.controlFile("A/B:C").endsWith("/controls/A%2FB%3AC.values"));
    EXPECT_EQ(ValueStore::defaultDataDir(), orvane::test::TestEnvironment::instance()->dataDir());
}

TEST(ServerExecutable, GeneratesALargeNetworkOnRequest) {
    QTemporaryDir dir;
    const QString out = dir.filePath("big.net");
    QProcess process;
    process.start(orvane::test::serverExecutable(),
                  {"--generate-network", "3000", out, "--live-items", "300"});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAll().toStdString();
    NetworkFileError error;
    const auto network = NetworkFile::load(out, &error);
    ASSERT_TRUE(network) << error.toString().toStdString();
    EXPECT_EQ(network->controls.at(0).items.size(), 3000u);

    process.start(orvane::test::serverExecutable(), {"--no-such-option"});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 2);
    EXPECT_TRUE(process.readAllStandardError().contains("unknown option"));
}
