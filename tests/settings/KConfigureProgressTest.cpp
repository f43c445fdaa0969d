#include "settings/KConfigureProgress.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QTest>

using namespace orvane;

namespace {

TEST(KConfigureProgress, ShowsCaptionFileNameAndBar) {
    TKConfigProgress progress;
    EXPECT_EQ(progress.windowTitle(), QStringLiteral("Configure Progress"));
    EXPECT_EQ(progress.size(), QSize(kProgressWidth, kProgressHeight));
    EXPECT_EQ(progress.Maximum(), 100);
    EXPECT_EQ(progress.Position(), 0);

    progress.InitProgress(3, QStringLiteral("boiler.cfg"));
    EXPECT_EQ(progress.FileNameText(), QStringLiteral("boiler.cfg"));
    EXPECT_EQ(progress.windowTitle(), QStringLiteral("Configure Progress"));
    EXPECT_EQ(progress.Maximum(), 3);
    for (int i = 0; i < 5; ++i) {
        progress.Step();
    }
    EXPECT_EQ(progress.Position(), 3); // stays at its maximum

    progress.InitProgress(0, QStringLiteral("report.txt"), QStringLiteral("Creating Report"));
    EXPECT_EQ(progress.windowTitle(), QStringLiteral("Creating Report"));
    EXPECT_EQ(progress.Position(), 0);
    progress.Step();
    EXPECT_EQ(progress.Position(), 0);
}

TEST(KConfigureProgress, UserCannotCloseIt) {
    TKConfigProgress progress;
    progress.ShowCentred();
    ASSERT_TRUE(progress.isVisible());

    EXPECT_FALSE(progress.close());
    EXPECT_TRUE(progress.isVisible());

    QTest::keyClick(&progress, Qt::Key_Escape);
    EXPECT_TRUE(progress.isVisible());

    QCloseEvent event;
    QApplication::sendEvent(&progress, &event);
    EXPECT_FALSE(event.isAccepted());
    EXPECT_TRUE(progress.isVisible());
}

} // namespace
