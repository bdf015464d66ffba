#pragma once

#include "core/online/record.h"

namespace ufd::online {

constexpr int kCurvePointCount = 501; // every caller computes 501 values a curve

struct ExpFit {
    bool ok = false;
    double A = 0;
    double B = 0;
};

// Sound path (mm) at which the curves start: one-way for through transmission, else half.
double CurveOrigin(std::int32_t dDelay, std::int16_t soundVel, std::uint8_t probeType);

// Least-squares fit of ln y = ln A + B x. Fails for m = 0 and when all x coincide.
ExpFit ExpCurveFit(const double* x, const double* y, int m);

// Fill curve arrays 1..DAC_CurveNum (at most 6) with n values. Returns -1 when fewer than two
// DAC points are in use; inputs that would divide by zero leave the arrays untouched.
int CalcDacCurves(const InstrumentRecord& rec, int n, CurveArrays& curves);

// Fill curve arrays 1..3 with n values. Returns -1 when the AVG switch is off.
int CalcAvgCurves(const InstrumentRecord& rec, int n, CurveArrays& curves);

// Clears all six arrays, then runs the algorithm the record's curve type names.
void computeCurves(const InstrumentRecord& rec, CurveArrays& curves);

} // namespace ufd::online
