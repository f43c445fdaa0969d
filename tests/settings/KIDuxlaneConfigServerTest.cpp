// The settings engine against the simulated server: save, change, load back,
// the item-error prompt with each of its answers, decimal separators, the
// report, and what the engine shows while it works.

#include "settings/KIDuxlaneConfig.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QPointer>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include "ScriptedDialogService.h"
#include "SimServer.h"
#include "TestEnvironment.h"
#include "Wait.h"
#include "ddelink/Synchronizer.h"
#include "model/KIDevice.h"
#include "model/KIDuxlaneControl.h"
#include "model/KIItem.h"
#include "model/KIServer.h"
#include "model/KIStatusPanel.h"
#include "platform/Exception.h"
#include "platform/Registry.h"
#include "platform/StatusBar.h"
#include "settings/KConfigureProgress.h"

using namespace orvane;
using orvane::test::ScriptedDialogService;
using orvane::test::SimServer;

namespace {

const QByteArray kNetwork = R"(duxlane-network 1
name "Settings test"

control "BOILER"
    reset-time 200
    item "Service: Burner.Firing Rate SP" tunable real min 0 max 100 decimals 1 value 45
    item "Service: Burner.O2 Trim" tunable real min -10 max 10 decimals 2 value 0.5
    item "Service: Burner.Flame" monitor real min 0 max 100 decimals 1 value 80
    item "Service: Burner.Pi" tunable real min 0 max 10 decimals 5 value 3.14159
    item "Service: Burner.Rate" tunable real min 0 max 10 decimals 2 value 7.25
    item "Configure: Burner.Max Firing Rate" configure real min 0 max 100 decimals 1 value 95
    item "Configure: Burner.Ignition Attempts" configure int16 min 1 max 5 value 3
    item "Configure: Burner.Low Fire Start" configure boolean value 1
    item "Configure: Burner.Prepurge Time" configure timer value "00:01:30.00"
    item "Service: Clock.Shift Start" tunable time value "06:00:00.00"
    item "Service: Clock.Operator" tunable string maxlen 200 value "Day shift"
    item "Service: Clock.Note" tunable string maxlen 24 value ""
end

control "GAUGES"
    item "Service: Gauge.Pressure" monitor real value 4
end

control "TAGS"
    item "Service: Tag.Ratio" tunable string code 33 maxlen 40 value "2,5"
end
)";

// The values of BOILER's mutable items, in the order of its mutable item list.
const QStringList kNames = {
    "CONFIGURE: BURNER.IGNITION ATTEMPTS",
    "CONFIGURE: BURNER.LOW FIRE START",
    "CONFIGURE: BURNER.MAX FIRING RATE",
    "CONFIGURE: BURNER.PREPURGE TIME",
    "SERVICE: BURNER.FIRING RATE SP",
    "SERVICE: BURNER.O2 TRIM",
    "SERVICE: BURNER.PI",
    "SERVICE: BURNER.RATE",
    "SERVICE: CLOCK.NOTE",
    "SERVICE: CLOCK.OPERATOR",
    "SERVICE: CLOCK.SHIFT START",
};
const QStringList kInitial = {"3",       "1",    "95.0", "00:01:30.00", "45.0",       "0.50",
                              "3.14159", "7.25", "",     "Day shift",   "06:00:00.00"};
const QStringList kChanged = {"5",       "0",    "80.5",    "00:02:00.00", "12.5",       "-1.25",
                              "2.50000", "0.75", "checked", "Night shift", "22:00:00.00"};

constexpr int kWaitMs = 15000;

bool waitUntil(const std::function<bool()>& condition, int timeoutMs = kWaitMs) {
    return test::WaitUntil(condition, timeoutMs);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray fileOf(const QStringList& names, const QStringList& values) {
    QByteArray text;
    for (qsizetype i = 0; i < names.size(); ++i) {
        text += names[i].toLatin1() + '\t' + values[i].toLatin1() + "\r\n";
    }
    return text;
}

class LocaleScope {
public:
    explicit LocaleScope(const QLocale& locale) { QLocale::setDefault(locale); }
    ~LocaleScope() { QLocale::setDefault(m_previous); }

private:
    QLocale m_previous;
};

// What the engine showed while it waited for the control: the status panel's
// texts and the progress window's caption and file name, sampled from the
// event loop that the engine's waits keep running.
class Observer : public QObject {
public:
    Observer(TStatusBar& bar, TKIDuxlaneConfig& engine) : m_bar(bar), m_engine(engine) {
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { Sample(); });
        m_timer.start();
    }
    void Sample() {
        const QString text = m_bar.PanelText(0);
        if (!texts.contains(text)) {
            texts.append(text);
        }
        if (TKConfigProgress* progress = m_engine.Progress()) {
            const QString window = progress->windowTitle() + " / " + progress->FileNameText() +
                                   " / " + QString::number(progress->Maximum());
            if (!windows.contains(window)) {
                windows.append(window);
            }
            visible = visible || progress->isVisible();
        }
    }

    QStringList texts;
    QStringList windows;
    bool visible = false;

private:
    TStatusBar& m_bar;
    TKIDuxlaneConfig& m_engine;
    QTimer m_timer;
};

// Calls `onStep` with the position of the progress bar of every progress
// window that is shown while it lives, at the moment the bar moves.
class ProgressWatch : public QObject {
public:
    explicit ProgressWatch(std::function<void(int)> onStep) : m_onStep(std::move(onStep)) {
        qApp->installEventFilter(this);
    }
    ~ProgressWatch() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            if (auto* window = qobject_cast<TKConfigProgress*>(watched)) {
                auto* bar = window->findChild<QProgressBar*>();
                if (bar != nullptr && !m_bars.contains(bar)) {
                    m_bars.append(bar);
                    QObject::connect(bar, &QProgressBar::valueChanged, this, m_onStep);
                }
            }
        }
        return false;
    }

private:
    std::function<void(int)> m_onStep;
    QList<QPointer<QProgressBar>> m_bars;
};

class SettingsServerTest : public ::testing::Test {
protected:
    // In force from before anything of the test is made until after it is gone.
    const TKIServer::TimingScope m_serverTiming{{.retryIntervalMs = 50}};
    const TKIDevice::TimingScope m_deviceTiming{{.disconnectItemsSleepMs = 10}};
    const Synchronizer::TimingScope m_synchronizerTiming{{.timeoutMs = 20000}};
    const TKIDuxlaneControl::TimingScope m_controlTiming{
        {.confirmIntervalMs = 20, .resetPollIntervalMs = 50, .resetPauseMs = 0}};

    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(m_sim.start(m_sim.writeNetwork(kNetwork), m_serverArguments))
            << m_sim.errorString().toStdString();
        // The server object looks its program up even when it already runs.
        {
            TRegistry registry(HKEY_LOCAL_MACHINE);
            registry.OpenKey(QStringLiteral("\\SOFTWARE\\Kestova\\DDE Servers\\UPCIDuxlane"), true);
            registry.WriteString(QString(), orvane::test::serverExecutable());
        }
        m_server = std::make_unique<TKIServer>();
        m_server->SetServerName(QStringLiteral("UPCIDuxlane"));
        ASSERT_TRUE(waitUntil([this] { return m_server->IsConnected(); }));

        m_bar.AddPanel();
        m_bar.SetPanelText(0, QStringLiteral("Ready"));
        m_engine = std::make_unique<TKIDuxlaneConfig>();
        m_engine->StatusPanel()->SetStatusBar(&m_bar);
    }

    void TearDown() override {
        m_engine.reset();
        for (auto& control : m_controls) {
            control->SetServer(nullptr);
        }
        m_controls.clear();
        m_server.reset();
        m_sim.stop();
    }

    // A connected control of the test network, owned by the fixture.
    TKIDuxlaneControl* Connect(const char* topic) {
        auto control = std::make_unique<TKIDuxlaneControl>();
        control->SetServer(m_server.get());
        control->SetIdentifier(QString::fromLatin1(topic));
        TKIDuxlaneControl* raw = control.get();
        m_controls.push_back(std::move(control));
        EXPECT_TRUE(waitUntil([raw] { return raw->Active(); })) << topic << " never connected";
        return raw;
    }

    TKIDuxlaneControl* Boiler() {
        TKIDuxlaneControl* boiler = Connect("BOILER");
        m_engine->SetDevice(boiler);
        return boiler;
    }

    // The control's value of an item, read by a request.
    static QString Read(TKIDuxlaneControl* control, const QString& name) {
        TKIItem* item = control->AcquireItem(name);
        const QString value = item->Value().toString();
        control->ReleaseItem(item->Name());
        return value;
    }

    static QStringList ReadAll(TKIDuxlaneControl* control, const QStringList& names) {
        QStringList values;
        for (const QString& name : names) {
            values.append(Read(control, name));
        }
        return values;
    }

    // Writes values straight to the control (in I/O lock, for configure items).
    static void Change(TKIDuxlaneControl* control, const QStringList& names,
                       const QStringList& values) {
        if (!control->InConfigureMode()) {
            control->Shutdown();
        }
        for (qsizetype i = 0; i < names.size(); ++i) {
            TKIItem* item = control->AcquireItem(names[i]);
            item->SetValueAndWait(values[i]);
            control->ReleaseItem(item->Name());
        }
    }

    // Resets the control and waits until it is back: it then holds the values
    // it saved last.
    void ResetAndWait(TKIDuxlaneControl* control) {
        bool done = false;
        struct Done {
            bool* flag;
            void Called(TKIDuxlaneControl*) { *flag = true; }
        } handler{&done};
        control->ResetWithNotify(TKIDuxlaneControlEvent(&handler, &Done::Called));
        ASSERT_TRUE(waitUntil([&] { return done; }));
        ASSERT_EQ(control->CommandState(), kCommandStateReady);
    }

    template <typename F>
    static QString FailureOf(F&& operation) {
        try {
            operation();
        } catch (const Exception& e) {
            return e.message();
        }
        return QString();
    }

    QString Path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    static QString Prompt(const QString& name) {
        return QStringLiteral("Configuration Error: %1 does not exist or the value being loaded is "
                              "invalid.  Continue loading?")
            .arg(name);
    }

    QStringList m_serverArguments; // fault switches of a derived fixture
    QTemporaryDir m_dir;
    SimServer m_sim;
    std::unique_ptr<TKIServer> m_server;
    std::vector<std::unique_ptr<TKIDuxlaneControl>> m_controls;
    TStatusBar m_bar;
    ScriptedDialogService m_dialogs;
    std::unique_ptr<TKIDuxlaneConfig> m_engine;
};

TEST_F(SettingsServerTest, SavedSettingsLoadBackAndAreSavedInTheControl) {
    TKIDuxlaneControl* boiler = Boiler();
    Change(boiler, kNames, kChanged);
    const QString file = Path("boiler.cfg");
    m_engine->SaveToFile(file);
    EXPECT_EQ(readFile(file), fileOf(kNames, kChanged));
    EXPECT_EQ(m_engine->FileName(), file);

    // Other values on the control, never saved by it.
    Change(boiler, kNames, kInitial);
    ASSERT_EQ(ReadAll(boiler, kNames), kInitial);

    // The save keeps its claims on the items (the device caches them); the
    // load gives back every claim it takes.
    const int claims = boiler->ItemRefCount(kNames[0]);
    m_engine->LoadFromFile(file);
    EXPECT_TRUE(m_dialogs.messages().empty());
    EXPECT_EQ(ReadAll(boiler, kNames), kChanged);
    EXPECT_TRUE(boiler->InConfigureMode()) << "a load leaves the control in I/O lock";
    EXPECT_EQ(boiler->ItemRefCount(kNames[0]), claims);

    // After a reset the control holds what it saved: the loaded values.
    ResetAndWait(boiler);
    EXPECT_EQ(ReadAll(boiler, kNames), kChanged);
    EXPECT_EQ(m_bar.PanelText(0), QStringLiteral("Ready"));
}

TEST_F(SettingsServerTest, ShowsItsStatusAndProgressWhileItWorks) {
    TKIDuxlaneControl* boiler = Boiler();
    const QString file = Path("shown.cfg");
    {
        Observer observer(m_bar, *m_engine);
        m_engine->SaveToFile(file);
        EXPECT_EQ(observer.texts, QStringList({"Writing configuration values..."}));
        EXPECT_EQ(observer.windows, QStringList({"Configure Progress / shown.cfg / 11"}));
        EXPECT_TRUE(observer.visible);
    }
    {
        Observer observer(m_bar, *m_engine);
        m_engine->LoadFromFile(file);
        EXPECT_EQ(observer.texts, QStringList({"Configuring control..."}));
        EXPECT_EQ(observer.windows, QStringList({"Configure Progress / shown.cfg / 13"}));
    }
    {
        Observer observer(m_bar, *m_engine);
        m_engine->CreateReport(Path("shown.txt"), 2);
        EXPECT_EQ(observer.texts, QStringList({"Creating Report..."}));
        EXPECT_EQ(observer.windows, QStringList({"Creating Report / shown.txt / 11"}));
    }
    EXPECT_EQ(m_bar.PanelText(0), QStringLiteral("Ready"));
    EXPECT_EQ(m_engine->Progress(), nullptr);
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        EXPECT_EQ(qobject_cast<TKConfigProgress*>(widget), nullptr) << "a progress window is left";
    }
    EXPECT_TRUE(boiler->InConfigureMode());
}

// A file with good lines and every kind of bad one, in this order.
struct MixedFile {
    QByteArray text;
    QStringList badNames;
};

MixedFile Mixed() {
    const QByteArray longText(101, 'L');
    MixedFile mixed;
    mixed.text = "SERVICE: BURNER.FIRING RATE SP\t12.5\r\n"
                 "SERVICE: BURNER.NO SUCH ITEM\t1\r\n"        // the control lacks it
                 "Service: Burner.O2 Trim\t-1.25\r\n"         // any letter case
                 "CONFIGURE: BURNER.IGNITION ATTEMPTS\t9\r\n" // outside the limits
                 "CONFIGURE: BURNER.MAX FIRING RATE\t\r\n"    // empty, not a string
                 "SERVICE: CLOCK.OPERATOR\t" +
                 longText +
                 "\r\n"                      // longer than a poke takes
                 "SERVICE: CLOCK.NOTE\t\r\n" // empty string: fine
                 "SERVICE: CLOCK.SHIFT START\t22:00:00.00\r\n";
    mixed.badNames =
        QStringList{"SERVICE: BURNER.NO SUCH ITEM", "CONFIGURE: BURNER.IGNITION ATTEMPTS",
                    "CONFIGURE: BURNER.MAX FIRING RATE", "SERVICE: CLOCK.OPERATOR"};
    return mixed;
}

const QStringList kMixedNames = {"SERVICE: BURNER.FIRING RATE SP",
                                 "SERVICE: BURNER.O2 TRIM",
                                 "CONFIGURE: BURNER.IGNITION ATTEMPTS",
                                 "CONFIGURE: BURNER.MAX FIRING RATE",
                                 "SERVICE: CLOCK.OPERATOR",
                                 "SERVICE: CLOCK.NOTE",
                                 "SERVICE: CLOCK.SHIFT START"};

TEST_F(SettingsServerTest, YesAtEachBadItemLoadsTheRest) {
    TKIDuxlaneControl* boiler = Boiler();
    Change(boiler, {"SERVICE: CLOCK.NOTE"}, {"to be emptied"});
    const QString file = Path("mixed.cfg");
    writeFile(file, Mixed().text);
    for (const QString& name : Mixed().badNames) {
        m_dialogs.answerMessage(mrYes, Prompt(name));
    }
    m_engine->LoadFromFile(file);
    EXPECT_EQ(m_dialogs.pending(), 0);
    for (const auto& message : m_dialogs.messages()) {
        EXPECT_EQ(message.type, mtWarning);
        EXPECT_EQ(message.buttons, mbYesNoYesToAll);
    }
    EXPECT_EQ(ReadAll(boiler, kMixedNames),
              QStringList({"12.5", "-1.25", "3", "95.0", "Day shift", "", "22:00:00.00"}));

    ResetAndWait(boiler); // saved
    EXPECT_EQ(Read(boiler, "SERVICE: BURNER.FIRING RATE SP"), QStringLiteral("12.5"));
}

TEST_F(SettingsServerTest, NoAtABadItemStopsWithItsErrorAndSavesNothing) {
    TKIDuxlaneControl* boiler = Boiler();
    const QString file = Path("mixed.cfg");
    writeFile(file, Mixed().text);
    m_dialogs.answerMessage(mrYes, Prompt("SERVICE: BURNER.NO SUCH ITEM"));
    m_dialogs.answerMessage(mrNo, Prompt("CONFIGURE: BURNER.IGNITION ATTEMPTS"));

    EXPECT_FALSE(FailureOf([&] { m_engine->LoadFromFile(file); }).isEmpty());
    EXPECT_EQ(m_dialogs.messages().size(), 2u);
    // Written so far: stays in the control, in I/O lock, unsaved.
    EXPECT_EQ(ReadAll(boiler, kMixedNames),
              QStringList({"12.5", "-1.25", "3", "95.0", "Day shift", "", "06:00:00.00"}));
    EXPECT_TRUE(boiler->InConfigureMode());
    EXPECT_EQ(boiler->ItemRefCount("CONFIGURE: BURNER.IGNITION ATTEMPTS"), 0)
        << "the claim is given back at No";
    EXPECT_EQ(m_bar.PanelText(0), QStringLiteral("Ready"));
    EXPECT_EQ(m_engine->Progress(), nullptr);

    ResetAndWait(boiler);
    EXPECT_EQ(Read(boiler, "SERVICE: BURNER.FIRING RATE SP"), QStringLiteral("45.0"));
}

TEST_F(SettingsServerTest, YesToAllLoadsEveryGoodItemWithoutMorePromptsThenSaves) {
    TKIDuxlaneControl* boiler = Boiler();
    const QString file = Path("mixed.cfg");
    writeFile(file, Mixed().text);
    m_dialogs.answerMessage(mrYesToAll, Prompt("SERVICE: BURNER.NO SUCH ITEM"));

    m_engine->LoadFromFile(file);
    EXPECT_EQ(m_dialogs.messages().size(), 1u);
    EXPECT_EQ(ReadAll(boiler, kMixedNames),
              QStringList({"12.5", "-1.25", "3", "95.0", "Day shift", "", "22:00:00.00"}));

    ResetAndWait(boiler);
    EXPECT_EQ(ReadAll(boiler, kMixedNames),
              QStringList({"12.5", "-1.25", "3", "95.0", "Day shift", "", "22:00:00.00"}));
}

TEST_F(SettingsServerTest, ValuesUpToThePokeBufferAreWrittenWhole) {
    TKIDuxlaneControl* boiler = Boiler();
    const QByteArray hundred(100, 'h');
    const QString file = Path("long.cfg");
    writeFile(file, "SERVICE: CLOCK.OPERATOR\t" + hundred + "\r\n");
    m_engine->LoadFromFile(file);
    EXPECT_EQ(Read(boiler, "SERVICE: CLOCK.OPERATOR"), QString::fromLatin1(hundred));

    // 256 characters: refused as a whole, the control keeps its value.
    writeFile(file, "SERVICE: CLOCK.OPERATOR\t" + QByteArray(300, 'x') + "\r\n");
    m_dialogs.answerMessage(mrYes, Prompt("SERVICE: CLOCK.OPERATOR"));
    m_engine->LoadFromFile(file);
    EXPECT_EQ(Read(boiler, "SERVICE: CLOCK.OPERATOR"), QString::fromLatin1(hundred));
}

TEST_F(SettingsServerTest, SyntaxErrorLeavesTheControlUntouched) {
    TKIDuxlaneControl* boiler = Boiler();
    const QString file = Path("broken.cfg");
    writeFile(file, "\r\nSERVICE: BURNER.FIRING RATE SP\t12.5\r\nSERVICE: BURNER.O2 TRIM 1\r\n");
    const QString error =
        QStringLiteral("Syntax error in configuration file %1; line 3.").arg(file);
    m_dialogs.answerMessage(
        mrOk, QStringLiteral("Configuration Error: %1\r\nConfiguration is not loaded.").arg(error));
    EXPECT_EQ(FailureOf([&] { m_engine->LoadFromFile(file); }), error);
    EXPECT_FALSE(boiler->InConfigureMode()) << "the control was locked";
    EXPECT_EQ(Read(boiler, "SERVICE: BURNER.FIRING RATE SP"), QStringLiteral("45.0"));
}

TEST_F(SettingsServerTest, DecimalCommaFileLoadsWhereThePointIsTheSeparator) {
    LocaleScope locale(QLocale(QLocale::English, QLocale::UnitedStates));
    m_engine = std::make_unique<TKIDuxlaneConfig>();
    TKIDuxlaneControl* boiler = Boiler();
    const QString file = Path("comma.cfg");
    writeFile(file, "SERVICE: BURNER.FIRING RATE SP\t12,5\r\n"
                    "SERVICE: BURNER.O2 TRIM\t-1,25\r\n"
                    "SERVICE: CLOCK.OPERATOR\tShift 1,5\r\n");
    m_engine->LoadFromFile(file);
    EXPECT_TRUE(m_dialogs.messages().empty());
    EXPECT_EQ(Read(boiler, "SERVICE: BURNER.FIRING RATE SP"), QStringLiteral("12.5"));
    EXPECT_EQ(Read(boiler, "SERVICE: BURNER.O2 TRIM"), QStringLiteral("-1.25"));
    EXPECT_EQ(Read(boiler, "SERVICE: CLOCK.OPERATOR"), QStringLiteral("Shift 1,5"));

    // A control that keeps the text of a real item as it came shows what
    // was sent: the first comma only became a point.
    TKIDuxlaneControl* tags = Connect("TAGS");
    m_engine->SetDevice(tags);
    writeFile(file, "SERVICE: TAG.RATIO\t1,5,0\r\n");
    m_engine->LoadFromFile(file);
    EXPECT_EQ(Read(tags, "SERVICE: TAG.RATIO"), QStringLiteral("1.5,0"));
}

TEST_F(SettingsServerTest, DecimalPointFileLoadsWhereTheCommaIsTheSeparator) {
    LocaleScope locale(QLocale(QLocale::German, QLocale::Germany));
    m_engine = std::make_unique<TKIDuxlaneConfig>();
    TKIDuxlaneControl* tags = Connect("TAGS");
    m_engine->SetDevice(tags);
    const QString file = Path("point.cfg");
    writeFile(file, "SERVICE: TAG.RATIO\t0.75\r\n");
    m_engine->LoadFromFile(file);
    EXPECT_EQ(Read(tags, "SERVICE: TAG.RATIO"), QStringLiteral("0,75"));
}

TEST_F(SettingsServerTest, ReportThatFailsKeepsTheEarlierReport) {
    TKIDuxlaneControl* tags = Connect("TAGS");
    m_engine->SetDevice(tags);
    const QString report = Path("tags.txt");
    m_engine->CreateReport(report, 3);
    EXPECT_EQ(readFile(report), QByteArray("SERVICE: TAG.RATIO\t2.500\r\n"));

    Change(tags, {"SERVICE: TAG.RATIO"}, {"n/a"});
    EXPECT_EQ(FailureOf([&] { m_engine->CreateReport(report, 3); }),
              QStringLiteral("'n/a' is not a valid floating point value"));
    EXPECT_EQ(readFile(report), QByteArray("SERVICE: TAG.RATIO\t2.500\r\n"));
    EXPECT_EQ(m_bar.PanelText(0), QStringLiteral("Ready"));
    EXPECT_EQ(m_engine->Progress(), nullptr);
}

TEST_F(SettingsServerTest, ReportFormatsRealValuesOnly) {
    Boiler();
    const QString report = Path("boiler.txt");
    m_engine->CreateReport(report, 2);
    QStringList values = kInitial;
    values[2] = "95.00";
    values[4] = "45.00";
    values[5] = "0.50";
    values[6] = "3.14";
    values[7] = "7.25";
    EXPECT_EQ(readFile(report), fileOf(kNames, values));

    m_engine->CreateReport(report, 0);
    values[2] = "95";
    values[4] = "45";
    values[5] = "0"; // 0.50: half-way, the platform's rounding
    values[6] = "3";
    values[7] = "7";
    EXPECT_EQ(readFile(report), fileOf(kNames, values));
}

TEST_F(SettingsServerTest, ReportUsesTheDecimalComma) {
    LocaleScope locale(QLocale(QLocale::German, QLocale::Germany));
    m_engine = std::make_unique<TKIDuxlaneConfig>();
    Boiler();
    const QString report = Path("komma.txt");
    m_engine->CreateReport(report, 2);
    const QByteArray text = readFile(report);
    EXPECT_TRUE(text.contains("SERVICE: BURNER.PI\t3,14\r\n")) << text.constData();
    EXPECT_TRUE(text.contains("SERVICE: BURNER.O2 TRIM\t0,50\r\n"));
    EXPECT_TRUE(text.contains("CONFIGURE: BURNER.PREPURGE TIME\t00:01:30.00\r\n"));
    EXPECT_TRUE(text.contains("SERVICE: CLOCK.OPERATOR\tDay shift\r\n"));
}

TEST_F(SettingsServerTest, EmptyMutableListGivesEmptyFiles) {
    m_engine->SetDevice(Connect("GAUGES"));
    const QString file = Path("gauges.cfg");
    writeFile(file, "OLD\t1\r\n");
    m_engine->SaveToFile(file);
    EXPECT_EQ(readFile(file), QByteArray());
    m_engine->CreateReport(Path("gauges.txt"), 2);
    EXPECT_EQ(readFile(Path("gauges.txt")), QByteArray());
}

// Loads that end half way: each leaves the control in the state the engineer
// is told about, the status panel and the progress window as they were.
class SettingsLoadFaultTest : public SettingsServerTest,
                              public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        m_serverArguments = {QStringLiteral("--fail-command"), QString::fromLatin1(GetParam())};
        SettingsServerTest::SetUp();
    }
};

class FailingShutdownTest : public SettingsLoadFaultTest {};

TEST_P(FailingShutdownTest, LeavesTheControlRunningWithItsValues) {
    TKIDuxlaneControl* boiler = Boiler();
    const QString file = Path("changed.cfg");
    writeFile(file, fileOf(kNames, kChanged));
    EXPECT_EQ(FailureOf([&] { m_engine->LoadFromFile(file); }),
              QStringLiteral("TKIDuxlaneControl.Shutdown: Shutdown Failed"));
    EXPECT_FALSE(boiler->InConfigureMode());
    EXPECT_EQ(ReadAll(boiler, kNames), kInitial);
    EXPECT_EQ(m_bar.PanelText(0), QStringLiteral("Ready"));
    EXPECT_EQ(m_engine->Progress(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Shutdown, FailingShutdownTest, ::testing::Values("Shutdown=1"));

class FailingSaveValuesTest : public SettingsLoadFaultTest {};

TEST_P(FailingSaveValuesTest, LeavesTheNewValuesUnsavedInIoLock) {
    TKIDuxlaneControl* boiler = Boiler();
    const QString file = Path("changed.cfg");
    writeFile(file, fileOf(kNames, kChanged));
    EXPECT_EQ(FailureOf([&] { m_engine->LoadFromFile(file); }),
              QStringLiteral("TKIDuxlaneControl.SaveValues: Memory Error"));
    // Written but not saved: the control runs the new values in I/O lock,
    // and a reset would bring back the saved ones.
    EXPECT_TRUE(boiler->InConfigureMode());
    EXPECT_EQ(ReadAll(boiler, kNames), kChanged);
    EXPECT_EQ(m_bar.PanelText(0), QStringLiteral("Ready"));
    EXPECT_EQ(m_engine->Progress(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(SaveValues, FailingSaveValuesTest, ::testing::Values("SaveValues=1"));

TEST_F(SettingsServerTest, ControlLostDuringALoadStopsItAtOnce) {
    TKIDuxlaneControl* boiler = Boiler();
    const QString file = Path("changed.cfg");
    writeFile(file, fileOf(kNames, kChanged));
    // The server is ended as a crash would end it once the control is in I/O
    // lock and the first value is written (the progress bar's first step), so
    // the loss always meets the second value, however slow the machine is.
    const TKIDuxlaneConfig::TimingScope slowWrites({.itemPauseMs = 400});
    bool crashed = false;
    ProgressWatch watch([&](int position) {
        if (position == 1 && !crashed) {
            EXPECT_TRUE(boiler->InConfigureMode()) << "the I/O lock came first";
            crashed = true;
            m_sim.kill();
        }
    });
    m_dialogs.answerMessage(mrYes);
    QElapsedTimer timer;
    timer.start();
    const QString failure = FailureOf([&] { m_engine->LoadFromFile(file); });
    ASSERT_TRUE(crashed);
    EXPECT_EQ(failure, QStringLiteral("Control has not been connected."));
    EXPECT_LT(timer.elapsed(), 8000);
    // One question, for the value whose write met the loss; then the load
    // stopped instead of asking about every remaining item.
    ASSERT_EQ(m_dialogs.messages().size(), 1u);
    EXPECT_TRUE(m_dialogs.messages().at(0).text.startsWith("Configuration Error: "));
    EXPECT_TRUE(m_dialogs.messages().at(0).text.endsWith("Continue loading?"));
    EXPECT_EQ(FailureOf([&] { boiler->ProtocolID(); }),
              QStringLiteral("Control has not been connected."));
    EXPECT_EQ(m_bar.PanelText(0), QStringLiteral("Ready"));
    EXPECT_EQ(m_engine->Progress(), nullptr);
}

} // namespace
