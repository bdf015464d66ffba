#pragma once

#include "core/online/ascan_plot.h"

#include <QChartView>

class QLineSeries;
class QValueAxis;

namespace ufd::online {

// The A-scan plot: "Waveform", path against amplitude, fixed limits, no zoom, six series.
// It renders frames the core computed; it computes nothing itself.
class AScanChart : public QChartView {
public:
    // `traceTitle` is "Echo signal" in the online window, "Echo Signal" in the replay window.
    explicit AScanChart(const QString& traceTitle, QWidget* parent = nullptr);

    // Limits before the first record: 0 to 250 mm and 0 to 400.
    void setInitialLimits();
    void render(const AScanFrame& frame);

    // An echo to compare with, drawn under the trace in a light colour: points in mm of the
    // current axis (pointsOnAxis). Empty hides it.
    void setReference(const QVector<QPointF>& points);
    QLineSeries* referenceSeries() const { return reference_; }

    QLineSeries* traceSeries() const { return trace_; }
    QLineSeries* curveSeries(int i) const { return curves_[static_cast<std::size_t>(i)]; }
    QLineSeries* gateASeries() const { return gateA_; }
    QLineSeries* gateBSeries() const { return gateB_; }
    QValueAxis* xAxis() const { return xAxis_; }
    QValueAxis* yAxis() const { return yAxis_; }

    // The report browser titles its gates "Gate A" and "Gate B" and draws them thinner.
    void setGateStyle(const QString& titleA, const QString& titleB, qreal width);

    // A trace that stopped being live is drawn grey, with `note` (when it was last live) beside
    // the title, until it is live again.
    void setLive(bool live, const QString& note = QString());
    bool isLive() const { return live_; }

    // Sets the horizontal limits in the order that lets a new maximum lie below the old minimum.
    void setPathRange(double x0, double x1);

private:
    QLineSeries* reference_ = nullptr;
    QLineSeries* trace_ = nullptr;
    std::array<QLineSeries*, 3> curves_{};
    QLineSeries* gateA_ = nullptr;
    QLineSeries* gateB_ = nullptr;
    QValueAxis* xAxis_ = nullptr;
    QValueAxis* yAxis_ = nullptr;
    bool live_ = true;
};

} // namespace ufd::online
