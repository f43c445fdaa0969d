#include "windows/OrvaneMDIForm.h"

#include <gtest/gtest.h>

#include "platform/Registry.h"

using namespace orvane;

namespace {

TRegistry openSettings() {
    TRegistry reg(HKEY_CURRENT_USER);
    reg.OpenKey(QString::fromLatin1(TInspectorInitialization::kKey), true);
    return reg;
}

TEST(InspectorInitializationTest, FirstRunWritesEveryDefault) {
    TInspectorInitialization init;
    TRegistry reg = openSettings();
    EXPECT_EQ(reg.TryReadInteger(QStringLiteral("Decimal Places")), 2);
    const int expected[] = {80, 90, 90, 90, 120, 100};
    for (int i = 0; i < TInspectorInitialization::kColumnCount; ++i) {
        EXPECT_EQ(
            reg.TryReadInteger(QString::fromLatin1(TInspectorInitialization::kWidthValueNames[i])),
            expected[i])
            << TInspectorInitialization::kWidthValueNames[i];
    }
}

TEST(InspectorInitializationTest, StoredValuesWinAndBadOnesFallBack) {
    {
        TRegistry reg = openSettings();
        reg.WriteInteger(QStringLiteral("Column Width: Value"), 333);
        reg.WriteString(QStringLiteral("Decimal Places"), QStringLiteral("many"));
    }
    TInspectorInitialization init;
    int widths[TInspectorInitialization::kColumnCount];
    init.GetColumnWidths(widths);
    EXPECT_EQ(widths[4], 333);
    EXPECT_EQ(init.DecimalPlaces(), 2);
    EXPECT_EQ(openSettings().TryReadInteger(QStringLiteral("Decimal Places")), 2);
}

TEST(InspectorInitializationTest, NewWidthsWriteDecimalPlacesToo) {
    TInspectorInitialization init;
    init.SetDecimalPlaces(4);
    openSettings().DeleteValue(QStringLiteral("Decimal Places"));
    const int widths[] = {1, 2, 3, 4, 5, 6};
    init.SetColumnWidths(widths);
    TRegistry reg = openSettings();
    EXPECT_EQ(reg.TryReadInteger(QStringLiteral("Decimal Places")), 4);
    EXPECT_EQ(reg.TryReadInteger(QStringLiteral("Column Width: Description")), 6);
    TInspectorInitialization again;
    EXPECT_EQ(again.DecimalPlaces(), 4);
}

} // namespace
