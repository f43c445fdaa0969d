#include "windows/TrendBuffer.h"

#include <algorithm>
#include <cmath>

namespace orvane {

TTrendBuffer::TTrendBuffer(std::size_t capacity) : m_capacity(std::max<std::size_t>(capacity, 1)) {}

void TTrendBuffer::Append(std::int64_t timeMs, double value) {
    if (m_size > 0) {
        timeMs = std::max(timeMs, At(m_size - 1).timeMs);
    }
    // The storage grows with the trace up to the capacity (a short trend holds
    // little), then the oldest point makes room.
    if (m_size < m_capacity) {
        if (m_data.size() < m_capacity) {
            if (m_data.size() == m_data.capacity()) {
                // Doubling while small, then a step at a time: a long trace
                // holds at most one step of unused room, never past the capacity.
                const std::size_t step =
                    std::clamp<std::size_t>(m_data.size(), kInitialPoints, kGrowthPoints);
                m_data.reserve(std::min(m_capacity, m_data.size() + step));
            }
            m_data.push_back(TTrendPoint{timeMs, value});
        } else {
            m_data[(m_start + m_size) % m_capacity] = TTrendPoint{timeMs, value};
        }
        ++m_size;
    } else {
        m_data[m_start] = TTrendPoint{timeMs, value};
        m_start = (m_start + 1) % m_capacity;
    }
}

void TTrendBuffer::Clear() {
    m_data.clear();
    m_start = 0;
    m_size = 0;
}

std::size_t TTrendBuffer::Physical(std::size_t i) const {
    // A subtraction, not a modulo: the binary searches come here often.
    std::size_t index = m_start + i;
    if (index >= m_data.size()) {
        index -= m_data.size();
    }
    return index;
}

const TTrendPoint& TTrendBuffer::At(std::size_t i) const {
    return m_data[Physical(i)];
}

std::optional<TTrendPoint> TTrendBuffer::Last() const {
    if (m_size == 0) {
        return std::nullopt;
    }
    return At(m_size - 1);
}

std::size_t TTrendBuffer::LowerBound(std::int64_t timeMs) const {
    std::size_t low = 0;
    std::size_t high = m_size;
    while (low < high) {
        const std::size_t mid = low + (high - low) / 2;
        if (At(mid).timeMs < timeMs) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    return low;
}

std::optional<TTrendPoint> TTrendBuffer::ValueAt(std::int64_t timeMs) const {
    // The first point after the time, then one back.
    const std::size_t after = timeMs == INT64_MAX ? m_size : LowerBound(timeMs + 1);
    if (after == 0) {
        return std::nullopt;
    }
    return At(after - 1);
}

std::vector<TTrendPoint> TTrendBuffer::Decimate(std::int64_t fromMs, std::int64_t toMs,
                                                int columns) const {
    std::vector<TTrendPoint> out;
    if (m_size == 0 || toMs <= fromMs || columns <= 0) {
        return out;
    }
    const std::size_t begin = LowerBound(fromMs);
    const std::size_t end = LowerBound(toMs);
    out.reserve(static_cast<std::size_t>(columns) * 2 + 2);
    if (begin > 0) {
        out.push_back(At(begin - 1));
    }
    const double span = static_cast<double>(toMs - fromMs);
    // The column being gathered: its lowest and highest point and which came
    // first. A new column starts at the first time at or after nextColumnMs,
    // so the scan compares times only.
    std::int64_t nextColumnMs = fromMs;
    bool gathering = false;
    const TTrendPoint* lowest = nullptr;
    const TTrendPoint* highest = nullptr;
    bool lowestFirst = true;
    auto flush = [&] {
        if (!gathering) {
            return;
        }
        out.push_back(lowestFirst ? *lowest : *highest);
        if (lowest != highest) {
            out.push_back(lowestFirst ? *highest : *lowest);
        }
    };
    // The held points lie in at most two runs of the storage (before and
    // after the ring's wrap); each is walked by pointer, this being the path
    // of every point drawn.
    auto walk = [&](const TTrendPoint* p, const TTrendPoint* last) {
        for (; p != last; ++p) {
            if (!gathering || p->timeMs >= nextColumnMs) {
                flush();
                const auto column = static_cast<int>(std::min<double>(
                    columns - 1, std::floor((p->timeMs - fromMs) * columns / span)));
                nextColumnMs =
                    fromMs + static_cast<std::int64_t>(std::ceil((column + 1) * span / columns));
                lowest = p;
                highest = p;
                lowestFirst = true;
                gathering = true;
                continue;
            }
            // NaN never wins a comparison, so a missing value does not spoil
            // the column's extremes.
            if (p->value < lowest->value || std::isnan(lowest->value)) {
                lowest = p;
                lowestFirst = false;
            }
            if (p->value > highest->value || std::isnan(highest->value)) {
                highest = p;
                lowestFirst = true;
            }
        }
    };
    const std::size_t physicalBegin = Physical(begin);
    const std::size_t count = end - begin;
    const std::size_t firstRun = std::min(count, m_data.size() - physicalBegin);
    walk(m_data.data() + physicalBegin, m_data.data() + physicalBegin + firstRun);
    walk(m_data.data(), m_data.data() + (count - firstRun));
    flush();
    if (end < m_size) {
        out.push_back(At(end));
    }
    return out;
}

std::optional<std::pair<double, double>> TTrendBuffer::Range(std::int64_t fromMs,
                                                             std::int64_t toMs) const {
    std::optional<std::pair<double, double>> range;
    for (std::size_t i = LowerBound(fromMs), end = LowerBound(toMs); i < end; ++i) {
        const double v = At(i).value;
        if (std::isnan(v)) {
            continue;
        }
        if (!range) {
            range.emplace(v, v);
        } else {
            range->first = std::min(range->first, v);
            range->second = std::max(range->second, v);
        }
    }
    return range;
}

} // namespace orvane
