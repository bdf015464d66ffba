#include "protocol_fakes.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace ufd;
using ufd::test::Line;
using ufd::test::response;

TEST(Sending, EachSendWritesTheInstrumentsBytes) {
    Line line;
    QSignalSpy monitor(&line.d, &protocol::Dispatcher::dataMonitorLine);

    line.d.SendPublicCmd(protocol::CmdConnect);
    line.d.SendOnlinePoll();
    line.d.SendLen16Cmd(protocol::CmdReadBlock, 4096);
    line.d.SendOpenFileCmd();
    line.d.Resend();

    ASSERT_EQ(line.sent.size(), 5u);
    EXPECT_EQ(line.hex(0), "24 16 FE CC 0C 00 10 00 CE C9 8D B4 ");
    EXPECT_EQ(line.hex(1), "24 16 FE CC 0C 00 30 00 2E 59 98 8F ");
    EXPECT_EQ(line.hex(2), "24 16 FE CC 10 00 63 00 00 10 00 00 03 70 E1 40 ");
    ASSERT_EQ(monitor.size(), 1);
    EXPECT_EQ(monitor[0][0].toString().toStdString(), line.hex(2));
    ASSERT_EQ(line.sent[3].size(), 25);
    EXPECT_EQ(line.sent[3][4], 0x19);
    EXPECT_EQ(line.sent[3].mid(8, 13), QByteArray("N0:report.bin"));
    EXPECT_EQ(line.sent[4], line.sent[3]);
    EXPECT_EQ(line.d.Scom().LastCmdCode, protocol::CmdOpenFile);
}

TEST(Sending, ARunningTimerIsNotRestartedAndAPollLeavesSupervisionAlone) {
    Line line;
    line.portOpen = false; // a closed port sends nothing but still arms the supervision
    EXPECT_EQ(line.timer->interval(), 10000);
    line.d.SendPublicCmd(protocol::CmdConnect);
    EXPECT_TRUE(line.timer->active);
    EXPECT_EQ(line.timer->interval(), 3000);
    EXPECT_EQ(line.d.RetryLimit(), 5);
    const int starts = line.timer->starts;

    line.d.SendLen16Cmd(protocol::CmdSetOffset, 0);
    EXPECT_EQ(line.timer->starts, starts);

    // A poll neither ends the supervision of the command waiting nor becomes what a resend
    // repeats.
    line.d.Timer1Timer();
    EXPECT_EQ(line.d.RetryCount(), 1);
    EXPECT_TRUE(line.d.SendOnlinePoll());
    EXPECT_TRUE(line.timer->active);
    EXPECT_EQ(line.d.RetryCount(), 1);
    EXPECT_EQ(line.d.Scom().LastCmdCode, protocol::CmdSetOffset);
    line.d.Timer1Timer();
    EXPECT_EQ(line.code(line.sent.size() - 1), protocol::CmdSetOffset);

    // A shorter period set while running takes effect at once.
    line.d.SendPublicCmd(protocol::CmdConnect);
    line.d.setResponseTimeout(50);
    const int before = line.timer->starts;
    line.d.SendPublicCmd(protocol::CmdConnect);
    EXPECT_EQ(line.timer->interval(), 50);
    EXPECT_EQ(line.timer->starts, before + 1);
    EXPECT_EQ(line.d.RetryCount(), 0);
}

// The instrument gets 3 s to answer plus the time its answer, and any answer still due before
// it, needs on the line; a live poll is waited for its line time and a second.
TEST(Sending, TimeOutsFollowTheLineSpeed) {
    Line line;
    line.baud = 9600;
    line.d.SendLen16Cmd(protocol::CmdReadBlock, 4096);
    EXPECT_EQ(line.timer->interval(), 3000 + 4280); // 4,108 bytes at 9,600 Bd
    // A re-seek after the read: the block may still come before the seek's answer.
    line.d.SendLen16Cmd(protocol::CmdSetOffset, 0, protocol::Dispatcher::Attempts::Keep);
    EXPECT_EQ(line.timer->interval(), 3000 + protocol::lineTimeMs(4108 + 64, 9600));
    line.baud = 921600;
    line.d.SendPublicCmd(protocol::CmdConnect);
    EXPECT_EQ(line.timer->interval(), 3000 + protocol::lineTimeMs(4108 + 64, 921600));

    line.baud = 115200;
    EXPECT_TRUE(line.d.SendOnlinePoll());
    line.clockMs += 1245; // 2,836 bytes take 247 ms at 115,200 Bd
    EXPECT_FALSE(line.d.SendOnlinePoll());
    line.clockMs += 2;
    EXPECT_TRUE(line.d.SendOnlinePoll());
    line.d.CommReceiveData(response(protocol::CmdOnlineRequest, 0, QByteArray(2824, 'r')));
    EXPECT_FALSE(line.d.pollOutstanding());
    EXPECT_TRUE(line.d.SendOnlinePoll());
    line.portOpen = false; // a poll that could not go out is not waited for
    line.d.CommReceiveData(response(protocol::CmdOnlineRequest, 0, QByteArray(2824, 'r')));
    EXPECT_TRUE(line.d.SendOnlinePoll());
    EXPECT_TRUE(line.d.SendOnlinePoll());
}

TEST(TimeOut, FiveResendsThenTheFinalText) {
    Line line;
    QSignalSpy timeouts(&line.d, &protocol::Dispatcher::communicationTimeout);
    line.d.SendOpenFileCmd();
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(line.timer->active);
        line.d.Timer1Timer();
    }
    EXPECT_FALSE(line.timer->active);
    EXPECT_EQ(line.d.RetryCount(), 0);
    ASSERT_EQ(line.sent.size(), 6u);
    for (const QByteArray& p : line.sent) {
        EXPECT_EQ(p, line.sent[0]);
    }
    ASSERT_EQ(timeouts.size(), 6);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(timeouts[i][0].toString(),
                  QString::fromUtf8("Communication timeout and try again%1...").arg(i + 1));
        EXPECT_EQ(timeouts[i][1].toUInt(), protocol::CmdOpenFile);
        EXPECT_FALSE(timeouts[i][2].toBool());
    }
    EXPECT_EQ(timeouts[5][0].toString(),
              QString::fromUtf8("Communication timeout\xEF\xBC\x8CPlease check the line and "
                                "communication baud rate!"));
    EXPECT_TRUE(timeouts[5][2].toBool());

    // An answer for a command given up changes nothing.
    line.d.CommReceiveData(response(protocol::CmdOpenFile));
    EXPECT_FALSE(line.timer->active);
    EXPECT_EQ(line.d.staleAnswers(), 1);
}

TEST(TimeOut, RealTimerRunsThroughTheRetries) {
    std::vector<int> lengths;
    protocol::Dispatcher d([&](const std::uint8_t*, std::uint16_t n) {
        lengths.push_back(n);
        return true;
    });
    d.setResponseTimeout(5);
    QSignalSpy timeouts(&d, &protocol::Dispatcher::communicationTimeout);
    d.SendPublicCmd(protocol::CmdConnect);
    while (timeouts.size() < 6 && timeouts.wait(5000)) {
    }
    ASSERT_EQ(timeouts.size(), 6);
    EXPECT_TRUE(timeouts.last()[2].toBool());
    EXPECT_EQ(lengths, std::vector<int>(6, 12));
}

TEST(Link, ConnectButtonAndAcknowledgements) {
    Line line;
    QSignalSpy messages(&line.d, &protocol::Dispatcher::operatorMessage);
    QSignalSpy link(&line.d, &protocol::Dispatcher::linkStateChanged);

    EXPECT_FALSE(line.d.ConnectButtonClick(false));
    EXPECT_TRUE(line.sent.empty());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0][0].toString(), QString::fromUtf8("请您先在“通信设置”菜单中打开通信口！"));

    line.d.ConnectButtonClick(true);
    line.d.ConnectButtonClick(true);
    EXPECT_EQ(line.code(0), protocol::CmdConnect);
    EXPECT_EQ(line.code(1), protocol::CmdConnect);
    EXPECT_FALSE(line.d.linkConnected());

    line.d.CommReceiveData(response(protocol::CmdConnect, 0x55));
    EXPECT_TRUE(line.d.linkConnected());
    EXPECT_FALSE(line.timer->active);
    line.d.ConnectButtonClick(true);
    EXPECT_EQ(line.code(2), protocol::CmdDisconnect);
    line.d.CommReceiveData(response(protocol::CmdDisconnect, 7));
    EXPECT_FALSE(line.d.linkConnected());

    ASSERT_EQ(link.size(), 2);
    EXPECT_EQ(link[0][1].toString(), QStringLiteral("Connect"));
    EXPECT_EQ(link[1][1].toString(), QStringLiteral("Disconnect"));
}

TEST(Receiving, ADamagedAnswerIsResentAndStaysSupervised) {
    Line line;
    QSignalSpy checks(&line.d, &protocol::Dispatcher::dataCheckError);
    line.d.SendPublicCmd(protocol::CmdConnect);
    line.d.Timer1Timer();
    QByteArray bad = response(protocol::CmdConnect);
    bad[8] = static_cast<char>(bad[8] ^ 1);
    line.d.CommReceiveData(bad);

    // The resend counts as an attempt and is supervised like any other, so a lost answer to it
    // still ends in the final time-out instead of a silent wait.
    ASSERT_EQ(line.sent.size(), 3u);
    EXPECT_EQ(line.sent[2], line.sent[0]);
    EXPECT_TRUE(line.timer->active);
    EXPECT_EQ(line.d.RetryCount(), 2);
    EXPECT_FALSE(line.d.linkConnected());
    ASSERT_EQ(checks.size(), 1);
    EXPECT_EQ(checks[0][0].toString(), QStringLiteral("Data Check error"));
    line.d.CommReceiveData(response(protocol::CmdConnect));
    EXPECT_TRUE(line.d.linkConnected());
    EXPECT_FALSE(line.timer->active);
}

TEST(Receiving, DamagedReadAnswerWithoutTransferIsDropped) {
    Line line;
    QSignalSpy monitor(&line.d, &protocol::Dispatcher::dataMonitorLine);
    line.d.SendLen16Cmd(protocol::CmdReadBlock, 4096);
    QByteArray bad = response(protocol::CmdReadBlock, 0, QByteArray(100, 'x'));
    bad[20] = 'y';
    line.d.CommReceiveData(bad);
    EXPECT_EQ(line.sent.size(), 1u);
    EXPECT_EQ(monitor.size(), 1);
    EXPECT_FALSE(line.timer->active);
}

TEST(Receiving, AnswersAreCutFromTheStreamWhateverTheChunking) {
    Line line;
    QSignalSpy online(&line.d, &protocol::Dispatcher::onlineData);
    QSignalSpy checks(&line.d, &protocol::Dispatcher::dataCheckError);

    // Polled and pushed records, split anywhere, two in one chunk, noise in between.
    const QByteArray record(2824, 'r');
    const QByteArray live = response(protocol::CmdOnlineRequest, 0, record);
    const QByteArray pushed = response(protocol::CmdOnlineEvent, 0, record);
    const QByteArray stream = live + QByteArray("trailing bytes") + pushed + live;
    for (const qsizetype cut : {qsizetype{5}, qsizetype{1000}, qsizetype{2836}, qsizetype{5700}}) {
        line.d.CommReceiveData(stream.left(cut));
        line.d.CommReceiveData(stream.mid(cut));
    }
    ASSERT_EQ(online.size(), 12);
    EXPECT_EQ(online[0][0].toByteArray(), live);
    EXPECT_EQ(online[1][0].toByteArray(), pushed);
    EXPECT_EQ(checks.size(), 4); // the noise, once per stream

    // A packet that does not start with "$" is noise, however good its checksum.
    line.d.SendPublicCmd(protocol::CmdConnect);
    QByteArray noDollar = response(protocol::CmdConnect);
    noDollar[0] = '#';
    protocol::writeU32(
        reinterpret_cast<std::uint8_t*>(noDollar.data()) + 8,
        protocol::PacketCrc32(reinterpret_cast<const std::uint8_t*>(noDollar.constData()), 8));
    line.d.CommReceiveData(noDollar);
    EXPECT_FALSE(line.d.linkConnected());
    EXPECT_TRUE(line.timer->active);

    // An answer cut off by a line that then stays quiet past the time-out is dropped, so the
    // next answer is not glued to its rest.
    line.d.CommReceiveData(response(protocol::CmdConnect).left(7));
    line.clockMs += 3001;
    line.d.CommReceiveData(response(protocol::CmdConnect));
    EXPECT_TRUE(line.d.linkConnected());
    EXPECT_EQ(checks.size(), 6);
    EXPECT_EQ(line.sent.size(), 1u);
}

// Answers come in the order of the commands; each counts only for the command it answers.
TEST(Receiving, AnAnswerCountsOnlyForTheCommandItAnswers) {
    Line line;
    // Answers nobody asked for, or for a code never sent, change nothing.
    for (std::uint8_t code : {std::uint8_t{protocol::CmdConnect}, std::uint8_t{77}, std::uint8_t{5},
                              std::uint8_t{24}}) {
        line.d.CommReceiveData(response(code));
    }
    EXPECT_FALSE(line.d.linkConnected());

    // Connect pressed twice: the first answer counts, the second is a duplicate.
    QSignalSpy link(&line.d, &protocol::Dispatcher::linkStateChanged);
    line.d.ConnectButtonClick(true);
    line.d.ConnectButtonClick(true);
    line.d.CommReceiveData(response(protocol::CmdConnect) + response(protocol::CmdConnect));
    EXPECT_EQ(link.size(), 1);
    EXPECT_FALSE(line.timer->active);

    // A disconnect whose first copy went unanswered: the answer to the resend counts, and one
    // for a code not waited for does not end the wait.
    line.d.ConnectButtonClick(true);
    line.d.Timer1Timer();
    line.d.CommReceiveData(response(protocol::CmdCloseFile));
    EXPECT_TRUE(line.timer->active);
    line.d.CommReceiveData(response(protocol::CmdDisconnect));
    EXPECT_FALSE(line.d.linkConnected());
    EXPECT_FALSE(line.timer->active);
}

// The link state is the instrument's word: a connect or disconnect answered after its final
// time-out still sets it; other late answers stay dropped.
TEST(Receiving, ALateConnectOrDisconnectAnswerStillSetsTheLink) {
    Line line;
    QSignalSpy link(&line.d, &protocol::Dispatcher::linkStateChanged);
    line.d.ConnectButtonClick(true);
    for (int i = 0; i < 6; ++i) {
        line.d.Timer1Timer(); // five resends, then given up
    }
    ASSERT_FALSE(line.timer->active);
    line.d.CommReceiveData(response(protocol::CmdConnect));
    EXPECT_TRUE(line.d.linkConnected());
    ASSERT_EQ(link.size(), 1);
    EXPECT_EQ(link[0][1].toString(), QStringLiteral("Connect"));

    // A late disconnect while another command waits: the link follows, the wait goes on.
    line.d.ConnectButtonClick(true);
    for (int i = 0; i < 6; ++i) {
        line.d.Timer1Timer();
    }
    line.d.SendOpenFileCmd();
    line.d.CommReceiveData(response(protocol::CmdDisconnect));
    EXPECT_FALSE(line.d.linkConnected());
    EXPECT_TRUE(line.timer->active);
    line.d.CommReceiveData(response(protocol::CmdDisconnect)); // answered already: nothing
    EXPECT_EQ(link.size(), 2);
}

// The line vanishes: nothing outstanding can be answered and the instrument is disconnected.
TEST(Receiving, ALostLineEndsTheWaitAndTheLink) {
    Line line;
    line.d.SendPublicCmd(protocol::CmdConnect);
    line.d.CommReceiveData(response(protocol::CmdConnect));
    ASSERT_TRUE(line.d.linkConnected());
    QSignalSpy gone(&line.d, &protocol::Dispatcher::lineGone);
    QSignalSpy link(&line.d, &protocol::Dispatcher::linkStateChanged);
    line.d.SendPublicCmd(protocol::CmdDisconnect);
    line.d.CommReceiveData(response(protocol::CmdDisconnect).left(5));
    line.d.lineLost();
    EXPECT_FALSE(line.timer->active);
    EXPECT_FALSE(line.d.linkConnected());
    ASSERT_EQ(link.size(), 1);
    EXPECT_EQ(link[0][1].toString(), QStringLiteral("Disconnect"));
    ASSERT_EQ(gone.size(), 1);
    EXPECT_EQ(gone[0][0].toString(), protocol::lineLostText());
    // The half answer held from the old line does not spoil the first one on a new line.
    line.d.SendPublicCmd(protocol::CmdConnect);
    line.d.CommReceiveData(response(protocol::CmdConnect));
    EXPECT_TRUE(line.d.linkConnected());
}

TEST(Receiving, LineErrorDropsExactlyTheNextBlock) {
    Line line;
    line.d.SendPublicCmd(protocol::CmdConnect);
    line.d.CommReceiveError(0x80);
    line.d.CommReceiveData(response(protocol::CmdConnect));
    EXPECT_FALSE(line.d.linkConnected());
    EXPECT_TRUE(line.timer->active);
    line.d.CommReceiveData(response(protocol::CmdConnect));
    EXPECT_TRUE(line.d.linkConnected());
    EXPECT_FALSE(line.timer->active);
}
