// The control's commands, requests, confirmation and reset polling: the texts
// and result rules on their own, exact result sequences against a small DDE
// server inside the test, and the whole dialogue against duxlane-server.

#include <cstdint>
#include <memory>

#include <gtest/gtest.h>

#include <QHash>
#include <QObject>
#include <QTimer>

#include "ModelFixture.h"
#include "ScriptedDialogService.h"
#include "ddelink/DdeError.h"
#include "ddelink/KIDdeClientConv.h"
#include "ddelink/KIDdeMgr.h"
#include "ddelink/Synchronizer.h"
#include "model/KIDuxlaneControl.h"
#include "model/KIItem.h"
#include "model/KIServer.h"
#include "platform/ddeml.h"

namespace orvane::test {
namespace {

using Command = TKIDuxlaneControl::Command;

// Every interval short, every count small enough for a test.
TKIDuxlaneControl::Timing FastTiming() {
    TKIDuxlaneControl::Timing timing;
    timing.confirmIntervalMs = 10;
    timing.resetPollIntervalMs = 20;
    timing.resetPolls = 120;
    timing.resetPauseMs = 0;
    return timing;
}

// The message of the exception f raises, or "<nothing raised>".
template <typename F>
QString FailureOf(F&& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.message();
    }
    return QStringLiteral("<nothing raised>");
}

// Receives the control's and items' events.
struct Recorder {
    int resetDone = 0;
    int stateAtResetDone = -1;
    int connects = 0;
    int changes = 0;

    void ResetDone(TKIDuxlaneControl* control) {
        ++resetDone;
        stateAtResetDone = control->CommandState();
    }
    void Connected(TKIDevice*) { ++connects; }
    void Changed(TKIItem*) { ++changes; }

    QStringList ddeErrors;
    void DdeError(const QString& operation, const QString& topic, const QString& item) {
        ddeErrors << operation + QLatin1Char(' ') + topic + QLatin1Char(':') + item;
    }
};

// ---------------------------------------------------------------------------
// Texts and result rules

TEST(ControlCommandTexts, WriteProgramMemorySeparatesBytesByOneTab) {
    const std::uint8_t bytes[] = {1, 2, 255};
    EXPECT_EQ(TKIDuxlaneControl::WriteProgramMemoryText(4096, bytes, 3),
              QStringLiteral("WriteProgramMemory(4096;1\t2\t255)"));
    EXPECT_EQ(TKIDuxlaneControl::WriteProgramMemoryText(4096, bytes, 0),
              QStringLiteral("WriteProgramMemory(4096;)"));
    EXPECT_EQ(TKIDuxlaneControl::WriteProgramMemoryText(0, bytes, 1),
              QStringLiteral("WriteProgramMemory(0;1)"));
    EXPECT_EQ(TKIDuxlaneControl::BeginProgrammingModeText(65536, 4294967295u),
              QStringLiteral("BeginProgrammingMode(65536;4294967295)"));
}

TEST(ControlCommandTexts, WriteProgramMemoryWritesEveryByteValueInPlainDecimal) {
    // Every byte value once, after the highest address: the longest text.
    std::uint8_t bytes[256];
    QByteArray expected = "WriteProgramMemory(4294967295;";
    for (int value = 0; value < 256; ++value) {
        bytes[value] = static_cast<std::uint8_t>(value);
        expected += (value > 0 ? "\t" : "") + QByteArray::number(value);
    }
    expected += ')';
    EXPECT_EQ(TKIDuxlaneControl::WriteProgramMemoryCommand(4294967295u, bytes, 256), expected);
    // No bytes to send, whatever count says.
    EXPECT_EQ(TKIDuxlaneControl::WriteProgramMemoryCommand(7, nullptr, 5),
              QByteArray("WriteProgramMemory(7;)"));
    EXPECT_EQ(TKIDuxlaneControl::WriteProgramMemoryCommand(7, bytes, -1),
              QByteArray("WriteProgramMemory(7;)"));
}

TEST(ControlCommandTexts, WriteProgramMemoryFailureNamesTheResultCode) {
    const QString prefix = QStringLiteral(
        "TKIDuxlaneControl.WriteProgrammingMemory: WriteProgrammingMemory Failed.\rResult Code: ");
    EXPECT_EQ(
        FailureOf([] { TKIDuxlaneControl::CheckResult(Command::WriteProgramMemory, 3, "3"); }),
        prefix + QStringLiteral("Address outside of program memory block"));
    EXPECT_EQ(
        FailureOf([] { TKIDuxlaneControl::CheckResult(Command::WriteProgramMemory, 9, "9"); }),
        prefix);
    EXPECT_EQ(TKIDuxlaneControl::WriteProgramMemoryCodeText(1), QStringLiteral("Invalid Adress"));
    EXPECT_EQ(TKIDuxlaneControl::WriteProgramMemoryCodeText(5),
              QStringLiteral("Addesss not on an even boundary"));
    EXPECT_EQ(TKIDuxlaneControl::WriteProgramMemoryCodeText(254),
              QStringLiteral("Security lockout"));
    EXPECT_TRUE(TKIDuxlaneControl::WriteProgramMemoryCodeText(8).isEmpty());
}

TEST(ControlCommandTexts, ResultRulesGiveEachCommandsOwnFailure) {
    struct Case {
        Command command;
        double result;
        const char* text;
    };
    const Case cases[] = {
        {Command::Reset, 1, "Error resetting control:  The control is not in configure mode"},
        {Command::Reset, 2, "TKIDuxlaneControl.Reset: Reset Failed"},
        {Command::Shutdown, 1, "TKIDuxlaneControl.Shutdown: Shutdown Failed"},
        {Command::SaveValues, 1, "TKIDuxlaneControl.SaveValues: Memory Error"},
        {Command::SaveValues, 255, "TKIDuxlaneControl.SaveValues: Unsupported Function"},
        {Command::SaveValues, 2, "TKIDuxlaneControl.SaveValues: SaveValues Failed"},
        {Command::BeginProgrammingMode, 4,
         "TKIDuxlaneControl.BeginProgrammingMode: BeginProgrammingMode Failed"},
        {Command::EndProgrammingMode, 255,
         "TKIDuxlaneControl.EndProgrammingMode: EndProgrammingMode Failed"},
    };
    for (const Case& c : cases) {
        const QString text = QString::number(c.result);
        EXPECT_EQ(FailureOf([&] { TKIDuxlaneControl::CheckResult(c.command, c.result, text); }),
                  QString::fromLatin1(c.text));
    }
    for (Command command :
         {Command::Reset, Command::Shutdown, Command::SaveValues, Command::BeginProgrammingMode,
          Command::EndProgrammingMode, Command::WriteProgramMemory}) {
        EXPECT_EQ(FailureOf([&] { TKIDuxlaneControl::CheckResult(command, 0, "0"); }),
                  QStringLiteral("<nothing raised>"));
    }
    EXPECT_EQ(FailureOf([] { TKIDuxlaneControl::ResultToNumber("busy"); }),
              QStringLiteral("'busy' is not a valid floating point value"));
    EXPECT_EQ(TKIDuxlaneControl::ResultToNumber(" 255 "), 255.0);
}

// ---------------------------------------------------------------------------
// Exact result sequences: a control topic served inside the test.

// A control topic "CTRL" of service "UPCIDuxlane" that records the commands it
// is given and answers each with a scripted sequence of values on the
// command's result item, once the client's hot link on it has started.
class ScriptedControl {
public:
    ScriptedControl() {
        s_instance = this;
        if (DdeInitialize(&m_instance, &ScriptedControl::Callback, APPCLASS_STANDARD, 0) !=
            DMLERR_NO_ERROR) {
            m_instance = 0;
            return;
        }
        m_service = DdeCreateStringHandle(m_instance, "UPCIDuxlane", CP_WINANSI);
        DdeNameService(m_instance, m_service, 0, DNS_REGISTER);
    }
    ~ScriptedControl() {
        if (m_instance) {
            DdeNameService(m_instance, m_service, 0, DNS_UNREGISTER);
            DdeFreeStringHandle(m_instance, m_service);
            DdeUninitialize(m_instance);
        }
        s_instance = nullptr;
    }
    bool IsValid() const { return m_instance != 0; }

    // Texts answered to requests; an item without one is refused.
    QHash<QString, QByteArray> texts;
    // Values pushed, in order, on the result item after the next command.
    QList<QByteArray> nextResults;
    QStringList executes;
    int resultDeliveries = 0;

private:
    static HDDEDATA Callback(UINT type, UINT format, HCONV, HSZ hsz1, HSZ hsz2, HDDEDATA data,
                             ULONG_PTR, ULONG_PTR) {
        return s_instance ? s_instance->Handle(type, format, hsz1, hsz2, data) : 0;
    }

    QString Text(HSZ handle) const {
        char buffer[256];
        const DWORD length = DdeQueryString(m_instance, handle, buffer, sizeof buffer, CP_WINANSI);
        return QString::fromLatin1(buffer, static_cast<qsizetype>(length));
    }

    HDDEDATA Reply(HSZ item, const QByteArray& text) {
        QByteArray bytes = text;
        bytes.append('\0');
        return DdeCreateDataHandle(m_instance, reinterpret_cast<const BYTE*>(bytes.constData()),
                                   static_cast<DWORD>(bytes.size()), 0, item, CF_TEXT, 0);
    }

    void PushNext(const QByteArray& item) {
        if (m_pending.isEmpty()) {
            return;
        }
        m_current = m_pending.takeFirst();
        const HSZ topic = DdeCreateStringHandle(m_instance, "CTRL", CP_WINANSI);
        const HSZ itemHandle = DdeCreateStringHandle(m_instance, item.constData(), CP_WINANSI);
        DdePostAdvise(m_instance, topic, itemHandle);
        DdeFreeStringHandle(m_instance, itemHandle);
        DdeFreeStringHandle(m_instance, topic);
        // Later values follow one at a time, after the client took the last.
        QTimer::singleShot(40, &m_context, [this, item] { PushNext(item); });
    }

    HDDEDATA Handle(UINT type, UINT format, HSZ hsz1, HSZ hsz2, HDDEDATA data) {
        switch (type) {
        case XTYP_CONNECT:
            return Text(hsz1).compare("CTRL", Qt::CaseInsensitive) == 0 ? TRUE : FALSE;
        case XTYP_REQUEST: {
            const QString item = Text(hsz2);
            if (format != CF_TEXT || !texts.contains(item)) {
                return 0;
            }
            return Reply(hsz2, texts.value(item));
        }
        case XTYP_EXECUTE: {
            DWORD size = 0;
            const BYTE* bytes = DdeAccessData(data, &size);
            executes << QString::fromLatin1(reinterpret_cast<const char*>(bytes));
            DdeUnaccessData(data);
            m_pending = nextResults;
            nextResults.clear();
            return DDE_FACK;
        }
        case XTYP_ADVSTART:
            if (Text(hsz2).endsWith(QLatin1String(".Result"))) {
                QTimer::singleShot(0, &m_context,
                                   [this, item = Text(hsz2).toLatin1()] { PushNext(item); });
                return TRUE;
            }
            return FALSE;
        case XTYP_ADVREQ:
            ++resultDeliveries;
            return Reply(hsz2, m_current);
        default:
            return 0;
        }
    }

    static inline ScriptedControl* s_instance = nullptr;
    QObject m_context; // ends the pending pushes with the server
    DWORD m_instance = 0;
    HSZ m_service = 0;
    QList<QByteArray> m_pending;
    QByteArray m_current;
};

class ControlSequenceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_server.IsValid());
        m_server.texts.insert("Control Status", "1");
        m_manager = std::make_unique<TKIDdeMgr>();
        TKIDdeMgr::SetCurrent(m_manager.get());
        m_manager->SetOnDdeError(TDdeErrorEvent(&m_recorder, &Recorder::DdeError));
        m_conversation = std::make_unique<TKIDdeClientConv>();
        ASSERT_TRUE(m_conversation->Connect("UPCIDuxlane", "CTRL"));
        m_control = std::make_unique<TKIDuxlaneControl>();
        m_control->SetIdentifier("CTRL"); // no server: the test hands over the conversation
        m_control->SetOnConnect(TKIDeviceEvent(&m_recorder, &Recorder::Connected));
        m_control->Connected(m_conversation.get());
        ASSERT_TRUE(WaitUntil([this] { return m_recorder.connects == 1; }, 3000));
    }
    void TearDown() override {
        m_control.reset();
        m_conversation.reset();
        m_manager.reset();
    }

    const TKIDuxlaneControl::TimingScope m_controlTiming{FastTiming()};
    const TKIDevice::TimingScope m_deviceTiming{{.disconnectItemsSleepMs = 0}};
    const Synchronizer::TimingScope m_synchronizerTiming{{.timeoutMs = 600}};
    ScriptedDialogService m_dialogs;
    ScriptedControl m_server;
    Recorder m_recorder;
    std::unique_ptr<TKIDdeMgr> m_manager;
    std::unique_ptr<TKIDdeClientConv> m_conversation;
    std::unique_ptr<TKIDuxlaneControl> m_control;
};

TEST_F(ControlSequenceTest, EmptyResultIsPassedOverUntilTheCodeArrives) {
    EXPECT_EQ(m_control->CommandState(), kCommandStateReady);
    m_server.nextResults = {"", "0"};
    m_control->SaveValues();
    EXPECT_EQ(m_server.executes, QStringList{"SaveValues"});
    EXPECT_EQ(m_server.resultDeliveries, 2);
    EXPECT_EQ(m_control->ResultText(), QStringLiteral("0"));
}

TEST_F(ControlSequenceTest, ExecuteTextsGoOutAsWritten) {
    const std::uint8_t bytes[] = {1, 2, 255};
    m_server.nextResults = {"0"};
    m_control->BeginProgrammingMode(4096, 16);
    EXPECT_EQ(m_control->CommandState(), kCommandStateProgramming);
    m_server.nextResults = {"0"};
    m_control->WriteProgramMemory(4096, bytes, 3);
    m_server.nextResults = {"0"};
    m_control->EndProgrammingMode();
    EXPECT_EQ(m_control->CommandState(), kCommandStateReady);
    EXPECT_EQ(m_server.executes,
              (QStringList{"BeginProgrammingMode(4096;16)", "WriteProgramMemory(4096;1\t2\t255)",
                           "EndProgrammingMode"}));
}

TEST_F(ControlSequenceTest, MissingResultFailsInsteadOfReusingTheLastOne) {
    m_server.nextResults = {"0"};
    m_control->Shutdown();
    ASSERT_EQ(m_control->ResultText(), QStringLiteral("0"));

    // The control takes the next command but never reports its result.
    m_dialogs.answerMessage(mrOk, QStringLiteral("Error occured while attempting to enter "
                                                 "configure mode. Server is not responding."));
    EXPECT_EQ(FailureOf([this] { m_control->Shutdown(); }),
              QStringLiteral("TKIDuxlaneControl.Shutdown: The control did not report a result."));
    EXPECT_TRUE(m_control->ResultText().isEmpty());

    // The result link was ended, and the command synchronizer is free again.
    m_server.nextResults = {"0"};
    m_control->SaveValues();
    EXPECT_EQ(m_server.executes.size(), 3);
}

TEST_F(ControlSequenceTest, ControlStatusAnswersFalseWhenTheServerAnswersWithAnError) {
    EXPECT_TRUE(m_control->ControlStatus());
    m_server.texts.insert("Control Status", "0");
    EXPECT_FALSE(m_control->ControlStatus());
    m_server.texts.remove("Control Status");
    EXPECT_FALSE(m_control->ControlStatus());
    // The other requests pass the server's error on.
    EXPECT_THROW(m_control->ProtocolID(), EDdeError);
    m_server.texts.insert("Protocol ID", "DXP 2.0");
    EXPECT_EQ(m_control->ProtocolID(), QStringLiteral("DXP 2.0"));
    // Each failure was also reported once to the user's side.
    EXPECT_EQ(m_recorder.ddeErrors,
              (QStringList{"Request CTRL:Control Status", "Request CTRL:Protocol ID"}));
}

TEST_F(ControlSequenceTest, LongReplyIsKeptWhole) {
    const QByteArray id(3000, 'x');
    m_server.texts.insert("System ID", id + "END");
    EXPECT_EQ(m_control->SystemID(), QString::fromLatin1(id + "END"));
}

TEST_F(ControlSequenceTest, ConfirmationWaitsUntilTheControlAnswers) {
    m_server.texts.insert("Control Status", "0");
    m_control->Connected(m_conversation.get());
    // A control answering "0" is asked again and again, beyond the attempts.
    ASSERT_TRUE(WaitUntil([this] { return m_control->ConfirmAttemptsLeft() < -5; }, 3000));
    EXPECT_EQ(m_recorder.connects, 1);
    m_server.texts.insert("Control Status", "1");
    EXPECT_TRUE(WaitUntil([this] { return m_recorder.connects == 2; }, 3000));
}

TEST_F(ControlSequenceTest, CommandsNeedTheConversation) {
    TKIDuxlaneControl unconnected;
    EXPECT_EQ(FailureOf([&] { unconnected.SaveValues(); }),
              QStringLiteral("Control has not been connected."));
    EXPECT_EQ(FailureOf([&] { unconnected.ProtocolID(); }),
              QStringLiteral("Control has not been connected."));
    EXPECT_EQ(unconnected.CommandState(), kCommandStateCreated);
}

// ---------------------------------------------------------------------------
// Against duxlane-server

QByteArray CommandNetwork() {
    return "duxlane-network 1\n"
           "name \"Commands test\"\n"
           "control \"PUMP1\"\n"
           "  protocol-id \"DXP 2.1\"\n"
           "  system-id \"DX-100 S/N 7\"\n"
           "  application-id \"Pump Control 1.0\"\n"
           "  product-id \"DX100-PMP\"\n"
           "  configuration-id \"CFG-0007\"\n"
           "  reset-time 300\n"
           "  erase-time 0\n"
           "  program-block 0x1000 0x100\n"
           "  item \"Service: Speed.Gain\" tunable real min 0 max 100 value 2\n"
           "  item \"Service: Speed.Actual\" monitor real min 0 max 100 value 50 live noise 5\n"
           "end\n";
}

class ControlServerTest : public ModelFixture {
protected:
    void SetUp() override { ModelFixture::SetUp(); }
    void TearDown() override {
        if (m_control) {
            m_control->SetServer(nullptr);
            m_control.reset();
            // The server program sees the topic's conversation end before it
            // is asked how many are left (which decides whether it closes).
            PumpFor(150);
        }
        ModelFixture::TearDown();
    }

    const TKIDuxlaneControl::TimingScope m_controlTiming{FastTiming()};

    // Starts the server with the test network and a control on "PUMP1";
    // waitForConfirmation: until the control has confirmed its connection,
    // otherwise only until it has the conversation.
    void StartControl(bool waitForConfirmation = true) {
        TKIServer* server = MakeServer(WriteNetwork(CommandNetwork()));
        ASSERT_TRUE(StartAndWait(server, 1));
        m_control = std::make_unique<TKIDuxlaneControl>();
        m_control->SetOnConnect(TKIDeviceEvent(&m_recorder, &Recorder::Connected));
        m_control->SetServer(server);
        m_control->SetIdentifier("PUMP1");
        if (waitForConfirmation) {
            ASSERT_TRUE(WaitUntil([this] { return m_recorder.connects == 1; }));
        } else {
            ASSERT_TRUE(WaitUntil([this] { return m_control->Conversation() != nullptr; }));
        }
    }

    Recorder m_recorder;
    std::unique_ptr<TKIDuxlaneControl> m_control;
};

TEST_F(ControlServerTest, ReadsIdentifiersAndModes) {
    StartControl();
    EXPECT_EQ(m_control->CommandState(), kCommandStateReady);
    EXPECT_EQ(m_control->ProtocolID(), QStringLiteral("DXP 2.1"));
    EXPECT_EQ(m_control->SystemID(), QStringLiteral("DX-100 S/N 7"));
    EXPECT_EQ(m_control->ApplicationID(), QStringLiteral("Pump Control 1.0"));
    EXPECT_EQ(m_control->ProductID(), QStringLiteral("DX100-PMP"));
    EXPECT_EQ(m_control->ConfigurationID(), QStringLiteral("CFG-0007"));
    EXPECT_TRUE(m_control->ControlStatus());
    EXPECT_FALSE(m_control->InConfigureMode());
    m_control->Shutdown();
    EXPECT_TRUE(m_control->InConfigureMode());
}

TEST_F(ControlServerTest, ProgramMemoryCommandsReportTheControlsCodes) {
    StartControl();
    const std::uint8_t bytes[] = {1, 2, 255, 4};
    // Without the I/O lock the control refuses to be programmed.
    EXPECT_EQ(
        FailureOf([&] { m_control->BeginProgrammingMode(0x1000, 0x10); }),
        QStringLiteral("TKIDuxlaneControl.BeginProgrammingMode: BeginProgrammingMode Failed"));
    EXPECT_EQ(m_control->CommandState(), kCommandStateProgramming);
    m_control->Shutdown();
    m_control->BeginProgrammingMode(0x1000, 0x10);
    m_control->WriteProgramMemory(0x1000, bytes, 4);
    // Three bytes: the control counted them, an odd length.
    EXPECT_TRUE(FailureOf([&] {
                    m_control->WriteProgramMemory(0x1004, bytes, 3);
                }).endsWith(QStringLiteral("Result Code: Length not on an even boundary")));
    EXPECT_TRUE(
        FailureOf([&] {
            m_control->WriteProgramMemory(0x1020, bytes, 2);
        }).endsWith(QStringLiteral("Result Code: Address outside of program memory block")));
    m_control->EndProgrammingMode();
    EXPECT_EQ(m_control->CommandState(), kCommandStateReady);
}

TEST_F(ControlServerTest, RefusedResetGivesTheItemsTheirLinksBack) {
    StartControl();
    TKIItem* item = m_control->AcquireItem("Service: Speed.Actual");
    item->Subscribe(TKIItemEvent(&m_recorder, &Recorder::Changed));
    ASSERT_TRUE(WaitUntil([&] { return m_recorder.changes > 0; }));

    EXPECT_EQ(FailureOf([this] { m_control->Reset(); }),
              QStringLiteral("Error resetting control:  The control is not in configure mode"));
    EXPECT_EQ(m_control->CommandState(), kCommandStateReady);
    EXPECT_TRUE(item->IsAdvised());
    const int before = m_recorder.changes;
    EXPECT_TRUE(WaitUntil([&] { return m_recorder.changes > before; }));
    item->Unsubscribe(TKIItemEvent(&m_recorder, &Recorder::Changed));
    m_control->ReleaseItem(item->Name());
}

TEST_F(ControlServerTest, ResetThatComesBackReconnectsTheAdvisedItems) {
    StartControl();
    TKIItem* item = m_control->AcquireItem("Service: Speed.Actual");
    item->Subscribe(TKIItemEvent(&m_recorder, &Recorder::Changed));
    ASSERT_TRUE(WaitUntil([&] { return m_recorder.changes > 0; }));
    m_control->Shutdown();

    m_control->ResetWithNotify(TKIDuxlaneControlEvent(&m_recorder, &Recorder::ResetDone));
    EXPECT_EQ(m_control->CommandState(), kCommandStateResetting);
    EXPECT_FALSE(item->IsAdvised());
    ASSERT_TRUE(WaitUntil([this] { return m_recorder.resetDone == 1; }));
    EXPECT_EQ(m_recorder.stateAtResetDone, kCommandStateReady);
    EXPECT_GT(m_control->ResetPollsLeft(), 0);

    // The confirmation runs again and restarts the hot link.
    ASSERT_TRUE(WaitUntil([&] { return item->IsAdvised(); }));
    const int before = m_recorder.changes;
    EXPECT_TRUE(WaitUntil([&] { return m_recorder.changes > before; }));
    EXPECT_FALSE(m_control->InConfigureMode());
    EXPECT_EQ(m_recorder.resetDone, 1);
    item->Unsubscribe(TKIItemEvent(&m_recorder, &Recorder::Changed));
    m_control->ReleaseItem(item->Name());
}

TEST_F(ControlServerTest, ResetWhoseControlNeverAnswersEndsAfterTheLastPoll) {
    SetServerSwitch("DUXLANE_DEAD_CONTROLS", "PUMP1");
    TKIDuxlaneControl::Timing timing = FastTiming();
    timing.resetPolls = 15;
    const TKIDuxlaneControl::TimingScope fifteenPolls(timing);
    StartControl(/*waitForConfirmation=*/false);
    EXPECT_FALSE(m_control->ControlStatus());
    m_control->Shutdown();

    m_control->ResetWithNotify(TKIDuxlaneControlEvent(&m_recorder, &Recorder::ResetDone));
    ASSERT_TRUE(WaitUntil([this] { return m_recorder.resetDone == 1; }));
    EXPECT_EQ(m_recorder.stateAtResetDone, kCommandStateResetting);
    EXPECT_EQ(m_control->CommandState(), kCommandStateResetting);
    EXPECT_EQ(m_control->ResetPollsLeft(), 0);
    // Barrier: a request runs the event loop past any poll still due.
    EXPECT_FALSE(m_control->ControlStatus());
    EXPECT_EQ(m_recorder.resetDone, 1);
}

class SaveValuesAnswerTest : public ControlServerTest,
                             public ::testing::WithParamInterface<std::pair<int, const char*>> {};

TEST_P(SaveValuesAnswerTest, EachFailureCodeHasItsMessage) {
    SetServerSwitch("DUXLANE_FAIL_COMMANDS", "SaveValues=" + QByteArray::number(GetParam().first));
    StartControl();
    EXPECT_EQ(FailureOf([this] { m_control->SaveValues(); }),
              QString::fromLatin1(GetParam().second));
}

INSTANTIATE_TEST_SUITE_P(
    Codes, SaveValuesAnswerTest,
    ::testing::Values(std::make_pair(1, "TKIDuxlaneControl.SaveValues: Memory Error"),
                      std::make_pair(255, "TKIDuxlaneControl.SaveValues: Unsupported Function"),
                      std::make_pair(2, "TKIDuxlaneControl.SaveValues: SaveValues Failed")));

TEST_F(ControlServerTest, SilentCommandShowsTheNotRespondingMessageAndFails) {
    SetServerSwitch("DUXLANE_SILENT_COMMANDS", "Reset");
    const Synchronizer::TimingScope shortWait({.timeoutMs = 400});
    StartControl();
    m_control->Shutdown();
    m_dialogs.answerMessage(
        mrOk, QStringLiteral("Error occured during reset. Server is not responding."));
    EXPECT_EQ(FailureOf([this] {
                  m_control->ResetWithNotify(
                      TKIDuxlaneControlEvent(&m_recorder, &Recorder::ResetDone));
              }),
              QStringLiteral("TKIDuxlaneControl.Reset: The control did not report a result."));
    EXPECT_EQ(m_control->CommandState(), kCommandStateReady);
    // The control still answers other commands (and the wait for this one
    // runs the event loop past anything the failed reset left due).
    m_control->SaveValues();
    EXPECT_EQ(m_recorder.resetDone, 0);
}

} // namespace
} // namespace orvane::test
