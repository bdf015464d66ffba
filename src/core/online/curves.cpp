#include "core/online/curves.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ufd::online {

namespace {

// Curve value conversion: integer part of v - 0.5, truncated toward zero, kept inside int32.
std::int32_t toCurveValue(double v) {
    const double t = std::trunc(v - 0.5);
    if (!(t == t)) {
        return 0;
    }
    constexpr double lo = std::numeric_limits<std::int32_t>::min();
    constexpr double hi = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(t, lo, hi));
}

double gainFactor(double tenthsDb) {
    return std::pow(10.0, tenthsDb * 0.1 * 0.05);
}

int clampCount(int n) {
    return std::clamp(n, 0, static_cast<int>(kTracePoints));
}

} // namespace

double CurveOrigin(std::int32_t dDelay, std::int16_t soundVel, std::uint8_t probeType) {
    const double path = dDelay * 0.01 * soundVel * 0.001;
    return path * (probeType == 4 ? 1.0 : 0.5);
}

ExpFit ExpCurveFit(const double* x, const double* y, int m) {
    ExpFit fit;
    if (m <= 0) {
        return fit;
    }
    double mx = 0;
    double ml = 0;
    for (int i = 0; i < m; ++i) {
        mx += x[i] / m;
        ml += std::log(y[i]) / m;
    }
    double sxx = 0;
    double sxy = 0;
    for (int i = 0; i < m; ++i) {
        sxx += (x[i] - mx) * (x[i] - mx);
        sxy += (x[i] - mx) * (std::log(y[i]) - ml);
    }
    if (sxx == 0.0) {
        return fit; // all points at one path: no slope can be fitted
    }
    fit.B = sxy / sxx;
    fit.A = std::exp(ml - fit.B * mx);
    fit.ok = std::isfinite(fit.A) && std::isfinite(fit.B);
    return fit;
}

int CalcDacCurves(const InstrumentRecord& rec, int n, CurveArrays& curves) {
    int m = rec.DAC_SampleNum;
    if (m < 2) {
        return -1;
    }
    m = std::min(m, static_cast<int>(kDacPointCount));
    n = clampCount(n);

    std::array<double, kCurveCount> factor{};
    for (std::size_t k = 0; k < kCurveCount; ++k) {
        factor[k] = gainFactor(rec.dacOffsets[k]);
    }

    std::array<std::pair<double, double>, kDacPointCount> pts{};
    for (int i = 0; i < m; ++i) {
        const DacPoint& p = rec.dacPoints[static_cast<std::size_t>(i)];
        double x = p.path;
        if (!(x >= 0.001)) {
            x = 0.001;
        }
        double y = p.amplitude * gainFactor(rec.DB_Base - p.gain);
        if (!(y >= 0.00001)) {
            y = 0.00001;
        }
        pts[static_cast<std::size_t>(i)] = {x, y};
    }
    std::stable_sort(pts.begin(), pts.begin() + m,
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::array<double, kDacPointCount> xs{};
    std::array<double, kDacPointCount> ys{};
    for (int i = 0; i < m; ++i) {
        xs[static_cast<std::size_t>(i)] = pts[static_cast<std::size_t>(i)].first;
        ys[static_cast<std::size_t>(i)] = pts[static_cast<std::size_t>(i)].second;
    }

    const ExpFit fit = ExpCurveFit(xs.data(), ys.data(), m);
    if (!fit.ok) {
        return 0;
    }
    const double range = rec.mRange * 0.1;
    const double step = n > 1 ? range / (n - 1) : 0.0;
    const double c = CurveOrigin(rec.dDelay, rec.SoundVel, rec.ProbeType);
    double first = xs[0];
    if (first < c) {
        first = c;
    }
    double last = xs[static_cast<std::size_t>(m - 1)];
    if (range + c < last) {
        last = range + c;
    }

    const int curveCount =
        std::min(static_cast<int>(rec.DAC_CurveNum), static_cast<int>(kCurveCount));
    const double atFirst = fit.A * std::exp(fit.B * first);
    const double atLast = fit.A * std::exp(fit.B * last);
    for (int k = 0; k < curveCount; ++k) {
        CurveArray& out = curves[static_cast<std::size_t>(k)];
        const double f = factor[static_cast<std::size_t>(k)];
        double p = c;
        int j = 0;
        for (; j < n && p < first; ++j, p += step) {
            out[static_cast<std::size_t>(j)] = toCurveValue(atFirst * f);
        }
        for (; j < n && p < last; ++j, p += step) {
            out[static_cast<std::size_t>(j)] = toCurveValue(fit.A * std::exp(fit.B * p) * f);
        }
        for (; j < n; ++j) {
            out[static_cast<std::size_t>(j)] = toCurveValue(atLast * f);
        }
    }
    return 0;
}

int CalcAvgCurves(const InstrumentRecord& rec, int n, CurveArrays& curves) {
    if (rec.avgSwitch < 1) {
        return -1;
    }
    n = clampCount(n);
    const double f = rec.ProbeFreq * 0.01;
    const double v = rec.SoundVel * 0.001;
    const double D = rec.ProbedSize * 0.1;
    const double Dr = rec.avgRefDia * 0.1;
    const double R = rec.mRange * 0.1;
    if (f == 0.0 || v == 0.0 || rec.avgRefDia == 0 || rec.avgRefVel == 0) {
        return 0; // the wavelength, diameter ratio or reference path would divide by zero
    }
    const int mode = rec.avgMode;
    if (mode < 0 || mode > 4) {
        return 0;
    }
    const double lambda = v / f;
    const double L = 0.75 * D * D / lambda;

    std::array<double, 3> q{};
    for (std::size_t i = 0; i < 3; ++i) {
        const double r =
            static_cast<double>(rec.avgCurveDia[i]) / static_cast<double>(rec.avgRefDia);
        q[i] = (mode <= 1) ? r * r : (mode <= 3) ? std::sqrt(r) : r;
    }

    double xr = rec.avgRefPos * rec.SoundVel / rec.avgRefVel;
    if (!(xr >= 0.001)) {
        xr = 0.001;
    }
    double yr = rec.avgRefAmp * gainFactor(rec.DB_Base - rec.avgRefGain);
    if (!(yr >= 0.00001)) {
        yr = 0.00001;
    }
    double K = 0;
    switch (mode) {
    case 0:
        K = 3.14 * Dr * Dr * xr * yr / (2 * lambda);
        break;
    case 2:
        K = std::sqrt(xr * xr * xr) * yr;
        break;
    default:
        K = xr * xr * yr;
        break;
    }
    const auto g = [mode](double x) { return mode == 2 ? std::sqrt(x * x * x) : x * x; };

    const double c = CurveOrigin(rec.dDelay, rec.SoundVel, rec.ProbeType);
    const double step = n > 1 ? R / (n - 1) : 0.0;
    const double gL = g(L);
    for (std::size_t i = 0; i < 3; ++i) {
        CurveArray& out = curves[i];
        double p = c;
        int j = 0;
        for (; j < n && p < L; ++j, p += step) {
            // A flat zone of zero length (no crystal size) has no level of its own.
            out[static_cast<std::size_t>(j)] = gL > 0 ? toCurveValue(K / gL * q[i]) : 0;
        }
        for (; j < n; ++j, p += step) {
            const double gp = g(p);
            // At or before path 0 (or NaN from a negative path) the law has no value.
            out[static_cast<std::size_t>(j)] = gp > 0 ? toCurveValue(K / gp * q[i]) : 0;
        }
    }
    return 0;
}

void computeCurves(const InstrumentRecord& rec, CurveArrays& curves) {
    for (auto& c : curves) {
        c.fill(0);
    }
    switch (curveKind(rec.CurrveType)) {
    case CurvesDac:
        CalcDacCurves(rec, kCurvePointCount, curves);
        break;
    case CurvesAvg:
        CalcAvgCurves(rec, kCurvePointCount, curves);
        break;
    case CurvesNone:
        break;
    }
}

} // namespace ufd::online
