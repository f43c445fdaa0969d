#include "windows/TrendRecorder.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace orvane;

namespace {

// 2026-12-08T22:10:00.000Z
constexpr std::int64_t kT0 = 1796767800000;

QStringList readLines(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
}

TEST(TrendRecorderTest, RowsHoldTheLatestValuesWithIncreasingUtcTimes) {
    QTemporaryDir dir;
    const QString fileName = dir.filePath(QStringLiteral("trend.csv"));
    TTrendRecorder recorder;
    ASSERT_TRUE(recorder.Start(
        fileName, {QStringLiteral("Flue O2"), QStringLiteral("Service: Loop, Set Point")}, kT0));
    EXPECT_TRUE(recorder.IsRecording());

    recorder.SetValue(0, QStringLiteral("3.5"));
    EXPECT_TRUE(recorder.Tick(kT0 + 123));
    recorder.Tick(kT0 + 223); // nothing changed: no row
    recorder.SetValue(1, QStringLiteral("20"));
    recorder.SetValue(0, QStringLiteral("3.6"));
    recorder.Tick(kT0 + 323);
    recorder.SetValue(0, QStringLiteral("3.7"));
    recorder.Tick(kT0 + 323); // same millisecond: waits
    recorder.SetValue(7, QStringLiteral("ignored"));
    recorder.SetValue(-1, QStringLiteral("ignored"));
    ASSERT_TRUE(recorder.Stop(kT0 + 400)); // the pending value is written
    EXPECT_FALSE(recorder.IsRecording());
    EXPECT_EQ(recorder.Rows(), 3);

    EXPECT_EQ(readLines(fileName),
              (QStringList{QStringLiteral("time,Flue O2,\"Service: Loop, Set Point\""),
                           QStringLiteral("2026-12-08T22:10:00.123Z,3.5,"),
                           QStringLiteral("2026-12-08T22:10:00.323Z,3.6,20"),
                           QStringLiteral("2026-12-08T22:10:00.400Z,3.7,20"), QString()}));
}

TEST(TrendRecorderTest, FlushesWithinASecondSoACrashLosesLittle) {
    QTemporaryDir dir;
    const QString fileName = dir.filePath(QStringLiteral("trend.csv"));
    TTrendRecorder recorder;
    ASSERT_TRUE(recorder.Start(fileName, {QStringLiteral("A")}, kT0));
    // The header is on disk as soon as the recording starts.
    EXPECT_EQ(readLines(fileName).value(0), QStringLiteral("time,A"));

    recorder.SetValue(0, QStringLiteral("1"));
    recorder.Tick(kT0 + 100);
    std::int64_t now = kT0 + 100;
    for (int i = 0; i < 10; ++i) {
        now += TTrendRecorder::kRowIntervalMs;
        recorder.SetValue(0, QString::number(i));
        recorder.Tick(now);
    }
    // Read while still recording: every row up to the last flush is there.
    const QStringList lines = readLines(fileName);
    EXPECT_GE(lines.size(), 10);
    EXPECT_TRUE(lines.at(lines.size() - 2).startsWith(QStringLiteral("2026-12-08T22:10:01")))
        << lines.join(QLatin1Char('|')).toStdString();
    recorder.Stop(now + 1);
}

TEST(TrendRecorderTest, FailuresAreReportedAndStopTheRecording) {
    TTrendRecorder recorder;
    EXPECT_FALSE(recorder.Start(QStringLiteral("/nonexistent-folder/trend.csv"),
                                {QStringLiteral("A")}, kT0));
    EXPECT_FALSE(recorder.IsRecording());
    EXPECT_FALSE(recorder.ErrorString().isEmpty());

    // A full disk: the header cannot be flushed.
    if (QFile::exists(QStringLiteral("/dev/full"))) {
        EXPECT_FALSE(recorder.Start(QStringLiteral("/dev/full"), {QStringLiteral("A")}, kT0));
        EXPECT_FALSE(recorder.IsRecording());
        EXPECT_FALSE(recorder.ErrorString().isEmpty());
    }

    // Ticks and values without a recording do nothing and succeed.
    recorder.SetValue(0, QStringLiteral("1"));
    EXPECT_TRUE(recorder.Tick(kT0));
    EXPECT_TRUE(recorder.Stop(kT0));
}

TEST(TrendRecorderTest, RestartingEmptiesTheFileAndKeepsTheFirstComplete) {
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("a.csv"));
    const QString second = dir.filePath(QStringLiteral("b.csv"));
    TTrendRecorder recorder;
    ASSERT_TRUE(recorder.Start(first, {QStringLiteral("A")}, kT0));
    recorder.SetValue(0, QStringLiteral("1"));
    // Starting another recording ends the first with its pending row.
    ASSERT_TRUE(recorder.Start(second, {QStringLiteral("B")}, kT0 + 50));
    EXPECT_EQ(readLines(first).value(1), QStringLiteral("2026-12-08T22:10:00.050Z,1"));
    recorder.Stop(kT0 + 60);
    EXPECT_EQ(readLines(second), (QStringList{QStringLiteral("time,B"), QString()}));
    ASSERT_TRUE(recorder.Start(first, {QStringLiteral("A")}, kT0 + 70));
    recorder.Stop(kT0 + 80);
    EXPECT_EQ(readLines(first), (QStringList{QStringLiteral("time,A"), QString()}));
}

} // namespace
