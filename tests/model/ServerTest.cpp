// The server object, devices and items against the real simulated server,
// started through the registry entry and the launcher as the program starts
// it, with the server's fault injection for the retry paths.

#include "model/KIServer.h"

#include <csignal>
#include <memory>

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include "ModelFixture.h"
#include "TestEnvironment.h"
#include "ddelink/ExeMod.h"
#include "ddelink/KIDdeClientConv.h"
#include "ddelink/KIDdeMgr.h"
#include "ddelink/SyncRequest.h"
#include "model/KIDevice.h"
#include "model/KIItem.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "platform/WindowClass.h"

namespace orvane {
namespace {

using test::ModelFixture;
using test::WaitUntil;

// Records the order in which devices report their connection, and the
// server's events.
struct Events {
    void DeviceConnected(TKIDevice* device) { devices.push_back(device); }
    void DeviceGivenUp(TKIDevice* device) { givenUp.push_back(device); }
    void ServerConnected(TKIServer*) { ++connected; }
    void ServerLost(TKIServer*) { ++lost; }
    std::vector<TKIDevice*> devices;
    std::vector<TKIDevice*> givenUp;
    int connected = 0;
    int lost = 0;
};

std::unique_ptr<TKIDevice> MakeDevice(TKIServer* server, Events& events) {
    auto device = std::make_unique<TKIDevice>();
    device->SetServer(server);
    device->SetOnConnect(TKIDeviceEvent(&events, &Events::DeviceConnected));
    return device;
}

class ServerTest : public ModelFixture {};

TEST_F(ServerTest, StartsTheRegisteredServerAndListsItsControls) {
    TKIServer* server = MakeServer(WriteNetwork(test::SmallNetwork()));
    Events events;
    server->SetOnConnected(TKIServerEvent(&events, &Events::ServerConnected));
    EXPECT_EQ(events.connected, 0);
    ASSERT_TRUE(StartAndWait(server, 2));
    EXPECT_EQ(events.connected, 1);
    EXPECT_NE(StartedPid(), 0);

    QStringList topics;
    server->GetTopics(topics);
    EXPECT_TRUE(topics.contains(QStringLiteral("SYSTEM"), Qt::CaseInsensitive))
        << topics.join(',').toStdString();
    server->GetControlTopics(topics);
    EXPECT_EQ(topics, (QStringList{QStringLiteral("PUMP1"), QStringLiteral("PUMP2")}));

    // A handler set on a connected server is called at once.
    Events late;
    server->SetOnConnected(TKIServerEvent(&late, &Events::ServerConnected));
    EXPECT_EQ(late.connected, 1);

    // Only this program's two System conversations are left: the server
    // program it started is closed with it.
    const std::int64_t pid = StartedPid();
    DestroyServer();
    EXPECT_FALSE(ProcessAlive(pid));
}

TEST_F(ServerTest, SecondDeviceSharesTheOpenTopicUntilBothRelease) {
    TKIServer* server = MakeServer(WriteNetwork(test::SmallNetwork()));
    ASSERT_TRUE(StartAndWait(server, 2));
    Events events;
    auto first = MakeDevice(server, events);
    auto second = MakeDevice(server, events);

    first->SetIdentifier(QStringLiteral("PUMP1"));
    ASSERT_EQ(events.devices.size(), 1u); // at once: the topic is there
    TKIDdeClientConv* conversation = first->Conversation();
    ASSERT_NE(conversation, nullptr);
    EXPECT_TRUE(first->Active());

    second->SetIdentifier(QStringLiteral("PUMP1"));
    ASSERT_EQ(events.devices.size(), 2u);
    EXPECT_EQ(second->Conversation(), conversation);
    EXPECT_EQ(server->TopicUseCount(QStringLiteral("PUMP1")), 2);
    EXPECT_TRUE(conversation->IsConnected());

    // Values flow through the shared conversation for both.
    TKIItem* gain = second->AcquireItem(QStringLiteral("service: speed.gain"));
    EXPECT_EQ(gain->Value().toString(), QStringLiteral("2.00"));

    first->SetIdentifier(QString());
    EXPECT_FALSE(first->Active());
    EXPECT_EQ(server->TopicUseCount(QStringLiteral("PUMP1")), 1);
    EXPECT_TRUE(conversation->IsConnected());
    EXPECT_EQ(gain->Value().toString(), QStringLiteral("2.00"));

    second->ReleaseItem(gain->Name());
    second->SetIdentifier(QString());
    EXPECT_EQ(server->TopicUseCount(QStringLiteral("PUMP1")), 0);
}

TEST_F(ServerTest, ItemLinkFollowsTheDeviceToAnotherTopic) {
    TKIServer* server = MakeServer(WriteNetwork(test::SmallNetwork()));
    ASSERT_TRUE(StartAndWait(server, 2));
    Events events;
    auto device = MakeDevice(server, events);
    // Subscribed before the device has its conversation: the link starts when
    // it arrives.
    TKIItem* item = device->AcquireItem(QStringLiteral("Service: Speed.Actual"));
    struct Recorder {
        void Changed(TKIItem* item) { values.append(item->Value().toString()); }
        QStringList values;
    } recorder;
    item->Subscribe(TKIItemEvent(&recorder, &Recorder::Changed));
    EXPECT_TRUE(item->IsAdvisePending());
    device->SetIdentifier(QStringLiteral("PUMP1"));
    EXPECT_TRUE(item->IsAdvised());
    ASSERT_TRUE(WaitUntil([&] { return !recorder.values.isEmpty(); }));

    // Disconnect and connect again: the link restarts on the new conversation.
    device->SetIdentifier(QString());
    EXPECT_TRUE(item->IsAdvisePending());
    EXPECT_FALSE(item->IsAdvised());
    device->SetIdentifier(QStringLiteral("PUMP1"));
    EXPECT_TRUE(item->IsAdvised());
    EXPECT_EQ(item->Conversation(), device->Conversation());
    EXPECT_EQ(device->Conversation()->AdviseCount(), 1);
    const int before = recorder.values.size();
    ASSERT_TRUE(WaitUntil([&] { return recorder.values.size() > before; }));
    item->Unsubscribe(TKIItemEvent(&recorder, &Recorder::Changed));
    device->ReleaseItem(item->Name());
}

TEST_F(ServerTest, DevicesWaitingForALateTopicAreAnsweredInOrder) {
    // The delay runs from the server's start: the early checks hold only when
    // the devices asked within it (a loaded machine may take longer).
    constexpr int kDelayMs = 1500;
    QElapsedTimer sinceStart;
    sinceStart.start();
    SetServerSwitch("DUXLANE_TOPIC_DELAY_MS", QByteArray::number(kDelayMs));
    TKIServer* server = MakeServer(WriteNetwork(test::SmallNetwork()));
    ASSERT_TRUE(StartAndWait(server, 0));
    Events events;
    auto first = MakeDevice(server, events);
    auto second = MakeDevice(server, events);
    first->SetIdentifier(QStringLiteral("PUMP2"));
    second->SetIdentifier(QStringLiteral("PUMP2"));
    if (sinceStart.elapsed() < kDelayMs) {
        EXPECT_TRUE(server->IsTopicWaiting(QStringLiteral("PUMP2")));
        EXPECT_TRUE(events.devices.empty());
    }

    ASSERT_TRUE(WaitUntil([&] { return events.devices.size() == 2; }));
    EXPECT_EQ(events.devices[0], first.get());
    EXPECT_EQ(events.devices[1], second.get());
    EXPECT_EQ(first->Conversation(), second->Conversation());
    EXPECT_FALSE(server->IsTopicWaiting(QStringLiteral("PUMP2")));
    EXPECT_EQ(server->TopicUseCount(QStringLiteral("PUMP2")), 2);

    // Both are users: the conversation ends with the second release.
    TKIDdeClientConv* conversation = first->Conversation();
    first->SetIdentifier(QString());
    EXPECT_TRUE(conversation->IsConnected());
    second->SetIdentifier(QString());
    EXPECT_EQ(server->TopicUseCount(QStringLiteral("PUMP2")), 0);
}

TEST_F(ServerTest, TopicThatNeverOpensIsGivenUp) {
    TKIServer* server = MakeServer(WriteNetwork(test::SmallNetwork()));
    ASSERT_TRUE(StartAndWait(server, 2));
    Events events;
    auto device = MakeDevice(server, events);
    device->SetOnConnectFailed(TKIDeviceEvent(&events, &Events::DeviceGivenUp));
    m_dialogs.answerMessage(mrOk, QStringLiteral("Could not open topic: PUMP9"));
    device->SetIdentifier(QStringLiteral("PUMP9"));
    EXPECT_TRUE(server->IsTopicWaiting(QStringLiteral("PUMP9")));
    EXPECT_EQ(device->ConnectionState(), TKIDeviceState::Connecting);
    ASSERT_TRUE(WaitUntil([&] { return !server->IsTopicWaiting(QStringLiteral("PUMP9")); },
                          (kTopicTries + 10) * TKIServer::timing().retryIntervalMs + 5000));
    EXPECT_EQ(m_dialogs.pending(), 0);
    EXPECT_FALSE(device->Active());
    EXPECT_TRUE(events.devices.empty());
    EXPECT_EQ(server->TopicUseCount(QStringLiteral("PUMP9")), 0);
    // The device is told, once, and shows what the engineer was told.
    EXPECT_EQ(events.givenUp, std::vector<TKIDevice*>{device.get()});
    EXPECT_EQ(device->ConnectionState(), TKIDeviceState::NotConnected);
    EXPECT_EQ(device->ConnectFailure(), QStringLiteral("Could not open topic: PUMP9"));
}

// Another client of the server that reads how many conversations it holds.
class ConversationCounter {
public:
    ConversationCounter() {
        m_conversation.Connect(QString::fromLatin1(test::kService), QStringLiteral("System"));
    }
    bool IsConnected() const { return m_conversation.IsConnected(); }
    // This counter's own conversation included.
    int Count() {
        return m_request.RequestText(&m_conversation, QStringLiteral("Conversation Count")).toInt();
    }

private:
    TKIDdeClientConv m_conversation;
    TSyncRequest m_request;
};

TEST_F(ServerTest, DeadTopicRecordIsReplacedSoItsReleaseEndsTheLiveConversation) {
    // Once dropped, PUMP1 refuses its next four connections: the reconnection
    // of a second user and the first tries of its retry fail, a later one
    // succeeds.
    SetServerSwitch("DUXLANE_DROP_TOPICS", "PUMP1=4");
    TKIServer* server = MakeServer(WriteNetwork(test::SmallNetwork()));
    ASSERT_TRUE(StartAndWait(server, 2));
    ConversationCounter counter;
    ASSERT_TRUE(counter.IsConnected());
    const int idle = counter.Count(); // the server object's and the counter's
    const QString topic = QStringLiteral("PUMP1");
    Events events;
    auto holder = MakeDevice(server, events);
    holder->SetIdentifier(topic);
    TKIDdeClientConv* dead = holder->Conversation();
    ASSERT_NE(dead, nullptr);
    EXPECT_EQ(counter.Count(), idle + 1);

    // The link to the control breaks; the holder keeps its use of the topic.
    ASSERT_NE(StartedPid(), 0);
    ::kill(static_cast<pid_t>(StartedPid()), SIGUSR1);
    ASSERT_TRUE(WaitUntil([&] { return !dead->IsConnected(); }));
    EXPECT_EQ(counter.Count(), idle);

    // A second user cannot reconnect at once: one record, the dead one, while
    // the topic is retried.
    auto second = MakeDevice(server, events);
    second->SetIdentifier(topic);
    EXPECT_EQ(second->ConnectionState(), TKIDeviceState::Connecting);
    EXPECT_TRUE(server->IsTopicWaiting(topic));
    EXPECT_EQ(server->TopicUseCount(topic), 1);

    // The retry connects: the new record takes the dead one's place and its use.
    ASSERT_TRUE(WaitUntil([&] { return second->Active(); }));
    TKIDdeClientConv* live = second->Conversation();
    EXPECT_NE(live, dead);
    EXPECT_FALSE(server->IsTopicWaiting(topic));
    EXPECT_EQ(server->TopicUseCount(topic), 2);
    EXPECT_EQ(counter.Count(), idle + 1);

    // A third user shares the live conversation; nothing connects the dead one again.
    auto third = MakeDevice(server, events);
    third->SetIdentifier(topic);
    EXPECT_EQ(third->Conversation(), live);
    EXPECT_FALSE(dead->IsConnected());
    EXPECT_EQ(server->TopicUseCount(topic), 3);
    EXPECT_EQ(counter.Count(), idle + 1);

    // The live conversation lasts while anyone uses the topic, the holder of
    // the dead one included, and ends with the last release.
    third->SetIdentifier(QString());
    second->SetIdentifier(QString());
    EXPECT_TRUE(live->IsConnected());
    EXPECT_EQ(server->TopicUseCount(topic), 1);
    holder->SetIdentifier(QString());
    EXPECT_EQ(server->TopicUseCount(topic), 0);
    EXPECT_TRUE(WaitUntil([&] { return counter.Count() == idle; }));
}

TEST_F(ServerTest, SlowServerRepliesAreWaitedFor) {
    SetServerSwitch("DUXLANE_REPLY_DELAY_MS", "300");
    TKIServer* server = MakeServer(WriteNetwork(test::SmallNetwork()));
    ASSERT_TRUE(StartAndWait(server, 2));
    Events events;
    auto device = MakeDevice(server, events);
    device->SetIdentifier(QStringLiteral("PUMP1"));
    ASSERT_TRUE(device->Active());
    const QStringList& names = device->GetTopicItemList();
    EXPECT_TRUE(names.contains(QStringLiteral("Service: Speed.Gain")))
        << names.join('|').toStdString();
    TKIItem* item = device->AcquireItem(QStringLiteral("Service: Speed.Mode"));
    EXPECT_EQ(item->Value().toString(), QStringLiteral("1"));
    device->ReleaseItem(item->Name());
}

TEST_F(ServerTest, ServerThatExitsIsReportedLost) {
    TKIServer* server = MakeServer(WriteNetwork(test::SmallNetwork()));
    Events events;
    server->SetOnDisconnected(TKIServerEvent(&events, &Events::ServerLost));
    ASSERT_TRUE(StartAndWait(server, 2));
    auto device = MakeDevice(server, events);
    device->SetIdentifier(QStringLiteral("PUMP1"));
    // The server ends only once the device holds its conversation: a timed
    // exit could come first on a loaded machine.
    ASSERT_TRUE(WaitUntil([&] { return device->Conversation() != nullptr; }));
    ASSERT_NE(StartedPid(), 0);
    ::kill(static_cast<pid_t>(StartedPid()), SIGTERM);
    ASSERT_TRUE(WaitUntil([&] { return events.lost > 0; }));
    // The library reports the conversations one by one: every one of them
    // is seen lost soon after the first.
    EXPECT_TRUE(WaitUntil(
        [&] { return !server->IsConnected() && !device->Conversation()->IsConnected(); }, 5000));
}

TEST_F(ServerTest, ConversationCountDecidesWhetherTheStartedServerIsClosed) {
    TKIServer* server = MakeServer(WriteNetwork(test::SmallNetwork()));
    ASSERT_TRUE(StartAndWait(server, 2));
    const std::int64_t pid = StartedPid();
    {
        // Another client on the server: three conversations.
        TKIDdeClientConv other;
        ASSERT_TRUE(other.Connect(QString::fromLatin1(test::kService), QStringLiteral("System")));
        server->ShutDown();
        // No close was asked for, and the server still serves its clients.
        EXPECT_EQ(server->Launcher()->State(), TExeModuleState::Running);
        EXPECT_EQ(TSyncRequest().RequestText(&other, QStringLiteral("Conversation Count")),
                  QStringLiteral("3"));
        EXPECT_TRUE(ProcessAlive(pid));
    }
    server->ShutDown();
    EXPECT_EQ(server->Launcher()->State(), TExeModuleState::Stopped);
    EXPECT_TRUE(WaitUntil([&] { return !ProcessAlive(pid); }, 5000));
}

TEST_F(ServerTest, RunningServerIsFoundAndNeverClosed) {
    SetServerSwitch("DUXLANE_NETWORK", WriteNetwork(test::SmallNetwork()).toLocal8Bit());
    int error = 0;
    std::unique_ptr<Process> running =
        Process::start(test::serverExecutable(), QString(), SW_HIDE, &error);
    ASSERT_TRUE(running) << error;
    ASSERT_TRUE(WaitUntil([] { return FindWindow("Duxlane Server", nullptr) != 0; }));

    TKIServer* server = MakeServer(QString());
    ASSERT_TRUE(StartAndWait(server, 2));
    EXPECT_NE(server->Launcher()->FoundServerWindow(), 0u);
    EXPECT_EQ(StartedPid(), 0);
    server->ShutDown();
    DestroyServer();
    // Barrier: another client is still served after the server object has gone.
    {
        TKIDdeMgr instance;
        TKIDdeClientConv other;
        ASSERT_TRUE(other.Connect(QString::fromLatin1(test::kService), QStringLiteral("System")));
        EXPECT_FALSE(
            TSyncRequest().RequestText(&other, QStringLiteral("Conversation Count")).isEmpty());
    }
    EXPECT_FALSE(running->hasExited());
    running->requestClose();
    EXPECT_TRUE(WaitUntil([&] { return running->hasExited(); }, 5000));
}

TEST_F(ServerTest, UnregisteredServerCannotBeStarted) {
    TRegistry registry(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(registry.DeleteKey(QStringLiteral("\\SOFTWARE\\Kestova\\DDE Servers")));
    TKIServer* server = MakeServer(QString());
    m_dialogs.answerMessage(mrOk, QStringLiteral("UPCIDuxlane has not been registered."));
    m_dialogs.answerMessage(mrOk);
    server->SetServerName(QString::fromLatin1(test::kService));
    ASSERT_EQ(m_dialogs.messages().size(), 2u);
    EXPECT_TRUE(m_dialogs.messages()[1].text.startsWith(QStringLiteral("Could not start server.")))
        << m_dialogs.messages()[1].text.toStdString();
    // The control connection reads the emptied name as a failed start.
    EXPECT_TRUE(server->ServerName().isEmpty());
    EXPECT_FALSE(server->IsConnected());
}

TEST_F(ServerTest, SettingTheSameNameOrLoadingDoesNotStart) {
    TKIServer* server = MakeServer(WriteNetwork(test::SmallNetwork()));
    server->BeginLoading();
    server->SetServerName(QString::fromLatin1(test::kService));
    EXPECT_EQ(server->Launcher()->State(), TExeModuleState::Stopped);
    server->EndLoading(); // Loaded starts it
    if (const std::int64_t pid = StartedPid()) {
        m_pids.push_back(pid);
    }
    ASSERT_TRUE(WaitUntil([&] { return server->IsConnected(); }));
    const std::int64_t pid = StartedPid();
    server->SetServerName(QString::fromLatin1(test::kService));
    EXPECT_EQ(StartedPid(), pid);
    EXPECT_TRUE(server->IsConnected());
}

} // namespace
} // namespace orvane
