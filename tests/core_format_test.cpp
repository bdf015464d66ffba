#include "core/online/text_format.h"
#include "core/protocol/packet.h"

#include <gtest/gtest.h>

#include <vector>

using namespace ufd;

namespace {

std::string hexOf(const protocol::TxBuffer& tx, std::size_t n) {
    return protocol::BytesToHex(tx.data(), n);
}

} // namespace

TEST(Packet, CommandPacketsMatchTheInstrumentsBytes) {
    protocol::TxBuffer tx;
    ASSERT_TRUE(tx.BuildCmdPacket(protocol::CmdConnect, 12));
    EXPECT_EQ(hexOf(tx, 12), "24 16 FE CC 0C 00 10 00 CE C9 8D B4 ");
    ASSERT_TRUE(tx.BuildCmdPacket(protocol::CmdDisconnect, 12));
    EXPECT_EQ(hexOf(tx, 12), "24 16 FE CC 0C 00 12 00 C0 90 3C B7 ");
    ASSERT_TRUE(tx.BuildCmdPacket(protocol::CmdOnlineRequest, 12));
    EXPECT_EQ(hexOf(tx, 12), "24 16 FE CC 0C 00 30 00 2E 59 98 8F ");

    tx.putU32(8, 4096);
    ASSERT_TRUE(tx.BuildCmdPacket(protocol::CmdReadBlock, 16));
    EXPECT_EQ(hexOf(tx, 16), "24 16 FE CC 10 00 63 00 00 10 00 00 03 70 E1 40 ");
}

TEST(Packet, OpenFileCommandCoversAnOddByteCount) {
    protocol::TxBuffer tx;
    tx.putBytes(8, protocol::kOpenFileName, 13);
    ASSERT_TRUE(tx.BuildCmdPacket(protocol::CmdOpenFile, 25));
    const std::uint8_t* p = tx.data();
    EXPECT_EQ(p[4], 0x19);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 8), 13), "N0:report.bin");
    // 21 bytes: five whole words, then the last byte alone with zeros above it.
    std::vector<std::uint8_t> padded(p, p + 21);
    padded.resize(24, 0);
    EXPECT_EQ(protocol::readU32(p + 21), protocol::PacketCrc32(padded.data(), 24));
    EXPECT_EQ(protocol::readU32(p + 21), protocol::PacketCrc32(p, 21));
}

TEST(Packet, ChecksumEdgesAndRefusedLengths) {
    EXPECT_EQ(protocol::PacketCrc32(nullptr, 0), 0xFFFFFFFFu);
    const std::uint8_t bytes[] = {0x24, 0x0C};
    EXPECT_EQ(protocol::BytesToHex(bytes, 2), "24 0C ");

    protocol::TxBuffer tx;
    EXPECT_FALSE(tx.BuildCmdPacket(protocol::CmdConnect, 11));
    EXPECT_FALSE(tx.BuildCmdPacket(protocol::CmdConnect, 542));
    EXPECT_TRUE(tx.BuildCmdPacket(protocol::CmdConnect, 541));

    const std::string resp = protocol::buildResponsePacket(16, 3, nullptr, 0);
    ASSERT_EQ(resp.size(), 12u);
    const auto* r = reinterpret_cast<const std::uint8_t*>(resp.data());
    EXPECT_EQ(r[7], 3);
    EXPECT_EQ(protocol::readU32(r + 8), protocol::PacketCrc32(r, 8));
}

TEST(DecimalPatterns, RoundHalfAwayFromZeroOnTheExactBinaryValue) {
    using online::formatFixed;
    EXPECT_EQ(formatFixed(0.125, 2), "0.13");
    EXPECT_EQ(formatFixed(-0.125, 2), "-0.13");
    EXPECT_EQ(formatFixed(static_cast<float>(2.675), 2), "2.67"); // the float lies below 2.675
    EXPECT_EQ(formatFixed(2.5, 0), "3");
    EXPECT_EQ(formatFixed(-2.5, 0), "-3");
    EXPECT_EQ(formatFixed(0.0625, 3), "0.063");
    EXPECT_EQ(formatFixed(1.05, 1), "1.1"); // 1.05 is stored just above the half
    EXPECT_EQ(formatFixed(0.15, 1), "0.1"); // and 0.15 just below it
    EXPECT_EQ(formatFixed(9.995, 2), "9.99");
    EXPECT_EQ(formatFixed(99.95, 1), "100.0");
    EXPECT_EQ(formatFixed(5920.0, 0), "5920");
    EXPECT_EQ(formatFixed(123.456, 3), "123.456");
    EXPECT_EQ(formatFixed(-12.3, 1), "-12.3");
}

TEST(DecimalPatterns, NoNegativeZero) {
    using online::formatFixed;
    EXPECT_EQ(formatFixed(-0.001, 2), "0.00");
    EXPECT_EQ(formatFixed(-0.0, 1), "0.0");
    EXPECT_EQ(formatFixed(-0.4, 0), "0");
    EXPECT_EQ(formatFixed(-0.0005, 3), "-0.001"); // rounds away from zero, keeps its sign
}

TEST(GeneralFormat, FifteenSignificantDigitsWithoutTrailingZeros) {
    using online::formatGeneral;
    EXPECT_EQ(formatGeneral(12.25), "12.25");
    EXPECT_EQ(formatGeneral(100.0), "100");
    EXPECT_EQ(formatGeneral(0.5), "0.5");
    EXPECT_EQ(formatGeneral(49.1 / 3), "16.3666666666667");
    EXPECT_EQ(formatGeneral(-0.0), "0");
    EXPECT_EQ(formatGeneral(-25.75), "-25.75");
}

TEST(InstrumentText, DecodesTheFixedCodePageAndStopsAtNul) {
    using online::decodeInstrumentText;
    const char ascii[16] = {'A', 'B', 'C'};
    EXPECT_EQ(decodeInstrumentText(ascii, 16), "ABC");
    const char full[17] = "0123456789ABCDEF";
    EXPECT_EQ(decodeInstrumentText(full, 16), "0123456789ABCDEF");
    const char chinese[16] = {'\xB1', '\xA8', '\xB8', '\xE6', '1'}; // 报告1
    EXPECT_EQ(decodeInstrumentText(chinese, 16), QStringLiteral("报告1"));
    const char broken[16] = {'A', '\xFF', 'B'};
    const QString text = decodeInstrumentText(broken, 16);
    EXPECT_TRUE(text.startsWith(QLatin1Char('A')));
    EXPECT_TRUE(text.endsWith(QLatin1Char('B')));
    EXPECT_TRUE(text.contains(QChar(0xFFFD)));
    // Whatever comes in, the text survives a round trip through UTF-8 unchanged.
    EXPECT_EQ(QString::fromUtf8(text.toUtf8()), text);
}
