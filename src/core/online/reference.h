#pragma once

#include "core/online/ascan_plot.h"

#include <QPointF>
#include <QString>
#include <QVector>
#include <optional>

namespace ufd::online {

// The highest echo inside gate A: its amplitude (percent of full screen height, the size of the
// excursion whatever its sign) and the sound path where it lies (mm).
struct EchoPeak {
    double amplitude = 0;
    double path = 0;
};

// The peak of `trace` (path, amplitude) between the two ends of `gate` (paths in mm), the first
// of equal peaks. Nothing when the gate is not drawn (empty) or holds no echo.
std::optional<EchoPeak> gatePeak(const QVector<QPointF>& trace, const QVector<QPointF>& gate);

// An echo to compare the live one with: the trace of an archived report or a frozen screen, on
// its own path axis in mm, and the peak in its own gate A.
struct ReferenceTrace {
    QString label; // what it is, for the readings: a report's name and date, or when it was frozen
    QVector<QPointF> trace;
    std::optional<EchoPeak> peak;
};

// The trace now on the screen, as a reference.
ReferenceTrace referenceFromFrame(const AScanFrame& frame, const QString& label);

// The points of `trace` that lie on the axis from x0 to x1 (mm). Each point keeps its path, so
// a reference taken at another range or delay lands where its echoes were, not where its display
// points were.
QVector<QPointF> pointsOnAxis(const QVector<QPointF>& trace, double x0, double x1);

// The live gate A peak against the reference's: the amplitude ratio in dB, 20 log10(live / ref),
// and the path, live minus ref (mm). Both are missing where a peak is missing.
struct PeakDifference {
    std::optional<double> dB;
    std::optional<double> path;
};
PeakDifference peakDifference(const std::optional<EchoPeak>& live,
                              const std::optional<EchoPeak>& reference);

// Texts of the readings: "80.0% at 45.20mm" for a peak, "+6.0dB" and "-1.25mm" for the
// difference (a sign on both sides of zero, "0.0dB" at zero); kNoPeakText where there is none.
extern const char* const kNoPeakText;
QString peakText(const std::optional<EchoPeak>& peak);
QString differenceDbText(const PeakDifference& d);
QString differencePathText(const PeakDifference& d);

} // namespace ufd::online
