#include "core/online/text_format.h"
#include "core/reports/report_display.h"
#include "sheet_fixtures.h"

using namespace ufd;
using reports::ReportDisplay;
using reports::showCurrentReport;
using sheet_test::ReportRowsTest;

namespace {

class ShowReportTest : public ReportRowsTest {};

TEST_F(ShowReportTest, PlacesTracesCurvesAndTablesOnThePathAxis) {
    for (int row : {sheet_test::kDacRow, sheet_test::kAvgRow, sheet_test::kPlainRow}) {
        SCOPED_TRACE(row);
        const auto rec = record(row);
        const auto shown = showCurrentReport(rows_[row], ReportDisplay{});
        ASSERT_TRUE(shown.ok()) << shown.error.toStdString();
        const ReportDisplay& d = shown.display;

        const double range = rec.mRange / 10.0;
        const double x0 = rec.SoundVel / 1000.0 * (rec.dDelay / 100.0) / 2.0;
        EXPECT_DOUBLE_EQ(d.scale, range / rec.displayPoints());
        EXPECT_DOUBLE_EQ(d.x0, x0);
        EXPECT_DOUBLE_EQ(d.x1, x0 + range);
        EXPECT_DOUBLE_EQ(d.xMin, x0);
        EXPECT_DOUBLE_EQ(d.xMax, x0 + range);

        ASSERT_EQ(d.trace.size(), 1204);
        ASSERT_EQ(d.sampleTable.size(), 1205u);
        ASSERT_EQ(d.curveTable.size(), 603u);
        for (auto& c : d.curves) {
            ASSERT_EQ(c.size(), 602);
        }
        for (std::size_t i = 0; i < 602; i += 37) {
            const double x = static_cast<double>(i) * d.scale + x0;
            const auto k = static_cast<qsizetype>(i);
            EXPECT_DOUBLE_EQ(d.trace[2 * k].x(), x);
            EXPECT_DOUBLE_EQ(d.trace[2 * k].y(), rec.trace1[i] * 0.25);
            EXPECT_DOUBLE_EQ(d.trace[2 * k + 1].x(), x);
            EXPECT_DOUBLE_EQ(d.trace[2 * k + 1].y(), rec.trace2[i] * 0.25);
            EXPECT_DOUBLE_EQ(d.curves[0][k].x(), x);

            const auto& first = d.sampleTable[2 * i + 1];
            const auto& second = d.sampleTable[2 * i + 2];
            EXPECT_EQ(first[0], online::formatFixed(x, 2));
            EXPECT_EQ(second[0], first[0]);
            EXPECT_EQ(first[1].toDouble(), rec.trace1[i] * 0.25);
            EXPECT_EQ(second[1].toDouble(), rec.trace2[i] * 0.25);
            EXPECT_EQ(d.curveTable[i + 1][0], online::formatGeneral(x));
            EXPECT_EQ(d.curveTable[i + 1][2].toDouble(), d.curves[1][k].y());
        }
        EXPECT_EQ(d.curveTable[0][1], QStringLiteral("DAC评定线"));
        EXPECT_EQ(d.sampleTable[0][0], QStringLiteral("PATH"));
    }
}

TEST_F(ShowReportTest, CurveSeriesFollowTheCurveTypeAndKeepTitlesWhenHidden) {
    auto dac = showCurrentReport(rows_[sheet_test::kDacRow], ReportDisplay{});
    ASSERT_TRUE(dac.ok());
    EXPECT_TRUE(dac.display.curvesVisible);
    EXPECT_EQ(dac.display.curveTitles[2], QStringLiteral("DAC3"));
    // The DAC curves of a calibrated report are not flat zero.
    EXPECT_GT(dac.display.curves[0][100].y(), 0.0);

    auto avg = showCurrentReport(rows_[sheet_test::kAvgRow], dac.display);
    ASSERT_TRUE(avg.ok());
    EXPECT_TRUE(avg.display.curvesVisible);
    EXPECT_EQ(avg.display.curveTitles[0], QStringLiteral("AVG1"));

    auto plain = showCurrentReport(rows_[sheet_test::kPlainRow], avg.display);
    ASSERT_TRUE(plain.ok());
    EXPECT_FALSE(plain.display.curvesVisible);
    EXPECT_EQ(plain.display.curveTitles[0], QStringLiteral("AVG1"));
    EXPECT_EQ(plain.display.curves[0][300].y(), 0.0);
}

TEST_F(ShowReportTest, GatesAreDrawnByLogicAndMarkedWhereThePathLiesInside) {
    QSqlRecord row = rows_[sheet_test::kDacRow];
    row.setValue("GateA_Start", 20.0);
    row.setValue("GateA_Width", 10.0);
    row.setValue("GateA_Height", 45.5);
    row.setValue("GateB_Start", 50.0);
    row.setValue("GateB_Width", 5.0);
    row.setValue("GateB_Height", 60.0);
    struct Case {
        const char* logic;
        bool a, b;
    };
    for (const Case c : {Case{"GateA", true, false}, Case{"GateB", false, true},
                         Case{"GateAB", true, true}, Case{"Close", false, false}}) {
        SCOPED_TRACE(c.logic);
        row.setValue("GateLogic", QString::fromLatin1(c.logic));
        const auto shown = showCurrentReport(row, ReportDisplay{});
        ASSERT_TRUE(shown.ok());
        const ReportDisplay& d = shown.display;
        EXPECT_EQ(d.gateA.size(), c.a ? 2 : 0);
        EXPECT_EQ(d.gateB.size(), c.b ? 2 : 0);
        if (c.a) {
            EXPECT_EQ(d.gateA[0], QPointF(20.0, 45.5));
            EXPECT_EQ(d.gateA[1], QPointF(30.0, 45.5));
        }
        if (c.b) {
            EXPECT_EQ(d.gateB[1], QPointF(55.0, 60.0));
        }
        // The table marks the gates whatever the logic; the logic only decides the drawing.
        int insideA = 0;
        for (std::size_t r = 1; r < d.sampleTable.size(); ++r) {
            const double p = d.sampleTable[r][0].toDouble();
            const bool inA = p >= 20.0 && p <= 30.0;
            const bool inB = p >= 50.0 && p <= 55.0;
            EXPECT_EQ(d.sampleTable[r][2], inA ? QStringLiteral("45.50") : QString()) << r;
            EXPECT_EQ(d.sampleTable[r][3], inB ? QStringLiteral("60.00") : QString()) << r;
            insideA += inA ? 1 : 0;
        }
        EXPECT_GT(insideA, 0);
    }
}

TEST_F(ShowReportTest, RadioRectifyGivesASymmetricVerticalAxis) {
    QSqlRecord row = rows_[sheet_test::kDacRow];
    row.setValue("ProbeRectify", QStringLiteral("Radio"));
    auto shown = showCurrentReport(row, ReportDisplay{});
    ASSERT_TRUE(shown.ok());
    EXPECT_EQ(shown.display.yMin, -100.0);
    EXPECT_EQ(shown.display.yMax, 100.0);
    row.setValue("ProbeRectify", QStringLiteral("Full"));
    shown = showCurrentReport(row, shown.display);
    EXPECT_EQ(shown.display.yMin, 0.0);
}

TEST_F(ShowReportTest, FullScreenFlagSetsTheScale) {
    QSqlRecord row = rows_[sheet_test::kDacRow];
    row.setValue("mRange", QStringLiteral("120.0"));
    row.setValue("dDelay", QStringLiteral("0.00"));
    row.setValue("Flag_FullSScr", 1);
    auto shown = showCurrentReport(row, ReportDisplay{});
    ASSERT_TRUE(shown.ok());
    EXPECT_DOUBLE_EQ(shown.display.scale, 0.2);
    EXPECT_DOUBLE_EQ(shown.display.x1, 120.0);
    EXPECT_EQ(shown.display.sampleTable[2 * 600 + 1][0], QStringLiteral("120.00"));
    row.setValue("Flag_FullSScr", 0);
    shown = showCurrentReport(row, ReportDisplay{});
    EXPECT_DOUBLE_EQ(shown.display.scale, 0.24);
}

TEST_F(ShowReportTest, GateTestReadsThePathAsTheTableShowsIt) {
    // Point 100 lies at 19.996 mm, shown as 20.00: inside a gate from 20.00 mm.
    QSqlRecord row = rows_[sheet_test::kDacRow];
    row.setValue("mRange", QStringLiteral("99.98"));
    row.setValue("dDelay", QStringLiteral("0.00"));
    row.setValue("Flag_FullSScr", 0);
    row.setValue("GateA_Start", 20.0);
    row.setValue("GateA_Width", 10.0);
    row.setValue("GateA_Height", 50.0);
    row.setValue("GateB_Start", 20.004);
    row.setValue("GateB_Width", 10.0);
    row.setValue("GateB_Height", 70.0);
    const auto shown = showCurrentReport(row, ReportDisplay{});
    ASSERT_TRUE(shown.ok());
    const auto& t = shown.display.sampleTable;
    ASSERT_NEAR(100 * shown.display.scale, 19.996, 1e-9);
    EXPECT_EQ(t[201][0], QStringLiteral("20.00"));
    EXPECT_EQ(t[201][2], QStringLiteral("50.00"));
    EXPECT_EQ(t[202][2], QStringLiteral("50.00"));
    EXPECT_EQ(t[199][2], QString()); // point 99 at 19.796
    EXPECT_EQ(t[201][3], QString()); // 20.00 is before a gate from 20.004
}

TEST_F(ShowReportTest, ConversionErrorsStopTheShowAndKeepWhatIsNotRedrawn) {
    const auto first = showCurrentReport(rows_[sheet_test::kDacRow], ReportDisplay{});
    ASSERT_TRUE(first.ok());
    const ReportDisplay& before = first.display;
    const QSqlRecord good = rows_[sheet_test::kAvgRow];

    // No row at all (an import of an empty slot list) and empty axis columns: nothing changes.
    EXPECT_FALSE(showCurrentReport(QSqlRecord(), before).ok());
    for (const char* column : {"mRange", "dDelay", "SoundVel", "Flag_FullSScr"}) {
        SCOPED_TRACE(column);
        QSqlRecord row = good;
        row.setNull(column);
        const auto shown = showCurrentReport(row, before);
        EXPECT_FALSE(shown.ok());
        EXPECT_EQ(shown.display.x1, before.x1);
        EXPECT_EQ(shown.display.trace, before.trace);
    }
    QSqlRecord text = good;
    text.setValue("mRange", QStringLiteral("12,5"));
    EXPECT_FALSE(showCurrentReport(text, before).ok());

    // An empty gate column stops after the axes were set, before the series.
    QSqlRecord gate = good;
    gate.setNull("GateB_Height");
    auto shown = showCurrentReport(gate, before);
    EXPECT_FALSE(shown.ok());
    EXPECT_NE(shown.display.x1, before.x1);
    EXPECT_EQ(shown.display.trace, before.trace);
    EXPECT_EQ(shown.display.sampleTable, before.sampleTable);

    // Damaged FileData: too few values, a token that is no integer, a trace value out of range.
    const QString data = good.value("FileData").toString();
    const QString broken[] = {data.left(data.size() - 2), QString(data).replace(0, 1, "x"),
                              "70000;" + data.mid(data.indexOf(';') + 1), QString()};
    for (const QString& b : broken) {
        QSqlRecord row = good;
        row.setValue("FileData", b);
        shown = showCurrentReport(row, before);
        EXPECT_FALSE(shown.ok());
        EXPECT_EQ(shown.display.trace, before.trace);
        EXPECT_EQ(shown.display.curveTitles, before.curveTitles);
    }
}

} // namespace
