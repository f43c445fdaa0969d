// The properties window and the download dialog as an engineer sees them,
// filled from the simulated server: every label shows its whole text. With
// ORVANE_SCREENSHOT_DIR set (scripts/screenshots-commands, under a virtual
// display), the windows are also saved there as PNG files.

#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include "ControlFixture.h"
#include "download/KDownloadAppProgress.h"
#include "download/KIControlAppDownload.h"
#include "model/KIDuxlaneControl.h"
#include "settings/ControlPropertiesView.h"

using namespace orvane;
using orvane::test::ControlFixture;
using orvane::test::WaitFor;

namespace {

const QByteArray kNetwork = R"(duxlane-network 1
name "Screenshots"

control "BOILER-3"
    protocol-id "DXP 2.1"
    system-id "DX-4400 S/N 20931"
    application-id "Boiler Control 2.4"
    product-id "DX4400-BLR"
    configuration-id "Plant North, line 3"
    erase-time 0
    program-block 0x00010000 0x00020000
    item "Count" tunable int16 min -100 max 100 value 5
end
)";

// The labels of a window that do not show their whole text.
QStringList ClippedLabels(const QWidget& window) {
    QStringList clipped;
    for (const QLabel* label : window.findChildren<QLabel*>()) {
        if (!label->isVisible() || label->text().isEmpty()) {
            continue;
        }
        const QSize need = label->wordWrap()
                               ? QSize(label->width(), label->heightForWidth(label->width()))
                               : label->sizeHint();
        if (need.width() > label->width() || need.height() > label->height()) {
            clipped.append(label->text());
        }
    }
    return clipped;
}

void Save(QWidget& window, const char* name) {
    const QString dir = qEnvironmentVariable("ORVANE_SCREENSHOT_DIR");
    if (dir.isEmpty()) {
        return;
    }
    QDir().mkpath(dir);
    EXPECT_TRUE(window.grab().save(QDir(dir).filePath(QString::fromLatin1(name))));
}

class CommandScreenshots : public ControlFixture {
protected:
    void SetUp() override { StartServer(kNetwork); }
};

TEST_F(CommandScreenshots, PropertiesWindowShowsEveryRowWhole) {
    TControlProperties window;
    window.Fill(Connect("BOILER-3"));
    window.show();
    ASSERT_TRUE(WaitFor([&] { return window.isVisible(); }));
    EXPECT_EQ(ClippedLabels(window), QStringList());
    Save(window, "control-properties.png");
}

TEST_F(CommandScreenshots, DownloadDialogShowsItsProgressWhole) {
    TKIDuxlaneControl* boiler = Connect("BOILER-3");
    QByteArray script = "product DX4400-BLR\r\nbegin 00010000 00000400\r\n";
    for (int block = 0; block < 32; ++block) {
        script +=
            "write " + QByteArray::number(0x10000 + block * 32, 16).rightJustified(8, '0') + " 32";
        for (int i = 0; i < 32; ++i) {
            script += ' ' + QByteArray::number((block + i) & 0xFF, 16).rightJustified(2, '0');
        }
        script += "\r\n";
    }
    script += "end\r\n";
    const QString file = WriteFile(QStringLiteral("boiler-2.5.scp"), script);

    TKIControlAppDownload driver;
    driver.SetDevice(boiler);
    m_dialogs.answerMessage(mrYes);
    QStringList clipped = {QStringLiteral("<never looked>")};
    QTimer watcher;
    watcher.setInterval(5);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        TKProgressDialog* dialog = driver.Dialog();
        if (dialog != nullptr && dialog->isVisible() && dialog->BytesDownloaded() >= 320) {
            watcher.stop();
            clipped = ClippedLabels(*dialog);
            Save(*dialog, "download-in-progress.png");
            dialog->findChild<QPushButton*>(QStringLiteral("CancelButton"))->click();
        }
    });
    watcher.start();
    ASSERT_TRUE(driver.Download(file));
    EXPECT_EQ(clipped, QStringList());
}

} // namespace
