#include "core/documents/recording_csv.h"
#include "core/online/text_format.h"
#include "demo/demo_data.h"
#include "operator_messages_double.h"
#include "widgets/ascan_chart.h"
#include "widgets/numeric_display.h"
#include "widgets/screen_picture.h"
#include "windows/online/record_view.h"
#include "windows/online/reference_control.h"
#include "windows/online/replay_window.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QValueAxis>
#include <gtest/gtest.h>

using namespace ufd;
using online::TFYaokong;

namespace {

using Messages = ufd::testing::ScriptedOperatorMessages;
using Kind = Messages::Kind;

class ReplayTest : public ::testing::Test {
protected:
    QString writeFile(const QString& name, const QByteArray& bytes) {
        const QString path = dir_.filePath(name);
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return path;
    }
    void open(TFYaokong& w, const QString& path) {
        w.setFileChooser([path](QWidget*, const QString&) { return path; });
        w.sbtOpenVideoClick();
    }
    void tick(TFYaokong& w, int n) {
        for (int i = 0; i < n; ++i) {
            w.Timer1Timer();
        }
    }

    QTemporaryDir dir_;
    online::ReplayState state_;
    Messages messages_;
};

} // namespace

TEST_F(ReplayTest, OpensCountsDownAndReturnsToTheStartAtTheEnd) {
    TFYaokong w(state_, messages_, dir_.path());
    EXPECT_FALSE(w.playButton()->isEnabled());
    open(w, writeFile("a.Rec", demo::makeRecording(150, 150, 1)));
    EXPECT_TRUE(messages_.shown.empty());
    EXPECT_TRUE(w.playButton()->isEnabled());
    EXPECT_EQ(w.timer()->interval(), 66);
    EXPECT_EQ(w.timeDisplay()->text(), "10.0");
    EXPECT_EQ(w.view()->field("suiEdit_VideoDate")->text(), "2026-11-2");
    EXPECT_EQ(w.view()->field("suiEdit_VideoTime")->text(), "9:5:30");

    w.sbtPlayClick();
    EXPECT_TRUE(w.timer()->isActive());
    tick(w, 1);
    EXPECT_NEAR(w.remainingTime(), 10.0 - 1.0 / 15, 1e-9); // one frame at 15 a second
    tick(w, 148);
    EXPECT_NEAR(w.remainingTime(), 1.0 / 15, 1e-9); // the last frame still to come
    EXPECT_EQ(state_.frameCounter(), 149u);
    tick(w, 1); // the last frame
    EXPECT_FALSE(w.timer()->isActive());
    EXPECT_EQ(state_.frameCounter(), 0u);
    EXPECT_EQ(w.timeDisplay()->text(), "10.0");
    EXPECT_EQ(w.view()->chart()->traceSeries()->count(), 2 * online::kDrawnPoints);
    EXPECT_EQ(w.view()->field("suiEdit_ProbeAng")->text(), "63.430");
}

TEST_F(ReplayTest, StopPausesAndPlayResumesWithTheNextFrame) {
    TFYaokong w(state_, messages_, dir_.path());
    open(w, writeFile("b.Rec", demo::makeRecording(40, 200, 2)));
    w.sbtPlayClick();
    tick(w, 10);
    w.sbtStopClick();
    EXPECT_FALSE(w.timer()->isActive());
    const QString shown = w.view()->display(1)->text();
    EXPECT_EQ(state_.frameCounter(), 10u);
    w.sbtPlayClick();
    tick(w, 1);
    EXPECT_EQ(state_.frameCounter(), 11u);
    const auto frame10 = state_.recording()->decodeFrame(10);
    EXPECT_EQ(w.view()->display(1)->text(), online::formatFixed(frame10.sValue, 2));
    EXPECT_NE(w.view()->display(1)->text(), shown);
}

TEST_F(ReplayTest, ARefusedFileKeepsThePreviousRecording) {
    TFYaokong w(state_, messages_, dir_.path());
    open(w, writeFile("good.Rec", demo::makeRecording(20, 200, 3)));
    w.sbtPlayClick();
    tick(w, 5);

    QByteArray bad = demo::makeRecording(20, 200, 3);
    bad[0] = static_cast<char>(0xAA);
    bad[1] = static_cast<char>(0xBB);
    open(w, writeFile("bad.Rec", bad));
    ASSERT_EQ(messages_.shown.size(), 1u);
    EXPECT_EQ(messages_.shown[0].text, QStringLiteral("文件非法，请检查!"));
    EXPECT_EQ(w.timeDisplay()->text(), "0.8"); // 15 of 20 frames left at 20 a second
    EXPECT_TRUE(w.playButton()->isEnabled());
    EXPECT_EQ(state_.frameCounter(), 5u);
    tick(w, 1);
    EXPECT_EQ(state_.frameCounter(), 6u);

    open(w, writeFile("zero.Rec", demo::makeRecording(1, 200, 3).left(1024)));
    EXPECT_EQ(messages_.count(Kind::Message), 2);

    open(w, dir_.filePath("missing.Rec"));
    EXPECT_EQ(messages_.count(Kind::Error), 1);
}

// A recording whose last frame is incomplete plays its whole frames and says it is cut short.
TEST_F(ReplayTest, ACutShortRecordingPlaysItsWholeFrames) {
    TFYaokong w(state_, messages_, dir_.path());
    QByteArray cut = demo::makeRecording(20, 200, 3);
    cut.chop(1);
    open(w, writeFile("short.Rec", cut));
    EXPECT_TRUE(messages_.shown.empty());
    EXPECT_EQ(w.statusText(), "Recording cut short: 19 of 20 frames.");
    EXPECT_DOUBLE_EQ(w.remainingTime(), 0.95); // 19 frames at 20 a second
    w.sbtPlayClick();
    tick(w, 19);
    EXPECT_EQ(state_.frameCounter(), 0u); // back at the start after the 19th
    EXPECT_FALSE(w.timer()->isActive());
    open(w, writeFile("whole.Rec", demo::makeRecording(20, 200, 3)));
    EXPECT_TRUE(w.statusText().isEmpty());
}

TEST_F(ReplayTest, ANewWindowStartsWithPlayDisabledButTheStateStays) {
    {
        TFYaokong w(state_, messages_, dir_.path());
        open(w, writeFile("c.Rec", demo::makeRecording(5, 200, 4)));
    }
    TFYaokong again(state_, messages_, dir_.path());
    EXPECT_FALSE(again.playButton()->isEnabled());
    EXPECT_TRUE(state_.hasRecording());
}

// A picture of what plays, with its readings, goes to Outfiles/ under the date and time and to
// the clipboard; a second one in the same second goes beside it.
TEST_F(ReplayTest, ScreenshotSavesThePictureAndCopiesIt) {
    TFYaokong w(state_, messages_, dir_.path());
    EXPECT_FALSE(w.screenshotButton()->isEnabled());
    open(w, writeFile("s.Rec", demo::makeRecording(5, 200, 6)));
    ASSERT_TRUE(w.screenshotButton()->isEnabled());
    tick(w, 1);
    w.resize(900, 600);

    // No Outfiles/ yet: the operator is told, the clipboard has it all the same.
    QGuiApplication::clipboard()->clear();
    w.sbtSaveImageClick();
    ASSERT_EQ(messages_.shown.size(), 1u);
    EXPECT_TRUE(messages_.shown[0].text.startsWith("Cannot save the picture"));
    EXPECT_FALSE(QGuiApplication::clipboard()->image().isNull());

    ASSERT_TRUE(QDir(dir_.path()).mkpath("Outfiles"));
    const QDateTime at(QDate(2026, 12, 9), QTime(14, 5, 7));
    const QString outfiles = dir_.filePath("Outfiles");
    QString error;
    const QString first = app::saveScreenPicture(w.view(), outfiles, at, &error);
    const QString second = app::saveScreenPicture(w.view(), outfiles, at, &error);
    EXPECT_EQ(first, QDir(outfiles).filePath("A-scan 20261209-140507.png"));
    EXPECT_EQ(second, QDir(outfiles).filePath("A-scan 20261209-140507 (2).png"));
    const QImage saved(first);
    EXPECT_EQ(saved.size(), w.view()->grab().size());
    EXPECT_EQ(saved, QGuiApplication::clipboard()->image().convertToFormat(saved.format()));
    w.screenshotButton()->click();
    EXPECT_EQ(QDir(outfiles).entryList(QDir::Files).size(), 3);
}

TEST_F(ReplayTest, ThePlotTakesTheFramesGeometryAndCurves) {
    TFYaokong w(state_, messages_, dir_.path());
    open(w, writeFile("d.Rec", demo::makeRecording(3, 200, 5)));
    online::AScanChart* chart = w.view()->chart();
    EXPECT_DOUBLE_EQ(chart->xAxis()->max(), 250.0); // before the first frame
    tick(w, 1);
    EXPECT_DOUBLE_EQ(chart->xAxis()->min(), 0.0);
    EXPECT_DOUBLE_EQ(chart->xAxis()->max(), 100.0);
    EXPECT_DOUBLE_EQ(chart->yAxis()->max(), 100.0);
    EXPECT_TRUE(chart->curveSeries(0)->isVisible());
    EXPECT_EQ(chart->curveSeries(0)->name(), "DAC1");
    EXPECT_GT(chart->curveSeries(0)->at(0).y(), 0.0);
    EXPECT_EQ(chart->gateASeries()->count(), 2);
    EXPECT_EQ(chart->gateBSeries()->count(), 2);
}

// The frame on the screen with the report CSV's columns and numbers, and every frame's readings
// with the time since the first frame; units in both headers; written to Outfiles/ and opened.
TEST_F(ReplayTest, FrameAndRecordingCsvFiles) {
    TFYaokong w(state_, messages_, dir_.path());
    QStringList opened;
    w.setOpener([&](const QString& path) { opened << path; });
    EXPECT_FALSE(w.frameCsvButton()->isEnabled());
    open(w, writeFile("20261102-090530.Rec", demo::makeRecording(30, 150, 7)));
    tick(w, 3);
    const QString frame = w.sbtFrameCsvClick();
    EXPECT_EQ(frame, dir_.filePath("Outfiles/20261102-090530 frame 3.csv"));
    const auto read = [](const QString& path) {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return QString::fromUtf8(f.readAll()).split("\r\n", Qt::SkipEmptyParts);
    };
    const QStringList points = read(frame);
    ASSERT_EQ(points.size(), 603);
    EXPECT_EQ(points[0], "Path (mm),Echo 1 (%),Echo 2 (%),DAC1 (%),DAC2 (%),DAC3 (%),Gate A (%),"
                         "Gate B (%)");
    const online::InstrumentRecord third = state_.recording()->decodeFrame(2);
    const online::AScanChart* chart = w.view()->chart();
    for (const int i : {0, 137, 501}) {
        const QStringList f = points[i + 1].split(',');
        ASSERT_EQ(f.size(), 8);
        const auto k = static_cast<std::size_t>(i);
        EXPECT_NEAR(f[0].toDouble(), chart->traceSeries()->at(2 * i).x(), 1e-9) << i;
        EXPECT_DOUBLE_EQ(f[1].toDouble(), third.trace1[k] * 0.25) << i;
        EXPECT_DOUBLE_EQ(f[2].toDouble(), third.trace2[k] * 0.25) << i;
        EXPECT_DOUBLE_EQ(f[3].toDouble(), chart->curveSeries(0)->at(i).y()) << i;
    }
    // The last frame, at the end of the file: its own bytes make the same CSV.
    tick(w, 27);
    const QString lastFrame = w.sbtFrameCsvClick();
    EXPECT_EQ(lastFrame, dir_.filePath("Outfiles/20261102-090530 frame 30.csv"));
    const std::vector<std::uint8_t> alone(state_.recording()->frame(29),
                                          state_.recording()->frame(29) + online::kRecordSize);
    QFile written(lastFrame);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(documents::frameCsv(alone.data()), written.readAll());

    const QString all = w.sbtRecordingCsvClick();
    EXPECT_EQ(all, dir_.filePath("Outfiles/20261102-090530.csv"));
    const QStringList rows = read(all);
    ASSERT_EQ(rows.size(), 31);
    EXPECT_EQ(rows[0], "Frame,Time (s),Depth (mm),Sound path (mm),Horizontal distance (mm),"
                       "Echo height (%),Equivalent size (mm),Base gain (dB)");
    const online::InstrumentRecord last = state_.recording()->decodeFrame(29);
    EXPECT_EQ(rows[30],
              QStringList({"30", "1.933", online::formatFixed(last.dValue, 2),
                           online::formatFixed(last.sValue, 2), online::formatFixed(last.pValue, 2),
                           online::formatFixed(last.hValue, 1), online::formatFixed(last.vERS, 2),
                           online::formatFixed(last.DB_Base / 10.0, 2)})
                  .join(','));
    EXPECT_EQ(opened.size(), 3);
    EXPECT_EQ(opened.back(), all);
}

// Pictures for a person to look at: set UFD_SCREENSHOT_DIR to get them.
TEST_F(ReplayTest, Screenshot) {
    const QString out = qEnvironmentVariable("UFD_SCREENSHOT_DIR");
    if (out.isEmpty()) {
        GTEST_SKIP() << "UFD_SCREENSHOT_DIR not set";
    }
    TFYaokong w(state_, messages_, dir_.path());
    open(w, writeFile("shot.Rec", demo::makeRecording(60, 200, 9)));
    w.resize(1150, 720);
    w.show();
    w.sbtPlayClick();
    tick(w, 25);
    w.sbtStopClick();
    QApplication::processEvents();
    EXPECT_TRUE(w.grab().save(out + "/replay_waveform.png"));
    w.view()->tabs()->setCurrentIndex(1);
    QApplication::processEvents();
    EXPECT_TRUE(w.grab().save(out + "/replay_parameter.png"));
    // Frame 25 frozen as the reference under frame 37.
    w.view()->tabs()->setCurrentIndex(0);
    ASSERT_TRUE(w.reference()->freezeClick());
    tick(w, 12);
    QApplication::processEvents();
    EXPECT_TRUE(w.grab().save(out + "/replay_reference.png"));
}
