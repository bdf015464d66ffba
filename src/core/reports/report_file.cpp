#include "core/reports/report_file.h"

#include "core/online/curves.h"
#include "core/online/text_format.h"

#include <charconv>
#include <cstring>
#include <sodium.h>

namespace ufd::reports {

using online::formatFixed;
using online::InstrumentRecord;

QString reportFileErrorText() {
    return QStringLiteral("Report File Error!");
}

std::vector<std::uint16_t> reportIndex(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint16_t> slotList;
    const std::size_t entries = std::min(size, kSlotListBytes) / 2;
    for (std::size_t i = 0; i < entries; ++i) {
        const auto v = static_cast<std::uint16_t>(data[2 * i] | (data[2 * i + 1] << 8));
        if (v == 0xFFFF) {
            break;
        }
        slotList.push_back(v);
    }
    return slotList;
}

namespace {

// Writes v and ";" at p, returns the end. Hot: 3,010 values a report.
char* putValue(char* p, std::int32_t v) {
    std::uint32_t u = static_cast<std::uint32_t>(v);
    if (v < 0) {
        *p++ = '-';
        u = 0u - u;
    }
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u != 0);
    while (n > 0) {
        *p++ = digits[--n];
    }
    *p++ = ';';
    return p;
}

} // namespace

QString buildFileData(const InstrumentRecord& rec, const online::CurveArrays& curves) {
    // At most 11 characters and a ";" per value.
    std::array<char, static_cast<std::size_t>(kFileDataValues) * 12> buf;
    char* p = buf.data();
    for (auto v : rec.trace1) {
        p = putValue(p, v);
    }
    for (auto v : rec.trace2) {
        p = putValue(p, v);
    }
    for (std::size_t k = 0; k < 3; ++k) {
        for (auto v : curves[k]) {
            p = putValue(p, v);
        }
    }
    return QString::fromLatin1(buf.data(), static_cast<qsizetype>(p - buf.data()));
}

std::optional<FileDataValues> parseFileData(const QString& text) {
    const QByteArray latin = text.toLatin1();
    const char* p = latin.constData();
    const char* end = p + latin.size();
    FileDataValues values;
    for (int i = 0; i < kFileDataValues; ++i) {
        const char* semi =
            static_cast<const char*>(std::memchr(p, ';', static_cast<std::size_t>(end - p)));
        if (semi == nullptr) {
            return std::nullopt;
        }
        std::int64_t v = 0;
        const auto res = std::from_chars(p, semi, v);
        if (res.ec != std::errc() || res.ptr != semi) {
            return std::nullopt;
        }
        const auto idx = static_cast<std::size_t>(i);
        if (i < 1204) {
            if (v < INT16_MIN || v > INT16_MAX) {
                return std::nullopt;
            }
            (i < 602 ? values.trace1[idx] : values.trace2[idx - 602]) =
                static_cast<std::int16_t>(v);
        } else {
            if (v < INT32_MIN || v > INT32_MAX) {
                return std::nullopt;
            }
            const std::size_t k = (idx - 1204) / 602;
            values.curves[k][(idx - 1204) % 602] = static_cast<std::int32_t>(v);
        }
        p = semi + 1;
    }
    return values;
}

QString reportHash(const std::uint8_t* dirEntry, const std::uint8_t* slotBytes) {
    // libsodium's SHA-256, the same digest as Qt's in less than half the time: every import
    // hashes each report, a thousand of them a file.
    static_cast<void>(sodium_init() >= 0); // hashing works either way; the library asks for it
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    crypto_hash_sha256_update(&state, dirEntry, kDirectoryEntrySize);
    crypto_hash_sha256_update(&state, slotBytes, kSlotSize);
    std::array<unsigned char, crypto_hash_sha256_BYTES> digest{};
    crypto_hash_sha256_final(&state, digest.data());
    static constexpr char kDigits[] = "0123456789abcdef";
    QString hex(2 * static_cast<qsizetype>(digest.size()), Qt::Uninitialized);
    QChar* out = hex.data();
    for (const unsigned char b : digest) {
        *out++ = QLatin1Char(kDigits[b >> 4]);
        *out++ = QLatin1Char(kDigits[b & 0x0F]);
    }
    return hex;
}

ReportRow decodeReportSlot(std::uint16_t slot, const std::uint8_t* dir,
                           const std::uint8_t* recBytes, Columns columns) {
    ReportRow row;
    row.FileNum = slot;
    row.FileName = online::decodeInstrumentText(reinterpret_cast<const char*>(dir + 16), 16);
    row.FileYear = dir[15];
    row.FileMonth = dir[14];
    row.FileDay = dir[13];
    row.FileHour = dir[12];
    row.FileMin = dir[11];
    row.FileSec = dir[10];
    const QDate date(2000 + dir[15], dir[14], dir[13]);
    const QTime time(dir[12], dir[11], dir[10]);
    if (date.isValid() && time.isValid()) {
        row.FileDate = QDateTime(date, time, Qt::UTC); // a wall-clock stamp; no zone may shift it
    }

    InstrumentRecord rec;
    online::decodeRecord(recBytes, online::Encoding::Stored, rec);
    row.sValue = formatFixed(rec.sValue, 2);
    row.pValue = formatFixed(rec.pValue, 2);
    row.dValue = formatFixed(rec.dValue, 2);
    row.hValue = formatFixed(rec.hValue, 2);
    row.vERS = formatFixed(rec.vERS, 2);
    row.saValue = formatFixed(rec.saValue, 2);
    row.sbValue = formatFixed(rec.sbValue, 2);
    row.vEchoNum = rec.vEchoNum;
    row.PageNum = rec.PageNum;
    row.CH_No = rec.CH_No;
    row.SoundVel = rec.SoundVel;
    row.WaveAGC = rec.WaveAGC;
    row.FPGA_DisChgTime = rec.FPGA_DisChgTime;
    row.FPGA_FireFreq = rec.FPGA_FireFreq;
    row.DAC_SoundVel = rec.DAC_SoundVel;
    row.ProbeName = rec.probeNameText();
    row.ProbeAng = formatFixed(rec.ProbeAng, 3);
    row.ProbeZero = formatFixed(rec.ProbeZero / 100.0, 2);
    row.ProbeFreq = formatFixed(rec.ProbeFreq / 100.0, 2);
    row.ProbeFront = formatFixed(rec.ProbeFront / 100.0, 2);
    row.ProbedSize = formatFixed(rec.ProbedSize / 10.0, 1);
    row.ProbehSize = formatFixed(rec.ProbehSize / 10.0, 1);
    row.ProbewSize = formatFixed(rec.ProbewSize / 10.0, 1);
    row.ProbeType = online::probeTypeText(rec.ProbeType);
    row.ProbeDamp = online::probeDampText(rec.ProbeDamp);
    row.ProbeRectify = online::probeRectifyText(rec.ProbeRectify);
    row.CoordType = online::coordTypeText(rec.CoordType);
    row.FPGA_FireEnergy = online::fireEnergyText(rec.FPGA_FireEnergy);
    row.GateLogic = online::gateLogicText(rec.GateLogic);
    row.GateAlert = online::gateAlertText(rec.GateAlert);
    row.DiaValue = formatFixed(rec.DiaValue / 100.0, 2);
    row.ThickValue = formatFixed(rec.ThickValue / 100.0, 2);
    row.dDelay = formatFixed(rec.dDelay / 100.0, 2);
    row.mRange = formatFixed(rec.mRange / 10.0, 1);
    row.CurrveType = rec.CurrveType;
    row.DAC_SampleNum = rec.DAC_SampleNum;
    row.DAC_CurveNum = rec.DAC_CurveNum;

    const bool full = (recBytes[413] & 0x06) != 0;
    const double scale = displayScale(rec.mRange / 10.0, full);
    const double zero = zeroOffset(rec.SoundVel, rec.dDelay / 100.0);
    row.GateA_Start = rec.gateAStart * scale + zero;
    row.GateA_Width = rec.gateAWidth * scale;
    row.GateA_Height = rec.gateAHeight;
    row.GateB_Start = rec.gateBStart * scale + zero;
    row.GateB_Width = rec.gateBWidth * scale;
    row.GateB_Height = rec.gateBHeight;

    row.DB_Base = formatFixed(rec.DB_Base / 10.0, 1);
    row.DB_Step = formatFixed(rec.DB_Step / 10.0, 1);
    row.DB_Scan = formatFixed(rec.DB_Scan / 10.0, 1);
    row.DB_Surface = formatFixed(rec.DB_Surface / 10.0, 1);
    row.DAC_Offset0 = formatFixed(rec.dacOffsets[0] / 10.0, 1);
    row.DAC_Offset1 = formatFixed(rec.dacOffsets[1] / 10.0, 1);
    row.DAC_Offset2 = formatFixed(rec.dacOffsets[2] / 10.0, 1);
    row.WaveReject = formatFixed(rec.WaveReject, 0);
    row.FlagALL = static_cast<std::int32_t>(rec.FlagALL);
    row.Flag_ProbeAng_En = (recBytes[412] & 0x01) ? 1 : 0;
    row.Flag_GateZoom_En = (recBytes[412] & 0x02) ? 1 : 0;
    row.Flag_KeyBell_En = (recBytes[412] & 0x20) ? 1 : 0;
    row.Flag_FullSScr = full ? 1 : 0;

    if (columns == Columns::All) {
        online::CurveArrays curves{};
        online::computeCurves(rec, curves);
        row.FileData = buildFileData(rec, curves);
    }
    return row;
}

DecodeResult decodeReportFile(const QByteArray& image, Columns columns) {
    DecodeResult result;
    if (image.size() != kReportFileSize) {
        return result;
    }
    result.sizeOk = true;
    const auto* b = reinterpret_cast<const std::uint8_t*>(image.constData());
    const std::vector<std::uint16_t> slotList = reportIndex(b, kSlotListBytes);
    result.rows.reserve(slotList.size());
    for (const std::uint16_t slot : slotList) {
        if (slot >= kSlotCount) {
            continue;
        }
        const std::uint8_t* dir = b + kDirectoryOffset + kDirectoryEntrySize * slot;
        const std::uint8_t* slotBytes = b + kSlotsOffset + kSlotSize * slot;
        result.rows.push_back(decodeReportSlot(slot, dir, slotBytes, columns));
        result.rows.back().ReportHash = reportHash(dir, slotBytes);
        if (!result.rows.back().FileDate.isValid()) {
            ++result.invalidDates;
        }
    }
    return result;
}

} // namespace ufd::reports
