#include "core/online/reference.h"

#include "core/online/text_format.h"

#include <algorithm>
#include <cmath>

namespace ufd::online {

const char* const kNoPeakText = "no echo in gate A";

std::optional<EchoPeak> gatePeak(const QVector<QPointF>& trace, const QVector<QPointF>& gate) {
    if (gate.size() < 2) {
        return std::nullopt;
    }
    const double from = std::min(gate.front().x(), gate.back().x());
    const double to = std::max(gate.front().x(), gate.back().x());
    std::optional<EchoPeak> peak;
    for (const QPointF& p : trace) {
        if (p.x() < from || p.x() > to) {
            continue;
        }
        const double a = std::fabs(p.y());
        if (!peak || a > peak->amplitude) {
            peak = EchoPeak{a, p.x()};
        }
    }
    if (peak && peak->amplitude <= 0) {
        return std::nullopt; // a flat line is no echo
    }
    return peak;
}

ReferenceTrace referenceFromFrame(const AScanFrame& frame, const QString& label) {
    return {label, frame.trace, gatePeak(frame.trace, frame.gateA)};
}

QVector<QPointF> pointsOnAxis(const QVector<QPointF>& trace, double x0, double x1) {
    QVector<QPointF> on;
    on.reserve(trace.size());
    for (const QPointF& p : trace) {
        if (p.x() >= x0 && p.x() <= x1) {
            on.append(p);
        }
    }
    return on;
}

PeakDifference peakDifference(const std::optional<EchoPeak>& live,
                              const std::optional<EchoPeak>& reference) {
    PeakDifference d;
    if (!live || !reference || !(live->amplitude > 0) || !(reference->amplitude > 0)) {
        return d;
    }
    d.path = live->path - reference->path;
    d.dB = 20.0 * std::log10(live->amplitude / reference->amplitude);
    return d;
}

namespace {

QString signedText(double value, int decimals, const char* unit) {
    QString text = formatFixed(value, decimals);
    if (value > 0 && text != formatFixed(0.0, decimals)) {
        text.prepend(QLatin1Char('+'));
    }
    return text + QLatin1String(unit);
}

} // namespace

QString peakText(const std::optional<EchoPeak>& peak) {
    if (!peak) {
        return QString::fromLatin1(kNoPeakText);
    }
    return formatFixed(peak->amplitude, 1) + QStringLiteral("% at ") + formatFixed(peak->path, 2) +
           QStringLiteral("mm");
}

QString differenceDbText(const PeakDifference& d) {
    return d.dB ? signedText(*d.dB, 1, "dB") : QString::fromLatin1(kNoPeakText);
}

QString differencePathText(const PeakDifference& d) {
    return d.path ? signedText(*d.path, 2, "mm") : QString::fromLatin1(kNoPeakText);
}

} // namespace ufd::online
