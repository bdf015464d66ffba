#include "core/online/record.h"
#include "core/protocol/packet.h"
#include "core/reports/report_file.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace ufd;
using namespace ufd::reports;

namespace {

// An empty report image (no reports) that tests fill slot by slot.
class Image {
public:
    Image() : bytes_(kReportFileSize, '\0') { std::memset(data(), 0xFF, kSlotListBytes); }

    std::uint8_t* data() { return reinterpret_cast<std::uint8_t*>(bytes_.data()); }
    const QByteArray& bytes() const { return bytes_; }

    void setList(std::initializer_list<std::uint16_t> slotList) {
        std::memset(data(), 0xFF, kSlotListBytes);
        std::size_t i = 0;
        for (const auto s : slotList) {
            protocol::writeU16(data() + 2 * i++, s);
        }
    }
    std::uint8_t* dir(std::size_t slot) { return data() + kDirectoryOffset + 32 * slot; }
    std::uint8_t* record(std::size_t slot) { return data() + kSlotsOffset + kSlotSize * slot; }
    void setDate(std::size_t slot, std::initializer_list<std::uint8_t> secToYear) {
        std::size_t i = 10;
        for (const auto b : secToYear) {
            dir(slot)[i++] = b;
        }
    }
    void setName(std::size_t slot, const char* name, std::size_t n) {
        std::memcpy(dir(slot) + 16, name, n);
    }
    void setRecord(std::size_t slot, const online::InstrumentRecord& r) {
        online::encodeRecord(r, online::Encoding::Stored, record(slot));
    }

private:
    QByteArray bytes_;
};

online::InstrumentRecord plainRecord() {
    online::InstrumentRecord r;
    r.mRange = 1000;
    r.SoundVel = 5920;
    return r;
}

} // namespace

TEST(ReportFile, OnlyTheExactSizeIsAccepted) {
    EXPECT_FALSE(decodeReportFile(QByteArray()).sizeOk);
    EXPECT_FALSE(decodeReportFile(QByteArray(kReportFileSize - 1, '\0')).sizeOk);
    EXPECT_FALSE(decodeReportFile(QByteArray(kReportFileSize + 1, '\0')).sizeOk);
    EXPECT_EQ(reportFileErrorText(), "Report File Error!");
    Image img;
    const DecodeResult r = decodeReportFile(img.bytes());
    EXPECT_TRUE(r.sizeOk);
    EXPECT_TRUE(r.rows.empty());
}

TEST(ReportFile, SlotListOrderAndUnlistedSlotsIgnored) {
    Image img;
    for (std::size_t s = 0; s < 5; ++s) {
        img.setDate(s, {0, 0, 0, 1, 1, 24});
        auto rec = plainRecord();
        rec.PageNum = static_cast<std::uint16_t>(100 + s);
        img.setRecord(s, rec);
    }
    img.setList({3, 0, 3});
    const DecodeResult r = decodeReportFile(img.bytes());
    ASSERT_EQ(r.rows.size(), 3u);
    EXPECT_EQ(r.rows[0].FileNum, 3);
    EXPECT_EQ(r.rows[0].PageNum, 103);
    EXPECT_EQ(r.rows[1].FileNum, 0);
    EXPECT_EQ(r.rows[2].FileData, r.rows[0].FileData); // a slot named twice gives two rows
}

TEST(ReportFile, OutOfRangeSlotsAndAListWithoutEndStayInsideTheFile) {
    Image img;
    img.setList({1024, 0xFFFE, 2});
    img.setDate(2, {0, 0, 0, 1, 1, 24});
    DecodeResult r = decodeReportFile(img.bytes());
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_EQ(r.rows[0].FileNum, 2);

    for (std::size_t i = 0; i < kSlotCount; ++i) { // 1,024 entries and no 0xFFFF
        protocol::writeU16(img.data() + 2 * i, static_cast<std::uint16_t>(i));
    }
    r = decodeReportFile(img.bytes());
    EXPECT_EQ(r.rows.size(), kSlotCount);
    EXPECT_EQ(r.rows.back().FileNum, 1023);
}

TEST(ReportFile, DirectoryNamesAndDates) {
    Image img;
    img.setList({0, 1, 2});
    img.setDate(0, {30, 15, 9, 21, 6, 24});
    img.setName(0, "ABCDEFGHIJKLMNOP", 16);
    img.setDate(1, {0, 0, 0, 32, 13, 24}); // no such date
    img.setName(1, "AB", 2);
    img.setDate(2, {59, 59, 23, 29, 2, 24});
    img.setName(2, "\xB1\xA8\xB8\xE6", 4);
    const DecodeResult r = decodeReportFile(img.bytes());
    ASSERT_EQ(r.rows.size(), 3u);
    EXPECT_EQ(r.rows[0].FileName, "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(r.rows[0].FileDate.toString("yyyy-MM-dd hh:mm:ss"), "2024-06-21 09:15:30");
    EXPECT_EQ(r.rows[0].FileYear, 24);
    EXPECT_EQ(r.rows[0].FileSec, 30);
    // An impossible date keeps the report (without a date) and every report after it.
    EXPECT_EQ(r.rows[1].FileName, "AB");
    EXPECT_FALSE(r.rows[1].FileDate.isValid());
    EXPECT_EQ(r.rows[1].FileMonth, 13);
    EXPECT_EQ(r.invalidDates, 1);
    EXPECT_EQ(r.rows[2].FileName, QStringLiteral("报告"));
    EXPECT_TRUE(r.rows[2].FileDate.isValid());
}

TEST(ReportFile, ScaleZeroOffsetAndGates) {
    auto rec = plainRecord();
    rec.gateAStart = 100;
    rec.gateAWidth = 50;
    rec.gateAHeight = 40;
    rec.gateBStart = 300;
    rec.gateBWidth = 60;
    rec.gateBHeight = 55;
    ReportRow row;
    std::vector<std::uint8_t> bytes(online::kRecordSize, 0);
    std::uint8_t dir[32] = {};
    online::encodeRecord(rec, online::Encoding::Stored, bytes.data());
    row = decodeReportSlot(0, dir, bytes.data());
    EXPECT_DOUBLE_EQ(row.GateA_Start, 20.0);
    EXPECT_DOUBLE_EQ(row.GateA_Width, 10.0);
    EXPECT_DOUBLE_EQ(row.GateA_Height, 40.0);
    EXPECT_DOUBLE_EQ(row.GateB_Start, 60.0);
    EXPECT_EQ(row.Flag_FullSScr, 0);

    rec.FlagALL = 0x0200; // byte 413 = 0x02: 600 points
    online::encodeRecord(rec, online::Encoding::Stored, bytes.data());
    row = decodeReportSlot(0, dir, bytes.data());
    EXPECT_DOUBLE_EQ(row.GateA_Start, 100.0 / 6.0);
    EXPECT_EQ(row.Flag_FullSScr, 1);

    rec.FlagALL = 0;
    rec.SoundVel = 3230;
    rec.dDelay = 1000;
    online::encodeRecord(rec, online::Encoding::Stored, bytes.data());
    row = decodeReportSlot(0, dir, bytes.data());
    EXPECT_DOUBLE_EQ(zeroOffset(3230, 10.0), 16.15);
    EXPECT_DOUBLE_EQ(row.GateA_Start, 20.0 + 16.15);
    EXPECT_EQ(row.dDelay, "10.00");
}

TEST(ReportFile, ColumnTextsAndCodes) {
    auto rec = plainRecord();
    rec.sValue = 0.125;
    rec.hValue = static_cast<float>(2.675);
    rec.ProbeAng = 45.0;
    rec.ProbeZero = 812;
    rec.ProbeFreq = 250;
    rec.ProbedSize = 130;
    rec.ProbeType = 9;
    rec.ProbeDamp = 7;
    rec.FPGA_FireEnergy = -1;
    rec.DiaValue = -150;
    rec.ThickValue = 4000000000u;
    rec.DB_Base = 425;
    rec.dacOffsets = {-40, 0, 61, 9, 9, 9};
    rec.WaveReject = 5;
    rec.FlagALL = 0x0423; // byte 412 = 0x23, byte 413 = 0x04
    rec.CH_No = -2;
    std::uint8_t dir[32] = {};
    std::vector<std::uint8_t> bytes(online::kRecordSize, 0);
    online::encodeRecord(rec, online::Encoding::Stored, bytes.data());
    ReportRow row = decodeReportSlot(7, dir, bytes.data());
    EXPECT_EQ(row.FileNum, 7);
    EXPECT_EQ(row.sValue, "0.13");
    EXPECT_EQ(row.hValue, "2.67");
    EXPECT_EQ(row.ProbeAng, "45.000");
    EXPECT_EQ(row.ProbeZero, "8.12");
    EXPECT_EQ(row.ProbeFreq, "2.50");
    EXPECT_EQ(row.ProbedSize, "13.0");
    EXPECT_EQ(row.ProbeType, "Straight");
    EXPECT_EQ(row.ProbeDamp, "50");
    EXPECT_EQ(row.FPGA_FireEnergy, "400");
    EXPECT_EQ(row.DiaValue, "-1.50");
    EXPECT_EQ(row.ThickValue, "40000000.00");
    EXPECT_EQ(row.mRange, "100.0");
    EXPECT_EQ(row.DB_Base, "42.5");
    EXPECT_EQ(row.DAC_Offset0, "-4.0");
    EXPECT_EQ(row.DAC_Offset2, "6.1");
    EXPECT_EQ(row.WaveReject, "5");
    EXPECT_EQ(row.CH_No, -2);
    EXPECT_EQ(row.FlagALL, 0x0423);
    EXPECT_EQ(row.Flag_ProbeAng_En, 1);
    EXPECT_EQ(row.Flag_GateZoom_En, 1);
    EXPECT_EQ(row.Flag_KeyBell_En, 1);
    EXPECT_EQ(row.Flag_FullSScr, 1);

    rec.FPGA_FireEnergy = 10;
    online::encodeRecord(rec, online::Encoding::Stored, bytes.data());
    EXPECT_EQ(decodeReportSlot(7, dir, bytes.data()).FPGA_FireEnergy, "400");
}

TEST(ReportFile, FileDataCarriesTracesAndThreeCurves) {
    auto rec = plainRecord();
    for (std::size_t i = 0; i < online::kTracePoints; ++i) {
        rec.trace1[i] = static_cast<std::int16_t>(i % 400);
        rec.trace2[i] = static_cast<std::int16_t>(-static_cast<int>(i % 50));
    }
    std::uint8_t dir[32] = {};
    std::vector<std::uint8_t> bytes(online::kRecordSize, 0);
    online::encodeRecord(rec, online::Encoding::Stored, bytes.data());
    const ReportRow plain = decodeReportSlot(0, dir, bytes.data());
    EXPECT_TRUE(plain.FileData.startsWith("0;1;2;3;"));
    EXPECT_TRUE(plain.FileData.endsWith(QString("0;").repeated(1806)));
    EXPECT_EQ(plain.FileData.count(';'), kFileDataValues);

    rec.CurrveType = 1;
    rec.DAC_SampleNum = 2;
    rec.DAC_CurveNum = 4;
    rec.DB_Base = 400;
    rec.dacPoints[0] = {50.0, 200, 400};
    rec.dacPoints[1] = {100.0, 100, 400};
    online::encodeRecord(rec, online::Encoding::Stored, bytes.data());
    const ReportRow dac = decodeReportSlot(0, dir, bytes.data());
    const auto values = parseFileData(dac.FileData);
    ASSERT_TRUE(values.has_value());
    EXPECT_EQ(values->trace1[401], 1);
    EXPECT_EQ(values->trace2[49], -49);
    EXPECT_EQ(values->curves[0][0], 199);
    EXPECT_EQ(values->curves[0][500], 99);
    EXPECT_EQ(values->curves[0][501], 0);
    EXPECT_EQ(values->curves[2][500], 99); // curve 4 is computed but not stored
}

TEST(ReportFile, FileDataReadBackRefusesDamagedText) {
    QString good = QString("1;").repeated(kFileDataValues);
    EXPECT_TRUE(parseFileData(good).has_value());
    EXPECT_FALSE(parseFileData(QString("1;").repeated(kFileDataValues - 1)).has_value());
    EXPECT_FALSE(parseFileData(QString()).has_value());
    QString bad = good;
    bad.replace(100, 1, "x");
    EXPECT_FALSE(parseFileData(bad).has_value());
    EXPECT_FALSE(parseFileData(QString(";") + good.mid(2)).has_value());      // an empty token
    EXPECT_FALSE(parseFileData(QString("70000;") + good.mid(2)).has_value()); // not 16-bit
}

TEST(ReportIndex, StopsAtTheEndMarkerOrTheListsEnd) {
    const std::uint8_t data[] = {3, 0, 0, 0, 0xFF, 0xFF, 5, 0};
    const auto idx = reportIndex(data, sizeof data);
    EXPECT_EQ(idx, (std::vector<std::uint16_t>{3, 0}));
    const std::uint8_t odd[] = {1, 0, 2}; // a half entry is not read
    EXPECT_EQ(reportIndex(odd, sizeof odd), (std::vector<std::uint16_t>{1}));
}
