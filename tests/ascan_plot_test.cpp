#include "core/online/ascan_plot.h"

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
