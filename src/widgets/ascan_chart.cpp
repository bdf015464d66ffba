#include "widgets/ascan_chart.h"

#include <QChart>
#include <QLineSeries>
#include <QPainter>
#include <QValueAxis>

namespace ufd::online {

namespace {

// Gates end in a cross at each end point.
QImage crossMarker(const QColor& color) {
    QImage img(9, 9, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(color, 1.6));
    p.drawLine(QPointF(1, 1), QPointF(8, 8));
    p.drawLine(QPointF(1, 8), QPointF(8, 1));
    return img;
}

QLineSeries* addSeries(QChart* chart, const QString& title, const QColor& color, qreal width) {
    auto* s = new QLineSeries(chart);
    s->setName(title);
    QPen pen(color, width);
    s->setPen(pen);
    chart->addSeries(s);
    return s;
}

} // namespace

AScanChart::AScanChart(const QString& traceTitle, QWidget* parent) : QChartView(parent) {
    auto* chart = new QChart;
    chart->setTitle(QStringLiteral("Waveform"));
    chart->legend()->setVisible(true);
    chart->legend()->setAlignment(Qt::AlignRight);
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->setMargins(QMargins(4, 4, 4, 4));

    // Added first, so the live trace is drawn over it.
    reference_ = addSeries(chart, QStringLiteral("Reference"), QColor(255, 180, 110), 1.5);
    reference_->setObjectName(QStringLiteral("ReferenceSeries"));
    reference_->setVisible(false);
    trace_ = addSeries(chart, traceTitle, Qt::black, 1.0);
    const QColor curveColors[] = {QColor(0, 128, 255), QColor(255, 128, 255), QColor(0, 255, 128)};
    for (int i = 0; i < 3; ++i) {
        curves_[static_cast<std::size_t>(i)] =
            addSeries(chart, QStringLiteral("DAC%1").arg(i + 1), curveColors[i], 1.5);
    }
    gateA_ = addSeries(chart, QStringLiteral("GateA"), Qt::red, 3.0);
    gateB_ = addSeries(chart, QStringLiteral("GateB"), QColor(0, 255, 0), 3.0);
    for (QLineSeries* gate : {gateA_, gateB_}) {
        gate->setLightMarker(crossMarker(gate->pen().color()));
        gate->setMarkerSize(9);
    }

    xAxis_ = new QValueAxis(chart);
    xAxis_->setTitleText(QStringLiteral("Path(mm)"));
    xAxis_->setLabelFormat(QStringLiteral("%.0f"));
    yAxis_ = new QValueAxis(chart);
    yAxis_->setTitleText(QStringLiteral("Pixel"));
    yAxis_->setLabelFormat(QStringLiteral("%.0f"));
    chart->addAxis(xAxis_, Qt::AlignBottom);
    chart->addAxis(yAxis_, Qt::AlignLeft);
    for (QAbstractSeries* s : chart->series()) {
        s->attachAxis(xAxis_);
        s->attachAxis(yAxis_);
    }

    // The view starts with a chart of its own, which it gives up rather than deletes.
    QChart* initial = this->chart();
    setChart(chart);
    delete initial;
    setRenderHint(QPainter::Antialiasing, false);
    setRubberBand(QChartView::NoRubberBand);
    setInitialLimits();
}

void AScanChart::setGateStyle(const QString& titleA, const QString& titleB, qreal width) {
    gateA_->setName(titleA);
    gateB_->setName(titleB);
    for (QLineSeries* gate : {gateA_, gateB_}) {
        QPen pen = gate->pen();
        pen.setWidthF(width);
        gate->setPen(pen);
    }
}

void AScanChart::setLive(bool live, const QString& note) {
    live_ = live;
    QPen pen = trace_->pen();
    pen.setColor(live ? QColor(Qt::black) : QColor(160, 160, 160));
    trace_->setPen(pen);
    const QString title = QStringLiteral("Waveform");
    chart()->setTitle(
        live || note.isEmpty() ? title : title + QStringLiteral(" (") + note + QLatin1Char(')'));
}

void AScanChart::setReference(const QVector<QPointF>& points) {
    reference_->replace(points);
    reference_->setVisible(!points.isEmpty());
}

void AScanChart::setInitialLimits() {
    setPathRange(0, 250);
    yAxis_->setRange(0, 400);
}

void AScanChart::setPathRange(double x0, double x1) {
    // Every change of an axis lays out every series again; most records keep the range.
    if (xAxis_->min() == x0 && xAxis_->max() == x1) {
        return;
    }
    xAxis_->setMin(-5000);
    xAxis_->setMax(x1);
    xAxis_->setMin(x0);
}

void AScanChart::render(const AScanFrame& f) {
    setPathRange(f.geometry.x0, f.geometry.x1);
    yAxis_->setRange(f.yMin, f.yMax);
    // Each series gets its whole list at once, so a record costs one layout per series.
    trace_->replace(f.trace);
    for (std::size_t i = 0; i < 3; ++i) {
        curves_[i]->replace(f.curves[i]);
        curves_[i]->setVisible(f.curvesVisible);
        if (!f.curveTitles[i].isEmpty()) {
            curves_[i]->setName(f.curveTitles[i]);
        }
    }
    gateA_->replace(f.gateA);
    gateA_->setVisible(!f.gateA.isEmpty());
    gateB_->replace(f.gateB);
    gateB_->setVisible(!f.gateB.isEmpty());
}

} // namespace ufd::online
