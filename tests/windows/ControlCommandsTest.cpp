// The Explorer's control commands against the simulated server: what each
// question lets through to the control, in which order, the messages, and
// that the windows, the tab strip and the hourglass always come back.

#include "windows/ControlCommands.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTimer>

#include "ControlFixture.h"
#include "model/KIDuxlaneControl.h"
#include "platform/StatusBar.h"
#include "windows/OrvaneMDIForm.h"

using namespace orvane;
using orvane::test::ControlFixture;
using orvane::test::WaitFor;

namespace {

const QByteArray kNetwork = R"(duxlane-network 1
name "Commands test"

control "PLC1"
    product-id "DX100-TEST"
    reset-time 100
    erase-time 0
    save-values yes
    program-block 4096 256
    item "Count" tunable int16 min -100 max 100 value 5
    item "Configure: Loop.Gain" configure real min 0.5 max 10 decimals 2 value 1
end

control "PLC2"
    product-id "DX100-TEST"
    reset-time 100
    save-values yes
    item "Count" tunable int16 min -100 max 100 value 7
end
)";

// The main window as the commands see it.
class FakeMainWindow : public TMainWindowServices {
public:
    FakeMainWindow() { SetMainWindowServices(this); }
    ~FakeMainWindow() override { SetMainWindowServices(nullptr); }
    void EnableWindows(bool enable) override {
        enabled = enable;
        ++switches;
    }
    void UpdateEditCommands(int) override {}
    void UpdateInspectorCommands(TOrvaneMDIForm*) override {}
    void ExplorerClosed() override {}
    bool CloseAllInspectors(const QString& question) override {
        questions.append(question);
        return closeInspectors;
    }
    bool enabled = true;
    int switches = 0;
    bool closeInspectors = true;
    QStringList questions;
};

class FakeExplorer : public TControlCommandHost {
public:
    FakeExplorer() { bar.AddPanel(); }
    TStatusBar* CommandStatusBar() override { return &bar; }
    void SetTabsEnabled(bool enabled) override {
        tabsEnabled = enabled;
        tabsEverDisabled = tabsEverDisabled || !enabled;
    }
    void SetBusyCursor(bool isBusy) override { busy = isBusy; }
    int DecimalPlaces() override { return 1; }
    void TerminateApplication() override { ++terminated; }

    TStatusBar bar;
    bool tabsEnabled = true;
    bool tabsEverDisabled = false;
    bool busy = false;
    int terminated = 0;
};

QString Caption(const char* control) {
    return QStringLiteral("Confirm - ") + QString::fromLatin1(control);
}

class ControlCommandsTest : public ControlFixture {
protected:
    void SetUp() override { StartServer(kNetwork, ServerArguments()); }
    virtual QStringList ServerArguments() const { return {}; }

    // The windows are back as they were before the command.
    void ExpectIdle() {
        EXPECT_TRUE(m_main.enabled);
        EXPECT_TRUE(m_explorer.tabsEnabled);
        EXPECT_FALSE(m_explorer.busy);
    }

    // Waits until a started reset has reported back.
    void WaitForResetDone() {
        ASSERT_TRUE(WaitFor([this] { return !m_commands.ResetPending(); }));
    }

    FakeMainWindow m_main;
    FakeExplorer m_explorer;
    TControlCommands m_commands{m_explorer};
};

TEST_F(ControlCommandsTest, LockIoAsksNamingTheControlAndLocksOnlyOnYes) {
    TKIDuxlaneControl* plc = Connect("PLC1");
    const QString question = QStringLiteral(
        "This will cause an I\\O lock in control PLC1. Are you sure you want to continue?");

    m_dialogs.answerMessage(mrNo, question);
    MarkTraffic();
    m_commands.LockIO(plc);
    EXPECT_FALSE(plc->InConfigureMode()); // barrier
    EXPECT_EQ(Traffic(), QStringList({"request Run Mode on PLC1"}));
    EXPECT_EQ(m_dialogs.messages().back().caption, Caption("PLC1"));

    m_dialogs.answerMessage(mrYes, question)
        .answerMessage(mrOk, QStringLiteral("PLC1 has it's I\\O locked."));
    m_commands.LockIO(plc);
    EXPECT_TRUE(plc->InConfigureMode());
    EXPECT_EQ(m_main.switches, 2) << "disabled for the command, then enabled";
    ExpectIdle();
}

TEST_F(ControlCommandsTest, ResetNeedsTheIoLockAndSavesValuesFirstWhenAsked) {
    TKIDuxlaneControl* plc = Connect("PLC1");

    // A running control: the error, and nothing sent but the mode request.
    m_dialogs.answerMessage(mrOk, QStringLiteral("Control PLC1 must be in I\\O lock before "
                                                 "resetting."));
    MarkTraffic();
    m_commands.Reset(plc);
    EXPECT_EQ(m_dialogs.messages().back().type, mtError);
    EXPECT_EQ(plc->ProductID(), QStringLiteral("DX100-TEST")); // barrier
    EXPECT_EQ(Traffic("request Product ID on PLC1"),
              QStringList({"request Run Mode on PLC1", "request Product ID on PLC1"}));

    plc->Shutdown();
    const QString question = QStringLiteral("Do you want to save values before resetting PLC1?");

    // Cancel: nothing more.
    m_dialogs.answerMessage(mrCancel, question);
    MarkTraffic();
    m_commands.Reset(plc);
    EXPECT_EQ(m_dialogs.messages().back().caption, Caption("PLC1"));
    ExpectIdle();

    // Yes: the values are saved, then the control is reset; the windows stay
    // off until the control is back.
    m_dialogs.answerMessage(mrYes, question);
    MarkTraffic();
    m_commands.Reset(plc);
    EXPECT_FALSE(m_main.enabled);
    EXPECT_EQ(m_explorer.bar.PanelText(0), QStringLiteral("Resetting..."));
    m_dialogs.answerMessage(mrOk, QStringLiteral("PLC1 is Reset"));
    WaitForResetDone();
    // (the reset's own polls follow)
    EXPECT_EQ(Traffic("execute Reset on PLC1").mid(0, 3),
              QStringList({"request Run Mode on PLC1", "execute SaveValues on PLC1",
                           "execute Reset on PLC1"}));
    ExpectIdle();
    EXPECT_EQ(m_explorer.bar.PanelText(0), QString());
    EXPECT_EQ(m_explorer.terminated, 0);

    // No: reset without saving.
    plc->Shutdown();
    m_dialogs.answerMessage(mrNo, question);
    MarkTraffic();
    m_commands.Reset(plc);
    m_dialogs.answerMessage(mrOk, QStringLiteral("PLC1 is Reset"));
    WaitForResetDone();
    EXPECT_EQ(Traffic("execute Reset on PLC1").mid(0, 2),
              QStringList({"request Run Mode on PLC1", "execute Reset on PLC1"}));
    ExpectIdle();
}

// Controls that take longer over their reset than the program waits.
class SlowResetTest : public ControlCommandsTest {
protected:
    QStringList ServerArguments() const override { return {"--reset-time", "5000"}; }
};

TEST_F(SlowResetTest, ControlLostInItsResetEndsTheProgram) {
    TKIDuxlaneControl::Timing timing = TKIDuxlaneControl::timing();
    timing.resetPolls = 2;
    const TKIDuxlaneControl::TimingScope fewPolls(timing);
    TKIDuxlaneControl* plc = Connect("PLC2");
    plc->Shutdown();
    m_dialogs.answerMessage(mrNo).answerMessage(
        mrOk, QStringLiteral("PLC2 is not responding after reset.  The application will be "
                             "terminated."));
    m_commands.Reset(plc);
    WaitForResetDone();
    EXPECT_EQ(m_explorer.terminated, 1);
    ExpectIdle();
}

TEST_F(ControlCommandsTest, SaveValuesAsksFirst) {
    TKIDuxlaneControl* plc = Connect("PLC2");
    const QString question =
        QStringLiteral("Are you sure you want to save values in control PLC2?");
    m_dialogs.answerMessage(mrNo, question);
    MarkTraffic();
    m_commands.SaveValues(plc);
    m_dialogs.answerMessage(mrYes, question)
        .answerMessage(mrOk, QStringLiteral("Save values is finished"));
    m_commands.SaveValues(plc);
    EXPECT_EQ(Traffic("execute SaveValues on PLC2"), QStringList({"execute SaveValues on PLC2"}));
}

// A server whose controls refuse some commands and requests.
class FailingControlTest : public ControlCommandsTest {
protected:
    QStringList ServerArguments() const override {
        return {"--fail-command", "Shutdown=1",   "--fail-command",
                "SaveValues=1",   "--error-item", "System ID"};
    }
};

TEST_F(FailingControlTest, FailingCommandsShowTheirErrorAndLeaveTheWindowsEnabled) {
    TKIDuxlaneControl* plc = Connect("PLC1");

    m_dialogs.answerMessage(mrYes).answerMessage(mrOk);
    m_commands.LockIO(plc);
    EXPECT_EQ(m_dialogs.messages().back().type, mtError);
    EXPECT_TRUE(m_dialogs.messages().back().text.startsWith("TKIDuxlaneControl.Shutdown"))
        << m_dialogs.messages().back().text.toStdString();
    ExpectIdle();

    // Properties: the failing read is reported by the DDE link, its error
    // ends the command, and the window is not shown.
    m_dialogs.answerMessage(mrOk).answerMessage(mrOk);
    m_commands.Properties(plc);
    ASSERT_EQ(m_dialogs.messages().size(), 4U);
    EXPECT_TRUE(m_dialogs.messages()[2].text.contains("System ID"));
    EXPECT_EQ(m_dialogs.messages()[3].type, mtError);
    EXPECT_FALSE(m_dialogs.messages()[3].text.isEmpty());
}

TEST_F(FailingControlTest, LoadFromFileShowsAControlFailureTheEngineDoesNotShow) {
    TKIDuxlaneControl* plc = Connect("PLC1");
    const QString file = WriteFile(QStringLiteral("plc1.cfg"), "COUNT\t42\r\n");
    m_dialogs.answerMessage(mrYes).answerOpenFile(file).answerMessage(mrOk);
    m_commands.LoadFromFile(plc);
    EXPECT_EQ(m_dialogs.messages().back().type, mtError);
    EXPECT_TRUE(m_dialogs.messages().back().text.startsWith("TKIDuxlaneControl.Shutdown"));
    EXPECT_EQ(m_explorer.bar.PanelText(0), QString());
    ExpectIdle();
}

TEST_F(ControlCommandsTest, SaveToFileAndCreateReportWriteTheirFiles) {
    TKIDuxlaneControl* plc = Connect("PLC2");
    const QString settings = Path(QStringLiteral("plc2.cfg"));
    const QString report = Path(QStringLiteral("plc2.txt"));
    m_dialogs.answerSaveFile(settings).answerSaveFile(report).answerSaveFile(std::nullopt);
    m_commands.SaveToFile(plc);
    m_commands.CreateReport(plc);
    m_commands.CreateReport(plc); // cancelled
    ASSERT_EQ(m_dialogs.fileDialogs().size(), 3U);
    EXPECT_EQ(m_dialogs.fileDialogs()[0].request.defaultExt, QStringLiteral("cfg"));
    EXPECT_EQ(m_dialogs.fileDialogs()[1].request.filter,
              QStringLiteral("Text Files (*.txt)|*.TXT|All File (*.*)|*.*"));
    QFile written(settings);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), QByteArray("COUNT\t7\r\n"));
    EXPECT_TRUE(QFile::exists(report));
    EXPECT_EQ(m_main.switches, 6) << "off and on again for each, also the cancelled one";
    ExpectIdle();
}

TEST_F(ControlCommandsTest, LoadApplicationClosesInspectorsAndEndsTheProgramAfterADownload) {
    TKIDuxlaneControl* plc = Connect("PLC1");

    // Inspectors kept open: nothing happens.
    m_main.closeInspectors = false;
    m_commands.LoadApplication(plc);
    EXPECT_EQ(m_main.questions,
              QStringList({"All Inspectors must be closed prior to application loading; Do you "
                           "want to close all inspectors?"}));

    // The file dialog cancelled.
    m_main.closeInspectors = true;
    m_dialogs.answerOpenFile(std::nullopt);
    m_commands.LoadApplication(plc);
    EXPECT_EQ(m_dialogs.fileDialogs().back().request.filter,
              QStringLiteral("Application Script Files (*.scp)|*.SCP"));
    ExpectIdle();
    EXPECT_EQ(m_explorer.terminated, 0);

    // A cancelled download still ends the program, after saying what state
    // the control is in.
    const QString script = WriteFile(QStringLiteral("app.scp"), "product OTHER\r\nend\r\n");
    m_dialogs.answerOpenFile(script)
        .answerMessage(mrYes)    // the I/O lock
        .answerMessage(mrCancel) // the product check
        .answerMessage(mrOk)     // the state of the control
        .answerMessage(
            mrOk, QStringLiteral("The application has changed in the control and the connection "
                                 "may not be valid. The Orvane will be closed and you may need to "
                                 "create a new Network Definition file in the Server."));
    m_commands.LoadApplication(plc);
    EXPECT_TRUE(m_dialogs.messageTexts().join('|').contains(
        "The download into control PLC1 ended before programming began."));
    EXPECT_EQ(m_explorer.terminated, 1);
    ExpectIdle();
}

} // namespace
