// The server core run in the test's own process and event loop, as later
// tests of the program's model may run it.

#include <gtest/gtest.h>

#include "DdeTestClient.h"
#include "DuxlaneDdeServer.h"
#include "DuxlaneServer.h"
#include "SimNetwork.h"
#include "SimServer.h"

using namespace orvane::test;

TEST(InProcessServer, ServesATestNetworkOnTheTestsEventLoop) {
    SimServer files; // only for writing the network file
    orvane::server::ServerOptions options = InProcessServer::defaults();
    options.openFiles << files.writeNetwork(SimServer::kSmallNetwork);
    InProcessServer server(options);
    ASSERT_TRUE(server.start()) << server.errorString().toStdString();
    EXPECT_EQ(server.server().network().controls().size(), 2u);

    DdeTestClient client;
    const HCONV system = client.connect("UPCIDuxlane", "System");
    ASSERT_NE(system, 0u);
    EXPECT_EQ(client.text(system, "Topics"), "PLC1\tPLC2\tSYSTEM");
    const HCONV conv = client.connectControl("PLC1");
    ASSERT_NE(conv, 0u);
    EXPECT_TRUE(client.poke(conv, "Count", "8"));
    EXPECT_EQ(client.runCommand(conv, "Shutdown"), "0");
    EXPECT_EQ(client.text(conv, "Run Mode"), "1");
    server.stop();
    EXPECT_TRUE(waitUntil([&] { return client.wasDisconnected(conv); }));
}

TEST(InProcessServer, SecondServerInOneProcessIsRefused) {
    InProcessServer first;
    ASSERT_TRUE(first.start());
    InProcessServer second;
    EXPECT_FALSE(second.start());
    EXPECT_FALSE(second.errorString().isEmpty());
}

TEST(InProcessServer, DroppedTopicEndsItsConversationsAndRefusesItsNextConnections) {
    SimServer files;
    orvane::server::ServerOptions options = InProcessServer::defaults();
    options.openFiles << files.writeNetwork(SimServer::kSmallNetwork);
    options.dropTopics.insert(QStringLiteral("PLC1"), 2);
    InProcessServer server(options);
    ASSERT_TRUE(server.start()) << server.errorString().toStdString();

    DdeTestClient client;
    const HCONV system = client.connect("UPCIDuxlane", "System");
    const HCONV first = client.connectControl("plc1");
    const HCONV second = client.connectControl("PLC1");
    const HCONV other = client.connectControl("PLC2");
    ASSERT_TRUE(system && first && second && other);
    // Not armed before the drop: connections are taken as usual.
    EXPECT_EQ(server.server().dde().refusedConnectsLeft("PLC1"), 0);

    EXPECT_EQ(server.server().dde().dropTopics(), 2);
    EXPECT_TRUE(
        waitUntil([&] { return client.wasDisconnected(first) && client.wasDisconnected(second); }));
    // The other control and the System topic are untouched; the dropped
    // control is still on the network.
    EXPECT_EQ(client.text(other, "Service: Motor.Speed"), "1500");
    EXPECT_EQ(client.text(system, "Conversation Count"), "2");
    EXPECT_EQ(client.text(system, "Topics"), "PLC1\tPLC2\tSYSTEM");

    EXPECT_EQ(client.connectControl("PLC1"), 0u);
    EXPECT_EQ(client.connectControl("PLC1"), 0u);
    EXPECT_EQ(server.server().dde().refusedConnectsLeft("PLC1"), 0);
    const HCONV back = client.connectControl("PLC1");
    ASSERT_NE(back, 0u);
    EXPECT_EQ(client.text(back, "Count"), "5");
    EXPECT_EQ(client.text(system, "Conversation Count"), "3");
    server.stop();
}
