// Trend set files: what is written reads back the same, hand-written files
// in the forgiving forms are read, and every malformed file is refused as a
// whole with the line at fault.

#include "windows/TrendSet.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "QtPrinters.h"

namespace orvane {
namespace {

TTrendSet sampleSet() {
    TTrendSet set;
    set.perTraceScale = true;
    set.timeWindowMs = 3600000;
    set.variables = {{QStringLiteral("BOILER_1"), QStringLiteral("SERVICE: BURNER.FIRING RATE")},
                     {QStringLiteral("BOILER_1"), QStringLiteral("Service: Burner.Température")},
                     {QStringLiteral("PUMP_2"), QStringLiteral("Speed")}};
    return set;
}

TEST(TrendSetFile, WhatIsWrittenReadsBackTheSame) {
    const TTrendSet set = sampleSet();
    const QByteArray bytes = FormatTrendSet(set);
    EXPECT_TRUE(bytes.startsWith("Orvane Trend Set 1\r\n"));
    EXPECT_TRUE(bytes.contains("Scale\tPer Trace\r\n"));
    EXPECT_TRUE(bytes.contains("Time Window\t3600\r\n"));
    // Windows-1252, one byte for the accent.
    EXPECT_TRUE(bytes.contains("Variable\tBOILER_1\tService: Burner.Temp\xe9rature\r\n"));
    const TTrendSetReadResult read = ParseTrendSet(bytes);
    ASSERT_TRUE(read.ok) << read.Message().toStdString();
    EXPECT_EQ(read.set, set);

    for (std::int64_t window : TTrendSet::kTimeWindowsMs) {
        TTrendSet other = set;
        other.perTraceScale = false;
        other.timeWindowMs = window;
        const TTrendSetReadResult again = ParseTrendSet(FormatTrendSet(other));
        ASSERT_TRUE(again.ok) << window;
        EXPECT_EQ(again.set, other) << window;
    }
}

TEST(TrendSetFile, FilesAreWrittenWholeAndReadBack) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("boiler.ovt"));
    QString error;
    ASSERT_TRUE(WriteTrendSetFile(path, sampleSet(), &error)) << error.toStdString();
    const TTrendSetReadResult read = ReadTrendSetFile(path);
    ASSERT_TRUE(read.ok) << read.Message().toStdString();
    EXPECT_EQ(read.set, sampleSet());

    // A folder that is not there: refused with a reason, nothing left behind.
    const QString nowhere = dir.filePath(QStringLiteral("missing/boiler.ovt"));
    EXPECT_FALSE(WriteTrendSetFile(nowhere, sampleSet(), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(QFile::exists(nowhere));

    const TTrendSetReadResult absent = ReadTrendSetFile(dir.filePath(QStringLiteral("no.ovt")));
    EXPECT_FALSE(absent.ok);
    EXPECT_EQ(absent.line, 0);
}

TEST(TrendSetFile, HandWrittenFormsAreRead) {
    // LF alone, keywords in any case, blank lines, scale and window missing.
    const TTrendSetReadResult read = ParseTrendSet("Orvane Trend Set 1\n"
                                                   "\n"
                                                   "variable\tBOILER_1\tService: Drum.Level\n"
                                                   "  \n"
                                                   "VARIABLE\t PUMP_2 \tSpeed\n");
    ASSERT_TRUE(read.ok) << read.Message().toStdString();
    EXPECT_FALSE(read.set.perTraceScale);
    EXPECT_EQ(read.set.timeWindowMs, TTrendSet::kDefaultTimeWindowMs);
    ASSERT_EQ(read.set.variables.size(), 2u);
    EXPECT_EQ(read.set.variables[1].control, QStringLiteral("PUMP_2"));

    const TTrendSetReadResult all = ParseTrendSet("Orvane Trend Set 1\r\n"
                                                  "Time Window\tall\r\n"
                                                  "Scale\tper trace\r\n"
                                                  "Variable\tC\tX\r\n");
    ASSERT_TRUE(all.ok);
    EXPECT_EQ(all.set.timeWindowMs, 0);
    EXPECT_TRUE(all.set.perTraceScale);
}

TEST(TrendSetFile, MalformedFilesAreRefusedWithTheLineAtFault) {
    struct Case {
        const char* bytes;
        int line;
        const char* says;
    } cases[] = {
        {"", 1, "not a trend set"},
        {"Window Settings\r\n80\r\n", 1, "not a trend set"},
        {"Orvane Trend Set 2\r\nVariable\tC\tX\r\n", 1, "not a trend set"},
        {"Orvane Trend Set 1\r\nScale\tShared\r\nColour\tred\r\n", 3, "unknown keyword \"Colour\""},
        {"Orvane Trend Set 1\r\nVariable\tBOILER_1\r\n", 2, "control and an item name"},
        {"Orvane Trend Set 1\r\nVariable\t\tX\r\n", 2, "control and an item name"},
        {"Orvane Trend Set 1\r\nVariable\tC\t\r\n", 2, "control and an item name"},
        {"Orvane Trend Set 1\r\nVariable\tC\tX\tY\r\n", 2, "control and an item name"},
        {"Orvane Trend Set 1\r\nScale\tLog\r\nVariable\tC\tX\r\n", 2, "scale must be"},
        {"Orvane Trend Set 1\r\nScale\tShared\r\nScale\tShared\r\n", 3, "given twice"},
        {"Orvane Trend Set 1\r\nTime Window\t300\r\n", 2, "60, 600, 3600, All"},
        {"Orvane Trend Set 1\r\nTime Window\t-60\r\n", 2, "time window must be"},
        {"Orvane Trend Set 1\r\nTime Window\t60\r\nTime Window\t60\r\n", 3, "given twice"},
        {"Orvane Trend Set 1\r\nScale\tShared\r\n", 0, "holds no variables"},
    };
    for (const Case& c : cases) {
        const TTrendSetReadResult read = ParseTrendSet(QByteArray(c.bytes));
        EXPECT_FALSE(read.ok) << c.bytes;
        EXPECT_EQ(read.line, c.line) << c.bytes;
        EXPECT_TRUE(read.error.contains(QString::fromLatin1(c.says))) << read.error.toStdString();
        if (c.line > 0) {
            EXPECT_TRUE(read.Message().startsWith(QStringLiteral("Line %1: ").arg(c.line)));
        }
    }
}

TEST(TrendSetFile, FieldsThatWouldBreakTheLayoutAreNotWritten) {
    TTrendSet set;
    set.timeWindowMs = 123456; // not one a trend offers
    set.variables = {{QStringLiteral("C\t1"), QStringLiteral("A\r\nB")}};
    const TTrendSetReadResult read = ParseTrendSet(FormatTrendSet(set));
    ASSERT_TRUE(read.ok) << read.Message().toStdString();
    EXPECT_EQ(read.set.timeWindowMs, TTrendSet::kDefaultTimeWindowMs);
    ASSERT_EQ(read.set.variables.size(), 1u);
    EXPECT_EQ(read.set.variables[0].control, QStringLiteral("C 1"));
    EXPECT_EQ(read.set.variables[0].itemName, QStringLiteral("A  B"));
}

} // namespace
} // namespace orvane
