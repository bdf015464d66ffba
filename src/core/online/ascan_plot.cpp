#include "core/online/ascan_plot.h"

#include "core/online/curves.h"

namespace ufd::online {

double displayScale(double rangeMm, bool fullScreen) {
    return rangeMm / (fullScreen ? 600 : 500);
}

double zeroOffset(double soundVel, double delayUs) {
    return soundVel / 1000.0 * delayUs / 2.0;
}

DisplayGeometry displayGeometry(const InstrumentRecord& rec) {
    DisplayGeometry g;
    g.points = rec.displayPoints();
    g.scale = displayScale(rec.mRange / 10.0, rec.fullScreen());
    g.x0 = zeroOffset(rec.SoundVel, rec.dDelay / 100.0);
    g.x1 = rec.mRange / 10.0 + g.x0;
    return g;
}

AScanFrame drawRecord(const InstrumentRecord& rec, CurveArrays& curves) {
    AScanFrame f;
    f.geometry = displayGeometry(rec);
    f.yMin = rec.ProbeRectify == 3 ? -100 : 0;
    f.yMax = 100;

    computeCurves(rec, curves);

    const CurveKind kind = curveKind(rec.CurrveType);
    f.curvesVisible = kind != CurvesNone;
    if (kind == CurvesDac) {
        f.curveTitles = {QStringLiteral("DAC1"), QStringLiteral("DAC2"), QStringLiteral("DAC3")};
    } else if (kind == CurvesAvg) {
        f.curveTitles = {QStringLiteral("AVG1"), QStringLiteral("AVG2"), QStringLiteral("AVG3")};
    }

    f.trace.reserve(2 * kDrawnPoints);
    for (auto& c : f.curves) {
        c.reserve(kDrawnPoints);
    }
    for (int i = 0; i < kDrawnPoints; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const double x = f.geometry.pathAt(i);
        // Both amplitudes of a point at the same path: one vertical stroke per point.
        f.trace.append({x, rec.trace1[k] / 4.0});
        f.trace.append({x, rec.trace2[k] / 4.0});
        for (std::size_t c = 0; c < 3; ++c) {
            f.curves[c].append({x, curves[c][k] * 0.25});
        }
    }

    const DisplayGeometry& g = f.geometry;
    if (gateADrawn(rec.GateLogic)) {
        const double a = rec.gateAStart * g.scale + g.x0;
        const double w = rec.gateAWidth * g.scale;
        f.gateA = {{a, static_cast<double>(rec.gateAHeight)},
                   {a + w, static_cast<double>(rec.gateAHeight)}};
    }
    if (gateBDrawn(rec.GateLogic)) {
        const double a = rec.gateBStart * g.scale + g.x0;
        const double w = rec.gateBWidth * g.scale;
        f.gateB = {{a, static_cast<double>(rec.gateBHeight)},
                   {a + w, static_cast<double>(rec.gateBHeight)}};
    }

    for (auto& c : curves) {
        c.fill(0);
    }
    return f;
}

} // namespace ufd::online
