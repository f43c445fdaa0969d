#include "inspector/VariableName.h"

#include <gtest/gtest.h>

using orvane::TVariableName;

namespace {

struct SplitCase {
    const char* fullName;
    TVariableName::Kind kind;
    const char* category;
    const char* block;
    const char* field;
};

void PrintTo(const SplitCase& c, std::ostream* os) {
    *os << '\'' << c.fullName << '\'';
}

class SplitName : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitName, GivesKindAndParts) {
    const SplitCase& c = GetParam();
    TVariableName name;
    name.SetFullName(QString::fromUtf8(c.fullName));
    EXPECT_EQ(name.FullName(), QString::fromUtf8(c.fullName));
    EXPECT_EQ(name.NameKind(), c.kind);
    EXPECT_EQ(name.Category(), QString::fromUtf8(c.category));
    EXPECT_EQ(name.Block(), QString::fromUtf8(c.block));
    EXPECT_EQ(name.Field(), QString::fromUtf8(c.field));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, SplitName,
    testing::Values(
        SplitCase{"Gain", TVariableName::KindOther, "", "", "Gain"},
        SplitCase{"Speed.Gain", TVariableName::KindOther, "", "Speed", "Gain"},
        SplitCase{"Service: Speed.Gain", TVariableName::KindService, "<<Service>>", "Speed",
                  "Gain"},
        SplitCase{"Configure: Speed Control.Gain", TVariableName::KindConfigure, "<<Configure>>",
                  "Speed Control", "Gain"},
        // The prefixes are matched with their letter case: the device's
        // upper-cased name has no service header.
        SplitCase{"SERVICE: SPEED.GAIN", TVariableName::KindOther, "", "SERVICE: SPEED", "GAIN"},
        SplitCase{"Tables.Curve 1.X.3", TVariableName::KindOther, "Tables.Curve 1", "X", "3"},
        SplitCase{"A.B.C.D", TVariableName::KindOther, "A.B", "C", "D"},
        // A prefix only counts when there is no second dot.
        SplitCase{"Service: A.B.C", TVariableName::KindOther, "Service: A", "B", "C"},
        SplitCase{"Service:Speed.Gain", TVariableName::KindOther, "", "Service:Speed", "Gain"},
        SplitCase{"Service: .Gain", TVariableName::KindService, "<<Service>>", "", "Gain"},
        SplitCase{"", TVariableName::KindOther, "", "", ""},
        SplitCase{".", TVariableName::KindOther, "", "", ""},
        SplitCase{"Engine..Rpm", TVariableName::KindOther, "Engine", "", "Rpm"},
        SplitCase{"Block.", TVariableName::KindOther, "", "Block", ""}));

struct BuildCase {
    const char* category;
    const char* block;
    const char* field;
    const char* fullName;
};

void PrintTo(const BuildCase& c, std::ostream* os) {
    *os << '\'' << c.fullName << '\'';
}

class BuildName : public testing::TestWithParam<BuildCase> {};

TEST_P(BuildName, FollowsTheNamingTable) {
    const BuildCase& c = GetParam();
    TVariableName name;
    name.BuildName(QString::fromUtf8(c.category), QString::fromUtf8(c.block),
                   QString::fromUtf8(c.field));
    EXPECT_EQ(name.FullName(), QString::fromUtf8(c.fullName));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, BuildName,
    testing::Values(BuildCase{"<<Service>>", "Speed", "Gain", "Service: Speed.Gain"},
                    BuildCase{"<<Configure>>", "Speed Control", "Gain",
                              "Configure: Speed Control.Gain"},
                    BuildCase{"<<no category>>", "Engine", "Rpm", "Engine.Rpm"},
                    BuildCase{"<<no category>>", "<<no block>>", "Gain", "Gain"},
                    BuildCase{"Tables", "<<no block>>", "Gain", "Tables.Gain"},
                    BuildCase{"Tables", "Curve 1", "X", "Tables.Curve 1.X"},
                    // The service header keeps even a block given as the marker.
                    BuildCase{"<<Service>>", "<<no block>>", "Gain", "Service: <<no block>>.Gain"},
                    // Markers are matched exactly.
                    BuildCase{"<<service>>", "Speed", "Gain", "<<service>>.Speed.Gain"},
                    BuildCase{"<<No Category>>", "B", "F", "<<No Category>>.B.F"}));

TEST(VariableName, BuiltNamesSplitBackIntoTheirParts) {
    TVariableName name;
    name.BuildName(TVariableName::NoCategoryMarker, QStringLiteral("Engine"),
                   QStringLiteral("Rpm"));
    EXPECT_EQ(name.Category(), QString());
    EXPECT_EQ(name.Block(), QStringLiteral("Engine"));
    EXPECT_EQ(name.Field(), QStringLiteral("Rpm"));

    name.BuildName(TVariableName::ServiceMarker, QStringLiteral("Speed"), QStringLiteral("Gain"));
    EXPECT_EQ(name.NameKind(), TVariableName::KindService);
    EXPECT_EQ(name.Category(), TVariableName::ServiceMarker);
    EXPECT_EQ(name.Block(), QStringLiteral("Speed"));

    // A later name replaces every part of the earlier one.
    name.SetFullName(QStringLiteral("Gain"));
    EXPECT_EQ(name.NameKind(), TVariableName::KindOther);
    EXPECT_TRUE(name.Category().isEmpty());
    EXPECT_TRUE(name.Block().isEmpty());
}

TEST(VariableName, LongNamesAreSplitWhole) {
    const QString category(300, QLatin1Char('c'));
    const QString block(200, QLatin1Char('b'));
    const QString field(400, QLatin1Char('f'));
    TVariableName name;
    name.BuildName(category, block, field);
    EXPECT_EQ(name.FullName().size(), 902);
    EXPECT_EQ(name.Category(), category);
    EXPECT_EQ(name.Block(), block);
    EXPECT_EQ(name.Field(), field);

    name.SetFullName(TVariableName::ConfigurePrefix + block + QLatin1Char('.') + field);
    EXPECT_EQ(name.NameKind(), TVariableName::KindConfigure);
    EXPECT_EQ(name.Block(), block);
    EXPECT_EQ(name.Field(), field);
}

} // namespace
