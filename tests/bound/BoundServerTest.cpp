// Bound controls against the simulated server: what the engineer sees and what
// reaches the control when stepping, typing, clicking and leaving fields, the
// I/O-lock rule, refused writes, and advise links that follow the containers.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QTest>
#include <QVBoxLayout>

#include "ScriptedDialogService.h"
#include "SimServer.h"
#include "TestEnvironment.h"
#include "Wait.h"
#include "bound/KIBinding.h"
#include "bound/KIForms.h"
#include "bound/KISpinEdit.h"
#include "bound/KIStringEdit.h"
#include "bound/KITimerEdit.h"
#include "bound/KIToggleButton.h"
#include "ddelink/DdeError.h"
#include "ddelink/KIDdeClientConv.h"
#include "ddelink/Synchronizer.h"
#include "model/KIDevice.h"
#include "model/KIDuxlaneControl.h"
#include "model/KIItem.h"
#include "model/KIServer.h"
#include "platform/Registry.h"

using namespace orvane;
using orvane::test::ScriptedDialogService;
using orvane::test::SimServer;

namespace {

const QByteArray kNetwork = R"(duxlane-network 1
name "Bound test"

control "PLC1"
    reset-time 200
    item "Service: Loop.Big" tunable real min 0 max 1000 decimals 2 value 250
    item "Service: Loop.Small" tunable real min 0 max 1 decimals 2 value 0.5
    item "Service: Loop.Negative" tunable real min -1 max 1 decimals 2 value -0.1
    item "Service: Loop.Level" tunable real min 0 max 110 decimals 1 value 100
    item "Service: Loop.Hold" tunable real min 0 max 100000 decimals 1 value 10000
    item "Service: Loop.Count" tunable int16 min 0 max 1000 value 150
    item "Service: Loop.Hundred" tunable int16 min 0 max 1000 value 100
    item "Configure: Loop.Gain" configure real min 0 max 110 decimals 1 value 100
    item "Service: Loop.Timer" tunable timer value "00:59:59.00"
    item "Configure: Loop.Delay" configure timer value "00:00:30.00"
    item "Plant.Area.Name" tunable string maxlen 8 value "North"
    item "Plant.Area.Running" monitor boolean value 1
    item "Plant.Area.Pump" tunable boolean value 0
    item "Configure: Loop.Enable" configure boolean value 0
end
)";

const QString kIoLock = QString::fromLatin1(kIoLockText);
constexpr int kWaitMs = 15000;

bool waitUntil(const std::function<bool()>& condition, int timeoutMs = kWaitMs) {
    return test::WaitUntil(condition, timeoutMs);
}

class LocaleScope {
public:
    explicit LocaleScope(const QLocale& locale) { QLocale::setDefault(locale); }
    ~LocaleScope() { QLocale::setDefault(m_previous); }

private:
    QLocale m_previous;
};

struct Counter {
    void Count(QWidget*) { ++count; }
    TNotifyEvent handler() { return TNotifyEvent(this, &Counter::Count); }
    int count = 0;
};

class BoundServerTest : public ::testing::Test {
protected:
    const TKIServer::TimingScope m_serverTiming{{.retryIntervalMs = 50}};
    const Synchronizer::TimingScope m_synchronizerTiming{{.timeoutMs = 20000}};
    const TKIDuxlaneControl::TimingScope m_controlTiming{{.confirmIntervalMs = 20}};

    void SetUp() override {
        ASSERT_TRUE(m_sim.start(m_sim.writeNetwork(kNetwork))) << m_sim.errorString().toStdString();
        {
            TRegistry registry(HKEY_LOCAL_MACHINE);
            registry.OpenKey(QStringLiteral("\\SOFTWARE\\Kestova\\DDE Servers\\UPCIDuxlane"), true);
            registry.WriteString(QString(), orvane::test::serverExecutable());
        }
        m_server = std::make_unique<TKIServer>();
        m_server->SetServerName(QStringLiteral("UPCIDuxlane"));
        ASSERT_TRUE(waitUntil([this] { return m_server->IsConnected(); }));
        m_control = std::make_unique<TKIDuxlaneControl>();
        m_control->SetServer(m_server.get());
        m_control->SetIdentifier(QStringLiteral("PLC1"));
        ASSERT_TRUE(waitUntil([this] { return m_control->Active(); }));
        m_window = std::make_unique<QWidget>();
        m_window->resize(300, 200);
        m_window->show();
    }

    void TearDown() override {
        // Controls give their claims back before the device goes.
        m_window.reset();
        // Let late answers to pokes arrive while everything still exists.
        waitUntil([] { return TKIBinding::PendingWritesForTesting() == 0; }, 5000);
        m_control->SetServer(nullptr);
        m_control.reset();
        m_server.reset();
        m_sim.stop();
    }

    // The control's value of an item, asked for on the control's conversation
    // (never the value a bound control's item holds).
    QString Request(const QString& name) {
        struct Reply {
            void Got(const char* value, std::unique_ptr<EDdeError> owned) {
                text = owned ? QStringLiteral("<error>") : QString::fromLatin1(value);
                done = true;
            }
            QString text;
            bool done = false;
        } reply;
        m_control->Conversation()->Request(name, TDdeDataEvent(&reply, &Reply::Got));
        if (!waitUntil([&] { return reply.done; })) {
            return QStringLiteral("<no answer>");
        }
        return reply.text;
    }

    void Poke(const QString& name, const QString& value) {
        TKIItem* item = m_control->AcquireItem(name);
        item->SetValueAndWait(value);
        m_control->ReleaseItem(item->Name());
    }

    template <class T>
    T* Bound(const char* name) {
        auto* control = new T(m_window.get());
        control->SetDevice(m_control.get());
        control->SetItemName(QString::fromLatin1(name));
        control->show();
        return control;
    }

    bool ShowsText(TKISpinEdit* edit, const QString& text) {
        return waitUntil([&] { return edit->Edit()->text() == text; });
    }

    SimServer m_sim;
    std::unique_ptr<TKIServer> m_server;
    std::unique_ptr<TKIDuxlaneControl> m_control;
    ScriptedDialogService m_dialogs;
    std::unique_ptr<QWidget> m_window;
};

TEST_F(BoundServerTest, StepsAreWrittenAndShownAsTheControlReportsThem) {
    struct Case {
        const char* item;
        TSpinStep step;
        const char* written;
        const char* shown;
    };
    const Case cases[] = {
        {"Service: Loop.Big", ssFineUp, "252.50", "252.50"},
        {"Service: Loop.Small", ssFineUp, "0.51", "0.51"},
        {"Service: Loop.Negative", ssCoarseUp, "-0.09", "-0.09"},
        {"Service: Loop.Count", ssFineUp, "152", "152"},
        {"Service: Loop.Hundred", ssFineUp, "101", "101"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item);
        auto* edit = Bound<TKISpinEdit>(c.item);
        edit->SetDecimalPlaces(2);
        ASSERT_TRUE(waitUntil([&] { return edit->ValueReceived(); }));
        EXPECT_TRUE(edit->StepButton(c.step)->isEnabled());
        QTest::mouseClick(edit->StepButton(c.step), Qt::LeftButton);
        EXPECT_TRUE(ShowsText(edit, QString::fromLatin1(c.shown)))
            << edit->Edit()->text().toStdString();
        EXPECT_EQ(Request(QString::fromLatin1(c.item)), QString::fromLatin1(c.written));
        delete edit;
    }

    // Coarse down from 250 gives 225.
    Poke(QStringLiteral("Service: Loop.Big"), QStringLiteral("250"));
    auto* edit = Bound<TKISpinEdit>("Service: Loop.Big");
    ASSERT_TRUE(ShowsText(edit, QStringLiteral("250.00")));
    edit->CoarseDown();
    EXPECT_TRUE(ShowsText(edit, QStringLiteral("225.00")));
}

TEST_F(BoundServerTest, TypedValuesOutsideTheBandAreRefusedWhileRunningAndClampedInIoLock) {
    auto* edit = Bound<TKISpinEdit>("Service: Loop.Level");
    Counter changes;
    edit->SetOnValueChange(changes.handler());
    ASSERT_TRUE(ShowsText(edit, QStringLiteral("100.00")));

    edit->Edit()->selectAll();
    QTest::keyClicks(edit->Edit(), QStringLiteral("115"));
    QTest::keyClick(edit->Edit(), Qt::Key_Return);
    EXPECT_EQ(edit->Edit()->text(), QStringLiteral("100.00"));
    EXPECT_FALSE(edit->LastRefusal().isEmpty());
    EXPECT_EQ(edit->toolTip(), edit->LastRefusal());
    EXPECT_EQ(Request(QStringLiteral("Service: Loop.Level")), QStringLiteral("100.0"));

    edit->Edit()->selectAll();
    QTest::keyClicks(edit->Edit(), QStringLiteral("108"));
    QTest::keyClick(edit->Edit(), Qt::Key_Return);
    EXPECT_TRUE(ShowsText(edit, QStringLiteral("108.00")));
    EXPECT_EQ(Request(QStringLiteral("Service: Loop.Level")), QStringLiteral("108.0"));
    EXPECT_TRUE(edit->LastRefusal().isEmpty());

    // In I/O lock any typed value is taken, then held within the limits.
    m_control->Shutdown();
    ASSERT_TRUE(m_control->InConfigureMode());
    Poke(QStringLiteral("Service: Loop.Level"), QStringLiteral("100"));
    ASSERT_TRUE(ShowsText(edit, QStringLiteral("100.00")));
    edit->Edit()->selectAll();
    QTest::keyClicks(edit->Edit(), QStringLiteral("115"));
    QTest::keyClick(edit->Edit(), Qt::Key_Return);
    EXPECT_TRUE(ShowsText(edit, QStringLiteral("110.00")));
    EXPECT_EQ(Request(QStringLiteral("Service: Loop.Level")), QStringLiteral("110.0"));
    edit->Edit()->selectAll();
    QTest::keyClicks(edit->Edit(), QStringLiteral("50="));
    EXPECT_TRUE(ShowsText(edit, QStringLiteral("50.00")));
    EXPECT_GE(changes.count, 4);
}

TEST_F(BoundServerTest, ConfigureItemNeedsIoLock) {
    auto* edit = Bound<TKISpinEdit>("Configure: Loop.Gain");
    ASSERT_TRUE(ShowsText(edit, QStringLiteral("100.00")));
    m_dialogs.answerMessage(mrOk, kIoLock);
    QTest::mouseClick(edit->StepButton(ssFineUp), Qt::LeftButton);
    EXPECT_EQ(m_dialogs.pending(), 0);
    EXPECT_EQ(edit->Edit()->text(), QStringLiteral("100.00"));
    EXPECT_DOUBLE_EQ(edit->SpinValue(), 100) << "the edit holds the control's value again";
    EXPECT_EQ(Request(QStringLiteral("Configure: Loop.Gain")), QStringLiteral("100.0"));

    m_control->Shutdown();
    QTest::mouseClick(edit->StepButton(ssFineUp), Qt::LeftButton);
    EXPECT_TRUE(ShowsText(edit, QStringLiteral("101.00")));
    EXPECT_EQ(Request(QStringLiteral("Configure: Loop.Gain")), QStringLiteral("101.0"));
}

TEST_F(BoundServerTest, HoldingCoarseDownStepsAtOnceAndThenEveryQuarterSecond) {
    auto* edit = Bound<TKISpinEdit>("Service: Loop.Hold");
    m_window->show();
    ASSERT_TRUE(ShowsText(edit, QStringLiteral("10000.00")));
    Counter steps;
    edit->SetOnChangeValue(steps.handler());
    QWidget* button = edit->StepButton(ssCoarseDown);
    QElapsedTimer held;
    held.start();
    QTest::mousePress(button, Qt::LeftButton);
    EXPECT_EQ(steps.count, 1);
    // Four repeats, each written to the control before the next one starts,
    // however slowly a loaded machine lets them come.
    ASSERT_TRUE(waitUntil([&] { return steps.count >= 5; }));
    // Never faster than a step a quarter second (a load only slows them).
    EXPECT_GE(held.elapsed(), (steps.count - 1) * kSpinRepeatIntervalMs * 9 / 10);
    QTest::mouseRelease(button, Qt::LeftButton);
    EXPECT_FALSE(edit->IsRepeating());
    const int taken = steps.count;
    // The control ends at the last value written: 10 % less for each step.
    double expected = 10000;
    for (int i = 0; i < taken; ++i) {
        expected -= expected * 0.1;
    }
    const QString last = FormatNumber(std::round(expected * 10) / 10, 1);
    EXPECT_TRUE(ShowsText(edit, FormatNumber(std::round(expected * 10) / 10, 2)))
        << edit->Edit()->text().toStdString() << " after " << taken;
    EXPECT_EQ(Request(QStringLiteral("Service: Loop.Hold")), last) << "after " << taken;
}

TEST_F(BoundServerTest, DecimalCommaIsShownTypedAndWrittenWithoutGroupSeparators) {
    LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
    auto* edit = Bound<TKISpinEdit>("Service: Loop.Big");
    ASSERT_TRUE(ShowsText(edit, QStringLiteral("250,00")));
    edit->FineUp();
    EXPECT_TRUE(ShowsText(edit, QStringLiteral("252,50")));
    EXPECT_EQ(Request(QStringLiteral("Service: Loop.Big")), QStringLiteral("252.50"));

    edit->Edit()->selectAll();
    QTest::keyClicks(edit->Edit(), QStringLiteral("260,25"));
    QTest::keyClick(edit->Edit(), Qt::Key_Return);
    EXPECT_TRUE(ShowsText(edit, QStringLiteral("260,25")));
    EXPECT_EQ(Request(QStringLiteral("Service: Loop.Big")), QStringLiteral("260.25"));

    Poke(QStringLiteral("Service: Loop.Big"), QStringLiteral("999.5"));
    EXPECT_TRUE(ShowsText(edit, QStringLiteral("999,50")));
}

TEST_F(BoundServerTest, TimerEditStepsTheFocusedField) {
    auto* edit = Bound<TKITimerEdit>("Service: Loop.Timer");
    TKMultiFieldSpinEdit* spin = edit->SpinEdit();
    auto shows = [&](const char* text) {
        const QStringList parts = QString::fromLatin1(text).split(QLatin1Char(':'));
        return waitUntil([&] {
            return spin->Fields(0)->text() == parts[0] && spin->Fields(1)->text() == parts[1] &&
                   spin->Fields(2)->text() == parts[2] && !edit->AwaitingAnswer();
        });
    };
    ASSERT_TRUE(shows("00:59:59.00"));

    struct Case {
        const char* start;
        int field;
        TSpinDirection direction;
        const char* result;
    };
    const Case cases[] = {
        {"00:59:59.00", 2, sdUp, "01:00:00.00"},
        {"02:59:30.00", 1, sdUp, "03:00:30.00"},
        {"01:00:10.00", 1, sdDown, "00:59:10.00"},
        {"00:10:00.00", 0, sdDown, "00:10:00.00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start);
        Poke(QStringLiteral("Service: Loop.Timer"), QString::fromLatin1(c.start));
        ASSERT_TRUE(shows(c.start));
        spin->SetFocusedField(c.field);
        QTest::mouseClick(c.direction == sdUp ? spin->UpButton() : spin->DownButton(),
                          Qt::LeftButton);
        EXPECT_TRUE(shows(c.result));
        EXPECT_EQ(Request(QStringLiteral("Service: Loop.Timer")), QString::fromLatin1(c.result));
    }

    // 75 typed minutes are taken as 59.
    spin->SetFocusedField(1);
    spin->Fields(1)->selectAll();
    QTest::keyClicks(spin->Fields(1), QStringLiteral("75"));
    EXPECT_TRUE(spin->Typing());
    QTest::keyClick(spin->Fields(1), Qt::Key_Return);
    EXPECT_TRUE(shows("00:59:00.00"));
    EXPECT_EQ(Request(QStringLiteral("Service: Loop.Timer")), QStringLiteral("00:59:00.00"));

    // Letters and signs are refused in the fields.
    QTest::keyClicks(spin->Fields(0), QStringLiteral("x-"));
    EXPECT_EQ(spin->Fields(0)->text(), QStringLiteral("00"));
}

TEST_F(BoundServerTest, StringEditWritesOnLeavingTheFieldAndShowsRefusals) {
    auto* edit = Bound<TKIStringEdit>("Plant.Area.Name");
    auto* other = new QLineEdit(m_window.get());
    auto* layout = new QVBoxLayout(m_window.get());
    layout->addWidget(edit);
    layout->addWidget(other);
    other->show();
    m_window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
    ASSERT_TRUE(waitUntil([&] { return edit->text() == QStringLiteral("North"); }));

    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("South"));
    other->setFocus();
    EXPECT_TRUE(waitUntil([&] { return Request(QStringLiteral("Plant.Area.Name")) == "South"; }));

    // Unchanged text is written all the same.
    ASSERT_TRUE(waitUntil([] { return TKIBinding::PendingWritesForTesting() == 0; }));
    Poke(QStringLiteral("Plant.Area.Name"), QStringLiteral("East"));
    ASSERT_TRUE(waitUntil([&] { return edit->text() == QStringLiteral("East"); }));
    edit->setFocus();
    other->setFocus();
    EXPECT_EQ(TKIBinding::PendingWritesForTesting(), 1);
    EXPECT_TRUE(waitUntil([] { return TKIBinding::PendingWritesForTesting() == 0; }));

    // Longer than the control allows: refused, and the control's text returns.
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("Northwestern"));
    // The DDE instance reports every failed transaction once; the edit says
    // why on its own as well.
    m_dialogs.answerMessage(
        mrOk, QStringLiteral("DDE Error: Poke on PLC1: PLANT.AREA.NAME failed; verify item name."));
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_TRUE(waitUntil([&] { return !edit->LastRefusal().isEmpty(); }));
    EXPECT_EQ(edit->text(), QStringLiteral("East"));
    EXPECT_TRUE(edit->toolTip().contains(QStringLiteral("Northwestern")));

    // Escape gives up what was typed.
    QTest::keyClicks(edit, QStringLiteral("ward"));
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(edit->text(), QStringLiteral("East"));

    // Switched off, the edit empties and never writes that empty text.
    edit->SetEnabled(false);
    EXPECT_TRUE(edit->text().isEmpty());
    EXPECT_EQ(Request(QStringLiteral("Plant.Area.Name")), QStringLiteral("East"));
}

TEST_F(BoundServerTest, ToggleButtonsFollowTheirItems) {
    auto* running = Bound<TKIToggleButton>("Plant.Area.Running");
    running->SetIsMonitorOnly(true);
    auto* pump = Bound<TKIToggleButton>("Plant.Area.Pump");
    auto* enable = Bound<TKIToggleButton>("Configure: Loop.Enable");
    ASSERT_TRUE(waitUntil([&] {
        return running->ButtonOn() && pump->Item()->ValueReceived() &&
               enable->Item()->ValueReceived();
    }));
    EXPECT_FALSE(running->ButtonEnabled());

    // Monitor-only: clicks change nothing.
    QTest::mouseClick(running, Qt::LeftButton);
    EXPECT_TRUE(running->ButtonOn());
    EXPECT_EQ(TKIBinding::PendingWritesForTesting(), 0);

    QTest::mouseClick(pump, Qt::RightButton);
    EXPECT_FALSE(pump->ButtonOn()) << "only the left button flips";
    QTest::mouseClick(pump, Qt::LeftButton);
    EXPECT_TRUE(pump->ButtonOn());
    EXPECT_TRUE(waitUntil([&] { return Request(QStringLiteral("Plant.Area.Pump")) == "1"; }));

    // A configure item while the control runs: the box, and the state stays.
    m_dialogs.answerMessage(mrOk, kIoLock);
    QTest::mouseClick(enable, Qt::LeftButton);
    EXPECT_FALSE(enable->ButtonOn());
    EXPECT_EQ(Request(QStringLiteral("Configure: Loop.Enable")), QStringLiteral("0"));
}

TEST_F(BoundServerTest, AdviseLinksFollowTheContainers) {
    auto form = std::make_unique<TKIForm>();
    auto* panel = new TKIPanel(form.get());
    auto* group = new TKIGroupBox(QStringLiteral("Loop"), panel);
    auto* spin = new TKISpinEdit(group);
    auto* text = new TKIStringEdit(group);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(spin);
    groupLayout->addWidget(text);
    auto* layout = new QVBoxLayout(form.get());
    layout->addWidget(panel);
    (new QVBoxLayout(panel))->addWidget(group);
    spin->BeginLoading();
    spin->SetDevice(m_control.get());
    spin->SetItemName(QStringLiteral("Service: Loop.Big"));
    text->BeginLoading();
    text->SetDevice(m_control.get());
    text->SetItemName(QStringLiteral("Plant.Area.Name"));
    EXPECT_EQ(spin->Item(), nullptr) << "loading only stores the name";
    form->Loaded();
    form->Loaded();
    ASSERT_NE(spin->Item(), nullptr);
    EXPECT_EQ(
        m_control->ItemRefCount(TKIDevice::UpperCaseName(QStringLiteral("Service: Loop.Big"))), 1)
        << "loading twice takes one claim";
    EXPECT_TRUE(spin->Binding().IsRegisteredWithContainer());
    EXPECT_FALSE(spin->IsSubscribed()) << "no link before the form shows";

    auto linked = [&](bool expected) {
        return waitUntil([&] {
            return spin->IsSubscribed() == expected && text->IsSubscribed() == expected &&
                   spin->Item()->IsAdvised() == expected;
        });
    };
    form->show();
    EXPECT_TRUE(linked(true));
    EXPECT_TRUE(waitUntil([&] { return text->text() == QStringLiteral("North"); }));

    group->setEnabled(false);
    EXPECT_TRUE(linked(false));
    EXPECT_TRUE(text->text().isEmpty());
    group->setEnabled(true);
    EXPECT_TRUE(linked(true));
    EXPECT_TRUE(waitUntil([&] { return text->text() == QStringLiteral("North"); }));

    panel->hide();
    EXPECT_TRUE(linked(false));
    panel->show();
    EXPECT_TRUE(linked(true));

    spin->SetVisible(false);
    EXPECT_FALSE(spin->IsSubscribed());
    spin->SetVisible(true);
    EXPECT_TRUE(spin->IsSubscribed());

    form->setEnabled(false);
    EXPECT_TRUE(linked(false));
    form->setEnabled(true);
    EXPECT_TRUE(linked(true));
    form->hide();
    EXPECT_TRUE(linked(false));

    // A control destroyed before its form is never called again, and its
    // claim on the item goes back.
    delete text;
    EXPECT_EQ(m_control->ItemRefCount(TKIDevice::UpperCaseName(QStringLiteral("Plant.Area.Name"))),
              0);
    form->show();
    EXPECT_TRUE(waitUntil([&] { return spin->IsSubscribed(); }));
    form.reset();
    EXPECT_EQ(
        m_control->ItemRefCount(TKIDevice::UpperCaseName(QStringLiteral("Service: Loop.Big"))), 0);
}

TEST_F(BoundServerTest, RenamingMovesTheClaimAndShowsTheNewItem) {
    auto* edit = Bound<TKISpinEdit>("Service: Loop.Big");
    ASSERT_TRUE(ShowsText(edit, QStringLiteral("250.00")));
    EXPECT_EQ(
        m_control->ItemRefCount(TKIDevice::UpperCaseName(QStringLiteral("Service: Loop.Big"))), 1);
    edit->SetItemName(QStringLiteral("Service: Loop.Count"));
    EXPECT_EQ(
        m_control->ItemRefCount(TKIDevice::UpperCaseName(QStringLiteral("Service: Loop.Big"))), 0);
    EXPECT_EQ(
        m_control->ItemRefCount(TKIDevice::UpperCaseName(QStringLiteral("Service: Loop.Count"))),
        1);
    EXPECT_TRUE(ShowsText(edit, QStringLiteral("150"))) << "an integer item shows no decimals";
    // The same name again keeps the value on show and the claim count.
    edit->SetItemName(QStringLiteral("Service: Loop.Count"));
    EXPECT_EQ(edit->Edit()->text(), QStringLiteral("150"));
    EXPECT_EQ(
        m_control->ItemRefCount(TKIDevice::UpperCaseName(QStringLiteral("Service: Loop.Count"))),
        1);

    // Bound to an item the caller holds.
    TKIItem* item = m_control->AcquireItem(QStringLiteral("Service: Loop.Small"));
    edit->BindItem(m_control.get(), item);
    EXPECT_EQ(
        m_control->ItemRefCount(TKIDevice::UpperCaseName(QStringLiteral("Service: Loop.Small"))),
        2);
    EXPECT_TRUE(ShowsText(edit, QStringLiteral("0.50")));
    delete edit;
    EXPECT_EQ(
        m_control->ItemRefCount(TKIDevice::UpperCaseName(QStringLiteral("Service: Loop.Small"))),
        1);
    m_control->ReleaseItem(item->Name());
}

TEST_F(BoundServerTest, ControlDestroyedWithAWriteUnderWayIsNotCalled) {
    auto* edit = Bound<TKISpinEdit>("Service: Loop.Big");
    ASSERT_TRUE(ShowsText(edit, QStringLiteral("250.00")));
    edit->FineUp();
    EXPECT_EQ(TKIBinding::PendingWritesForTesting(), 1);
    delete edit;
    // The answer arrives for a control that is gone (ASan watches).
    EXPECT_TRUE(waitUntil([] { return TKIBinding::PendingWritesForTesting() == 0; }));
    EXPECT_EQ(Request(QStringLiteral("Service: Loop.Big")), QStringLiteral("252.50"));
}

} // namespace

TEST_F(BoundServerTest, MonitorOnlyEditsShowTheControlsValueAndNeverWrite) {
    auto* spin = Bound<TKISpinEdit>("Service: Loop.Big");
    spin->SetIsMonitorOnly(true);
    auto* timer = Bound<TKITimerEdit>("Service: Loop.Timer");
    timer->SetIsMonitorOnly(true);
    ASSERT_TRUE(ShowsText(spin, QStringLiteral("250.00")));
    ASSERT_TRUE(waitUntil([&] { return timer->SpinEdit()->Fields(2)->text() == "59.00"; }));

    EXPECT_FALSE(spin->StepButton(ssFineUp)->isEnabled());
    EXPECT_TRUE(spin->Edit()->isReadOnly());
    QTest::keyClicks(spin->Edit(), QStringLiteral("3"));
    EXPECT_FALSE(spin->Typing());
    spin->SetValue(300);

    timer->SpinEdit()->SetFocusedField(2);
    QTest::mouseClick(timer->SpinEdit()->UpButton(), Qt::LeftButton);
    QTest::keyClicks(timer->SpinEdit()->Fields(1), QStringLiteral("7"));
    EXPECT_FALSE(timer->SpinEdit()->Typing());
    EXPECT_EQ(TKIBinding::PendingWritesForTesting(), 0);

    // The control's own changes still show.
    Poke(QStringLiteral("Service: Loop.Timer"), QStringLiteral("00:00:05.5"));
    EXPECT_TRUE(waitUntil([&] { return timer->SpinEdit()->Fields(2)->text() == "05.50"; }));
    EXPECT_EQ(Request(QStringLiteral("Service: Loop.Big")), QStringLiteral("250.00"));

    // Writable again: the buttons come back.
    spin->SetIsMonitorOnly(false);
    EXPECT_TRUE(spin->StepButton(ssFineUp)->isEnabled());
    EXPECT_FALSE(spin->Edit()->isReadOnly());
}

TEST_F(BoundServerTest, ValueThatDoesNotConvertLeavesTheDisplayAndSaysSo) {
    auto* edit = Bound<TKISpinEdit>("Service: Loop.Big");
    edit->setObjectName(QStringLiteral("SetPointEdit"));
    ASSERT_TRUE(ShowsText(edit, QStringLiteral("250.00")));
    std::vector<QString> reports;
    struct Sink {
        void Refused(QWidget*, const QString& why) { reports->push_back(why); }
        std::vector<QString>* reports;
    } sink{&reports};
    edit->SetOnWriteRefused(TRefusalEvent(&sink, &Sink::Refused));

    // Bound to a text item by mistake: the old item's number is gone, nothing
    // can be stepped, and the reason shows.
    edit->SetItemName(QStringLiteral("Plant.Area.Name"));
    EXPECT_TRUE(waitUntil([&] { return !reports.empty(); }));
    EXPECT_TRUE(edit->Edit()->text().isEmpty());
    EXPECT_FALSE(edit->StepButton(ssFineUp)->isEnabled());
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), QStringLiteral("SetPointEdit value conversion failed"));
    EXPECT_EQ(edit->toolTip(), reports.back());

    // A timer text that is not one leaves the fields too.
    auto* timer = Bound<TKITimerEdit>("Service: Loop.Timer");
    ASSERT_TRUE(waitUntil([&] { return timer->SpinEdit()->Fields(2)->text() == "59.00"; }));
    timer->SetItemName(QStringLiteral("Plant.Area.Name"));
    EXPECT_TRUE(waitUntil([&] { return !timer->LastRefusal().isEmpty(); }));
    EXPECT_TRUE(timer->LastRefusal().endsWith(QStringLiteral(" value conversion failed")));
    EXPECT_TRUE(timer->SpinEdit()->Fields(2)->text().isEmpty());
}

TEST_F(BoundServerTest, TimerEditOfAConfigureItemNeedsIoLockAndStaysUsable) {
    auto* edit = Bound<TKITimerEdit>("Configure: Loop.Delay");
    TKMultiFieldSpinEdit* spin = edit->SpinEdit();
    ASSERT_TRUE(waitUntil([&] { return spin->Fields(2)->text() == QStringLiteral("30.00"); }));
    spin->SetFocusedField(2);
    m_dialogs.answerMessage(mrOk, kIoLock);
    QTest::mouseClick(spin->UpButton(), Qt::LeftButton);
    EXPECT_EQ(m_dialogs.pending(), 0);
    // The fields show the control's value and the buttons do not wait.
    EXPECT_EQ(spin->Fields(2)->text(), QStringLiteral("30.00"));
    EXPECT_FALSE(edit->AwaitingAnswer());
    EXPECT_TRUE(spin->ButtonsEnabled());
    EXPECT_EQ(Request(QStringLiteral("Configure: Loop.Delay")), QStringLiteral("00:00:30.00"));

    m_control->Shutdown();
    QTest::mouseClick(spin->UpButton(), Qt::LeftButton);
    EXPECT_TRUE(waitUntil([&] { return spin->Fields(2)->text() == QStringLiteral("31.00"); }));
    EXPECT_EQ(Request(QStringLiteral("Configure: Loop.Delay")), QStringLiteral("00:00:31.00"));
    EXPECT_TRUE(waitUntil([&] { return spin->ButtonsEnabled(); }));
}

TEST_F(BoundServerTest, DeviceFreedBeforeItsEditorsIsForgotten) {
    auto device = std::make_unique<TKIDevice>();
    device->SetIdentifier(QStringLiteral("OFFLINE"));
    auto* edit = new TKIStringEdit(m_window.get());
    edit->SetDevice(device.get());
    edit->SetItemName(QStringLiteral("Plant.Area.Name"));
    ASSERT_NE(edit->Item(), nullptr);
    EXPECT_EQ(device->ItemRefCount(QStringLiteral("PLANT.AREA.NAME")), 1);
    device.reset();
    EXPECT_EQ(edit->Item(), nullptr);
    EXPECT_EQ(edit->Device(), nullptr);
    // Neither a write nor a new name nor the end touch the freed device.
    EXPECT_FALSE(edit->Write(QStringLiteral("x")));
    edit->SetItemName(QStringLiteral("Other"));
    delete edit;
}
