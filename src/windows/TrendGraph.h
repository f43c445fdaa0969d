#pragma once

// One trend trace on the plot: a QCustomPlot graph that draws its points
// (already reduced to the lowest and highest of each pixel column) as one
// vertical segment per pixel column, spanning the column's values and the
// value held in from the column before, with a level line where a value holds
// over columns without points. This is what steps would show, with about half
// the segments and pixels: the cost of a repaint follows the plot's width.
//
// A NaN value is a gap: nothing is drawn from it to the next point.
// Columns are one pixel wide in the pen's colour, whatever the pen's width.
// The time axis must be the horizontal key axis (as the trend window sets it).
//
// Ownership: owned by the plot (like every QCPGraph). Thread: GUI thread.

#include <qcustomplot.h>

namespace orvane {

class TTrendGraph : public QCPGraph {
public:
    TTrendGraph(QCPAxis* keyAxis, QCPAxis* valueAxis);

protected:
    void draw(QCPPainter* painter) override;
};

} // namespace orvane
