#include "windows/TrendValue.h"

#include <gtest/gtest.h>

using namespace orvane;

namespace {

TEST(TrendValueTest, NumbersOfEveryPlottableType) {
    struct Case {
        ItemDataType type;
        const char* text;
        double expected;
    };
    const Case cases[] = {
        {vdtReal, "3.25", 3.25},           {vdtReal, " -0,5 ", -0.5},      {vdtInteger, "-12", -12},
        {vdtBoolean, "True", 1},           {vdtBoolean, "false", 0},       {vdtBoolean, "1", 1},
        {vdtTimer, "01:02:03.50", 3723.5}, {vdtTime, "00:00:07,25", 7.25},
    };
    for (const Case& c : cases) {
        const auto value = TrendNumber(c.type, QString::fromLatin1(c.text));
        ASSERT_TRUE(value) << c.text;
        EXPECT_DOUBLE_EQ(*value, c.expected) << c.text;
    }
}

TEST(TrendValueTest, StringsAndUnreadableTextsGiveNoValue) {
    EXPECT_FALSE(IsTrendable(vdtString));
    EXPECT_FALSE(IsTrendable(vdtUnassigned));
    EXPECT_TRUE(IsTrendable(vdtTimer));
    EXPECT_FALSE(TrendNumber(vdtString, QStringLiteral("12")));
    EXPECT_FALSE(TrendNumber(vdtReal, QString()));
    EXPECT_FALSE(TrendNumber(vdtReal, QStringLiteral("12abc")));
    EXPECT_FALSE(TrendNumber(vdtReal, QStringLiteral("inf")));
    EXPECT_FALSE(TrendNumber(vdtReal, QStringLiteral("nan")));
    EXPECT_FALSE(TrendNumber(vdtBoolean, QStringLiteral("maybe")));
    EXPECT_FALSE(TrendNumber(vdtTimer, QStringLiteral("00:75:00")));
}

} // namespace
