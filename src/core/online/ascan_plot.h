#pragma once

#include "core/online/record.h"

#include <QPointF>
#include <QString>
#include <QVector>
#include <array>

namespace ufd::online {

// Display geometry of one record: P points across the screen, s mm per point, axis x0..x1.
struct DisplayGeometry {
    int points = 500;
    double scale = 0.5;
    double x0 = 0;
    double x1 = 250;

    double pathAt(int i) const { return i * scale + x0; }
};

// Millimetres of path per display point, and the one-way path covered during the display delay.
// The live drawing, the report decoder and the report browser all place points with these.
double displayScale(double rangeMm, bool fullScreen);
double zeroOffset(double soundVel, double delayUs);

DisplayGeometry displayGeometry(const InstrumentRecord& rec);

// Everything the A-scan plot shows for one record; the plot widget only renders it.
struct AScanFrame {
    DisplayGeometry geometry;
    double yMin = 0;
    double yMax = 100;
    QVector<QPointF> trace;                 // trace 1 and trace 2 of each point, in path order
    std::array<QVector<QPointF>, 3> curves; // curve series 1 to 3
    bool curvesVisible = false;
    std::array<QString, 3> curveTitles; // empty when the titles stay as they were
    QVector<QPointF> gateA;             // empty when not drawn
    QVector<QPointF> gateB;
};

// Computes the curves of the record's curve type into `curves` (cleared first), builds the
// frame, and clears `curves` again, ready for the next record.
AScanFrame drawRecord(const InstrumentRecord& rec, CurveArrays& curves);

// The number of display points a record draws (one more than the curve algorithms fill).
constexpr int kDrawnPoints = 502;

} // namespace ufd::online
