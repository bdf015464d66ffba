// The online window against the simulated instrument over a real pseudo-terminal.
#include "core/archive/report_archive.h"
#include "core/archive/shared_database.h"
#include "core/online/record_texts.h"
#include "core/online/recording.h"
#include "core/protocol/dispatcher.h"
#include "core/reports/database.h"
#include "core/serial/comm.h"
#include "core/serial/instrument_port.h"
#include "demo/demo_data.h"
#include "instrument.h"
#include "operator_messages_double.h"
#include "wait_for.h"
#include "widgets/ascan_chart.h"
#include "widgets/numeric_display.h"
#include "windows/online/online_window.h"
#include "windows/online/record_view.h"
#include "windows/online/recording_control.h"
#include "windows/online/reference_chooser.h"
#include "windows/online/reference_control.h"
#include "windows/online/replay_window.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QValueAxis>
#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>

using namespace ufd;
using online::TSssj;
using Kind = ufd::testing::ScriptedOperatorMessages::Kind;

namespace {

class OnlineWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim_.start(dir_.filePath("port").toStdString(), error)) << error;
        serial::configureForInstrument(comm_);
        serial::openInstrumentPort(comm_, dir_.filePath("port"), 921600);
        QObject::connect(&comm_, &serial::TComm::OnReceiveData, &dispatcher_,
                         &protocol::Dispatcher::CommReceiveData);
    }
    void TearDown() override {
        comm_.ClosePort();
        sim_.stop();
    }

    QTemporaryDir dir_;
    sim::Instrument sim_;
    serial::TComm comm_;
    protocol::Dispatcher dispatcher_{
        [this](const std::uint8_t* d, std::uint16_t n) { return comm_.WriteData(d, n); }};
    ufd::testing::ScriptedOperatorMessages messages_;
    bool portOpen_ = true;
    std::function<bool()> portFlag_ = [this] { return portOpen_; };
};

} // namespace

TEST_F(OnlineWindowTest, StartPollsAndDrawsStopStops) {
    TSssj w(dispatcher_, portFlag_, messages_);
    w.setAttribute(Qt::WA_DeleteOnClose, false);
    w.show();
    EXPECT_EQ(w.statusText(), "Communication Port opened.");
    EXPECT_DOUBLE_EQ(w.view()->chart()->xAxis()->max(), 250.0); // before the first record
    EXPECT_DOUBLE_EQ(w.view()->chart()->yAxis()->max(), 400.0);

    QTest::mouseClick(w.startButton(), Qt::LeftButton);
    EXPECT_EQ(w.statusText(), QStringLiteral("准备..."));
    EXPECT_FALSE(w.startButton()->isEnabled());
    EXPECT_TRUE(w.stopButton()->isEnabled());
    EXPECT_EQ(w.pollTimer()->interval(), 100);
    UFD_WAIT_EQ(w.view()->chart()->traceSeries()->count(), 2 * online::kDrawnPoints, 5000);
    EXPECT_EQ(w.view()->field("suiEdit_ProbeFreq")->text(), "2.50MHz");
    EXPECT_EQ(w.view()->chart()->curveSeries(0)->name(), "DAC1");
    EXPECT_DOUBLE_EQ(w.view()->chart()->xAxis()->max(), 100.0);
    EXPECT_FALSE(w.view()->display(1)->text().isEmpty());

    // A picture of the live screen goes to Outfiles/.
    ASSERT_TRUE(QDir(dir_.path()).mkpath("Outfiles"));
    w.setOutputFolder(dir_.filePath("Outfiles"));
    QTest::mouseClick(w.screenshotButton(), Qt::LeftButton);
    EXPECT_EQ(QDir(dir_.filePath("Outfiles")).entryList({"A-scan *.png"}, QDir::Files).size(), 1);

    QTest::mouseClick(w.stopButton(), Qt::LeftButton);
    EXPECT_FALSE(w.pollTimer()->isActive());
    EXPECT_EQ(w.statusText(), "Stop...");
    EXPECT_TRUE(w.startButton()->isEnabled());
    const long long sent = sim_.stats().commands;
    QTest::qWait(350);
    EXPECT_LE(sim_.stats().commands, sent + 1); // at most a poll already on the line
}

TEST_F(OnlineWindowTest, StatusTextCyclesAndRestartsAtTwoDots) {
    TSssj w(dispatcher_, portFlag_, messages_);
    w.BitBtn_StartClick();
    w.pollTimer()->stop(); // drive the ticks by hand
    const QStringList expected{"In data communication..", "In data communication...",
                               "In data communication.", "In data communication.."};
    for (const QString& text : expected) {
        w.Timer_RealDataTimer();
        EXPECT_EQ(w.statusText(), text);
        // At most one poll waits for its answer: a tick before it is in sends nothing.
        ASSERT_TRUE(dispatcher_.pollOutstanding());
        w.Timer_RealDataTimer();
        EXPECT_EQ(w.statusText(), text);
        UFD_WAIT_TRUE(!dispatcher_.pollOutstanding(), 5000);
    }
    w.BitBtn_StopClick();
    w.BitBtn_StartClick();
    w.pollTimer()->stop();
    w.Timer_RealDataTimer();
    EXPECT_EQ(w.statusText(), "In data communication..");
}

TEST_F(OnlineWindowTest, WithThePortClosedItSaysSoAndDoesNotPoll) {
    portOpen_ = false;
    TSssj w(dispatcher_, portFlag_, messages_);
    w.setAttribute(Qt::WA_DeleteOnClose, false);
    w.show();
    ASSERT_EQ(messages_.shown.size(), 1u);
    EXPECT_EQ(messages_.shown[0].text, "Please set and open the communication port first!");
    EXPECT_EQ(w.statusText(), "Communication Port closed.");
    w.BitBtn_StartClick();
    ASSERT_EQ(messages_.shown.size(), 2u);
    EXPECT_EQ(messages_.shown[1].text, QStringLiteral("请您先在“通信设置”菜单中打开通信口！"));
    EXPECT_TRUE(w.startButton()->isEnabled());
    EXPECT_FALSE(w.pollTimer()->isActive());
}

TEST_F(OnlineWindowTest, ClosingWhilePollingSendsNoMorePollsButShowsALateAnswer) {
    sim_.setAnswerDelay(std::chrono::milliseconds(250));
    QPointer<TSssj> w = new TSssj(dispatcher_, portFlag_, messages_);
    w->show();
    w->BitBtn_StartClick();
    w->pollTimer()->stop();
    w->Timer_RealDataTimer(); // one poll, answered 250 ms later
    w->pollTimer()->start();
    const auto before = w->onlineData().raw();
    w->close();               // drains for 500 ms
    ASSERT_FALSE(w.isNull()); // deleted only once the event loop runs again
    EXPECT_NE(w->onlineData().raw(), before);
    const long long sent = sim_.stats().commands;
    QTest::qWait(400);
    EXPECT_TRUE(w.isNull());
    EXPECT_EQ(sim_.stats().commands, sent);
}

TEST_F(OnlineWindowTest, PushedRecordsAreShownWithoutPolling) {
    sim_.setPushRate(20);
    TSssj w(dispatcher_, portFlag_, messages_);
    dispatcher_.SendPublicCmd(protocol::CmdConnect); // pushes only while connected
    UFD_WAIT_EQ(w.view()->chart()->traceSeries()->count(), 2 * online::kDrawnPoints, 5000);
    EXPECT_FALSE(w.pollTimer()->isActive());
}

// Pictures for a person to look at: set UFD_SCREENSHOT_DIR to get them.
TEST_F(OnlineWindowTest, Screenshots) {
    const QString out = qEnvironmentVariable("UFD_SCREENSHOT_DIR");
    if (out.isEmpty()) {
        GTEST_SKIP() << "UFD_SCREENSHOT_DIR not set";
    }
    for (const auto& [curves, name] : {std::pair{demo::CurveSet::Dac, "online_dac.png"},
                                       std::pair{demo::CurveSet::Avg, "online_avg.png"}}) {
        sim_.setCurveSet(curves);
        TSssj w(dispatcher_, portFlag_, messages_);
        w.setAttribute(Qt::WA_DeleteOnClose, false);
        w.resize(1150, 720);
        w.show();
        w.BitBtn_StartClick();
        QTest::qWait(700);
        w.BitBtn_StopClick();
        QTest::qWait(200);
        EXPECT_TRUE(w.grab().save(out + "/" + name));
    }
}

// Answers that stop make the screen say so and stop looking live until the next answer; a line
// that is lost ends the polling.
TEST_F(OnlineWindowTest, OverdueAnswersMarkTheScreenNotLiveAndALostLineStopsPolling) {
    QObject::connect(&comm_, &serial::TComm::OnRequestHangup, &dispatcher_, [this] {
        comm_.ClosePort();
        dispatcher_.lineLost();
    });
    dispatcher_.setResponseTimeout(300); // an answer is overdue after about 0.33 s
    sim_.setOffAfter(4, std::chrono::milliseconds(1200));
    TSssj w(dispatcher_, portFlag_, messages_);
    w.BitBtn_StartClick();
    UFD_WAIT_EQ(w.view()->chart()->traceSeries()->count(), 2 * online::kDrawnPoints, 5000);
    EXPECT_TRUE(w.view()->chart()->isLive());

    UFD_WAIT_TRUE(!w.view()->chart()->isLive(), 5000);
    EXPECT_TRUE(w.statusText().startsWith("No answer from the instrument since "))
        << w.statusText().toStdString();
    EXPECT_TRUE(w.view()->chart()->chart()->title().contains("not live, last answer"));
    EXPECT_TRUE(w.stopButton()->isEnabled()); // still asking
    QTest::qWait(250);                        // polls go on without overwriting the text
    EXPECT_TRUE(w.statusText().startsWith("No answer from the instrument since "));
    if (const QString out = qEnvironmentVariable("UFD_SCREENSHOT_DIR"); !out.isEmpty()) {
        w.resize(1150, 720);
        EXPECT_TRUE(w.grab().save(out + "/online_not_live.png"));
    }

    UFD_WAIT_TRUE(w.view()->chart()->isLive(), 5000); // switched on again
    UFD_WAIT_TRUE(w.statusText().startsWith("In data communication"), 2000);
    UFD_WAIT_TRUE(w.rateText().contains(" answers a second, the last "), 2000);

    sim_.setCloseAfter(1); // the adapter is pulled
    UFD_WAIT_TRUE(!w.pollTimer()->isActive(), 5000);
    EXPECT_EQ(w.statusText(), protocol::lineLostText());
    EXPECT_FALSE(w.view()->chart()->isLive());
    EXPECT_TRUE(w.startButton()->isEnabled());
    EXPECT_FALSE(w.stopButton()->isEnabled());
}

namespace {

// A recording frame holds the live record as it came, its real32 fields as IEEE singles.
::testing::AssertionResult frameHoldsLiveRecord(const std::uint8_t* frame,
                                                const std::uint8_t* live) {
    std::vector<std::size_t> reals{0, 4, 8, 12, 16, 20, 24, 68, 284};
    for (std::size_t i = 0; i < 15; ++i) {
        reals.push_back(140 + 8 * i);
    }
    for (std::size_t at = 0; at < online::kRecordSize; ++at) {
        if (std::find(reals.begin(), reals.end(), at - at % 4) != reals.end()) {
            continue; // every real32 field starts at a multiple of 4
        }
        if (frame[at] != live[at]) {
            return ::testing::AssertionFailure() << "byte " << at << " differs";
        }
    }
    for (const std::size_t at : reals) {
        std::int32_t milli = 0;
        float value = 0;
        std::memcpy(&milli, live + at, 4);
        std::memcpy(&value, frame + at, 4);
        if (value != static_cast<float>(milli / 1000.0)) {
            return ::testing::AssertionFailure() << "real at " << at << ": " << value;
        }
    }
    return ::testing::AssertionSuccess();
}

} // namespace

// "Record" after the answers began holds them from 10 s back; every frame is the answer that
// arrived, the file replays, and a lost line ends a second recording with the frames it has.
TEST_F(OnlineWindowTest, RecordingsHoldWhatArrivedAndALostLineClosesThem) {
    QObject::connect(&comm_, &serial::TComm::OnRequestHangup, &dispatcher_, [this] {
        comm_.ClosePort();
        dispatcher_.lineLost();
    });
    sim_.setLine({921600, 16});
    std::vector<QByteArray> arrived;
    QObject::connect(&dispatcher_, &protocol::Dispatcher::onlineData,
                     [&](const QByteArray& p) { arrived.push_back(p); });
    const QString folder = dir_.filePath("Record");
    TSssj w(dispatcher_, portFlag_, messages_);
    w.setRecordFolder(folder);
    w.BitBtn_StartClick();
    UFD_WAIT_TRUE(arrived.size() >= 3, 5000);
    QTest::mouseClick(w.recording()->recordButton(), Qt::LeftButton);
    EXPECT_FALSE(w.recording()->recordButton()->isEnabled());
    const std::size_t before = arrived.size();
    UFD_WAIT_TRUE(arrived.size() >= before + 3, 5000);
    QTest::mouseClick(w.recording()->stopButton(), Qt::LeftButton);
    const std::size_t recorded = arrived.size();
    EXPECT_EQ(w.recording()->statusText(),
              QString("Recorded %1 frames in %2")
                  .arg(recorded)
                  .arg(QFileInfo(w.recording()->recorder().path()).fileName()));

    const QStringList files = QDir(folder).entryList({"*.Rec"}, QDir::Files);
    ASSERT_EQ(files.size(), 1);
    QFile f(QDir(folder).filePath(files[0]));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const auto rec = online::Recording::parse(f.readAll());
    ASSERT_TRUE(rec.has_value());
    ASSERT_EQ(rec->frameCount(), recorded);
    EXPECT_FALSE(rec->cutShort());
    for (std::uint32_t k = 0; k < recorded; ++k) {
        EXPECT_TRUE(frameHoldsLiveRecord(
            rec->frame(k), reinterpret_cast<const std::uint8_t*>(arrived[k].constData()) + 8))
            << "frame " << k;
    }
    // It plays in the replay window as it was shown live.
    online::ReplayState replay;
    online::TFYaokong player(replay, messages_, dir_.path());
    player.setFileChooser([&](QWidget*, const QString&) { return f.fileName(); });
    player.sbtOpenVideoClick();
    ASSERT_TRUE(player.playButton()->isEnabled());
    player.Timer1Timer();
    online::TOnlineData first;
    first.decodeLivePacket(reinterpret_cast<const std::uint8_t*>(arrived[0].constData()),
                           static_cast<std::size_t>(arrived[0].size()));
    const online::RecordTexts live = online::recordTexts(first.decoded());
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(player.view()->display(i)->text(),
                  live.displays[static_cast<std::size_t>(i)].text);
    }

    // The adapter is pulled while recording: the file ends with every frame that came.
    w.recording()->recordClick();
    const std::size_t second = arrived.size();
    UFD_WAIT_TRUE(w.recording()->recorder().frames() >= 2, 5000);
    sim_.setCloseAfter(1);
    UFD_WAIT_TRUE(!w.recording()->recording(), 5000);
    const std::uint32_t kept = w.recording()->recorder().frames();
    EXPECT_EQ(kept, arrived.size() - second);
    EXPECT_TRUE(w.recording()->statusText().endsWith(": " + protocol::lineLostText()))
        << w.recording()->statusText().toStdString();
    QFile g(w.recording()->recorder().path());
    ASSERT_TRUE(g.open(QIODevice::ReadOnly));
    const auto cut = online::Recording::parse(g.readAll());
    ASSERT_TRUE(cut.has_value());
    EXPECT_EQ(cut->frameCount(), kept);
    EXPECT_FALSE(cut->cutShort());
    EXPECT_TRUE(w.recording()->recordButton()->isEnabled());
}

// An archived report on another range, then the frozen screen, as the echo under the live one:
// drawn on the live axis, its readings and difference above the plot and in the picture.
TEST_F(OnlineWindowTest, AReferenceIsDrawnUnderTheTraceWithTheDifference) {
    reports::DataStore store;
    archive::DatabaseLocation here;
    here.folder = dir_.path();
    QString error;
    ASSERT_TRUE(archive::openDatabases(store, here, {}, error)) << error.toStdString();
    archive::ReportArchive archive(store.archiveDb());
    ASSERT_TRUE(archive.add(demo::makeReportImage(3, 1), {"Report20261102.bin", "Wu"}).ok());
    const auto page = archive.list({});
    ASSERT_TRUE(page.has_value());
    // The AVG report: a straight probe over 200 mm, where the live view shows 100 mm.
    const auto avg = std::find_if(page->entries.begin(), page->entries.end(),
                                  [](const archive::ArchiveEntry& e) { return e.fileNum == 1; });
    ASSERT_NE(avg, page->entries.end());

    // The chooser lists the archive as its filters say.
    online::ReferenceChooser chooser(store);
    EXPECT_EQ(chooser.countLabel()->text(), "3 reports");
    chooser.nameFilter()->setText(avg->fileName);
    ASSERT_TRUE(chooser.refresh());
    EXPECT_EQ(chooser.countLabel()->text(), "1 reports");
    EXPECT_EQ(chooser.chosenId(), avg->id);
    if (const QString out = qEnvironmentVariable("UFD_SCREENSHOT_DIR"); !out.isEmpty()) {
        chooser.nameFilter()->clear();
        chooser.refresh();
        EXPECT_TRUE(chooser.grab().save(out + "/online_reference_chooser.png"));
    }

    ASSERT_TRUE(QDir(dir_.path()).mkpath("Outfiles"));
    TSssj w(dispatcher_, portFlag_, messages_);
    w.setAttribute(Qt::WA_DeleteOnClose, false);
    w.setArchive(&store);
    w.setOutputFolder(dir_.filePath("Outfiles"));
    w.resize(1150, 720);
    w.show();
    EXPECT_FALSE(w.reference()->freezeClick()); // nothing on the screen yet
    ASSERT_FALSE(messages_.shown.empty());
    EXPECT_EQ(messages_.shown.back().text, "There is no trace on the screen to freeze yet.");

    w.BitBtn_StartClick();
    UFD_WAIT_EQ(w.view()->chart()->traceSeries()->count(), 2 * online::kDrawnPoints, 5000);
    w.reference()->setReportChooser([&](QWidget*) { return avg->id; });
    ASSERT_TRUE(w.reference()->archivedClick());
    QLineSeries* ref = w.view()->chart()->referenceSeries();
    EXPECT_TRUE(ref->isVisible());
    EXPECT_TRUE(w.reference()->clearButton()->isEnabled());
    // Its points 0 to 250 (0.4 mm apart) lie on the live axis up to 100 mm, at their own paths.
    ASSERT_EQ(ref->count(), 2 * 251);
    EXPECT_DOUBLE_EQ(ref->points().back().x(), 100.0);
    EXPECT_EQ(w.view()->field("suiEdit_Reference")->text(),
              avg->fileName + " " + avg->fileDate.toString("yyyy-MM-dd hh:mm:ss"));
    const int shownBefore = static_cast<int>(sim_.stats().answers);
    UFD_WAIT_TRUE(sim_.stats().answers > shownBefore + 1, 5000); // a record with the reference
    EXPECT_TRUE(w.view()->field("suiEdit_PeakDifference")->text().contains("dB, "))
        << w.view()->field("suiEdit_PeakDifference")->text().toStdString();
    EXPECT_TRUE(w.view()->difference().dB.has_value());

    // The picture carries the reference echo in its colour and the readings.
    QTest::mouseClick(w.screenshotButton(), Qt::LeftButton);
    const QStringList pictures =
        QDir(dir_.filePath("Outfiles")).entryList({"A-scan *.png"}, QDir::Files);
    ASSERT_EQ(pictures.size(), 1);
    const QImage picture(dir_.filePath("Outfiles/" + pictures[0]));
    const QRgb light = ref->pen().color().rgb();
    int lightPixels = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            lightPixels += picture.pixel(x, y) == light ? 1 : 0;
        }
    }
    EXPECT_GT(lightPixels, 50);
    if (const QString out = qEnvironmentVariable("UFD_SCREENSHOT_DIR"); !out.isEmpty()) {
        EXPECT_TRUE(w.grab().save(out + "/online_reference.png"));
    }

    QTest::mouseClick(w.reference()->clearButton(), Qt::LeftButton);
    EXPECT_FALSE(ref->isVisible());
    EXPECT_FALSE(w.view()->field("suiEdit_PeakDifference")->isVisibleTo(&w));

    // Frozen: the trace now on the screen, at its paths.
    w.BitBtn_StopClick();
    QTest::qWait(150);
    ASSERT_TRUE(w.reference()->freezeClick());
    QList<QPointF> onAxis = w.view()->chart()->traceSeries()->points();
    onAxis.removeIf([&](const QPointF& p) { return p.x() > w.view()->chart()->xAxis()->max(); });
    EXPECT_EQ(ref->points(), onAxis);
    EXPECT_EQ(w.view()->field("suiEdit_PeakDifference")->text(), "0.0dB, 0.00mm");
}
