#include "windows/TrendGraph.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace orvane {

namespace {

// Pixel positions this far outside the plot are held at its edge: the
// painter's fixed-point coordinates overflow long before a zoomed-in hour
// does.
constexpr int kEdgeSlack = 2;

} // namespace

TTrendGraph::TTrendGraph(QCPAxis* keyAxis, QCPAxis* valueAxis) : QCPGraph(keyAxis, valueAxis) {
    setSelectable(QCP::stNone);
    setLineStyle(QCPGraph::lsStepLeft); // the legend icon and what steps would show
}

void TTrendGraph::draw(QCPPainter* painter) {
    QCPAxis* keyAxis = mKeyAxis.data();
    QCPAxis* valueAxis = mValueAxis.data();
    if (keyAxis == nullptr || valueAxis == nullptr || mDataContainer->isEmpty() ||
        mPen.style() == Qt::NoPen) {
        return;
    }
    const QRect area = keyAxis->axisRect()->rect();
    // A plot drawn before its first layout has an axis rect of no (or a
    // negative) size: there is nowhere to draw, and sizes taken from it would
    // be nonsense.
    if (area.width() <= 0 || area.height() <= 0) {
        return;
    }
    const int left = area.left() - kEdgeSlack;
    const int right = area.right() + kEdgeSlack;
    const int top = area.top() - kEdgeSlack;
    const int bottom = area.bottom() + kEdgeSlack;
    auto pixelX = [&](double key) {
        const double x = keyAxis->coordToPixel(key);
        return static_cast<int>(std::clamp(std::floor(x), double(left), double(right)));
    };
    auto pixelY = [&](double value) {
        const double y = valueAxis->coordToPixel(value);
        return static_cast<int>(std::clamp(std::round(y), double(top), double(bottom)));
    };

    // Columns are filled as 1-pixel rectangles, which the raster engine fills
    // faster than it strokes vertical lines; levels are lines.
    std::vector<QRect> columns;
    std::vector<QLine> levels;
    columns.reserve(static_cast<std::size_t>(area.width()) + 8);
    bool open = false; // a column is being gathered and connected to what follows
    int columnX = 0;
    int low = 0;
    int high = 0;
    int held = 0; // the pixel row of the column's last value
    auto closeColumn = [&] {
        if (open) {
            columns.emplace_back(columnX, low, 1, high - low + 1);
        }
    };
    for (auto it = mDataContainer->constBegin(); it != mDataContainer->constEnd(); ++it) {
        const int x = pixelX(it->key);
        if (std::isnan(it->value)) {
            // The last value holds up to the gap.
            closeColumn();
            if (open && x > columnX + 1) {
                levels.emplace_back(columnX + 1, held, x - 1, held);
            }
            open = false;
            continue;
        }
        const int y = pixelY(it->value);
        if (open && x == columnX) {
            low = std::min(low, y);
            high = std::max(high, y);
            held = y;
            continue;
        }
        closeColumn();
        if (open) {
            // The value holds from its column to this one, then steps.
            if (x > columnX + 1) {
                levels.emplace_back(columnX + 1, held, x, held);
            }
            low = std::min(held, y);
            high = std::max(held, y);
        } else {
            low = y;
            high = y;
        }
        open = true;
        columnX = x;
        held = y;
    }
    closeColumn();

    applyDefaultAntialiasingHint(painter);
    const QColor colour = mPen.color();
    for (const QRect& column : columns) {
        painter->fillRect(column, colour);
    }
    painter->setPen(mPen);
    painter->setBrush(Qt::NoBrush);
    painter->drawLines(levels.data(), static_cast<int>(levels.size()));
}

} // namespace orvane
