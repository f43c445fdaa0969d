#pragma once

// The points of one trend trace: a fixed-capacity ring of (time, value) pairs
// and the reduction of a time range to pixel columns for drawing.
//
// Memory is bounded: a trace holds at most Capacity() points (kDefaultCapacity
// is two hours at ten values a second, 16 bytes a point, at most about 1.1 MiB);
// the storage grows with the trace, with at most kGrowthPoints of room unused.
// When it is full the oldest point is overwritten. Times are kept non-decreasing so
// that a time range is found by binary search.
//
// Thread: not synchronised; the owner (the trend window, GUI thread) is the only
// user. Nothing here throws except std::bad_alloc on construction.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace orvane {

struct TTrendPoint {
    std::int64_t timeMs; // wall-clock time, milliseconds since the epoch (UTC)
    double value;
};

class TTrendBuffer {
public:
    // Two hours at ten values a second.
    static constexpr std::size_t kDefaultCapacity = 2 * 3600 * 10;
    // The storage's first size, and the most it grows by at once.
    static constexpr std::size_t kInitialPoints = 64;
    static constexpr std::size_t kGrowthPoints = 4096;

    // A capacity of 0 is taken as 1: a trace always keeps its latest value.
    explicit TTrendBuffer(std::size_t capacity = kDefaultCapacity);

    // Adds a point. A time earlier than the latest point (the wall clock set
    // back) is taken as the latest time, so the trace stays in time order.
    void Append(std::int64_t timeMs, double value);
    void Clear();

    std::size_t Size() const { return m_size; }
    std::size_t Capacity() const { return m_capacity; }
    // The bytes the points take (the storage grows with the trace).
    std::size_t MemoryBytes() const { return m_data.capacity() * sizeof(TTrendPoint); }
    bool Empty() const { return m_size == 0; }
    // The i-th point, 0 the oldest held. Precondition: i < Size().
    const TTrendPoint& At(std::size_t i) const;
    std::optional<TTrendPoint> Last() const;

    // The index of the first point whose time is at or after timeMs (Size()
    // when there is none).
    std::size_t LowerBound(std::int64_t timeMs) const;
    // The value shown at a time: the latest point at or before it, or nothing
    // before the first point.
    std::optional<TTrendPoint> ValueAt(std::int64_t timeMs) const;

    // The points to draw for [fromMs, toMs) on `columns` pixel columns: in every
    // column that holds points, its lowest and highest (in their time order),
    // plus the last point before the range and the first after it so that the
    // line runs to both edges. At most 2 * columns + 2 points, whatever the
    // number of points held, so drawing cost follows the plot's width.
    std::vector<TTrendPoint> Decimate(std::int64_t fromMs, std::int64_t toMs, int columns) const;

    // The lowest and highest value in [fromMs, toMs), for scaling an axis.
    std::optional<std::pair<double, double>> Range(std::int64_t fromMs, std::int64_t toMs) const;

private:
    std::size_t Physical(std::size_t i) const;

    std::size_t m_capacity;
    std::vector<TTrendPoint> m_data;
    std::size_t m_start = 0; // physical index of the oldest point
    std::size_t m_size = 0;
};

} // namespace orvane
