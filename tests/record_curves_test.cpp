#include "core/online/curves.h"
#include "core/online/record.h"
#include "core/protocol/packet.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace ufd::online;

namespace {

std::vector<std::uint8_t> livePacket(std::uint8_t code, const std::vector<std::uint8_t>& record) {
    const std::string p = ufd::protocol::buildResponsePacket(code, 0, record.data(), record.size());
    return {p.begin(), p.end()};
}

// The DAC worked example: two points on a 6 dB per 50 mm fall.
InstrumentRecord dacExample() {
    InstrumentRecord r;
    r.CurrveType = 1;
    r.DAC_SampleNum = 2;
    r.DAC_CurveNum = 1;
    r.dacPoints[0] = {50.0, 200, 400};
    r.dacPoints[1] = {100.0, 100, 400};
    r.DB_Base = 400;
    r.mRange = 1000;
    r.dDelay = 0;
    r.SoundVel = 5920;
    return r;
}

// The AVG mode 1 worked example.
InstrumentRecord avgExample() {
    InstrumentRecord r;
    r.CurrveType = 2;
    r.avgSwitch = 1;
    r.avgMode = 1;
    r.ProbeFreq = 500;
    r.SoundVel = 5920;
    r.ProbedSize = 100;
    r.avgRefPos = 100.0;
    r.avgRefVel = 5920;
    r.avgRefAmp = 320;
    r.avgRefGain = 400;
    r.DB_Base = 400;
    r.avgRefDia = 20;
    r.avgCurveDia = {20, 30, 40};
    r.mRange = 2000;
    r.dDelay = 0;
    return r;
}

CurveArrays filled(std::int32_t v) {
    CurveArrays c;
    for (auto& a : c) {
        a.fill(v);
    }
    return c;
}

} // namespace

TEST(LiveRecord, RealFieldsAreThousandthsAndFlagsComeFromByte413) {
    std::vector<std::uint8_t> rec(kRecordSize, 0);
    rec[0] = 0x40; // 123,456
    rec[1] = 0xE2;
    rec[2] = 0x01;
    ufd::protocol::writeU32(&rec[off::ProbeAng], 45000);
    ufd::protocol::writeU32(&rec[off::DacPoints], 150000);
    rec[off::ProbeName] = 'A';
    rec[off::ProbeName + 1] = 'B';
    rec[off::ProbeName + 2] = 'C';

    for (const int flag : {0x02, 0x04, 0x06, 0x01, 0x08}) {
        rec[413] = static_cast<std::uint8_t>(flag);
        TOnlineData data;
        const auto packet = livePacket(48, rec);
        ASSERT_TRUE(data.decodeLivePacket(packet.data(), packet.size()));
        EXPECT_EQ(data.fullScreenFlag(), (flag & 0x06) ? 1 : 0) << flag;
        const InstrumentRecord r = data.decoded();
        EXPECT_DOUBLE_EQ(r.sValue, 123.456);
        EXPECT_DOUBLE_EQ(r.ProbeAng, 45.0);
        EXPECT_DOUBLE_EQ(r.dacPoints[0].path, 150.0);
        EXPECT_EQ(r.probeNameText(), "ABC");
        EXPECT_EQ(r.fullScreen(), (flag & 0x06) != 0);
    }
}

TEST(LiveRecord, Codes20And48AreAlikeAndShortPacketsAreRefused) {
    std::vector<std::uint8_t> rec(kRecordSize);
    for (std::size_t i = 0; i < rec.size(); ++i) {
        rec[i] = static_cast<std::uint8_t>(i * 7);
    }
    TOnlineData a;
    TOnlineData b;
    const auto p48 = livePacket(48, rec);
    const auto p20 = livePacket(20, rec);
    ASSERT_TRUE(a.decodeLivePacket(p48.data(), p48.size()));
    ASSERT_TRUE(b.decodeLivePacket(p20.data(), p20.size()));
    EXPECT_EQ(a.raw(), b.raw());
    EXPECT_EQ(a.fullScreenFlag(), b.fullScreenFlag());

    const auto before = a.raw();
    const auto shortPacket = livePacket(48, std::vector<std::uint8_t>(100, 0x55));
    EXPECT_FALSE(a.decodeLivePacket(shortPacket.data(), shortPacket.size()));
    EXPECT_EQ(a.raw(), before);
}

TEST(Record, EncodeDecodeRoundTripsInBothEncodings) {
    InstrumentRecord r = dacExample();
    r.sValue = 45.125;
    r.ProbeAng = 63.5;
    r.ThickValue = 4000000000u;
    r.FPGA_FireEnergy = -3;
    r.FlagALL = 0x80000621u;
    r.trace1[601] = -400;
    r.trace2[0] = 399;
    for (const Encoding enc : {Encoding::Live, Encoding::Stored}) {
        std::vector<std::uint8_t> bytes(kRecordSize, 0);
        encodeRecord(r, enc, bytes.data());
        const InstrumentRecord back = decodeRecord(bytes.data(), enc);
        EXPECT_DOUBLE_EQ(back.sValue, 45.125);
        EXPECT_DOUBLE_EQ(back.ProbeAng, 63.5);
        EXPECT_DOUBLE_EQ(back.dacPoints[1].path, 100.0);
        EXPECT_EQ(back.ThickValue, 4000000000u);
        EXPECT_EQ(back.FPGA_FireEnergy, -3);
        EXPECT_EQ(back.FlagALL, 0x80000621u);
        EXPECT_TRUE(back.fullScreen());
        EXPECT_EQ(back.trace1[601], -400);
        EXPECT_EQ(back.trace2[0], 399);
    }
}

TEST(Enumerations, UnknownCodesFallBackToTheirDefaults) {
    EXPECT_EQ(probeTypeText(4), "Thru Trans");
    EXPECT_EQ(probeTypeText(7), "Straight");
    EXPECT_EQ(probeRectifyText(3), "Radio");
    EXPECT_EQ(probeRectifyText(9), "Positive");
    EXPECT_EQ(gateLogicText(3), "GateAB");
    EXPECT_EQ(gateLogicText(0), "Close");
    EXPECT_EQ(gateLogicText(4), "Close");
    EXPECT_EQ(gateAlertText(2), "Close");
    EXPECT_EQ(gateAlertText(5), "Positive");
    EXPECT_EQ(coordTypeText(2), "P");
    EXPECT_EQ(probeDampText(7), "50");
    EXPECT_EQ(fireEnergyText(9), "600");
    EXPECT_EQ(fireEnergyText(-1), "400");
    EXPECT_EQ(fireEnergyText(10), "400");
    EXPECT_EQ(curveKind(3), CurvesNone);
    EXPECT_TRUE(gateADrawn(3) && gateBDrawn(3) && !gateADrawn(2) && !gateBDrawn(1));
}

TEST(DacCurves, WorkedExample) {
    InstrumentRecord r = dacExample();
    CurveArrays c = filled(0);
    ASSERT_EQ(CalcDacCurves(r, kCurvePointCount, c), 0);
    for (int i = 0; i <= 250; ++i) {
        ASSERT_EQ(c[0][i], 199) << i;
    }
    EXPECT_EQ(c[0][375], 140);
    EXPECT_EQ(c[0][500], 99);
    EXPECT_EQ(c[0][501], 0);
    EXPECT_EQ(c[1][0], 0); // only one curve asked for

    r.dacOffsets[0] = -60;
    c = filled(0);
    CalcDacCurves(r, kCurvePointCount, c);
    EXPECT_EQ(c[0][375], 70);

    const ExpFit fit = ExpCurveFit(std::array<double, 2>{50, 100}.data(),
                                   std::array<double, 2>{200, 100}.data(), 2);
    ASSERT_TRUE(fit.ok);
    EXPECT_NEAR(fit.A, 400.0, 1e-9);
    EXPECT_NEAR(fit.B, std::log(0.5) / 50, 1e-12);
}

TEST(DacCurves, PointsBelowBaseGainAreRaisedAndUnsortedPointsSorted) {
    InstrumentRecord r = dacExample();
    // Listed out of order; the 50 mm point was taken 6 dB below the base gain.
    r.dacPoints[0] = {100.0, 100, 400};
    r.dacPoints[1] = {50.0, 300, 340};
    CurveArrays c = filled(0);
    CalcDacCurves(r, kCurvePointCount, c);
    const double raised = 300 * std::pow(10.0, 60 / 200.0); // 598.6
    EXPECT_EQ(c[0][0], static_cast<int>(std::trunc(raised - 0.5)));
    EXPECT_EQ(c[0][500], 99);
}

TEST(DacCurves, CountsAreLimitedAndNothingIsWrittenWithoutTwoPoints) {
    InstrumentRecord r = dacExample();
    for (const std::int8_t n : {std::int8_t{0}, std::int8_t{1}, std::int8_t{-5}}) {
        r.DAC_SampleNum = n;
        CurveArrays c = filled(7);
        EXPECT_EQ(CalcDacCurves(r, kCurvePointCount, c), -1);
        EXPECT_EQ(c, filled(7));
    }

    r = dacExample();
    r.DAC_CurveNum = 2;
    CurveArrays c = filled(7);
    CalcDacCurves(r, kCurvePointCount, c);
    EXPECT_EQ(c[1][375], 140);
    EXPECT_EQ(c[2][0], 7);   // array 3 untouched
    EXPECT_EQ(c[0][501], 7); // values beyond n untouched

    r.DAC_CurveNum = 100;  // more curves than arrays: all six, no more
    r.DAC_SampleNum = 100; // more points than the record holds: fifteen
    for (std::size_t i = 2; i < kDacPointCount; ++i) {
        r.dacPoints[i] = {100.0, 100, 400};
    }
    c = filled(7);
    EXPECT_EQ(CalcDacCurves(r, kCurvePointCount, c), 0);
    for (const auto& a : c) {
        EXPECT_EQ(a[500], 99);
    }
}

TEST(DacCurves, CoincidentPointsLeaveTheArraysAlone) {
    InstrumentRecord r = dacExample();
    r.dacPoints[1].path = 50.0; // Sxx = 0
    CurveArrays c = filled(0);
    EXPECT_EQ(CalcDacCurves(r, kCurvePointCount, c), 0);
    EXPECT_EQ(c, filled(0));
}

TEST(AvgCurves, WorkedExampleMode1) {
    const InstrumentRecord r = avgExample();
    CurveArrays c = filled(0);
    ASSERT_EQ(CalcAvgCurves(r, kCurvePointCount, c), 0);
    for (int i = 0; i <= 158; ++i) {
        ASSERT_EQ(c[0][i], 797) << i;
    }
    EXPECT_EQ(c[0][159], 790);
    EXPECT_EQ(c[0][250], 319);
    EXPECT_EQ(c[0][500], 79);
    EXPECT_EQ(c[0][501], 0);
    // Curves 2 and 3 are 2.25 and 4 times as high before conversion.
    const double flat = 3200000.0 / std::pow(0.75 * 100 / 1.184, 2);
    EXPECT_EQ(c[1][0], static_cast<int>(std::trunc(flat * 2.25 - 0.5)));
    EXPECT_EQ(c[2][0], static_cast<int>(std::trunc(flat * 4 - 0.5)));
}

TEST(AvgCurves, SwitchModeAndZeroDivisorsWriteNothing) {
    InstrumentRecord r = avgExample();
    r.avgSwitch = 0;
    CurveArrays c = filled(7);
    EXPECT_EQ(CalcAvgCurves(r, kCurvePointCount, c), -1);
    EXPECT_EQ(c, filled(7));

    for (const std::int8_t mode : {std::int8_t{7}, std::int8_t{-1}}) {
        r = avgExample();
        r.avgMode = mode;
        c = filled(7);
        EXPECT_EQ(CalcAvgCurves(r, kCurvePointCount, c), 0);
        EXPECT_EQ(c, filled(7));
    }

    const auto zeroed = [](auto setter) {
        InstrumentRecord z = avgExample();
        setter(z);
        CurveArrays out = filled(0);
        CalcAvgCurves(z, kCurvePointCount, out);
        return out;
    };
    EXPECT_EQ(zeroed([](InstrumentRecord& z) { z.avgRefDia = 0; }), filled(0));
    EXPECT_EQ(zeroed([](InstrumentRecord& z) { z.ProbeFreq = 0; }), filled(0));
    EXPECT_EQ(zeroed([](InstrumentRecord& z) { z.SoundVel = 0; }), filled(0));
    EXPECT_EQ(zeroed([](InstrumentRecord& z) { z.avgRefVel = 0; }), filled(0));
}

TEST(AvgCurves, EveryModeGivesFiniteFallingCurves) {
    for (std::int8_t mode = 0; mode <= 4; ++mode) {
        InstrumentRecord r = avgExample();
        r.avgMode = mode;
        r.ProbedSize = 0; // no flat zone: the curve starts at path 0
        CurveArrays c = filled(0);
        ASSERT_EQ(CalcAvgCurves(r, kCurvePointCount, c), 0);
        EXPECT_EQ(c[0][0], 0) << "path 0 has no value, mode " << int(mode);
        EXPECT_GT(c[0][100], c[0][400]) << int(mode);
        EXPECT_GT(c[0][400], 0) << int(mode);
    }
}

TEST(Curves, ThroughTransmissionDoublesTheOrigin) {
    EXPECT_DOUBLE_EQ(CurveOrigin(1000, 5920, 0), 29.6);
    EXPECT_DOUBLE_EQ(CurveOrigin(1000, 5920, 4), 59.2);

    InstrumentRecord r = dacExample();
    r.dDelay = 1000; // origin 29.6 mm, or 59.2 mm through transmission
    r.ProbeType = 4;
    CurveArrays c = filled(0);
    CalcDacCurves(r, kCurvePointCount, c);
    // From 59.2 mm on the curve follows the fit, so the first value is below the 50 mm level.
    EXPECT_LT(c[0][0], 199);
    EXPECT_EQ(c[0][0],
              static_cast<int>(std::trunc(400 * std::exp(std::log(0.5) / 50 * 59.2) - 0.5)));
}

TEST(Curves, ComputeCurvesClearsAndFollowsTheCurveType) {
    InstrumentRecord r = dacExample();
    CurveArrays c = filled(9);
    computeCurves(r, c);
    EXPECT_EQ(c[0][0], 199);
    EXPECT_EQ(c[1][0], 0);
    EXPECT_EQ(c[0][501], 0);
    r.CurrveType = 3;
    computeCurves(r, c);
    EXPECT_EQ(c, filled(0));
}

#include "core/online/record_texts.h"

TEST(RecordTexts, PatternsAndUnitsOfTheRecordView) {
    InstrumentRecord r;
    r.ProbeFreq = 250;
    r.mRange = 1000;
    r.dDelay = 1234;
    r.SoundVel = 3230;
    r.ProbeAng = 45.0;
    r.DB_Step = 60;
    r.DB_Base = 60;
    r.ProbehSize = 80;
    r.ProbewSize = 90;
    r.ProbedSize = 125;
    r.hValue = 87.25;
    r.sValue = -0.001;
    r.CH_No = 3;
    r.GateLogic = 2;
    const RecordTexts t = recordTexts(r);
    EXPECT_EQ(t.probeFreq, "2.50MHz");
    EXPECT_EQ(t.range, "100.0mm");
    EXPECT_EQ(t.dDelay, "12.34us");
    EXPECT_EQ(t.velocity, "3230.0m/s");
    EXPECT_EQ(t.probeAngle, "45.000");
    EXPECT_EQ(t.gainStep, "60.0dB");
    EXPECT_EQ(t.basicGain, "6.0dB");
    EXPECT_EQ(t.probeSize, "8.0 x 9.0mm");
    EXPECT_EQ(t.probeDiameter, "12.50mm");
    EXPECT_EQ(t.channel, "3");
    EXPECT_EQ(t.gateLogic, "GateB");
    EXPECT_EQ(t.displays[3].text, "87.3"); // echo height, one decimal
    EXPECT_EQ(t.displays[1].text, "0.00");
    EXPECT_EQ(t.displays[5].text, "6.00");
    ASSERT_EQ(t.sidePanel().size(), 12u);
    EXPECT_EQ(t.sidePanel()[2].first, "Rectiry");
    EXPECT_EQ(t.parameterTab().size(), 18u);
}
