#pragma once

#include "core/online/ascan_plot.h"
#include "core/online/record.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariant>
#include <QVector>
#include <cstdint>
#include <optional>
#include <vector>

namespace ufd::reports {

constexpr qsizetype kReportFileSize = 4229120;
constexpr std::size_t kSlotListBytes = 2048;
constexpr std::size_t kSlotCount = 1024;
constexpr std::size_t kDirectoryOffset = 0x0800;
constexpr std::size_t kDirectoryEntrySize = 32;
constexpr std::size_t kSlotsOffset = 0x8800;
constexpr std::size_t kSlotSize = 4096;
constexpr int kFileDataValues = 3010;

QString reportFileErrorText(); // "Report File Error!"

// One row of tabDetectorReport as the decoder makes it.
struct ReportRow {
    int FileNum = 0;
    QString FileName;
    int FileYear = 0, FileMonth = 0, FileDay = 0, FileHour = 0, FileMin = 0, FileSec = 0;
    QDateTime FileDate; // invalid when the directory entry's date bytes form no date
    QString sValue, pValue, dValue, hValue, vERS, saValue, sbValue;
    int vEchoNum = 0, CH_No = 0, PageNum = 0;
    QString ProbeName, ProbeAng, ProbeZero, ProbeFreq, ProbeFront;
    QString ProbedSize, ProbehSize, ProbewSize;
    QString ProbeType, ProbeDamp, ProbeRectify, CoordType;
    QString DiaValue, ThickValue, mRange, dDelay;
    int SoundVel = 0, WaveAGC = 0;
    double GateA_Start = 0, GateA_Width = 0, GateA_Height = 0;
    double GateB_Start = 0, GateB_Width = 0, GateB_Height = 0;
    QString GateLogic, GateAlert;
    int CurrveType = 0;
    QString DB_Base, DB_Step, DB_Scan, DB_Surface;
    QString DAC_Offset0, DAC_Offset1, DAC_Offset2;
    int DAC_SoundVel = 0, DAC_SampleNum = 0, DAC_CurveNum = 0;
    QString WaveReject, FPGA_FireEnergy;
    int FPGA_DisChgTime = 0, FPGA_FireFreq = 0;
    qint64 FlagALL = 0;
    int Flag_ProbeAng_En = 0, Flag_GateZoom_En = 0, Flag_KeyBell_En = 0, Flag_FullSScr = 0;
    QString FileData;
    // What tells the report apart from every other, whatever its name and date: the archive's
    // key (reportHash of its directory entry and slot), which decodeReportFile sets.
    QString ReportHash;
};

struct DecodeResult {
    bool sizeOk = false;
    std::vector<ReportRow> rows;
    int invalidDates = 0; // rows kept with an empty FileDate
};

// Slot numbers before the first 0xFFFF (at most 1,024 entries) of a report image's first
// 2,048 bytes. Fewer bytes give the entries they hold whole.
std::vector<std::uint16_t> reportIndex(const std::uint8_t* data, std::size_t size);

// What a decoding makes: every column, or every column but FileData, whose curves cost most of
// a decoding, for the archive, which keeps the bytes FileData is made of instead.
enum class Columns { All, WithoutFileData };

// Decodes a whole report file. Slot numbers of 1,024 or more are skipped; nothing outside the
// bytes is read.
DecodeResult decodeReportFile(const QByteArray& image, Columns columns = Columns::All);

// Decodes one slot's directory entry and its instrument record (kRecordSize bytes) into a row,
// without its ReportHash, which needs the whole slot.
ReportRow decodeReportSlot(std::uint16_t slot, const std::uint8_t* dirEntry,
                           const std::uint8_t* record, Columns columns = Columns::All);

// SHA-256 of a report's 32-byte directory entry followed by its 4,096-byte slot, in lower-case
// hexadecimal: the report's identity in the archive and in the documents made of it.
QString reportHash(const std::uint8_t* dirEntry, const std::uint8_t* slotBytes);

// Display geometry shared by the decoder, the browser and the live drawing.
using online::displayScale;
using online::zeroOffset;

// The trace and curve text: 3,010 integers, each followed by ";".
QString buildFileData(const online::InstrumentRecord& rec, const online::CurveArrays& curves);

struct FileDataValues {
    std::array<std::int16_t, online::kTracePoints> trace1{};
    std::array<std::int16_t, online::kTracePoints> trace2{};
    std::array<online::CurveArray, 3> curves{};
};

// Reads FileData back; nothing when it holds fewer than 3,010 integers or a token that is not
// one.
std::optional<FileDataValues> parseFileData(const QString& text);

} // namespace ufd::reports
