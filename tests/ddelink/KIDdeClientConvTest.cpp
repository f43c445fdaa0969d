#include "ddelink/KIDdeClientConv.h"

#include <memory>
#include <stdexcept>
#include <vector>

#include <sys/wait.h>

#include <gtest/gtest.h>

#include "DdeServerFixture.h"
#include "ScriptedDialogService.h"
#include "ddelink/DdeError.h"
#include "ddelink/KIDdeMgr.h"
#include "ddelink/Synchronizer.h"
#include "platform/Process.h"

using namespace orvane;
using orvane::test::InProcessServer;
using orvane::test::waitFor;

namespace {

// Records every callback: the bytes received (with one more byte than the
// caller says it expects, to see the terminator) and the error text.
struct Received {
    bool called = false;
    bool hadValue = false;
    QByteArray value;
    QString error;
};

class Recorder {
public:
    // How many bytes of a value to keep (the terminator included); 0: the
    // zero-terminated text and its terminator.
    explicit Recorder(int keep = 0) : m_keep(keep) {}

    void OnData(const char* value, std::unique_ptr<EDdeError> error) {
        Received r;
        r.called = true;
        r.hadValue = value != nullptr;
        if (value != nullptr) {
            r.value = QByteArray(value, m_keep > 0 ? m_keep : int(qstrlen(value)) + 1);
        }
        if (error) {
            r.error = error->message();
        }
        calls.push_back(r);
        if (m_throw) {
            throw std::runtime_error("subscriber failed");
        }
    }
    void OnMgrDisconnect(TKIDdeMgr*) { events << QStringLiteral("mgr"); }
    void OnConvDisconnect(TKIDdeClientConv* c) {
        events << QStringLiteral("conv:") + (c->IsConnected() ? "live" : "down");
    }
    void OnConvConnect(TKIDdeClientConv*) { events << QStringLiteral("connect"); }
    void OnDdeError(const QString& op, const QString& topic, const QString& item) {
        events << QStringLiteral("error:%1|%2|%3").arg(op, topic, item);
    }

    TDdeDataEvent data() { return TDdeDataEvent(this, &Recorder::OnData); }
    void throwOnData(bool on) { m_throw = on; }

    std::vector<Received> calls;
    QStringList events;

private:
    int m_keep;
    bool m_throw = false;
};

class DdeLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.isValid());
        manager.SetOnDisconnect(TDdeMgrEvent(&rec, &Recorder::OnMgrDisconnect));
        conv.SetOnDisconnect(TDdeConvEvent(&rec, &Recorder::OnConvDisconnect));
        conv.SetOnConnect(TDdeConvEvent(&rec, &Recorder::OnConvConnect));
        ASSERT_TRUE(conv.Connect(QStringLiteral("TestSvc"), QStringLiteral("Ctl1")));
        rec.events.clear();
    }
    void TearDown() override { manager.SetOnDisconnect({}); }

    Recorder rec; // outlives the conversation whose events it receives
    test::ScriptedDialogService dialogs;
    InProcessServer server{QStringLiteral("TestSvc"), {"System", "Ctl1"}};
    TKIDdeMgr manager;
    TKIDdeClientConv conv;
};

} // namespace

TEST_F(DdeLinkTest, TextRepliesArriveZeroTerminatedAndAnEmptyOneIsNotNoValue) {
    server.setText("Name", "Reactor 1");
    server.setText("Empty", "");
    conv.Request("name", rec.data());
    conv.Request("Empty", rec.data());
    EXPECT_EQ(conv.PendingCount(), 2);
    ASSERT_TRUE(waitFor([&] { return rec.calls.size() == 2; }));
    EXPECT_EQ(rec.calls[0].value, QByteArray("Reactor 1", 10));
    EXPECT_TRUE(rec.calls[0].error.isEmpty());
    EXPECT_TRUE(rec.calls[1].hadValue);
    EXPECT_EQ(rec.calls[1].value, QByteArray(1, '\0'));
    EXPECT_EQ(conv.PendingCount(), 0);
}

TEST_F(DdeLinkTest, RawRepliesArriveWholeWithOneMoreByte) {
    // Small replies and ones too large for any inline buffer, zeros inside.
    for (int size : {7, 300, 5000}) {
        QByteArray bytes(size, '\0');
        for (int i = 0; i < size; ++i) {
            bytes[i] = char(i % 3 == 0 ? 0 : i % 251);
        }
        server.setRaw("Attr", bytes);
        Recorder raw(size + 1);
        conv.RequestRaw("Attr", raw.data());
        ASSERT_TRUE(waitFor([&] { return raw.calls.size() == 1; }));
        EXPECT_EQ(raw.calls[0].value, bytes + QByteArray(1, '\0')) << size;
    }
}

TEST_F(DdeLinkTest, PokeAndExecuteCompleteWithNeitherValueNorError) {
    server.setText("SetPoint", "1");
    conv.Poke("SetPoint", QByteArray("42.5"), rec.data());
    conv.Execute("Reset", rec.data());
    ASSERT_TRUE(waitFor([&] { return rec.calls.size() == 2; }));
    for (const Received& r : rec.calls) {
        EXPECT_FALSE(r.hadValue);
        EXPECT_TRUE(r.error.isEmpty());
    }
    EXPECT_EQ(server.pokes(), QStringList{"SetPoint=42.5"});
    EXPECT_EQ(server.executes(), QStringList{"Reset"});

    // Without code the callback is not registered; the transaction still runs.
    conv.Poke("SetPoint", QString("7"), TDdeDataEvent());
    EXPECT_EQ(conv.PendingCount(), 0);
    ASSERT_TRUE(waitFor([&] { return server.pokes().size() == 2; }));

    conv.PokeWait("SetPoint", QString("8"));
    EXPECT_EQ(server.pokes().last(), "SetPoint=8");
    server.setFailing("SetPoint");
    EXPECT_THROW(conv.PokeWait("SetPoint", QString("9")), EDdeError);
}

TEST_F(DdeLinkTest, FailedTransactionIsReportedOnceToTheUserAndOnceToItsCallback) {
    server.setFailing("Bogus");
    dialogs.answerMessage(mrOk, "DDE Error: Request on Ctl1: Bogus failed; verify item name.");
    conv.Request("Bogus", rec.data());
    ASSERT_TRUE(waitFor([&] { return rec.calls.size() == 1; }));
    EXPECT_FALSE(rec.calls[0].hadValue);
    EXPECT_FALSE(rec.calls[0].error.isEmpty());
    EXPECT_NE(rec.calls[0].error, DdeErrorText(0));
    EXPECT_EQ(dialogs.messages().size(), 1u);

    // With a handler assigned, the handler gets it instead of a message box.
    manager.SetOnDdeError(TDdeErrorEvent(&rec, &Recorder::OnDdeError));
    conv.Poke("Bogus", QByteArray("1"), rec.data());
    ASSERT_TRUE(waitFor([&] { return rec.calls.size() == 2; }));
    EXPECT_EQ(rec.events, QStringList{"error:Poke|Ctl1|Bogus"});
    EXPECT_FALSE(rec.calls[1].error.isEmpty());

    // A refused advise start has no callback; only the report is made.
    const std::int64_t key = conv.StartAdvise("Bogus", rec.data());
    EXPECT_GT(key, 0);
    ASSERT_TRUE(waitFor([&] { return rec.events.size() == 2; }));
    EXPECT_EQ(rec.events[1], "error:Start Advise|Ctl1|Bogus");
    EXPECT_EQ(rec.calls.size(), 2u);
    conv.StopAdvise(key);
    EXPECT_EQ(dialogs.messages().size(), 1u);
}

TEST(DdeOperationName, UnknownTransactionTypesPrintAsQuestionMark) {
    EXPECT_EQ(TKIDdeMgr::OperationName(XTYP_REQUEST), "Request");
    EXPECT_EQ(TKIDdeMgr::OperationName(XTYP_POKE), "Poke");
    EXPECT_EQ(TKIDdeMgr::OperationName(XTYP_EXECUTE), "Execute");
    EXPECT_EQ(TKIDdeMgr::OperationName(XTYP_ADVSTART | XTYPF_ACKREQ), "Start Advise");
    EXPECT_EQ(TKIDdeMgr::OperationName(XTYP_ADVSTOP), "Stop Advise");
    EXPECT_EQ(TKIDdeMgr::OperationName(XTYP_CONNECT), "?");
    EXPECT_EQ(TKIDdeMgr::OperationName(0), "?");
}

TEST_F(DdeLinkTest, WithoutConnectionTransactionsOnlyTellTheManager) {
    conv.Disconnect();
    EXPECT_EQ(rec.events, QStringList{"conv:down"});
    EXPECT_TRUE(conv.ServiceName().isEmpty());
    EXPECT_TRUE(conv.TopicName().isEmpty());
    rec.events.clear();

    EXPECT_EQ(conv.StartAdvise("Temp", rec.data()), kNoAdviseKey);
    conv.Request("Temp", rec.data());
    conv.Execute("Reset", rec.data());
    EXPECT_EQ(rec.events, (QStringList{"mgr", "mgr", "mgr"}));
    EXPECT_EQ(conv.PendingCount(), 0);
    EXPECT_EQ(conv.AdviseCount(), 0);
    // Barrier: a request answered on a new connection comes after anything
    // the operations above could still have brought.
    server.setText("Temp", "20");
    ASSERT_TRUE(conv.Connect("TestSvc", "Ctl1"));
    Recorder barrier;
    conv.Request("Temp", barrier.data());
    ASSERT_TRUE(waitFor([&] { return barrier.calls.size() == 1; }));
    EXPECT_TRUE(rec.calls.empty());
}

TEST_F(DdeLinkTest, PartnerDisconnectTellsTheManagerFirstAndKeepsNamesAndSubscribers) {
    server.setText("Temp", "20");
    const std::int64_t key = conv.StartAdvise("Temp", rec.data());
    ASSERT_TRUE(waitFor([&] { return server.adviseStarts().size() == 1; }));
    server.postText("Ctl1", "Temp", "21");
    ASSERT_TRUE(waitFor([&] { return !rec.calls.empty(); }));
    server.disconnectAll();
    ASSERT_TRUE(waitFor([&] { return rec.events.size() == 2; }));
    EXPECT_EQ(rec.events, (QStringList{"mgr", "conv:down"}));
    EXPECT_FALSE(conv.IsConnected());
    EXPECT_EQ(conv.ServiceName(), "TestSvc");
    EXPECT_EQ(conv.TopicName(), "Ctl1");
    EXPECT_NE(conv.TopicHandle(), 0u);
    EXPECT_EQ(conv.AdviseCount(), 1);

    // No second OnDisconnect for a connection that is already gone.
    conv.Disconnect();
    EXPECT_EQ(rec.events.size(), 2);
    EXPECT_EQ(conv.TopicHandle(), 0u);
    EXPECT_EQ(manager.ConversationCount(), 0);
    (void)key;

    // It can connect again.
    EXPECT_TRUE(conv.Connect("TestSvc", "Ctl1"));
    EXPECT_EQ(rec.events.last(), "connect");
    EXPECT_EQ(manager.ConversationCount(), 1);
}

TEST_F(DdeLinkTest, ConnectReplacesTheConnectionAndFailsQuietlyWhenNobodyAnswers) {
    EXPECT_TRUE(conv.Connect("testsvc", "system"));
    EXPECT_EQ(rec.events, (QStringList{"conv:down", "connect"}));
    EXPECT_EQ(manager.ConversationCount(), 1);
    EXPECT_FALSE(conv.Connect("TestSvc", "NoSuchTopic"));
    EXPECT_FALSE(conv.Connect("NoSuchService", "System"));
    EXPECT_FALSE(conv.IsConnected());
    EXPECT_EQ(conv.ServiceName(), "NoSuchService");
    EXPECT_EQ(manager.ConversationCount(), 0);
}

TEST_F(DdeLinkTest, AdviseDeliversEveryChangeUntilStoppedAndSurvivesAThrowingSubscriber) {
    server.setText("Temp", "20");
    const std::int64_t key = conv.StartAdvise("temp", rec.data());
    ASSERT_GT(key, 0);
    EXPECT_TRUE(conv.AcknowledgeAdvise());
    ASSERT_TRUE(waitFor([&] { return server.adviseStarts().size() == 1; }));
    server.postText("Ctl1", "TEMP", "21");
    ASSERT_TRUE(waitFor(
        [&] { return !rec.calls.empty() && rec.calls.back().value == QByteArray("21", 3); }));

    // Changes faster than the client acknowledges coalesce; the last arrives.
    for (int i = 0; i < 50; ++i) {
        server.postText("Ctl1", "Temp", QByteArray::number(100 + i));
    }
    ASSERT_TRUE(waitFor([&] { return rec.calls.back().value == QByteArray("149", 4); }));

    rec.throwOnData(true);
    server.postText("Ctl1", "Temp", "30");
    ASSERT_TRUE(waitFor([&] { return rec.calls.back().value == QByteArray("30", 3); }));
    rec.throwOnData(false);
    server.postText("Ctl1", "Temp", "31");
    ASSERT_TRUE(waitFor([&] { return rec.calls.back().value == QByteArray("31", 3); }));

    conv.StopAdvise(key);
    EXPECT_EQ(conv.AdviseCount(), 0);
    ASSERT_TRUE(waitFor([&] { return server.adviseStops().size() == 1; }));
    const size_t before = rec.calls.size();
    server.postText("Ctl1", "Temp", "40");
    // Barrier: the reply to a later request of the same conversation comes
    // after any push of the change.
    Recorder barrier;
    conv.Request("Temp", barrier.data());
    ASSERT_TRUE(waitFor([&] { return barrier.calls.size() == 1; }));
    EXPECT_EQ(barrier.calls[0].value, QByteArray("40", 3));
    EXPECT_EQ(rec.calls.size(), before);
}

TEST_F(DdeLinkTest, DestroyedConversationIsNeverCalledBack) {
    server.setText("Name", "x");
    auto second = std::make_unique<TKIDdeClientConv>();
    ASSERT_TRUE(second->Connect("TestSvc", "Ctl1"));
    second->Request("Name", rec.data());
    second->Request("Name", rec.data());
    second.reset();
    EXPECT_EQ(manager.ConversationCount(), 1);
    // Barrier: a request on the remaining conversation answers after anything
    // still due on the freed one.
    Recorder barrier;
    conv.Request("Name", barrier.data());
    ASSERT_TRUE(waitFor([&] { return !barrier.calls.empty(); }));
    EXPECT_TRUE(barrier.calls[0].hadValue);
    EXPECT_TRUE(rec.calls.empty());
}

// The error box of a failed transaction runs the event loop; whatever it frees
// meanwhile (under ASan a touch of it would be a use after free) is left alone.
TEST_F(DdeLinkTest, ConversationFreedWhileItsErrorBoxIsOpenIsNotCalledBack) {
    server.setFailing("Bogus");
    server.setText("Name", "x");
    auto second = std::make_unique<TKIDdeClientConv>();
    ASSERT_TRUE(second->Connect("TestSvc", "Ctl1"));
    dialogs.answerMessage(mrOk, "DDE Error: Request on Ctl1: Bogus failed; verify item name.")
        .whileShown([&] { second.reset(); });
    second->Request("Bogus", rec.data());
    ASSERT_TRUE(waitFor([&] { return second == nullptr; }));
    // A barrier: a request on the remaining conversation answers after
    // anything still due on the freed one.
    conv.Request("Name", rec.data());
    ASSERT_TRUE(waitFor([&] { return !rec.calls.empty(); }));
    ASSERT_EQ(rec.calls.size(), 1u);
    EXPECT_TRUE(rec.calls[0].hadValue);
    EXPECT_EQ(manager.ConversationCount(), 1);
}

TEST(DdeLinkLifetime, InstanceFreedWhileAnErrorBoxIsOpenIsNotTouchedAfterwards) {
    test::ScriptedDialogService dialogs;
    InProcessServer server{QStringLiteral("TestSvc"), {"System", "Ctl1"}};
    ASSERT_TRUE(server.isValid());
    server.setFailing("Bogus");
    server.setText("Name", "x");
    Recorder rec;
    auto manager = std::make_unique<TKIDdeMgr>();
    auto conv = std::make_unique<TKIDdeClientConv>();
    ASSERT_TRUE(conv->Connect("TestSvc", "Ctl1"));
    // The program closes while the box is up: conversation first, then the
    // instance, as the server object frees them.
    dialogs.answerMessage(mrOk, "DDE Error: Request on Ctl1: Bogus failed; verify item name.")
        .whileShown([&] {
            conv.reset();
            manager.reset();
        });
    conv->Request("Bogus", rec.data());
    ASSERT_TRUE(waitFor([&] { return manager == nullptr; }));
    // Barrier: a request of a new instance is answered after the server has
    // dealt with everything the freed one sent.
    TKIDdeMgr next;
    TKIDdeClientConv probe;
    ASSERT_TRUE(probe.Connect("TestSvc", "Ctl1"));
    Recorder barrier;
    probe.Request("Name", barrier.data());
    ASSERT_TRUE(waitFor([&] { return !barrier.calls.empty(); }));
    EXPECT_TRUE(rec.calls.empty());
    EXPECT_EQ(dialogs.pending(), 0);
}

TEST(DdeServerProcess, DyingMidTransactionFailsThePendingWorkAndReportsTheLoss) {
    qputenv("ORVANE_TEST_SERVER_MODE", "die");
    int error = 0;
    auto server = Process::start(DDELINK_TEST_SERVER, QString(), SW_HIDE, &error);
    qunsetenv("ORVANE_TEST_SERVER_MODE");
    ASSERT_TRUE(server) << error;

    Recorder rec;
    test::ScriptedDialogService dialogs;
    TKIDdeMgr manager;
    manager.SetOnDisconnect(TDdeMgrEvent(&rec, &Recorder::OnMgrDisconnect));
    TKIDdeClientConv conv;
    conv.SetOnDisconnect(TDdeConvEvent(&rec, &Recorder::OnConvDisconnect));
    ASSERT_TRUE(waitFor([&] { return conv.Connect("Duxlane", "System"); }));
    conv.Request("Alive", rec.data());
    ASSERT_TRUE(waitFor([&] { return rec.calls.size() == 1; }));
    EXPECT_EQ(rec.calls[0].value, QByteArray("ok", 3));

    // A synchronous caller waiting while the server ends abruptly.
    for (int i = 0; i < 2; ++i) {
        dialogs.answerMessage(mrOk, "DDE Error: Request on System: die failed; verify item name.");
    }
    Synchronizer sync;
    struct Caller {
        Synchronizer* sync;
        Recorder* rec;
        void Done(const char* value, std::unique_ptr<EDdeError> error) {
            rec->OnData(value, std::move(error));
            sync->CompleteTransaction();
        }
    } caller{&sync, &rec};
    sync.StartTransaction();
    conv.Request("die", TDdeDataEvent(&caller, &Caller::Done));
    conv.Request("die", rec.data()); // a second one pending in the same conversation
    sync.WaitForCompletion();
    ASSERT_TRUE(waitFor([&] { return rec.events.size() == 2; }));
    ASSERT_EQ(rec.calls.size(), 3u);
    EXPECT_EQ(rec.calls[1].error, "Server died.");
    EXPECT_EQ(rec.calls[2].error, "Server died.");
    // Reported to the user once per failed transaction, the loss told to the
    // manager before the conversation.
    EXPECT_EQ(dialogs.messages().size(), 2u);
    EXPECT_EQ(rec.events, (QStringList{"mgr", "conv:down"}));
    EXPECT_FALSE(conv.IsConnected());
    EXPECT_EQ(conv.PendingCount(), 0);
    ASSERT_TRUE(server->waitForExit(3000));
    EXPECT_EQ(WEXITSTATUS(server->waitStatus()), 3);
    manager.SetOnDisconnect({});
}
