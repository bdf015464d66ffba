#pragma once

#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>

namespace ufd::online {

constexpr std::size_t kRecordSize = 2824;
constexpr std::size_t kTracePoints = 602;
constexpr std::size_t kDacPointCount = 15;
constexpr std::size_t kCurveCount = 6;
constexpr std::size_t kLivePacketSize = 2836;

// Byte offsets inside the instrument record.
namespace off {
constexpr std::size_t sValue = 0, pValue = 4, dValue = 8, hValue = 12, vERS = 16, saValue = 20,
                      sbValue = 24, vEchoNum = 28, CH_No = 48, PageNum = 50, ProbeName = 52,
                      ProbeAng = 68, ProbeZero = 72, ProbeFreq = 74, ProbeFront = 76,
                      ProbedSize = 78, ProbehSize = 80, ProbewSize = 82, ProbeType = 84,
                      ProbeDamp = 85, ProbeRectify = 86, CoordType = 87, DiaValue = 88,
                      ThickValue = 92, mRange = 96, dDelay = 100, SoundVel = 104, WaveAGC = 106,
                      GateAStart = 108, GateAWidth = 110, GateAHeight = 112, GateBStart = 114,
                      GateBWidth = 116, GateBHeight = 118, GateLogic = 129, GateAlert = 130,
                      CurrveType = 131, DB_Base = 132, DB_Step = 134, DB_Scan = 136,
                      DB_Surface = 138, DacPoints = 140, DacOffsets = 264, DAC_SoundVel = 276,
                      DAC_SampleNum = 278, DAC_CurveNum = 279, AvgRefPos = 284, AvgRefAmp = 288,
                      AvgRefGain = 290, AvgRefDia = 368, AvgCurveDia = 370, AvgRefVel = 380,
                      AvgSwitch = 382, AvgMode = 383, WaveReject = 386, FPGA_FireEnergy = 388,
                      FPGA_DisChgTime = 390, FPGA_FireFreq = 394, FlagALL = 412, Trace1 = 416,
                      Trace2 = 1620;
} // namespace off

// How the real32 fields of a record are held: live packets carry value x 1000 as a signed
// integer, recording frames and report slots carry IEEE singles.
enum class Encoding { Live, Stored };

double readReal32(const std::uint8_t* p, Encoding enc);
void writeReal32(std::uint8_t* p, double value, Encoding enc);

// A live record as a recording frame holds it: every byte as it came, the real32 fields turned
// from value x 1000 into IEEE singles. `live` and `stored` are kRecordSize bytes each.
void liveToStored(const std::uint8_t* live, std::uint8_t* stored);

struct DacPoint {
    double path = 0;            // mm
    std::int16_t amplitude = 0; // trace units (0.25 %)
    std::int16_t gain = 0;      // 0.1 dB
};

// One instrument record with every field that something reads, real32 fields in their unit.
struct InstrumentRecord {
    double sValue = 0, pValue = 0, dValue = 0, hValue = 0, vERS = 0, saValue = 0, sbValue = 0;
    std::uint16_t vEchoNum = 0;
    std::int16_t CH_No = 0;
    std::uint16_t PageNum = 0;
    std::array<char, 16> ProbeName{}; // raw 8-bit text, NUL-ended or full
    double ProbeAng = 0;
    std::int16_t ProbeZero = 0, ProbeFreq = 0, ProbeFront = 0;
    std::int16_t ProbedSize = 0, ProbehSize = 0, ProbewSize = 0;
    std::uint8_t ProbeType = 0, ProbeDamp = 0, ProbeRectify = 0, CoordType = 0;
    std::int32_t DiaValue = 0;
    std::uint32_t ThickValue = 0;
    std::int32_t mRange = 0, dDelay = 0;
    std::int16_t SoundVel = 0, WaveAGC = 0;
    std::int16_t gateAStart = 0, gateAWidth = 0, gateAHeight = 0;
    std::int16_t gateBStart = 0, gateBWidth = 0, gateBHeight = 0;
    std::uint8_t GateLogic = 0, GateAlert = 0;
    std::int8_t CurrveType = 0;
    std::int16_t DB_Base = 0, DB_Step = 0, DB_Scan = 0, DB_Surface = 0;
    std::array<DacPoint, kDacPointCount> dacPoints{};
    std::array<std::int16_t, kCurveCount> dacOffsets{};
    std::int16_t DAC_SoundVel = 0;
    std::int8_t DAC_SampleNum = 0, DAC_CurveNum = 0;
    double avgRefPos = 0;
    std::int16_t avgRefAmp = 0, avgRefGain = 0, avgRefDia = 0;
    std::array<std::int16_t, 3> avgCurveDia{};
    std::int16_t avgRefVel = 0;
    std::int8_t avgSwitch = 0, avgMode = 0;
    std::int16_t WaveReject = 0, FPGA_FireEnergy = 0, FPGA_DisChgTime = 0, FPGA_FireFreq = 0;
    std::uint32_t FlagALL = 0;
    std::array<std::int16_t, kTracePoints> trace1{};
    std::array<std::int16_t, kTracePoints> trace2{};

    bool fullScreen() const { return ((FlagALL >> 8) & 0x06u) != 0; }
    int displayPoints() const { return fullScreen() ? 600 : 500; }
    QString probeNameText() const;
};

// Decodes the 2,824 bytes at `bytes`.
void decodeRecord(const std::uint8_t* bytes, Encoding enc, InstrumentRecord& out);
InstrumentRecord decodeRecord(const std::uint8_t* bytes, Encoding enc);

// Writes every field that decodeRecord reads; bytes nothing reads are left as they are.
void encodeRecord(const InstrumentRecord& rec, Encoding enc, std::uint8_t* bytes);

// Texts of the instrument's enumerations.
QString probeTypeText(int code);
QString probeRectifyText(int code);
QString gateLogicText(int code);
QString gateAlertText(int code);
QString coordTypeText(int code);
QString probeDampText(int code);
QString fireEnergyText(int code);

enum CurveKind { CurvesNone = 0, CurvesDac = 1, CurvesAvg = 2 };
inline CurveKind curveKind(int currveType) {
    return currveType == 1 ? CurvesDac : currveType == 2 ? CurvesAvg : CurvesNone;
}
inline bool gateADrawn(int gateLogic) {
    return gateLogic == 1 || gateLogic == 3;
}
inline bool gateBDrawn(int gateLogic) {
    return gateLogic == 2 || gateLogic == 3;
}

using CurveArray = std::array<std::int32_t, kTracePoints>;
using CurveArrays = std::array<CurveArray, kCurveCount>;

// The online record: the latest live record as received, its full-screen flag and the six
// curve arrays the curve algorithms fill.
class TOnlineData {
public:
    TOnlineData() { clear(); }
    void clear();

    // Takes packet bytes 8..2831 of a live packet. A packet shorter than a whole live packet
    // is refused (returns false, nothing changes), so no byte from beyond it is ever taken.
    bool decodeLivePacket(const std::uint8_t* packet, std::size_t packetLen);

    const std::array<std::uint8_t, kRecordSize>& raw() const { return raw_; }
    std::int16_t fullScreenFlag() const { return fullScreen_; }
    InstrumentRecord decoded() const { return decodeRecord(raw_.data(), Encoding::Live); }
    CurveArrays& curves() { return curves_; }
    const CurveArrays& curves() const { return curves_; }

private:
    std::array<std::uint8_t, kRecordSize> raw_{};
    std::int16_t fullScreen_ = 0;
    CurveArrays curves_{};
};

} // namespace ufd::online
