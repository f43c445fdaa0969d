#include "windows/TrendBuffer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

using namespace orvane;

namespace {

TEST(TrendBufferTest, RingKeepsTheNewestPointsInTimeOrder) {
    TTrendBuffer buffer(4);
    for (int i = 0; i < 10; ++i) {
        buffer.Append(1000 + i * 100, i);
    }
    ASSERT_EQ(buffer.Size(), 4u);
    EXPECT_EQ(buffer.Capacity(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(buffer.At(i).value, 6.0 + static_cast<double>(i));
    }
    EXPECT_EQ(buffer.Last()->timeMs, 1900);

    // A clock set back does not break the time order.
    buffer.Append(500, 42);
    EXPECT_EQ(buffer.Last()->timeMs, 1900);
    EXPECT_EQ(buffer.Last()->value, 42);

    buffer.Clear();
    EXPECT_TRUE(buffer.Empty());
    EXPECT_FALSE(buffer.Last());
    buffer.Append(7, 1);
    EXPECT_EQ(buffer.At(0).timeMs, 7);

    TTrendBuffer tiny(0);
    tiny.Append(1, 1);
    tiny.Append(2, 2);
    EXPECT_EQ(tiny.Size(), 1u);
    EXPECT_EQ(tiny.Last()->value, 2);
}

TEST(TrendBufferTest, DefaultCapacityHoldsAnHourAtTenValuesASecond) {
    TTrendBuffer buffer;
    EXPECT_GE(buffer.Capacity(), 36000u);
    buffer.Append(0, 0);
    // A short trend does not hold the memory of a full one.
    EXPECT_LT(buffer.MemoryBytes(), 4096u);
    buffer.Clear();
    for (int i = 0; i < 36000; ++i) {
        buffer.Append(i * 100, i);
    }
    EXPECT_EQ(buffer.Size(), 36000u);
    EXPECT_EQ(buffer.At(0).value, 0);
    EXPECT_LE(buffer.MemoryBytes(), (36000 + TTrendBuffer::kGrowthPoints) * sizeof(TTrendPoint));

    // Filled past its capacity it wraps and holds no more.
    for (std::size_t i = 36000; i < buffer.Capacity() + 5; ++i) {
        buffer.Append(static_cast<std::int64_t>(i) * 100, static_cast<double>(i));
    }
    EXPECT_EQ(buffer.Size(), buffer.Capacity());
    EXPECT_EQ(buffer.At(0).value, 5);
    EXPECT_LE(buffer.MemoryBytes(), buffer.Capacity() * sizeof(TTrendPoint));
}

TEST(TrendBufferTest, ValueAtReadsTheLatestPointAtOrBeforeTheTime) {
    TTrendBuffer buffer(8);
    buffer.Append(100, 1);
    buffer.Append(200, 2);
    buffer.Append(200, 3); // two values in one millisecond: the later counts
    buffer.Append(300, 4);
    EXPECT_FALSE(buffer.ValueAt(99));
    EXPECT_EQ(buffer.ValueAt(100)->value, 1);
    EXPECT_EQ(buffer.ValueAt(199)->value, 1);
    EXPECT_EQ(buffer.ValueAt(200)->value, 3);
    EXPECT_EQ(buffer.ValueAt(10'000)->value, 4);
    EXPECT_EQ(buffer.ValueAt(std::numeric_limits<std::int64_t>::max())->value, 4);
    EXPECT_EQ(buffer.LowerBound(200), 1u);
    EXPECT_EQ(buffer.LowerBound(301), 4u);

    // After wrapping the search still sees logical order.
    for (int i = 0; i < 6; ++i) {
        buffer.Append(400 + i * 100, 10 + i);
    }
    EXPECT_EQ(buffer.At(0).timeMs, 200);
    EXPECT_EQ(buffer.ValueAt(650)->value, 12);
}

TEST(TrendBufferTest, DecimateKeepsEachColumnsExtremesInTimeOrder) {
    TTrendBuffer buffer(1000);
    // Column 0 (0..99 ms): 5, -3, 9, 1; column 1 (100..199): 2, 2.
    const double values[] = {5, -3, 9, 1};
    for (int i = 0; i < 4; ++i) {
        buffer.Append(i * 10, values[i]);
    }
    buffer.Append(150, 2);
    buffer.Append(160, 2);
    const std::vector<TTrendPoint> points = buffer.Decimate(0, 200, 2);
    ASSERT_EQ(points.size(), 3u);
    EXPECT_EQ(points[0].timeMs, 10); // the lowest came first
    EXPECT_EQ(points[0].value, -3);
    EXPECT_EQ(points[1].timeMs, 20);
    EXPECT_EQ(points[1].value, 9);
    EXPECT_EQ(points[2].timeMs, 150); // a flat column gives one point
}

TEST(TrendBufferTest, DecimateRunsToBothEdgesAndIsBoundedByTheWidth) {
    TTrendBuffer buffer(100000);
    for (int i = 0; i < 36000; ++i) {
        buffer.Append(i * 100, std::sin(i / 50.0));
    }
    const std::vector<TTrendPoint> all = buffer.Decimate(0, 3'600'000, 800);
    EXPECT_LE(all.size(), 2u * 800 + 2);
    EXPECT_GE(all.size(), 800u);
    for (std::size_t i = 1; i < all.size(); ++i) {
        ASSERT_LE(all[i - 1].timeMs, all[i].timeMs);
    }
    // A sine's extremes survive the reduction.
    double lowest = 0;
    double highest = 0;
    for (const TTrendPoint& p : all) {
        lowest = std::min(lowest, p.value);
        highest = std::max(highest, p.value);
    }
    EXPECT_LT(lowest, -0.999);
    EXPECT_GT(highest, 0.999);

    // A window in the middle holds one point either side of it.
    const std::vector<TTrendPoint> middle = buffer.Decimate(100'050, 200'050, 100);
    ASSERT_FALSE(middle.empty());
    EXPECT_EQ(middle.front().timeMs, 100'000);
    EXPECT_EQ(middle.back().timeMs, 200'100);

    // A window with no points still gives the line across it.
    TTrendBuffer sparse(4);
    sparse.Append(0, 1);
    sparse.Append(10'000, 2);
    const std::vector<TTrendPoint> gap = sparse.Decimate(4000, 6000, 50);
    ASSERT_EQ(gap.size(), 2u);
    EXPECT_EQ(gap[0].value, 1);
    EXPECT_EQ(gap[1].value, 2);

    EXPECT_TRUE(buffer.Decimate(10, 10, 100).empty());
    EXPECT_TRUE(buffer.Decimate(0, 100, 0).empty());
    EXPECT_TRUE(TTrendBuffer(4).Decimate(0, 100, 10).empty());
}

// Each column's extremes, found the slow way: the reference a reduction of a
// wrapped ring must agree with.
std::vector<TTrendPoint> referenceColumns(const TTrendBuffer& buffer, std::int64_t fromMs,
                                          std::int64_t toMs, int columns) {
    std::vector<TTrendPoint> out;
    std::vector<std::vector<std::size_t>> members(static_cast<std::size_t>(columns));
    std::size_t before = buffer.Size();
    std::size_t after = buffer.Size();
    for (std::size_t i = 0; i < buffer.Size(); ++i) {
        const std::int64_t t = buffer.At(i).timeMs;
        if (t < fromMs) {
            before = i;
        } else if (t >= toMs) {
            after = std::min(after, i);
        } else {
            const auto column =
                std::min<std::int64_t>(columns - 1, (t - fromMs) * columns / (toMs - fromMs));
            members[static_cast<std::size_t>(column)].push_back(i);
        }
    }
    if (before < buffer.Size()) {
        out.push_back(buffer.At(before));
    }
    for (const auto& column : members) {
        if (column.empty()) {
            continue;
        }
        std::size_t low = column.front();
        std::size_t high = column.front();
        for (const std::size_t i : column) {
            low = buffer.At(i).value < buffer.At(low).value ? i : low;
            high = buffer.At(i).value > buffer.At(high).value ? i : high;
        }
        out.push_back(buffer.At(std::min(low, high)));
        if (low != high) {
            out.push_back(buffer.At(std::max(low, high)));
        }
    }
    if (after < buffer.Size()) {
        out.push_back(buffer.At(after));
    }
    return out;
}

TEST(TrendBufferTest, DecimateOfAWrappedRingMatchesEachColumnsExtremes) {
    // The ring has wrapped at different places; windows start and end in
    // either part of the storage and across the wrap.
    for (const int appended : {700, 1000, 1333, 1999}) {
        TTrendBuffer buffer(1000);
        for (int i = 0; i < appended; ++i) {
            buffer.Append(i * 10, std::sin(i * 0.37) * 100 + (i % 7));
        }
        const std::int64_t first = buffer.At(0).timeMs;
        const std::int64_t last = buffer.Last()->timeMs;
        const std::pair<std::int64_t, std::int64_t> windows[] = {{first, last + 1},
                                                                 {first - 500, last + 500},
                                                                 {first + 1234, last - 2345},
                                                                 {first + 10, first + 20},
                                                                 {last - 100, last + 1}};
        for (const auto& [from, to] : windows) {
            for (const int columns : {1, 7, 300, 5000}) {
                const auto expected = referenceColumns(buffer, from, to, columns);
                const auto actual = buffer.Decimate(from, to, columns);
                ASSERT_EQ(actual.size(), expected.size())
                    << appended << " " << from << ".." << to << " in " << columns;
                for (std::size_t i = 0; i < actual.size(); ++i) {
                    ASSERT_EQ(actual[i].timeMs, expected[i].timeMs) << i;
                    ASSERT_EQ(actual[i].value, expected[i].value) << i;
                }
            }
        }
    }
}

TEST(TrendBufferTest, RangeIgnoresMissingValues) {
    TTrendBuffer buffer(10);
    EXPECT_FALSE(buffer.Range(0, 100));
    buffer.Append(0, std::numeric_limits<double>::quiet_NaN());
    EXPECT_FALSE(buffer.Range(0, 100));
    buffer.Append(10, 4);
    buffer.Append(20, -2);
    buffer.Append(30, 8);
    const auto range = buffer.Range(0, 30);
    ASSERT_TRUE(range);
    EXPECT_EQ(range->first, -2);
    EXPECT_EQ(range->second, 4);
}

} // namespace
