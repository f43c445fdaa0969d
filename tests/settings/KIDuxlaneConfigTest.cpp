// The settings engine without a server: separators, file handling, the
// parse-error box, status texts and the control's destruction.

#include "settings/KIDuxlaneConfig.h"

#include <gtest/gtest.h>

#include <memory>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include "ScriptedDialogService.h"
#include "model/KIDuxlaneControl.h"
#include "model/KIStatusPanel.h"
#include "platform/Exception.h"
#include "platform/StatusBar.h"
#include "settings/KConfigureProgress.h"

using namespace orvane;
using orvane::test::ScriptedDialogService;

namespace {

// Switches the system's number format for the life of the scope.
class LocaleScope {
public:
    explicit LocaleScope(const QLocale& locale) { QLocale::setDefault(locale); }
    ~LocaleScope() { QLocale::setDefault(m_previous); }

private:
    QLocale m_previous;
};

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

bool progressWindowLeft() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<TKConfigProgress*>(widget) != nullptr) {
            return true;
        }
    }
    return false;
}

class KIDuxlaneConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_bar.AddPanel();
        m_bar.SetPanelText(0, QStringLiteral("Ready"));
        m_engine = std::make_unique<TKIDuxlaneConfig>();
        m_engine->StatusPanel()->SetStatusBar(&m_bar);
    }

    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    // The message of the failure an operation raises (empty when none).
    template <typename F>
    QString failureOf(F&& operation) {
        try {
            operation();
        } catch (const Exception& e) {
            return e.message();
        }
        return QString();
    }

    QTemporaryDir m_dir;
    TStatusBar m_bar;
    ScriptedDialogService m_dialogs;
    std::unique_ptr<TKIDuxlaneConfig> m_engine;
};

TEST(KIDuxlaneConfigSeparators, FixedFromTheSystemNumberFormat) {
    {
        LocaleScope locale(QLocale(QLocale::German, QLocale::Germany));
        TKIDuxlaneConfig engine;
        EXPECT_EQ(engine.LocalSeparator(), QChar(','));
        EXPECT_EQ(engine.ForeignSeparator(), QChar('.'));
    }
    {
        LocaleScope locale(QLocale(QLocale::English, QLocale::UnitedStates));
        TKIDuxlaneConfig engine;
        EXPECT_EQ(engine.LocalSeparator(), QChar('.'));
        EXPECT_EQ(engine.ForeignSeparator(), QChar(','));
    }
    {
        // Arabic digits come with the momayyez as decimal separator.
        LocaleScope locale(QLocale(QLocale::Arabic, QLocale::Egypt));
        ASSERT_NE(QLocale().decimalPoint(), QStringLiteral("."));
        ASSERT_NE(QLocale().decimalPoint(), QStringLiteral(","));
        try {
            TKIDuxlaneConfig engine;
            ADD_FAILURE() << "an unknown separator was accepted";
        } catch (const Exception& e) {
            EXPECT_EQ(e.message(), QStringLiteral("Internal error: unrecognized DecimalSeparator"));
        }
    }
}

TEST_F(KIDuxlaneConfigTest, FileTitleIsTheNameAfterTheLastFolder) {
    const struct {
        const char* fileName;
        const char* title;
    } cases[] = {
        {"C:\\Plant\\Boiler\\boiler.cfg", "boiler.cfg"},
        {"/home/service/boiler.cfg", "boiler.cfg"},
        {"boiler.cfg", "boiler.cfg"},
        {"/home/service/", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        m_engine->SetFileName(QString::fromLatin1(c.fileName));
        EXPECT_EQ(m_engine->FileTitle(), QString::fromLatin1(c.title)) << c.fileName;
    }
}

TEST_F(KIDuxlaneConfigTest, SyntaxErrorIsShownAndRaisedWithItsLine) {
    const QString file = path("bad.cfg");
    writeFile(file, "\r\nA\t1\r\nNO TAB\r\nB\t2\r\n");
    const QString error =
        QStringLiteral("Syntax error in configuration file %1; line 3.").arg(file);
    m_dialogs.answerMessage(
        mrOk, QStringLiteral("Configuration Error: %1\r\nConfiguration is not loaded.").arg(error));

    EXPECT_EQ(failureOf([&] { m_engine->LoadFromFile(file); }), error);
    EXPECT_EQ(m_engine->FileName(), file);
    ASSERT_FALSE(m_dialogs.messages().empty());
    EXPECT_EQ(m_dialogs.messages().back().type, mtError);
    EXPECT_EQ(m_dialogs.messages().back().buttons, mbOK);
    EXPECT_EQ(m_bar.PanelText(0), QStringLiteral("Ready"));
}

TEST_F(KIDuxlaneConfigTest, MissingFileIsShownAndRaised) {
    const QString file = path("missing.cfg");
    m_dialogs.answerMessage(mrOk);
    const QString failure = failureOf([&] { m_engine->LoadFromFile(file); });
    EXPECT_TRUE(failure.startsWith(QStringLiteral("Cannot open file \"%1\".").arg(file)))
        << failure.toStdString();
    ASSERT_EQ(m_dialogs.messages().size(), 1u);
    EXPECT_EQ(
        m_dialogs.messages()[0].text,
        QStringLiteral("Configuration Error: %1\r\nConfiguration is not loaded.").arg(failure));
    EXPECT_EQ(m_bar.PanelText(0), QStringLiteral("Ready"));
}

TEST_F(KIDuxlaneConfigTest, WithoutControlLoadOnlyParsesAndSaveWritesNothing) {
    const QString file = path("good.cfg");
    writeFile(file, "A\t1\r\nB\t\r\n");
    m_engine->LoadFromFile(file); // no box, no control
    EXPECT_EQ(m_bar.PanelText(0), QStringLiteral("Ready"));

    const QString saved = path("saved.cfg");
    writeFile(saved, "OLD\t1\r\n");
    m_engine->SaveToFile(saved);
    EXPECT_EQ(readFile(saved), QByteArray());
    m_engine->CreateReport(path("report.txt"), 2);
    EXPECT_EQ(readFile(path("report.txt")), QByteArray());
    EXPECT_FALSE(progressWindowLeft());
}

TEST_F(KIDuxlaneConfigTest, FailedSaveKeepsTheEarlierFile) {
    // A control that is not connected cannot give its item list.
    TKIDuxlaneControl control;
    m_engine->SetDevice(&control);
    const QString saved = path("boiler.cfg");
    writeFile(saved, "EARLIER\t42\r\n");
    const QString report = path("boiler.txt");
    writeFile(report, "EARLIER\t42.00\r\n");

    EXPECT_EQ(failureOf([&] { m_engine->SaveToFile(saved); }),
              QStringLiteral("Control has not been connected."));
    EXPECT_EQ(failureOf([&] { m_engine->CreateReport(report, 2); }),
              QStringLiteral("Control has not been connected."));

    EXPECT_EQ(readFile(saved), QByteArray("EARLIER\t42\r\n"));
    EXPECT_EQ(readFile(report), QByteArray("EARLIER\t42.00\r\n"));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files).size(), 2) << "no temporary file left";
    EXPECT_EQ(m_bar.PanelText(0), QStringLiteral("Ready"));
    EXPECT_FALSE(progressWindowLeft());
    EXPECT_EQ(m_engine->Progress(), nullptr);
}

TEST_F(KIDuxlaneConfigTest, UnwritableFileIsAnError) {
    const QString file = path("no-such-folder/boiler.cfg");
    const QString failure = failureOf([&] { m_engine->SaveToFile(file); });
    EXPECT_TRUE(failure.startsWith(QStringLiteral("Cannot create file \"%1\".").arg(file)))
        << failure.toStdString();
    EXPECT_EQ(m_bar.PanelText(0), QStringLiteral("Ready"));
}

TEST_F(KIDuxlaneConfigTest, ForgetsAControlThatIsDestroyed) {
    auto control = std::make_unique<TKIDuxlaneControl>();
    m_engine->SetDevice(control.get());
    EXPECT_EQ(m_engine->Device(), control.get());
    control.reset();
    EXPECT_EQ(m_engine->Device(), nullptr);

    // And the control does not hear of an engine it no longer has.
    auto other = std::make_unique<TKIDuxlaneControl>();
    m_engine->SetDevice(other.get());
    m_engine->SetDevice(nullptr);
    m_engine.reset();
    other.reset();
}

TEST_F(KIDuxlaneConfigTest, ForgetsAStatusBarThatIsDestroyed) {
    auto bar = std::make_unique<TStatusBar>();
    bar->AddPanel();
    m_engine->StatusPanel()->SetStatusBar(bar.get());
    bar.reset();
    EXPECT_EQ(m_engine->StatusPanel()->StatusBar(), nullptr);
    m_engine->SaveToFile(path("quiet.cfg")); // texts now go nowhere
}

} // namespace
