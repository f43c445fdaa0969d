// The faults an engineer meets on a plant floor, one row each, driven through
// the simulated server's fault switches: each row checks the message the
// engineer is shown (box or raised text), that it came in bounded time (far
// below the synchronizer's time-out) and that nothing else was changed.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>

#include <csignal>

#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

#include <gtest/gtest.h>

#include "ModelFixture.h"
#include "TestEnvironment.h"
#include "ddelink/DdeError.h"
#include "ddelink/ExeMod.h"
#include "ddelink/KIDdeClientConv.h"
#include "ddelink/SyncRequest.h"
#include "ddelink/Synchronizer.h"
#include "model/KIDevice.h"
#include "model/KIDuxlaneControl.h"
#include "model/KIItem.h"
#include "model/KIServer.h"
#include "model/OVServer.h"

namespace orvane::test {
namespace {

// Every row must end far below this; the synchronizer's time-out is set well
// above it, so a row that waits for the time-out fails.
constexpr int kBoundMs = 8000;
constexpr int kLongSynchronizerTimeoutMs = 60000;

QByteArray TwoControls() {
    return "duxlane-network 1\n"
           "name \"Fault test\"\n"
           "control \"PUMP1\"\n"
           "  reset-time 200\n"
           "  item \"Service: Speed.Gain\" tunable real min 0 max 100 value 2\n"
           "  item \"Service: Speed.Actual\" monitor real min 0 max 100 value 50 live noise 5\n"
           "end\n"
           "control \"PUMP2\"\n"
           "  item \"Service: Flow.Rate\" tunable real min 0 max 100 value 7\n"
           "end\n";
}

template <typename F>
QString FailureOf(F&& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.message();
    }
    return QStringLiteral("<nothing raised>");
}

QByteArray OneControl() {
    return "duxlane-network 1\n"
           "name \"Fault test\"\n"
           "control \"PUMP1\"\n"
           "  item \"Service: Speed.Gain\" tunable real min 0 max 100 value 2\n"
           "end\n";
}

struct Observed {
    int connectedCalls = 0;
    int terminated = 0;
    int changes = 0;
    int resetDone = 0;
    QStringList ddeMessages;
    void Connected(TServer*) { ++connectedCalls; }
    void Changed(TKIItem*) { ++changes; }
    void ResetDone(TKIDuxlaneControl*) { ++resetDone; }
    void Terminate(TServer*) { ++terminated; }
    void DdeMessage(const QString& text) { ddeMessages << text; }
};

class FaultMatrixTest;

// One fault: the switches that cause it, the boxes it must show (in order),
// what provokes it (returning the raised text, or an empty text), the raised
// text expected, and the check that nothing else was changed.
struct FaultRow {
    const char* name;
    std::vector<std::pair<const char*, QByteArray>> switches;
    QStringList boxes;
    std::function<QString(FaultMatrixTest&)> provoke;
    QString raised;
    std::function<void(FaultMatrixTest&)> unchanged;
};

// Rows are named in test output by their name only.
void PrintTo(const FaultRow& row, std::ostream* os) {
    *os << row.name;
}

class FaultMatrixTest : public ModelFixture, public ::testing::WithParamInterface<FaultRow> {
public:
    void SetUp() override {
        ModelFixture::SetUp();
        if (IsSkipped()) {
            return;
        }
        TKIDuxlaneControl::Timing timing;
        timing.confirmIntervalMs = 10;
        timing.confirmNotReadyAnswers = 30;
        timing.resetPollIntervalMs = 20;
        timing.resetPauseMs = 0;
        TKIDuxlaneControl::SetTimingForTesting(timing);
        TServer::SetTopicReaskTimingForTesting(kTopicReasks, 50);
        Synchronizer::SetTimeoutMsForTesting(kLongSynchronizerTimeoutMs);
    }
    void TearDown() override {
        if (connection) {
            RememberServerProcess();
            for (TKIDuxlaneControl* control : connection->Controls()) {
                control->SetServer(nullptr);
            }
            PumpFor(100);
            connection.reset();
        }
        ModelFixture::TearDown();
        TServer::SetTopicReaskTimingForTesting(kTopicReasks, kTopicReaskIntervalMs);
        TKIDuxlaneControl::SetTimingForTesting(TKIDuxlaneControl::Timing());
    }

    void RememberServerProcess() {
        if (!connection) {
            return;
        }
        const std::int64_t pid = connection->Server()->Launcher()->ProcessId();
        if (pid && std::find(m_pids.begin(), m_pids.end(), pid) == m_pids.end()) {
            m_pids.push_back(pid);
        }
    }

    // Connects the program's control connection and waits (bounded) for its
    // one connected call.
    bool ConnectNetwork() {
        connection = std::make_unique<TServer>();
        connection->SetOnDdeMessage(TServerMessageEvent(&observed, &Observed::DdeMessage));
        connection->SetOnTerminate(TServerEvent(&observed, &Observed::Terminate));
        const bool started = connection->Connect(TServerEvent(&observed, &Observed::Connected));
        RememberServerProcess();
        return started && WaitUntil([this] { return observed.connectedCalls > 0; }, kBoundMs);
    }

    // A program that starts but never offers the server's DDE services.
    QString WriteSilentProgram() {
        const QString path = WriteNetwork("#!/bin/sh\nexec sleep 60\n", "silent-server.sh");
        QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
        return path;
    }

    // Ends the server programs this test started (a hung one is left running
    // by the program, as other clients may still use it).
    void EndServerPrograms() {
        RememberServerProcess();
        for (std::int64_t pid : m_pids) {
            EndProcess(pid);
        }
    }

    std::int64_t ServerPid() const {
        return connection ? connection->Server()->Launcher()->ProcessId() : 0;
    }

    TKIDuxlaneControl* Control(const char* name) const {
        return connection ? connection->FindControl(QString::fromLatin1(name)) : nullptr;
    }

    Observed observed;
    std::unique_ptr<TServer> connection;
};

// A start-up where the network connects normally before the fault is provoked.
QString ConnectedFirst(FaultMatrixTest& t) {
    if (!t.ConnectNetwork() || t.connection->ConnectedCount() != 2) {
        return QStringLiteral("<the network did not connect>");
    }
    return QString();
}

const FaultRow kRows[] = {
    {"ControlAnsweringNotReadyForEver",
     {{"DUXLANE_DEAD_CONTROLS", "PUMP2"}},
     {"Control is not responding to request of connection: PUMP2"},
     [](FaultMatrixTest& t) {
         t.ConnectNetwork();
         return QString();
     },
     QString(),
     [](FaultMatrixTest& t) {
         EXPECT_EQ(t.observed.connectedCalls, 1);
         EXPECT_EQ(t.connection->ConnectedCount(), 1);
         EXPECT_EQ(t.connection->NotConnectedCount(), 1);
         EXPECT_EQ(t.Control("PUMP1")->ConnectionState(), TKIDeviceState::Connected);
         EXPECT_EQ(t.Control("PUMP2")->ConnectionState(), TKIDeviceState::NotConnected);
         EXPECT_EQ(t.Control("PUMP2")->ConnectFailure(),
                   "Control is not responding to request of connection: PUMP2");
         EXPECT_TRUE(t.connection->ServerAnswered());
     }},
    {"ControlWhoseStatusRequestsFail",
     {{"DUXLANE_ERROR_ITEMS", "Control Status"}, {"DUXLANE_NETWORK", "@one"}},
     {"Control is not responding to request of connection: PUMP1"},
     [](FaultMatrixTest& t) {
         t.ConnectNetwork();
         return QString();
     },
     QString(),
     [](FaultMatrixTest& t) {
         EXPECT_EQ(t.observed.connectedCalls, 1);
         EXPECT_EQ(t.connection->ConnectedCount(), 0);
         EXPECT_EQ(t.Control("PUMP1")->ConnectionState(), TKIDeviceState::NotConnected);
         EXPECT_FALSE(t.observed.ddeMessages.isEmpty());
     }},
    {"ServerThatNeverAnswers",
     {{"@silent-program", ""}},
     {"Unable to establish communication with server"},
     [](FaultMatrixTest& t) {
         t.ConnectNetwork();
         return QString();
     },
     QString(),
     [](FaultMatrixTest& t) {
         EXPECT_EQ(t.observed.connectedCalls, 1);
         EXPECT_FALSE(t.connection->ServerAnswered());
         EXPECT_EQ(t.connection->ControlCount(), 0);
     }},
    {"RefusedCommandFailsAtOnce",
     {{"DUXLANE_REFUSED_COMMANDS", "SaveValues"}},
     {},
     [](FaultMatrixTest& t) {
         const QString failure = ConnectedFirst(t);
         if (!failure.isEmpty()) {
             return failure;
         }
         return FailureOf([&] { t.Control("PUMP1")->SaveValues(); });
     },
     "TKIDuxlaneControl.SaveValues: Message was not processed.",
     [](FaultMatrixTest& t) {
         TKIDuxlaneControl* control = t.Control("PUMP1");
         EXPECT_EQ(control->CommandState(), kCommandStateReady);
         EXPECT_EQ(t.observed.ddeMessages, QStringList{"Error during execution of command:PUMP1:"});
         // The control still takes the next command.
         control->Shutdown();
         EXPECT_TRUE(control->InConfigureMode());
         EXPECT_EQ(t.observed.connectedCalls, 1);
     }},
    {"RefusedHotLinkFailsTheReadAtOnce",
     {{"DUXLANE_ERROR_ITEMS", "Service: Speed.Gain"}},
     {},
     [](FaultMatrixTest& t) {
         const QString failure = ConnectedFirst(t);
         if (!failure.isEmpty()) {
             return failure;
         }
         TKIItem* item = t.Control("PUMP1")->AcquireItem("Service: Speed.Gain");
         item->Subscribe(TKIItemEvent(&t.observed, &Observed::Changed));
         return FailureOf([&] { item->Value(); });
     },
     "Start Advise on Item SERVICE: SPEED.GAIN failed.  Make sure Item is supported in control.",
     [](FaultMatrixTest& t) {
         TKIItem* item = t.Control("PUMP1")->AcquireItem("Service: Speed.Gain");
         EXPECT_FALSE(item->IsAdvised());
         // Not advised any more: the next read asks the server, which refuses
         // it at once rather than after the time-out.
         EXPECT_EQ(FailureOf([&] { item->Value(); }), "Message was not processed.");
         EXPECT_EQ(t.observed.changes, 0);
         item->Unsubscribe(TKIItemEvent(&t.observed, &Observed::Changed));
         t.Control("PUMP1")->ReleaseItem(item->Name());
         t.Control("PUMP1")->ReleaseItem(item->Name());
         EXPECT_EQ(t.observed.connectedCalls, 1);
     }},
    {"ReadOnALostServerFailsAtOnce",
     {},
     {"Communications have been lost and the application will be terminated."},
     [](FaultMatrixTest& t) {
         const QString failure = ConnectedFirst(t);
         if (!failure.isEmpty()) {
             return failure;
         }
         TKIItem* item = t.Control("PUMP1")->AcquireItem("Service: Speed.Gain");
         // As a crash would end it.
         ::kill(static_cast<pid_t>(t.ServerPid()), SIGKILL);
         TKIDdeClientConv* conversation = t.Control("PUMP1")->Conversation();
         if (!WaitUntil([&] { return t.observed.terminated > 0 && !conversation->IsConnected(); },
                        kBoundMs)) {
             return QStringLiteral("<the lost server was not noticed>");
         }
         const QString read = FailureOf([&] { item->Value(); });
         t.Control("PUMP1")->ReleaseItem(item->Name());
         return read;
     },
     "Control has not been connected.",
     [](FaultMatrixTest& t) {
         EXPECT_EQ(t.observed.terminated, 1);
         EXPECT_EQ(FailureOf([&] { t.Control("PUMP2")->GetTopicItemList(); }),
                   "Control has not been connected.");
         EXPECT_EQ(FailureOf([&] { t.Control("PUMP2")->ProtocolID(); }),
                   "Control has not been connected.");
         QStringList topics;
         EXPECT_EQ(FailureOf([&] { t.connection->Server()->GetTopics(topics); }),
                   "Control has not been connected.");
     }},
    {"ShutdownWithAHungServerEndsSoon",
     {{"DUXLANE_SILENT_ITEMS", "Conversation Count"}},
     {},
     [](FaultMatrixTest& t) {
         const QString failure = ConnectedFirst(t);
         if (!failure.isEmpty()) {
             return failure;
         }
         t.RememberServerProcess();
         for (TKIDuxlaneControl* control : t.connection->Controls()) {
             control->SetServer(nullptr);
         }
         t.connection.reset();
         return QString();
     },
     QString(),
     [](FaultMatrixTest& t) {
         EXPECT_EQ(t.observed.terminated, 0);
         t.EndServerPrograms();
     }},
    {"ResetsReportNoSecondConnection",
     {},
     {},
     [](FaultMatrixTest& t) {
         const QString failure = ConnectedFirst(t);
         if (!failure.isEmpty()) {
             return failure;
         }
         TKIDuxlaneControl* control = t.Control("PUMP1");
         const QString refused = FailureOf([&] { control->Reset(); });
         control->Shutdown();
         control->ResetWithNotify(TKIDuxlaneControlEvent(&t.observed, &Observed::ResetDone));
         if (!WaitUntil([&] { return t.observed.resetDone > 0; }, kBoundMs) ||
             !WaitUntil([&] { return control->ConnectionState() == TKIDeviceState::Connected; },
                        kBoundMs)) {
             return QStringLiteral("<the reset did not come back>");
         }
         return refused;
     },
     "Error resetting control:  The control is not in configure mode",
     [](FaultMatrixTest& t) {
         // Barrier: a request answered means every earlier report has arrived.
         EXPECT_FALSE(t.Control("PUMP1")->InConfigureMode());
         EXPECT_EQ(t.observed.connectedCalls, 1);
         EXPECT_EQ(t.connection->ConnectedCount(), 2);
         EXPECT_EQ(t.connection->NotConnectedCount(), 0);
     }},
};

TEST_P(FaultMatrixTest, EndsInBoundedTimeWithItsMessage) {
    const FaultRow& row = GetParam();
    QByteArray network = TwoControls();
    for (const auto& [name, value] : row.switches) {
        if (qstrcmp(name, "@silent-program") == 0) {
            RegisterServer(WriteSilentProgram());
        } else if (value == "@one") {
            network = OneControl();
        } else {
            SetServerSwitch(name, value);
        }
    }
    SetServerSwitch("DUXLANE_NETWORK", WriteNetwork(network).toLocal8Bit());
    for (const QString& box : row.boxes) {
        m_dialogs.answerMessage(mrOk, box);
    }

    QElapsedTimer timer;
    timer.start();
    const QString raised = row.provoke(*this);
    const qint64 elapsedMs = timer.elapsed();

    EXPECT_EQ(raised, row.raised);
    EXPECT_LT(elapsedMs, kBoundMs);
    EXPECT_EQ(m_dialogs.pending(), 0) << "a message the engineer must see was not shown";
    row.unchanged(*this);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrixTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<FaultRow>& info) {
                             return std::string(info.param.name);
                         });

// ---------------------------------------------------------------------------
// The one synchronous request

class SyncRequestTest : public ModelFixture {};

TEST_F(SyncRequestTest, LateReplyOfATimedOutRequestIsNeverTakenForTheNextAnswer) {
    // Every answer of the control comes 400 ms late, in order.
    SetServerSwitch("DUXLANE_REPLY_DELAY_MS", "400");
    TKIServer* server = MakeServer(WriteNetwork(TwoControls()));
    ASSERT_TRUE(StartAndWait(server, 2));
    TKIDdeClientConv* conversation = nullptr;
    struct Taker {
        TKIDdeClientConv** target;
        void Take(TKIDdeClientConv* c) { *target = c; }
    } taker{&conversation};
    server->OpenTopic("PUMP1", TConvNotifyEvent(&taker, &Taker::Take));
    ASSERT_TRUE(WaitUntil([&] { return conversation != nullptr; }));

    TSyncRequest request;
    EXPECT_THROW(request.RequestText(conversation, "Service: Speed.Gain", 100),
                 SynchronizerException);
    EXPECT_FALSE(request.IsBusy());
    // The abandoned answer arrives first; the next request must get its own.
    const QString list = request.RequestText(conversation, "TopicItemList", 5000);
    EXPECT_TRUE(list.contains("Service: Speed.Actual")) << list.toStdString();
    server->ReleaseTopic("PUMP1");
}

// ---------------------------------------------------------------------------
// Values and commands built from what the engineer typed

QByteArray WideRangeControl() {
    return "duxlane-network 1\n"
           "name \"Numbers\"\n"
           "control \"PUMP1\"\n"
           "  item \"Service: Flow.Total\" tunable real min 0 max 100000 decimals 1 value 0\n"
           "end\n";
}

// Restores the default locale however the test ends.
struct DefaultLocale {
    QLocale saved;
    explicit DefaultLocale(const QLocale& locale) { QLocale::setDefault(locale); }
    ~DefaultLocale() { QLocale::setDefault(saved); }
};

class UserInputTest : public ModelFixture {};

TEST_F(UserInputTest, NumbersAreWrittenWithoutDigitGroupsUnderEveryLocale) {
    TKIServer* server = MakeServer(WriteNetwork(WideRangeControl()));
    ASSERT_TRUE(StartAndWait(server, 1));
    TKIDevice device;
    device.SetServer(server);
    device.SetIdentifier("PUMP1");
    ASSERT_TRUE(WaitUntil([&] { return device.Active(); }));
    TKIItem* item = device.AcquireItem("Service: Flow.Total");

    const struct {
        QLocale locale;
        const char* written;
    } cases[] = {{QLocale(QLocale::English, QLocale::UnitedStates), "1234.5"},
                 {QLocale(QLocale::German, QLocale::Germany), "1234,5"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale.name().toStdString());
        const DefaultLocale scope(c.locale);
        EXPECT_EQ(TKIItem::VariantToText(1234.5), QString::fromLatin1(c.written));
        EXPECT_EQ(TKIItem::VariantToText(98765.25).count(QRegularExpression("[.,]")), 1);
        item->SetValueAndWait(0.0);
        item->SetValueAndWait(1234.5);
        // Read back: the control holds the very number written.
        EXPECT_EQ(item->Value().toString(), QStringLiteral("1234.5"));
    }
    // Text with digit groups is refused by the server, not read in part.
    for (const char* grouped : {"1,234.5", "1.234,5", "1.234.5"}) {
        SCOPED_TRACE(grouped);
        EXPECT_THROW(item->SetValueAndWait(QString::fromLatin1(grouped)), TKIItemException);
        EXPECT_EQ(item->Value().toString(), QStringLiteral("1234.5"));
    }
    device.ReleaseItem(item->Name());
    device.SetServer(nullptr);
}

TEST_F(UserInputTest, NetworkFilePathsReachTheServerIntactOrAreRefused) {
    EXPECT_EQ(TKIServer::OpenCommandText(R"(C:\Nets\say "hi" (2) [a].net)"),
              QStringLiteral(R"([open("C:\Nets\say ""hi"" (2) [a].net")])"));
    for (const QString& bad :
         {QStringLiteral("a\nb.net"), QStringLiteral("pump\u4E00.net"), QString()}) {
        EXPECT_THROW(TKIServer::OpenCommandText(bad), Exception);
    }

    // A folder whose name holds every character that used to break the
    // command: the server opens the file and lists its control.
    const QString folder = QDir(TestEnvironment::instance()->root())
                               .filePath(QStringLiteral("odd \"nets\" (old) [x]"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString network = folder + QStringLiteral("/w)]eird.net");
    {
        QFile file(network);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(WideRangeControl());
    }
    TKIServer* server = MakeServer(network);
    ASSERT_TRUE(StartAndWait(server, 1));
    QStringList topics;
    server->GetControlTopics(topics);
    EXPECT_EQ(topics, QStringList{QStringLiteral("PUMP1")});
}

} // namespace
} // namespace orvane::test
