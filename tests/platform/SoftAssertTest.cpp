#include "platform/SoftAssert.h"

#include "SoftAssertGuard.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace {

int checkedHalf(int value) {
    ORVANE_ASSERT(value % 2 == 0, return -1);
    return value / 2;
}

} // namespace

TEST(SoftAssert, HoldsSilentlyAndABrokenOneRecoversWithFileAndLineLogged) {
    orvane::test::ExpectSoftAsserts expected;
    EXPECT_EQ(checkedHalf(8), 4);
    EXPECT_EQ(expected.count(), 0);

    EXPECT_EQ(checkedHalf(7), -1);
    ASSERT_EQ(expected.count(), 1);
    EXPECT_TRUE(expected.lines()[0].contains(QStringLiteral("\"value % 2 == 0\"")));
    EXPECT_TRUE(expected.lines()[0].contains(QStringLiteral("SoftAssertTest.cpp:")));
}

TEST(SoftAssert, AnUnexpectedOneFailsTheRunningTest) {
    EXPECT_NONFATAL_FAILURE(checkedHalf(3), "SOFT ASSERT");
}

TEST(SoftAssert, ActionMayLeaveALoop) {
    orvane::test::ExpectSoftAsserts expected;
    int visited = 0;
    for (int i = 0; i < 5; ++i) {
        ORVANE_ASSERT(i != 2, continue);
        ++visited;
    }
    EXPECT_EQ(visited, 4);
    EXPECT_EQ(expected.count(), 1);
}
