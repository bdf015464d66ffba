#include "core/online/record.h"

#include "core/online/text_format.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace ufd::online {

namespace {

std::uint16_t u16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::int16_t i16(const std::uint8_t* p) {
    return static_cast<std::int16_t>(u16(p));
}
std::uint32_t u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::int32_t i32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(u32(p));
}

void put16(std::uint8_t* p, std::int32_t v) {
    const auto u = static_cast<std::uint16_t>(v);
    p[0] = static_cast<std::uint8_t>(u & 0xFF);
    p[1] = static_cast<std::uint8_t>(u >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF);
    }
}

} // namespace

double readReal32(const std::uint8_t* p, Encoding enc) {
    if (enc == Encoding::Live) {
        return static_cast<double>(i32(p)) / 1000.0;
    }
    return static_cast<double>(std::bit_cast<float>(u32(p)));
}

void writeReal32(std::uint8_t* p, double value, Encoding enc) {
    if (enc == Encoding::Live) {
        const double scaled = std::round(value * 1000.0);
        const double clamped = std::fmax(-2147483648.0, std::fmin(2147483647.0, scaled));
        put32(p, static_cast<std::uint32_t>(static_cast<std::int32_t>(clamped)));
    } else {
        put32(p, std::bit_cast<std::uint32_t>(static_cast<float>(value)));
    }
}

void liveToStored(const std::uint8_t* live, std::uint8_t* stored) {
    std::memcpy(stored, live, kRecordSize);
    const auto convert = [&](std::size_t at) {
        writeReal32(stored + at, readReal32(live + at, Encoding::Live), Encoding::Stored);
    };
    for (const std::size_t at : {off::sValue, off::pValue, off::dValue, off::hValue, off::vERS,
                                 off::saValue, off::sbValue, off::ProbeAng, off::AvgRefPos}) {
        convert(at);
    }
    for (std::size_t i = 0; i < kDacPointCount; ++i) {
        convert(off::DacPoints + 8 * i);
    }
}

QString InstrumentRecord::probeNameText() const {
    return decodeInstrumentText(ProbeName.data(), ProbeName.size());
}

void decodeRecord(const std::uint8_t* b, Encoding enc, InstrumentRecord& r) {
    r.sValue = readReal32(b + off::sValue, enc);
    r.pValue = readReal32(b + off::pValue, enc);
    r.dValue = readReal32(b + off::dValue, enc);
    r.hValue = readReal32(b + off::hValue, enc);
    r.vERS = readReal32(b + off::vERS, enc);
    r.saValue = readReal32(b + off::saValue, enc);
    r.sbValue = readReal32(b + off::sbValue, enc);
    r.vEchoNum = u16(b + off::vEchoNum);
    r.CH_No = i16(b + off::CH_No);
    r.PageNum = u16(b + off::PageNum);
    std::memcpy(r.ProbeName.data(), b + off::ProbeName, r.ProbeName.size());
    r.ProbeAng = readReal32(b + off::ProbeAng, enc);
    r.ProbeZero = i16(b + off::ProbeZero);
    r.ProbeFreq = i16(b + off::ProbeFreq);
    r.ProbeFront = i16(b + off::ProbeFront);
    r.ProbedSize = i16(b + off::ProbedSize);
    r.ProbehSize = i16(b + off::ProbehSize);
    r.ProbewSize = i16(b + off::ProbewSize);
    r.ProbeType = b[off::ProbeType];
    r.ProbeDamp = b[off::ProbeDamp];
    r.ProbeRectify = b[off::ProbeRectify];
    r.CoordType = b[off::CoordType];
    r.DiaValue = i32(b + off::DiaValue);
    r.ThickValue = u32(b + off::ThickValue);
    r.mRange = i32(b + off::mRange);
    r.dDelay = i32(b + off::dDelay);
    r.SoundVel = i16(b + off::SoundVel);
    r.WaveAGC = i16(b + off::WaveAGC);
    r.gateAStart = i16(b + off::GateAStart);
    r.gateAWidth = i16(b + off::GateAWidth);
    r.gateAHeight = i16(b + off::GateAHeight);
    r.gateBStart = i16(b + off::GateBStart);
    r.gateBWidth = i16(b + off::GateBWidth);
    r.gateBHeight = i16(b + off::GateBHeight);
    r.GateLogic = b[off::GateLogic];
    r.GateAlert = b[off::GateAlert];
    r.CurrveType = static_cast<std::int8_t>(b[off::CurrveType]);
    r.DB_Base = i16(b + off::DB_Base);
    r.DB_Step = i16(b + off::DB_Step);
    r.DB_Scan = i16(b + off::DB_Scan);
    r.DB_Surface = i16(b + off::DB_Surface);
    for (std::size_t i = 0; i < kDacPointCount; ++i) {
        const std::uint8_t* e = b + off::DacPoints + 8 * i;
        r.dacPoints[i].path = readReal32(e, enc);
        r.dacPoints[i].amplitude = i16(e + 4);
        r.dacPoints[i].gain = i16(e + 6);
    }
    for (std::size_t k = 0; k < kCurveCount; ++k) {
        r.dacOffsets[k] = i16(b + off::DacOffsets + 2 * k);
    }
    r.DAC_SoundVel = i16(b + off::DAC_SoundVel);
    r.DAC_SampleNum = static_cast<std::int8_t>(b[off::DAC_SampleNum]);
    r.DAC_CurveNum = static_cast<std::int8_t>(b[off::DAC_CurveNum]);
    r.avgRefPos = readReal32(b + off::AvgRefPos, enc);
    r.avgRefAmp = i16(b + off::AvgRefAmp);
    r.avgRefGain = i16(b + off::AvgRefGain);
    r.avgRefDia = i16(b + off::AvgRefDia);
    for (std::size_t i = 0; i < 3; ++i) {
        r.avgCurveDia[i] = i16(b + off::AvgCurveDia + 2 * i);
    }
    r.avgRefVel = i16(b + off::AvgRefVel);
    r.avgSwitch = static_cast<std::int8_t>(b[off::AvgSwitch]);
    r.avgMode = static_cast<std::int8_t>(b[off::AvgMode]);
    r.WaveReject = i16(b + off::WaveReject);
    r.FPGA_FireEnergy = i16(b + off::FPGA_FireEnergy);
    r.FPGA_DisChgTime = i16(b + off::FPGA_DisChgTime);
    r.FPGA_FireFreq = i16(b + off::FPGA_FireFreq);
    r.FlagALL = u32(b + off::FlagALL);
    for (std::size_t i = 0; i < kTracePoints; ++i) {
        r.trace1[i] = i16(b + off::Trace1 + 2 * i);
        r.trace2[i] = i16(b + off::Trace2 + 2 * i);
    }
}

InstrumentRecord decodeRecord(const std::uint8_t* bytes, Encoding enc) {
    InstrumentRecord r;
    decodeRecord(bytes, enc, r);
    return r;
}

void encodeRecord(const InstrumentRecord& r, Encoding enc, std::uint8_t* b) {
    writeReal32(b + off::sValue, r.sValue, enc);
    writeReal32(b + off::pValue, r.pValue, enc);
    writeReal32(b + off::dValue, r.dValue, enc);
    writeReal32(b + off::hValue, r.hValue, enc);
    writeReal32(b + off::vERS, r.vERS, enc);
    writeReal32(b + off::saValue, r.saValue, enc);
    writeReal32(b + off::sbValue, r.sbValue, enc);
    put16(b + off::vEchoNum, r.vEchoNum);
    put16(b + off::CH_No, r.CH_No);
    put16(b + off::PageNum, r.PageNum);
    std::memcpy(b + off::ProbeName, r.ProbeName.data(), r.ProbeName.size());
    writeReal32(b + off::ProbeAng, r.ProbeAng, enc);
    put16(b + off::ProbeZero, r.ProbeZero);
    put16(b + off::ProbeFreq, r.ProbeFreq);
    put16(b + off::ProbeFront, r.ProbeFront);
    put16(b + off::ProbedSize, r.ProbedSize);
    put16(b + off::ProbehSize, r.ProbehSize);
    put16(b + off::ProbewSize, r.ProbewSize);
    b[off::ProbeType] = r.ProbeType;
    b[off::ProbeDamp] = r.ProbeDamp;
    b[off::ProbeRectify] = r.ProbeRectify;
    b[off::CoordType] = r.CoordType;
    put32(b + off::DiaValue, static_cast<std::uint32_t>(r.DiaValue));
    put32(b + off::ThickValue, r.ThickValue);
    put32(b + off::mRange, static_cast<std::uint32_t>(r.mRange));
    put32(b + off::dDelay, static_cast<std::uint32_t>(r.dDelay));
    put16(b + off::SoundVel, r.SoundVel);
    put16(b + off::WaveAGC, r.WaveAGC);
    put16(b + off::GateAStart, r.gateAStart);
    put16(b + off::GateAWidth, r.gateAWidth);
    put16(b + off::GateAHeight, r.gateAHeight);
    put16(b + off::GateBStart, r.gateBStart);
    put16(b + off::GateBWidth, r.gateBWidth);
    put16(b + off::GateBHeight, r.gateBHeight);
    b[off::GateLogic] = r.GateLogic;
    b[off::GateAlert] = r.GateAlert;
    b[off::CurrveType] = static_cast<std::uint8_t>(r.CurrveType);
    put16(b + off::DB_Base, r.DB_Base);
    put16(b + off::DB_Step, r.DB_Step);
    put16(b + off::DB_Scan, r.DB_Scan);
    put16(b + off::DB_Surface, r.DB_Surface);
    for (std::size_t i = 0; i < kDacPointCount; ++i) {
        std::uint8_t* e = b + off::DacPoints + 8 * i;
        writeReal32(e, r.dacPoints[i].path, enc);
        put16(e + 4, r.dacPoints[i].amplitude);
        put16(e + 6, r.dacPoints[i].gain);
    }
    for (std::size_t k = 0; k < kCurveCount; ++k) {
        put16(b + off::DacOffsets + 2 * k, r.dacOffsets[k]);
    }
    put16(b + off::DAC_SoundVel, r.DAC_SoundVel);
    b[off::DAC_SampleNum] = static_cast<std::uint8_t>(r.DAC_SampleNum);
    b[off::DAC_CurveNum] = static_cast<std::uint8_t>(r.DAC_CurveNum);
    writeReal32(b + off::AvgRefPos, r.avgRefPos, enc);
    put16(b + off::AvgRefAmp, r.avgRefAmp);
    put16(b + off::AvgRefGain, r.avgRefGain);
    put16(b + off::AvgRefDia, r.avgRefDia);
    for (std::size_t i = 0; i < 3; ++i) {
        put16(b + off::AvgCurveDia + 2 * i, r.avgCurveDia[i]);
    }
    put16(b + off::AvgRefVel, r.avgRefVel);
    b[off::AvgSwitch] = static_cast<std::uint8_t>(r.avgSwitch);
    b[off::AvgMode] = static_cast<std::uint8_t>(r.avgMode);
    put16(b + off::WaveReject, r.WaveReject);
    put16(b + off::FPGA_FireEnergy, r.FPGA_FireEnergy);
    put16(b + off::FPGA_DisChgTime, r.FPGA_DisChgTime);
    put16(b + off::FPGA_FireFreq, r.FPGA_FireFreq);
    put32(b + off::FlagALL, r.FlagALL);
    for (std::size_t i = 0; i < kTracePoints; ++i) {
        put16(b + off::Trace1 + 2 * i, r.trace1[i]);
        put16(b + off::Trace2 + 2 * i, r.trace2[i]);
    }
}

QString probeTypeText(int code) {
    switch (code) {
    case 1:
        return QStringLiteral("Angle");
    case 2:
        return QStringLiteral("Dual D");
    case 3:
        return QStringLiteral("Dual S");
    case 4:
        return QStringLiteral("Thru Trans");
    default:
        return QStringLiteral("Straight");
    }
}

QString probeRectifyText(int code) {
    switch (code) {
    case 1:
        return QStringLiteral("Negative");
    case 2:
        return QStringLiteral("Full");
    case 3:
        return QStringLiteral("Radio");
    default:
        return QStringLiteral("Positive");
    }
}

QString gateLogicText(int code) {
    switch (code) {
    case 1:
        return QStringLiteral("GateA");
    case 2:
        return QStringLiteral("GateB");
    case 3:
        return QStringLiteral("GateAB");
    default:
        return QStringLiteral("Close");
    }
}

QString gateAlertText(int code) {
    switch (code) {
    case 1:
        return QStringLiteral("Negative");
    case 2:
        return QStringLiteral("Close");
    default:
        return QStringLiteral("Positive");
    }
}

QString coordTypeText(int code) {
    switch (code) {
    case 1:
        return QStringLiteral("V");
    case 2:
        return QStringLiteral("P");
    default:
        return QStringLiteral("H");
    }
}

QString probeDampText(int code) {
    switch (code) {
    case 1:
        return QStringLiteral("150");
    case 2:
        return QStringLiteral("300");
    case 3:
        return QStringLiteral("400");
    default:
        return QStringLiteral("50");
    }
}

QString fireEnergyText(int code) {
    static constexpr const char* texts[] = {"100", "200", "250", "300", "350",
                                            "400", "450", "500", "550", "600"};
    if (code >= 0 && code <= 9) {
        return QString::fromLatin1(texts[code]);
    }
    return QStringLiteral("400");
}

void TOnlineData::clear() {
    raw_.fill(0);
    fullScreen_ = 0;
    for (auto& c : curves_) {
        c.fill(0);
    }
}

bool TOnlineData::decodeLivePacket(const std::uint8_t* packet, std::size_t packetLen) {
    if (packetLen < kLivePacketSize) {
        return false;
    }
    std::memcpy(raw_.data(), packet + 8, kRecordSize);
    fullScreen_ = (raw_[413] & 0x06) != 0 ? 1 : 0;
    return true;
}

} // namespace ufd::online
