// The online window against the simulated instrument over a real pseudo-terminal.
#include "core/protocol/dispatcher.h"
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

#include <QDir>
#include <QLineEdit>
#include <QLineSeries>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QValueAxis>
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
