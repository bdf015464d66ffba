#pragma once

#include "core/online/record.h"

#include <QByteArray>
#include <QDateTime>
#include <cstdint>
#include <random>

namespace ufd::demo {

enum class CurveSet { None, Dac, Avg };

struct EchoScene {
    CurveSet curves = CurveSet::Dac;
    double flawPath = 45.0;   // mm of sound path
    double flawHeight = 70.0; // percent of full screen
    bool fullScreen = false;
    bool angleProbe = true;
};

// One screen of a realistic A-scan: initial pulse, back wall, a flaw echo and noise, with DAC or
// AVG calibration data that give visible curves.
online::InstrumentRecord makeRecord(const EchoScene& scene, std::mt19937& rng);

// A whole report file (4,229,120 bytes) holding `reports` reports (at most 1,024) with names
// and dates, alternating DAC, AVG and plain reports.
QByteArray makeReportImage(int reports, std::uint32_t seed,
                           const QDateTime& start = QDateTime(QDate(2026, 11, 2), QTime(8, 30, 0)));

// A recording file of `frames` frames at `rate` tenths of a frame per second, the flaw echo
// moving from frame to frame.
QByteArray makeRecording(std::uint32_t frames, std::uint16_t rate, std::uint32_t seed,
                         const QDateTime& start = QDateTime(QDate(2026, 11, 2), QTime(9, 5, 30)));

} // namespace ufd::demo
