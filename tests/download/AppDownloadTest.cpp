// The application download against the simulated server: what reaches the
// control and in which order, the product check, the I/O-lock question,
// script errors, Cancel while the control erases, a script without an end
// statement, a failing write, and long runs of fast writes.

#include "download/KIControlAppDownload.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "ControlFixture.h"
#include "download/KDownloadAppProgress.h"
#include "model/KIDuxlaneControl.h"
#include "model/KIStatusPanel.h"
#include "platform/StatusBar.h"

using namespace orvane;
using orvane::test::ControlFixture;
using Outcome = TKProgressDialog::Outcome;

namespace {

const QByteArray kNetwork = R"(duxlane-network 1
name "Download test"

control "PLC1"
    product-id "DX100-TEST"
    application-id "Test App 1.0"
    reset-time 200
    erase-time 0
    program-block 4096 256
    item "Count" tunable int16 min -100 max 100 value 5
end

control "SLOW"
    product-id "DX100-TEST"
    erase-time 600000
    program-block 4096 256
    item "Count" tunable int16 min -100 max 100 value 5
end

control "BIG"
    product-id "DX100-TEST"
    erase-time 0
    program-block 4096 16384
    item "Count" tunable int16 min -100 max 100 value 5
end
)";

const QByteArray kSixteen = "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F";
const QByteArray kEight = "F0 F1 F2 F3 F4 F5 F6 F7";

QByteArray Script(const QByteArray& product, bool withEnd = true,
                  const QByteArray& secondAddress = "00001010") {
    QByteArray text = "// test image\r\nproduct " + product +
                      "\r\nbegin 00001000 00000018\r\nwrite 00001000 16 " + kSixteen +
                      "\r\nwrite " + secondAddress + " 8 " + kEight + "\r\n";
    if (withEnd) {
        text += "end\r\n";
    }
    return text;
}

QByteArray Hex8(std::uint32_t value) {
    return QByteArray::number(value, 16).rightJustified(8, '0').toUpper();
}

// Many small writes that a local control takes faster than the dialog repaints.
QByteArray LongScript(int writes) {
    constexpr std::uint32_t kStart = 4096;
    QByteArray text = "product DX100-TEST\r\nbegin " + Hex8(kStart) + ' ' +
                      Hex8(static_cast<std::uint32_t>(writes) * 16) + "\r\n";
    for (int i = 0; i < writes; ++i) {
        text += "write " + Hex8(kStart + static_cast<std::uint32_t>(i) * 16) + " 16 " + kSixteen +
                "\r\n";
    }
    return text + "end\r\n";
}

std::uint32_t Crc32(const QByteArray& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (char c : bytes) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

const QString kLockQuestion =
    QStringLiteral("The I/O on the control must be locked in order to download software. Do you "
                   "want to continue the download?");

QString Mismatch(const QString& control, const QString& script) {
    return QStringLiteral("The Product ID in the control does not match the Product ID in the "
                          "download script. The controlID is : %1  The script file Product ID is "
                          ": %2  Continuing could result in a failure to program the control. "
                          "Ignore the problem and continue?")
        .arg(control, script);
}

class AppDownloadTest : public ControlFixture {
protected:
    void SetUp() override {
        StartServer(kNetwork, ServerArguments());
        m_bar.AddPanel();
        m_driver.StatusPanel()->SetStatusBar(&m_bar);
    }

    // Runs the download of a script; `whileRunning` is called from the event
    // loop every few milliseconds while the progress dialog is up.
    bool Download(TKIDuxlaneControl* control, const QByteArray& script,
                  std::function<void(TKProgressDialog&)> whileRunning = {}) {
        m_driver.SetDevice(control);
        const QString file = WriteFile(QStringLiteral("app.scp"), script);
        QTimer watcher;
        watcher.setInterval(5);
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            if (TKProgressDialog* dialog = m_driver.Dialog(); dialog && dialog->isVisible()) {
                m_seenSteps.append(dialog->StepText());
                if (whileRunning) {
                    whileRunning(*dialog);
                }
            }
        });
        watcher.start();
        MarkTraffic();
        return m_driver.Download(file);
    }

    virtual QStringList ServerArguments() const { return {}; }

    static void PressCancel(TKProgressDialog& dialog) {
        dialog.findChild<QPushButton*>(QStringLiteral("CancelButton"))->click();
    }

    TStatusBar m_bar;
    TKIControlAppDownload m_driver;
    QStringList m_seenSteps;
};

TEST_F(AppDownloadTest, CompleteScriptSendsItsStatementsInOrderAndTheControlRunsTheNewApplication) {
    TKIDuxlaneControl* plc = Connect("PLC1");
    m_dialogs.answerMessage(mrYes, kLockQuestion);
    QString caption;
    QString product;
    QString file;
    ASSERT_TRUE(Download(plc, Script("DX100-TEST"), [&](TKProgressDialog& dialog) {
        caption = dialog.windowTitle();
        product = dialog.ProductIDText();
        file = dialog.AppNameText();
    }));
    EXPECT_EQ(caption, QStringLiteral("Download"));
    EXPECT_EQ(product, QStringLiteral("DX100-TEST"));
    EXPECT_EQ(file, Path(QStringLiteral("app.scp")));
    EXPECT_EQ(m_driver.ProgressMaximum(), 5) << "one step per statement";
    EXPECT_EQ(m_driver.ProgressPosition(), 5) << "a complete script fills the bar";

    EXPECT_EQ(
        Traffic("execute EndProgrammingMode on PLC1"),
        QStringList({"execute Shutdown on PLC1", "request Product ID on PLC1",
                     "execute BeginProgrammingMode on PLC1", "request Control Status on PLC1",
                     "execute WriteProgramMemory on PLC1", "execute WriteProgramMemory on PLC1",
                     "execute EndProgrammingMode on PLC1"}));
    EXPECT_EQ(m_driver.GetOutcome(), Outcome::Completed);
    EXPECT_EQ(m_driver.BytesDownloaded(), 24);
    EXPECT_FALSE(m_driver.InProgrammingMode());
    EXPECT_TRUE(m_driver.StateText().isEmpty());
    EXPECT_EQ(m_bar.PanelText(0), QStringLiteral("Active."));
    // The image arrived byte for byte: the control names its application by
    // the checksum of the programmed range.
    const QByteArray image = QByteArray::fromHex(kSixteen + " " + kEight);
    EXPECT_EQ(plc->ApplicationID(),
              QStringLiteral("APP-%1").arg(Crc32(image), 8, 16, QLatin1Char('0')).toUpper());
    EXPECT_EQ(plc->CommandState(), kCommandStateReady);
}

TEST_F(AppDownloadTest, ProductIdIsComparedExactlyAndTheEngineerDecides) {
    TKIDuxlaneControl* plc = Connect("PLC1");

    // Letter case alone makes a mismatch; Cancel ends before programming.
    m_dialogs.answerMessage(mrYes, kLockQuestion)
        .answerMessage(mrCancel, Mismatch("DX100-TEST", "dx100-test"));
    ASSERT_TRUE(Download(plc, Script("dx100-test")));
    EXPECT_EQ(Traffic("request Product ID on PLC1"),
              QStringList({"execute Shutdown on PLC1", "request Product ID on PLC1"}));
    EXPECT_EQ(m_driver.GetOutcome(), Outcome::ProductRejected);
    EXPECT_FALSE(m_driver.InProgrammingMode());
    EXPECT_TRUE(m_driver.StateText().contains("before programming began"));
    EXPECT_TRUE(plc->InConfigureMode()) << "the I/O lock stays";
    EXPECT_EQ(plc->ApplicationID(), QStringLiteral("Test App 1.0"));

    // Ignore goes on with the download.
    m_dialogs.answerMessage(mrYes, kLockQuestion)
        .answerMessage(mrIgnore, Mismatch("DX100-TEST", "DX100 TEST"));
    ASSERT_TRUE(Download(plc, Script("DX100 TEST")));
    EXPECT_EQ(m_driver.GetOutcome(), Outcome::Completed);
    EXPECT_EQ(m_driver.BytesDownloaded(), 24);
    EXPECT_NE(plc->ApplicationID(), QStringLiteral("Test App 1.0"));
}

TEST_F(AppDownloadTest, NothingIsSentWhenTheLockIsDeclinedOrTheScriptIsBad) {
    TKIDuxlaneControl* plc = Connect("PLC1");

    m_dialogs.answerMessage(mrNo, kLockQuestion);
    EXPECT_FALSE(Download(plc, Script("DX100-TEST")));

    const QString bad = WriteFile(QStringLiteral("bad.scp"), "product X\r\nbegin 1000 0018\r\n");
    m_dialogs.answerMessage(mrOk, QStringLiteral("Error in file: ") + bad +
                                      QStringLiteral(" on line 2.  Error: Length of address "
                                                     "incorrect"));
    MarkTraffic();
    EXPECT_FALSE(m_driver.Download(bad));

    // A file that cannot be opened has no line: its own reason is shown.
    m_dialogs.answerMessage(mrOk);
    EXPECT_FALSE(m_driver.Download(Path(QStringLiteral("missing.scp"))));
    EXPECT_TRUE(m_dialogs.messages().back().text.contains("missing.scp"));
    EXPECT_EQ(m_dialogs.messages().back().type, mtError);

    // A barrier: this request is answered after anything sent before it.
    EXPECT_EQ(plc->ProductID(), QStringLiteral("DX100-TEST"));
    EXPECT_EQ(Traffic("request Product ID on PLC1"), QStringList({"request Product ID on PLC1"}));
    EXPECT_FALSE(plc->InConfigureMode());
}

TEST_F(AppDownloadTest, CancelWhileTheControlErasesEndsWithoutEndingProgramming) {
    TKIDuxlaneControl* slow = Connect("SLOW");
    m_dialogs.answerMessage(mrYes, kLockQuestion);
    QString blankStep = QStringLiteral("<never sampled>");
    int highestCount = 0;
    ASSERT_TRUE(Download(slow, Script("DX100-TEST"), [&](TKProgressDialog& dialog) {
        highestCount = std::max(highestCount, dialog.WaitCounter());
        // The step text blinks while the control is polled.
        if (dialog.WaitCounter() >= 103 && dialog.WaitCounter() <= 107) {
            blankStep = dialog.StepText();
            PressCancel(dialog);
        }
    }));
    EXPECT_EQ(blankStep, QString());
    EXPECT_LE(highestCount, TKProgressDialog::kWaitCounterWrap);
    EXPECT_TRUE(m_seenSteps.contains(QStringLiteral("Initializing Control...")));
    EXPECT_EQ(m_driver.GetOutcome(), Outcome::Cancelled);
    EXPECT_TRUE(m_driver.InProgrammingMode());
    EXPECT_EQ(m_driver.BytesDownloaded(), 0);
    EXPECT_TRUE(m_driver.StateText().contains("programming mode"));

    EXPECT_EQ(slow->ProductID(), QStringLiteral("DX100-TEST")); // barrier
    const QStringList traffic = Traffic("execute BeginProgrammingMode on SLOW");
    EXPECT_TRUE(traffic.contains("execute BeginProgrammingMode on SLOW"));
    EXPECT_FALSE(traffic.contains("execute WriteProgramMemory on SLOW"));
    EXPECT_FALSE(traffic.contains("execute EndProgrammingMode on SLOW"));
    EXPECT_GT(traffic.count("request Control Status on SLOW"), 100);
}

TEST_F(AppDownloadTest, ScriptWithoutEndWaitsForCancelAfterItsLastWrite) {
    TKIDuxlaneControl* plc = Connect("PLC1");
    m_dialogs.answerMessage(mrYes, kLockQuestion);
    int bytesShown = -1;
    ASSERT_TRUE(Download(plc, Script("DX100-TEST", false), [&](TKProgressDialog& dialog) {
        if (dialog.StepText() == QStringLiteral("Script has no end statement; press Cancel.")) {
            bytesShown = dialog.BytesText().toInt();
            PressCancel(dialog);
        }
    }));
    EXPECT_EQ(bytesShown, 24);
    EXPECT_EQ(m_driver.GetOutcome(), Outcome::Cancelled);
    EXPECT_TRUE(m_driver.InProgrammingMode());
    EXPECT_EQ(plc->ProductID(), QStringLiteral("DX100-TEST")); // barrier
    EXPECT_FALSE(Traffic().contains("execute EndProgrammingMode on PLC1"));
    EXPECT_EQ(plc->CommandState(), kCommandStateProgramming);
}

TEST_F(AppDownloadTest, FailingWriteShowsItsErrorAndHaltsUntilCancel) {
    TKIDuxlaneControl* plc = Connect("PLC1");
    // The second write lies outside the opened range.
    m_dialogs.answerMessage(mrYes, kLockQuestion).answerMessage(mrOk);
    ASSERT_TRUE(
        Download(plc, Script("DX100-TEST", true, "00002000"), [&](TKProgressDialog& dialog) {
            if (dialog.Halted()) {
                PressCancel(dialog);
            }
        }));
    ASSERT_EQ(m_dialogs.messages().size(), 2U);
    EXPECT_EQ(m_dialogs.messages()[1].type, mtError);
    EXPECT_TRUE(m_dialogs.messages()[1].text.contains("WriteProgram"))
        << m_dialogs.messages()[1].text.toStdString();
    EXPECT_EQ(m_driver.GetOutcome(), Outcome::Failed);
    EXPECT_EQ(m_driver.BytesDownloaded(), 16);
    EXPECT_TRUE(m_driver.InProgrammingMode());
    EXPECT_EQ(plc->ProductID(), QStringLiteral("DX100-TEST")); // barrier
    const QStringList traffic = Traffic();
    EXPECT_EQ(traffic.count("execute WriteProgramMemory on PLC1"), 2);
    EXPECT_FALSE(traffic.contains("execute EndProgrammingMode on PLC1"));
}

// A control that answers its commands at once, as a fast link does.
class FastControlDownloadTest : public AppDownloadTest {
protected:
    QStringList ServerArguments() const override {
        return {QStringLiteral("--command-latency"), QStringLiteral("0")};
    }
};

TEST_F(FastControlDownloadTest, RunsOfFastWritesShowTheirFinalFiguresAndStopAtCancel) {
    constexpr int kWrites = 256;
    TKIDuxlaneControl* big = Connect("BIG");
    // The whole image: the dialog's own figures when it closes by itself.
    m_dialogs.answerMessage(mrYes, kLockQuestion);
    QString bytesAtClose;
    QString bytesOfAtClose;
    bool watching = false;
    ASSERT_TRUE(Download(big, LongScript(kWrites), [&](TKProgressDialog& dialog) {
        if (!watching) {
            watching = true;
            QObject::connect(&dialog, &QDialog::finished, [&] {
                bytesAtClose = dialog.BytesText();
                bytesOfAtClose = dialog.findChild<QLabel*>(QStringLiteral("BytesOf"))->text();
            });
        }
    }));
    EXPECT_EQ(m_driver.GetOutcome(), Outcome::Completed);
    EXPECT_EQ(bytesAtClose, QString::number(kWrites * 16));
    EXPECT_EQ(bytesOfAtClose, QStringLiteral("of %1").arg(kWrites * 16));
    EXPECT_EQ(m_driver.ProgressPosition(), m_driver.ProgressMaximum());

    // Cancel amid the writes: the write under way finishes, no other follows.
    m_dialogs.answerMessage(mrYes, kLockQuestion);
    std::int64_t bytesAtCancel = -1;
    ASSERT_TRUE(Download(big, LongScript(kWrites), [&](TKProgressDialog& dialog) {
        if (bytesAtCancel < 0 && dialog.BytesDownloaded() >= 64) {
            bytesAtCancel = dialog.BytesDownloaded();
            PressCancel(dialog);
        }
    }));
    ASSERT_GE(bytesAtCancel, 64) << "the download ended before the watcher saw it";
    EXPECT_EQ(m_driver.GetOutcome(), Outcome::Cancelled);
    EXPECT_TRUE(m_driver.InProgrammingMode());
    EXPECT_LE(m_driver.BytesDownloaded(), bytesAtCancel + 16);
    EXPECT_LT(m_driver.BytesDownloaded(), kWrites * 16);
    EXPECT_EQ(big->ProductID(), QStringLiteral("DX100-TEST")); // barrier
    const QStringList traffic = Traffic();
    EXPECT_EQ(traffic.count("execute WriteProgramMemory on BIG"), m_driver.BytesDownloaded() / 16);
    EXPECT_FALSE(traffic.contains("execute EndProgrammingMode on BIG"));
}

} // namespace
