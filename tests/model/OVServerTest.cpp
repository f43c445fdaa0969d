// The control connection against duxlane-server: connecting a network, asking
// for a network file, the DDE failure messages and a lost server.

#include <algorithm>
#include <csignal>
#include <memory>

#include <gtest/gtest.h>

#include "ModelFixture.h"
#include "ddelink/DdeError.h"
#include "ddelink/ExeMod.h"
#include "ddelink/KIDdeClientConv.h"
#include "ddelink/KIDdeMgr.h"
#include "model/KIDuxlaneControl.h"
#include "model/KIItem.h"
#include "model/KIServer.h"
#include "model/OVServer.h"

namespace orvane::test {
namespace {

QByteArray ThreeControls() {
    return "duxlane-network 1\n"
           "name \"Connection test\"\n"
           "control \"BOILER_1\"\n"
           "  item \"Service: Drum.Pressure\" monitor real min 0 max 20 value 9.8\n"
           "end\n"
           "control \"Pump2\"\n"
           "  item \"Service: Speed.Gain\" tunable real min 0 max 100 value 2\n"
           "end\n"
           "control \"CONVEYOR\"\n"
           "  item \"Service: Belt.Speed\" tunable real min 0 max 5 value 1\n"
           "end\n";
}

struct ConnectionRecorder {
    int connected = 0;
    int controlsWhenConnected = -1;
    int terminated = 0;
    QStringList ddeMessages;

    void Connected(TServer* sender) {
        ++connected;
        controlsWhenConnected = sender->ControlCount();
    }
    void Terminate(TServer*) { ++terminated; }
    void DdeMessage(const QString& text) { ddeMessages << text; }
};

class ServerConnectionTest : public ModelFixture {
protected:
    void SetUp() override { ModelFixture::SetUp(); }
    void TearDown() override {
        if (m_connection) {
            RememberServerProcess();
            // The server program sees the topics' conversations end before it
            // is asked how many are left (which decides whether it closes).
            for (TKIDuxlaneControl* control : m_connection->Controls()) {
                control->SetServer(nullptr);
            }
            PumpFor(150);
            m_connection.reset();
        }
        ModelFixture::TearDown();
    }

    const TKIDuxlaneControl::TimingScope m_controlTiming{{.confirmIntervalMs = 10}};
    const TServer::TimingScope m_reaskTiming{
        {.topicReasks = kTopicReasks, .topicReaskIntervalMs = 50}};

    void RememberServerProcess() {
        const std::int64_t pid = m_connection->Server()->Launcher()->ProcessId();
        if (pid && std::find(m_pids.begin(), m_pids.end(), pid) == m_pids.end()) {
            m_pids.push_back(pid);
        }
    }

    bool Connect() {
        m_connection = std::make_unique<TServer>();
        m_connection->SetOnDdeMessage(
            TServerMessageEvent(&m_recorder, &ConnectionRecorder::DdeMessage));
        m_connection->SetOnTerminate(TServerEvent(&m_recorder, &ConnectionRecorder::Terminate));
        const bool started =
            m_connection->Connect(TServerEvent(&m_recorder, &ConnectionRecorder::Connected));
        RememberServerProcess();
        return started;
    }

    ::testing::AssertionResult ConnectAndWait() {
        if (!Connect()) {
            return ::testing::AssertionFailure() << "the server program did not start";
        }
        if (!WaitUntil([this] { return m_recorder.connected > 0; })) {
            return ::testing::AssertionFailure() << "connecting never finished";
        }
        RememberServerProcess();
        return ::testing::AssertionSuccess();
    }

    ConnectionRecorder m_recorder;
    std::unique_ptr<TServer> m_connection;
};

TEST_F(ServerConnectionTest, ConnectsEveryControlAndReportsOnce) {
    SetServerSwitch("DUXLANE_NETWORK", WriteNetwork(ThreeControls()).toLocal8Bit());
    ASSERT_TRUE(ConnectAndWait());
    EXPECT_EQ(m_recorder.controlsWhenConnected, 3);
    EXPECT_EQ(m_connection->ConnectedCount(), 3);
    ASSERT_EQ(m_connection->ControlCount(), 3);

    // One control per topic, in the server's order, each confirmed.
    QStringList topics;
    m_connection->Server()->GetControlTopics(topics);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(m_connection->Control(i)->Identifier(), topics.at(i));
        EXPECT_EQ(m_connection->Control(i)->CommandState(), kCommandStateReady);
    }
    EXPECT_EQ(m_connection->FindControl("pump2"), m_connection->FindControl("PUMP2"));
    ASSERT_NE(m_connection->FindControl("pump2"), nullptr);
    EXPECT_EQ(m_connection->FindControl("pump2")->Identifier(), QStringLiteral("Pump2"));
    EXPECT_EQ(m_connection->FindControl("PUMP"), nullptr);

    // Barrier: a request of every control runs the event loop past any
    // confirmation still due.
    for (TKIDuxlaneControl* control : m_connection->Controls()) {
        EXPECT_TRUE(control->ControlStatus());
    }
    EXPECT_EQ(m_recorder.connected, 1);
    EXPECT_TRUE(m_recorder.ddeMessages.isEmpty());
}

TEST_F(ServerConnectionTest, ServerWithoutControlsIsGivenTheChosenNetworkFile) {
    // The server lists the file's controls only some time after it opened it,
    // within the re-asks: they leave it seconds, which a loaded machine may
    // need to open the file at all, and end as soon as the controls are listed.
    const TServer::TimingScope patientReasks{
        {.topicReasks = kTopicReasks, .topicReaskIntervalMs = 300}};
    SetServerSwitch("DUXLANE_TOPIC_DELAY_MS", "200");
    const QString network = WriteNetwork(ThreeControls());
    m_dialogs.answerOpenFile(network);
    ASSERT_TRUE(ConnectAndWait());
    EXPECT_EQ(m_recorder.controlsWhenConnected, 3);

    ASSERT_EQ(m_dialogs.fileDialogs().size(), 1u);
    const FileDialogRequest& request = m_dialogs.fileDialogs().front().request;
    EXPECT_FALSE(m_dialogs.fileDialogs().front().save);
    EXPECT_EQ(request.caption, QStringLiteral("Open Network Definition File"));
    EXPECT_EQ(request.initialDir, QStringLiteral("..\\Duxlane Server"));
    EXPECT_EQ(request.filter,
              QStringLiteral("Network Definition Files (*.net)|*.net|All Files (*.*)|*.*"));
    EXPECT_EQ(request.options, TOpenOptions(ofHideReadOnly | ofFileMustExist));
}

TEST_F(ServerConnectionTest, CancelledFileDialogEndsConnectingWithoutControls) {
    m_dialogs.answerOpenFile(std::nullopt);
    ASSERT_TRUE(ConnectAndWait());
    EXPECT_EQ(m_recorder.controlsWhenConnected, 0);
    EXPECT_EQ(m_connection->ControlCount(), 0);
}

TEST_F(ServerConnectionTest, FailedTransactionsBecomeMessages) {
    SetServerSwitch("DUXLANE_NETWORK", WriteNetwork(ThreeControls()).toLocal8Bit());
    ASSERT_TRUE(ConnectAndWait());
    TKIDuxlaneControl* control = m_connection->FindControl("BOILER_1");
    ASSERT_NE(control, nullptr);

    TKIItem* item = control->AcquireItem("Service: No.Such Item");
    EXPECT_THROW(item->Value(), EDdeError);
    control->ReleaseItem(item->Name());
    ASSERT_TRUE(WaitUntil([this] { return !m_recorder.ddeMessages.isEmpty(); }));
    EXPECT_EQ(m_recorder.ddeMessages.front(),
              QStringLiteral("Error during request of data:BOILER_1:SERVICE: NO.SUCH ITEM"));

    // The DDE instance reports operations by name; an unknown one is a
    // transaction failure in general.
    const TDdeErrorEvent& report = m_connection->Server()->DdeMgr()->OnDdeError();
    report("?", "BOILER_1", "Service: Drum.Pressure");
    report("Poke", "Pump2", "Service: Speed.Gain");
    EXPECT_EQ(m_recorder.ddeMessages.mid(1),
              (QStringList{"Error during transaction:BOILER_1:Service: Drum.Pressure",
                           "Error while trying to write:Pump2:Service: Speed.Gain"}));
}

TEST(ServerConnectionTexts, EachOperationHasItsText) {
    EXPECT_EQ(TServer::DdeErrorText("Start Advise"),
              QStringLiteral("Request of communications failed:"));
    EXPECT_EQ(TServer::DdeErrorText("Stop Advise"),
              QStringLiteral("Request of disconnection failed:"));
    EXPECT_EQ(TServer::DdeErrorText("Poke"), QStringLiteral("Error while trying to write:"));
    EXPECT_EQ(TServer::DdeErrorText("Execute"),
              QStringLiteral("Error during execution of command:"));
    EXPECT_EQ(TServer::DdeErrorText("Request"), QStringLiteral("Error during request of data:"));
    EXPECT_EQ(TServer::DdeErrorText("?"), QStringLiteral("Error during transaction:"));
    EXPECT_EQ(TServer::DdeErrorText("request"), QStringLiteral("Error during transaction:"));
}

TEST_F(ServerConnectionTest, LostServerIsReportedOnceThenTerminates) {
    SetServerSwitch("DUXLANE_NETWORK", WriteNetwork(ThreeControls()).toLocal8Bit());
    ASSERT_TRUE(ConnectAndWait());
    // Ended once connected (a timed exit could come first on a loaded
    // machine); it ends every conversation as the exit switch does.
    const std::int64_t pid = m_connection->Server()->Launcher()->ProcessId();
    ASSERT_NE(pid, 0);
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    m_dialogs.answerMessage(
        mrOk,
        QStringLiteral("Communications have been lost and the application will be terminated."));

    ASSERT_TRUE(WaitUntil([this] { return m_recorder.terminated > 0; }));
    // The library reports the lost conversations one by one: once every one
    // of them has been seen lost, no further report can come.
    ASSERT_TRUE(WaitUntil([this] {
        for (TKIDuxlaneControl* control : m_connection->Controls()) {
            if (control->Conversation() && control->Conversation()->IsConnected()) {
                return false;
            }
        }
        return !m_connection->Server()->IsConnected();
    }));
    EXPECT_EQ(m_recorder.terminated, 1);
    EXPECT_EQ(m_dialogs.messages().size(), 1u);
}

TEST_F(ServerConnectionTest, ConnectionFreedWhileTheLostBoxIsOpenIsNotTouchedAfterwards) {
    SetServerSwitch("DUXLANE_NETWORK", WriteNetwork(ThreeControls()).toLocal8Bit());
    ASSERT_TRUE(ConnectAndWait());
    // Ended once connected: a timed exit could come while still connecting
    // on a loaded machine.
    const std::int64_t pid = m_connection->Server()->Launcher()->ProcessId();
    ASSERT_NE(pid, 0);
    // The main window closes while the box is up and frees the connection,
    // its server object and DDE instance with it (under ASan any later touch
    // of them fails the test).
    m_dialogs
        .answerMessage(
            mrOk,
            QStringLiteral("Communications have been lost and the application will be terminated."))
        .whileShown([this] {
            RememberServerProcess();
            m_connection.reset();
        });
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    ASSERT_TRUE(WaitUntil([this] { return m_connection == nullptr; }));
    // Once the server has gone and everything queued meanwhile has run,
    // nothing is left that could reach the freed connection.
    ASSERT_TRUE(WaitUntil([pid] { return !ProcessAlive(pid); }));
    ASSERT_TRUE(RunPostedCalls());
    EXPECT_EQ(m_recorder.terminated, 0);
    EXPECT_EQ(m_dialogs.messages().size(), 1u);
}

} // namespace
} // namespace orvane::test
