#include "core/online/ascan_plot.h"
#include "core/online/reference.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace ufd::online;

namespace {

InstrumentRecord baseRecord() {
    InstrumentRecord r;
    r.mRange = 1000;
    r.SoundVel = 5920;
    r.dDelay = 1000;
    return r;
}

} // namespace

TEST(AScanPlot, GeometryOfTheWorkedExamples) {
    InstrumentRecord r = baseRecord();
    DisplayGeometry g = displayGeometry(r);
    EXPECT_EQ(g.points, 500);
    EXPECT_DOUBLE_EQ(g.scale, 0.2);
    EXPECT_DOUBLE_EQ(g.x0, 29.6);
    EXPECT_DOUBLE_EQ(g.x1, 129.6);

    r.FlagALL = 0x0400; // full screen: 600 points, 502 drawn cover about five sixths
    CurveArrays c{};
    const AScanFrame f = drawRecord(r, c);
    EXPECT_EQ(f.geometry.points, 600);
    EXPECT_DOUBLE_EQ(f.geometry.scale, 100.0 / 600);
    EXPECT_NEAR(f.trace.back().x(), 29.6 + 501 * 100.0 / 600, 1e-9);
    EXPECT_DOUBLE_EQ(f.geometry.x1, 129.6);
}

TEST(AScanPlot, TraceRunsBothValuesOfEachPointInPathOrder) {
    InstrumentRecord r = baseRecord();
    r.trace1[0] = 400;
    r.trace2[0] = 100;
    r.trace1[501] = 8;
    r.trace2[501] = 4;
    r.trace1[601] = 400; // beyond the drawn points
    CurveArrays c{};
    const AScanFrame f = drawRecord(r, c);
    ASSERT_EQ(f.trace.size(), 2 * kDrawnPoints);
    EXPECT_EQ(f.trace[0], QPointF(29.6, 100.0));
    EXPECT_EQ(f.trace[1], QPointF(29.6, 25.0));
    EXPECT_DOUBLE_EQ(f.trace[1003].y(), 1.0);
    for (int i = 1; i < f.trace.size(); ++i) {
        ASSERT_LE(f.trace[i - 1].x(), f.trace[i].x());
    }
    EXPECT_EQ(f.yMin, 0);
    r.ProbeRectify = 3;
    EXPECT_EQ(drawRecord(r, c).yMin, -100);
}

TEST(AScanPlot, CurvesFollowTheCurveTypeAndAreClearedAfterwards) {
    InstrumentRecord r = baseRecord();
    r.dDelay = 0;
    r.CurrveType = 1;
    r.DAC_SampleNum = 2;
    r.DAC_CurveNum = 2;
    r.DB_Base = 400;
    r.dacPoints[0] = {50.0, 200, 400};
    r.dacPoints[1] = {100.0, 100, 400};
    CurveArrays c{};
    AScanFrame f = drawRecord(r, c);
    EXPECT_TRUE(f.curvesVisible);
    EXPECT_EQ(f.curveTitles[0], "DAC1");
    EXPECT_DOUBLE_EQ(f.curves[0][0].y(), 199 * 0.25);
    EXPECT_DOUBLE_EQ(f.curves[0][501].y(), 0.0); // the algorithms stop at 500
    EXPECT_DOUBLE_EQ(f.curves[2][100].y(), 0.0); // series 3 shown along 0
    EXPECT_EQ(c, CurveArrays{});

    r.DAC_SampleNum = 1; // no values, still shown along 0
    f = drawRecord(r, c);
    EXPECT_TRUE(f.curvesVisible);
    EXPECT_DOUBLE_EQ(f.curves[0][0].y(), 0.0);

    r.CurrveType = 2;
    r.avgSwitch = 1;
    r.avgMode = 7;
    f = drawRecord(r, c);
    EXPECT_EQ(f.curveTitles[2], "AVG3");
    EXPECT_DOUBLE_EQ(f.curves[0][0].y(), 0.0);

    r.CurrveType = 0;
    f = drawRecord(r, c);
    EXPECT_FALSE(f.curvesVisible);
    EXPECT_TRUE(f.curveTitles[0].isEmpty()); // titles stay as they were
}

TEST(AScanPlot, GatesAreDrawnByLogicWithUnscaledHeights) {
    InstrumentRecord r = baseRecord();
    r.gateAStart = 100;
    r.gateAWidth = 50;
    r.gateAHeight = 40;
    r.gateBStart = 300;
    r.gateBWidth = 20;
    r.gateBHeight = 60;
    CurveArrays c{};
    for (const int logic : {0, 1, 2, 3, 4}) {
        r.GateLogic = static_cast<std::uint8_t>(logic);
        const AScanFrame f = drawRecord(r, c);
        EXPECT_EQ(f.gateA.isEmpty(), !(logic == 1 || logic == 3)) << logic;
        EXPECT_EQ(f.gateB.isEmpty(), !(logic == 2 || logic == 3)) << logic;
        if (logic == 3) {
            EXPECT_EQ(f.gateA[0], QPointF(49.6, 40));
            EXPECT_EQ(f.gateA[1], QPointF(59.6, 40));
            EXPECT_EQ(f.gateB[1].y(), 60);
        }
    }
}

// The reference echo: its peak in its own gate A, placed by its path on the live axis, and the
// difference to the live peak.
TEST(Reference, DecibelsAndPathOfTheWorkedExample) {
    // Live peak 80 % at 52.40 mm, reference 40 % at 50.00 mm: twice the height is +6.02 dB.
    PeakDifference d = peakDifference(EchoPeak{80, 52.4}, EchoPeak{40, 50.0});
    ASSERT_TRUE(d.dB.has_value());
    EXPECT_NEAR(*d.dB, 6.0206, 1e-4);
    EXPECT_EQ(differenceDbText(d), "+6.0dB");
    EXPECT_EQ(differencePathText(d), "+2.40mm");
    d = peakDifference(EchoPeak{25, 50.0}, EchoPeak{100, 51.25});
    EXPECT_EQ(differenceDbText(d), "-12.0dB"); // a quarter of the height
    EXPECT_EQ(differencePathText(d), "-1.25mm");
    EXPECT_EQ(differenceDbText(peakDifference(EchoPeak{40, 50}, EchoPeak{40, 50})), "0.0dB");
    // No echo in one of the gates: no difference to show.
    d = peakDifference(std::nullopt, EchoPeak{40, 50});
    EXPECT_EQ(differenceDbText(d), kNoPeakText);
    EXPECT_EQ(differencePathText(d), kNoPeakText);
    EXPECT_FALSE(peakDifference(EchoPeak{0, 50}, EchoPeak{40, 50}).dB.has_value());
    EXPECT_EQ(peakText(EchoPeak{80, 52.4}), "80.0% at 52.40mm");
}

TEST(Reference, AReferenceOnAnotherRangeLandsAtItsOwnPaths) {
    // Reference: 100 mm range from 0, an echo of 60 % at display point 225 (45 mm) inside its
    // gate A (points 200 to 250), and a higher echo outside the gate.
    InstrumentRecord ref;
    ref.mRange = 1000;
    ref.SoundVel = 5920;
    ref.GateLogic = 1;
    ref.gateAStart = 200;
    ref.gateAWidth = 50;
    ref.gateAHeight = 40;
    ref.trace1[225] = 240;
    ref.trace1[400] = 380;
    CurveArrays c{};
    const ReferenceTrace reference = referenceFromFrame(drawRecord(ref, c), "block");
    ASSERT_TRUE(reference.peak.has_value());
    EXPECT_DOUBLE_EQ(reference.peak->amplitude, 60.0);
    EXPECT_DOUBLE_EQ(reference.peak->path, 45.0);

    // Live: 250 mm from 29.6 mm; its echo of 30 % at point 62 lies at 29.6 + 62 x 0.5 = 60.6 mm.
    InstrumentRecord live = ref;
    live.mRange = 2500;
    live.dDelay = 1000;
    live.gateAStart = 40;
    live.gateAWidth = 40;
    live.trace1 = {};
    live.trace1[62] = 120;
    const AScanFrame frame = drawRecord(live, c);
    const QVector<QPointF> drawn =
        pointsOnAxis(reference.trace, frame.geometry.x0, frame.geometry.x1);
    // Only the reference's points from 29.6 mm on are on the live axis, each at its own path.
    ASSERT_FALSE(drawn.isEmpty());
    EXPECT_NEAR(drawn.front().x(), 29.6, 0.2);
    EXPECT_GE(drawn.front().x(), 29.6);
    EXPECT_EQ(drawn.size(), 2 * (kDrawnPoints - 148)); // points 148 to 501, two values each
    const auto echo =
        std::find_if(drawn.begin(), drawn.end(), [](const QPointF& p) { return p.y() == 60.0; });
    ASSERT_NE(echo, drawn.end());
    EXPECT_DOUBLE_EQ(echo->x(), 45.0);

    const PeakDifference d = peakDifference(gatePeak(frame.trace, frame.gateA), reference.peak);
    EXPECT_EQ(differenceDbText(d), "-6.0dB");
    EXPECT_EQ(differencePathText(d), "+15.60mm");
    // Gate A closed on the live screen: no peak to compare.
    live.GateLogic = 2;
    EXPECT_FALSE(gatePeak(drawRecord(live, c).trace, drawRecord(live, c).gateA).has_value());
}
