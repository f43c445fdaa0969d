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
                // Grow by doubling but never past the capacity.
                m_data.reserve(std::min(m_capacity, std::max<std::size_t>(64, m_data.size() * 2)));
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

const TTrendPoint& TTrendBuffer::At(std::size_t i) const {
    // A subtraction, not a modulo: this is on the path of every drawn point.
    std::size_t index = m_start + i;
    if (index >= m_data.size()) {
        index -= m_data.size();
    }
    return m_data[index];
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
    std::size_t i = begin;
    while (i < end) {
        const auto column = static_cast<int>(
            std::min<double>(columns - 1, std::floor((At(i).timeMs - fromMs) * columns / span)));
        // The first time that falls into the next column: the scan below then
        // compares times only.
        const auto nextColumnMs =
            fromMs + static_cast<std::int64_t>(std::ceil((column + 1) * span / columns));
        std::size_t lowest = i;
        std::size_t highest = i;
        std::size_t j = i + 1;
        for (; j < end; ++j) {
            const TTrendPoint& p = At(j);
            if (p.timeMs >= nextColumnMs) {
                break;
            }
            // NaN never wins a comparison, so a missing value does not spoil
            // the column's extremes.
            if (p.value < At(lowest).value || std::isnan(At(lowest).value)) {
                lowest = j;
            }
            if (p.value > At(highest).value || std::isnan(At(highest).value)) {
                highest = j;
            }
        }
        const std::size_t first = std::min(lowest, highest);
        const std::size_t second = std::max(lowest, highest);
        out.push_back(At(first));
        if (second != first) {
            out.push_back(At(second));
        }
        i = j;
    }
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
