#include "demo/demo_data.h"

#include "core/online/live_recording.h"
#include "core/online/recording.h"
#include "core/reports/report_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ufd::demo {

using online::InstrumentRecord;

namespace {

constexpr double kPi = 3.14159265358979323846;

void setName(std::array<char, 16>& field, const char* text) {
    field.fill(0);
    std::strncpy(field.data(), text, field.size());
}

// Adds an echo (a rectified burst) of `height` percent centred on display point `centre`.
void addEcho(std::array<double, online::kTracePoints>& amp, double centre, double height,
             double widthPts) {
    for (std::size_t i = 0; i < amp.size(); ++i) {
        const double d = (static_cast<double>(i) - centre) / widthPts;
        if (std::fabs(d) > 4) {
            continue;
        }
        const double envelope = std::exp(-d * d);
        const double carrier = 0.75 + 0.25 * std::fabs(std::cos(d * kPi * 1.5));
        amp[i] = std::max(amp[i], height * envelope * carrier);
    }
}

std::int16_t toTrace(double percent) {
    return static_cast<std::int16_t>(std::clamp(std::lround(percent * 4.0), 0L, 400L));
}

} // namespace

InstrumentRecord makeRecord(const EchoScene& scene, std::mt19937& rng) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    InstrumentRecord r;
    r.SoundVel = scene.angleProbe ? 3230 : 5920;
    r.mRange = scene.angleProbe ? 1000 : 2000; // 100 mm or 200 mm of path
    r.dDelay = 0;
    r.FlagALL = 0x21u | (scene.fullScreen ? 0x0200u : 0u);
    const int points = r.displayPoints();
    const double scale = r.mRange / 10.0 / points;

    setName(r.ProbeName, scene.angleProbe ? "2.5P13x13K2" : "5P20");
    r.ProbeType = scene.angleProbe ? 1 : 0;
    r.ProbeAng = scene.angleProbe ? 63.43 : 0.0;
    r.ProbeZero = scene.angleProbe ? 812 : 35;
    r.ProbeFreq = scene.angleProbe ? 250 : 500;
    r.ProbeFront = scene.angleProbe ? 1200 : 0;
    // A 10 mm crystal at 5 MHz: the near field ends at 63 mm, so AVG curves fall over the screen.
    r.ProbedSize = scene.angleProbe ? 130 : 100;
    r.ProbehSize = 130;
    r.ProbewSize = 130;
    r.ProbeDamp = 1;
    r.ProbeRectify = 2;
    r.CoordType = 0;
    r.DiaValue = 0;
    r.ThickValue = scene.angleProbe ? 4000 : 15000;
    r.WaveAGC = 0;
    r.DB_Base = 420;
    r.DB_Step = 20;
    r.DB_Scan = 60;
    r.DB_Surface = 40;
    r.WaveReject = 5;
    r.FPGA_FireEnergy = 5;
    r.FPGA_DisChgTime = 100;
    r.FPGA_FireFreq = 200;
    r.CH_No = 1;
    r.DAC_SoundVel = r.SoundVel;

    // Gates: A over the flaw region, B over the back wall.
    r.GateLogic = 3;
    r.GateAlert = 0;
    const double flawPt = scene.flawPath / scale;
    r.gateAStart = static_cast<std::int16_t>(std::max(0.0, flawPt - 40));
    r.gateAWidth = 80;
    r.gateAHeight = 40;
    r.gateBStart = static_cast<std::int16_t>(points * 0.8);
    r.gateBWidth = static_cast<std::int16_t>(points * 0.15);
    r.gateBHeight = 60;

    if (scene.curves == CurveSet::Dac) {
        r.CurrveType = 1;
        r.DAC_SampleNum = 3;
        r.DAC_CurveNum = 3;
        const double paths[] = {20.0, 40.0, 60.0};
        const std::int16_t amps[] = {320, 220, 150};
        for (int i = 0; i < 3; ++i) {
            r.dacPoints[static_cast<std::size_t>(i)] = {paths[i] * (r.mRange / 1000.0), amps[i],
                                                        420};
        }
        r.dacOffsets = {-40, -100, 60, -160, 0, 0}; // assessment, sizing, rejection lines
    } else if (scene.curves == CurveSet::Avg) {
        r.CurrveType = 2;
        r.avgSwitch = 1;
        r.avgMode = 1;
        r.avgRefPos = 100.0;
        r.avgRefVel = r.SoundVel;
        r.avgRefAmp = 320;
        r.avgRefGain = 420;
        r.avgRefDia = 20;
        r.avgCurveDia = {20, 30, 40};
    }

    std::array<double, online::kTracePoints> amp{};
    std::normal_distribution<double> noise(1.5, 0.8);
    for (auto& a : amp) {
        a = std::max(0.0, noise(rng));
    }
    if (!scene.angleProbe) {
        addEcho(amp, 2, 100, 4); // initial pulse of a contact probe
    }
    const double wallPt = (r.ThickValue / 100.0) / scale;
    if (wallPt < points) {
        addEcho(amp, wallPt, 85, 5);
    }
    addEcho(amp, flawPt, scene.flawHeight, 4);
    for (std::size_t i = 0; i < online::kTracePoints; ++i) {
        const double jitter = unit(rng) * 2.0;
        r.trace1[i] = toTrace(amp[i]);
        r.trace2[i] = toTrace(std::max(0.0, amp[i] - jitter));
    }

    r.sValue = scene.flawPath;
    const double angle = r.ProbeAng * kPi / 180.0;
    r.pValue = scene.flawPath * std::sin(angle);
    r.dValue = scene.flawPath * std::cos(angle);
    r.hValue = scene.flawHeight;
    r.vERS = scene.curves == CurveSet::Avg ? 2.4 : -3.5;
    r.saValue = 0;
    r.sbValue = 0;
    r.vEchoNum = 2;
    return r;
}

QByteArray makeReportImage(int reports, std::uint32_t seed, const QDateTime& start) {
    reports = std::clamp(reports, 0, static_cast<int>(reports::kSlotCount));
    QByteArray image(reports::kReportFileSize, '\0');
    auto* b = reinterpret_cast<std::uint8_t*>(image.data());
    std::memset(b, 0xFF, reports::kSlotListBytes);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> path(25.0, 70.0);
    std::uniform_real_distribution<double> height(35.0, 95.0);
    for (int i = 0; i < reports; ++i) {
        const auto slot = static_cast<std::uint16_t>(i);
        b[2 * i] = static_cast<std::uint8_t>(slot & 0xFF);
        b[2 * i + 1] = static_cast<std::uint8_t>(slot >> 8);

        std::uint8_t* dir = b + reports::kDirectoryOffset + reports::kDirectoryEntrySize * slot;
        const QDateTime when = start.addSecs(static_cast<qint64>(i) * 437);
        dir[10] = static_cast<std::uint8_t>(when.time().second());
        dir[11] = static_cast<std::uint8_t>(when.time().minute());
        dir[12] = static_cast<std::uint8_t>(when.time().hour());
        dir[13] = static_cast<std::uint8_t>(when.date().day());
        dir[14] = static_cast<std::uint8_t>(when.date().month());
        dir[15] = static_cast<std::uint8_t>(when.date().year() - 2000);
        const QByteArray name =
            QStringLiteral("WELD-%1").arg(i + 1, 4, 10, QLatin1Char('0')).toLatin1();
        std::memcpy(dir + 16, name.constData(),
                    std::min<std::size_t>(16, static_cast<std::size_t>(name.size())));

        EchoScene scene;
        scene.curves = (i % 3 == 0) ? CurveSet::Dac : (i % 3 == 1) ? CurveSet::Avg : CurveSet::None;
        scene.angleProbe = scene.curves != CurveSet::Avg;
        scene.flawPath = path(rng) * (scene.angleProbe ? 1.0 : 2.0);
        scene.flawHeight = height(rng);
        InstrumentRecord rec = makeRecord(scene, rng);
        rec.PageNum = static_cast<std::uint16_t>(i / 8 + 1);
        online::encodeRecord(rec, online::Encoding::Stored,
                             b + reports::kSlotsOffset + reports::kSlotSize * slot);
    }
    return image;
}

QByteArray makeRecording(std::uint32_t frames, std::uint16_t rate, std::uint32_t seed,
                         const QDateTime& start) {
    QByteArray file = online::recordingHeader(rate, frames, start);
    file.resize(file.size() + static_cast<qsizetype>(online::kRecordSize * frames), '\0');
    auto* b = reinterpret_cast<std::uint8_t*>(file.data());
    std::mt19937 rng(seed);
    for (std::uint32_t k = 0; k < frames; ++k) {
        EchoScene scene;
        scene.curves = CurveSet::Dac;
        const double phase = static_cast<double>(k) / 40.0;
        scene.flawPath = 45.0 + 15.0 * std::sin(phase);
        scene.flawHeight = 55.0 + 30.0 * std::fabs(std::cos(phase * 0.7));
        const InstrumentRecord rec = makeRecord(scene, rng);
        online::encodeRecord(rec, online::Encoding::Stored,
                             b + online::kRecordingHeaderSize + online::kRecordSize * k);
    }
    return file;
}

} // namespace ufd::demo
