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

TEST(Sending, ARunningTimerIsNotRestartedAndAPollEndsSupervision) {
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

    line.d.Timer1Timer();
    EXPECT_EQ(line.d.RetryCount(), 1);
    line.d.SendOnlinePoll();
    EXPECT_FALSE(line.timer->active);
    EXPECT_EQ(line.d.RetryCount(), 1);
    EXPECT_EQ(line.d.Scom().LastCmdCode, protocol::CmdSetOffset);

    // A shorter period set while running takes effect at once.
    line.d.SendPublicCmd(protocol::CmdConnect);
    line.d.setResponseTimeout(50);
    const int before = line.timer->starts;
    line.d.SendPublicCmd(protocol::CmdConnect);
    EXPECT_EQ(line.timer->interval(), 50);
    EXPECT_EQ(line.timer->starts, before + 1);
    EXPECT_EQ(line.d.RetryCount(), 0);
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

    // A late answer is still routed.
    line.d.CommReceiveData(response(protocol::CmdConnect));
    EXPECT_TRUE(line.d.linkConnected());
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

TEST(Receiving, DamagedBlockIsResentOnceWithoutSupervision) {
    Line line;
    QSignalSpy checks(&line.d, &protocol::Dispatcher::dataCheckError);
    line.d.SendPublicCmd(protocol::CmdConnect);
    line.d.Timer1Timer();
    QByteArray bad = response(protocol::CmdConnect);
    bad[8] = static_cast<char>(bad[8] ^ 1);
    line.d.CommReceiveData(bad);

    ASSERT_EQ(line.sent.size(), 3u);
    EXPECT_EQ(line.sent[2], line.sent[0]);
    EXPECT_FALSE(line.timer->active);
    EXPECT_EQ(line.d.RetryCount(), 0);
    EXPECT_FALSE(line.d.linkConnected());
    ASSERT_EQ(checks.size(), 1);
    EXPECT_EQ(checks[0][0].toString(), QStringLiteral("Data Check error"));
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

TEST(Receiving, LengthFieldsThatCannotBeCheckedCountAsDamaged) {
    Line line;
    QSignalSpy checks(&line.d, &protocol::Dispatcher::dataCheckError);
    line.d.SendPublicCmd(protocol::CmdConnect);

    QByteArray tooShort = response(protocol::CmdConnect);
    tooShort[4] = 11;
    QByteArray beyond = response(protocol::CmdConnect);
    beyond[4] = 13;
    // Longer than the receive buffer, its length field pointing past it.
    QByteArray huge = response(protocol::CmdConnect, 0, QByteArray(9000, 'z'));
    for (const QByteArray& block : {tooShort, beyond, QByteArray("$\x16"), QByteArray(), huge}) {
        line.d.CommReceiveData(block);
    }
    EXPECT_EQ(checks.size(), 5);
    EXPECT_EQ(line.sent.size(), 6u);
    EXPECT_FALSE(line.d.linkConnected());

    // A cut-off packet is not completed from what an earlier block left in the buffer.
    const QByteArray longConnect = response(protocol::CmdConnect, 0, QByteArray(20, 'p'));
    line.d.CommReceiveData(longConnect);
    line.d.CommReceiveData(response(protocol::CmdDisconnect));
    ASSERT_FALSE(line.d.linkConnected());
    line.d.CommReceiveData(longConnect.left(12));
    EXPECT_FALSE(line.d.linkConnected());
    EXPECT_EQ(checks.size(), 6);
}

TEST(Receiving, PacketIsTakenByItsLengthAndCodeOnly) {
    Line line;
    QSignalSpy online(&line.d, &protocol::Dispatcher::onlineData);
    QSignalSpy checks(&line.d, &protocol::Dispatcher::dataCheckError);

    const QByteArray record(2824, 'r');
    const QByteArray live = response(protocol::CmdOnlineRequest, 0, record);
    line.d.CommReceiveData(live + QByteArray("trailing bytes"));
    line.d.CommReceiveData(response(protocol::CmdOnlineEvent, 0, record));
    ASSERT_EQ(online.size(), 2);
    EXPECT_EQ(online[0][0].toByteArray(), live);
    EXPECT_EQ(online[1][0].toByteArray().mid(8, 2824), record);

    // The start byte is not examined.
    QByteArray noDollar = response(protocol::CmdConnect);
    noDollar[0] = '#';
    protocol::writeU32(
        reinterpret_cast<std::uint8_t*>(noDollar.data()) + 8,
        protocol::PacketCrc32(reinterpret_cast<const std::uint8_t*>(noDollar.constData()), 8));
    line.d.CommReceiveData(noDollar);
    EXPECT_TRUE(line.d.linkConnected());

    // Unknown and legacy codes only end the supervision.
    for (std::uint8_t code : {std::uint8_t{77}, std::uint8_t{5}, std::uint8_t{24}}) {
        line.d.SendPublicCmd(protocol::CmdDisconnect);
        line.d.CommReceiveData(response(code));
        EXPECT_FALSE(line.timer->active);
        EXPECT_EQ(line.d.Rcom().RespCode, code);
    }
    EXPECT_EQ(line.sent.size(), 3u);
    EXPECT_TRUE(line.d.linkConnected());
    EXPECT_EQ(checks.size(), 0);
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
