// Report images of any content: the decoder must stay inside the bytes. The input is laid over
// a full-size image: its first 16 bytes are the slot list (up to eight entries), the next 32 the
// directory entry and the rest the record of every slot that list names, so each run decodes a
// handful of reports rather than a thousand.
#include "core/reports/report_file.h"

#include <algorithm>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ufd::reports;
    if (size < 4) {
        // The size check alone.
        decodeReportFile(
            QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
        return 0;
    }
    QByteArray image(kReportFileSize, '\0');
    auto* img = reinterpret_cast<std::uint8_t*>(image.data());
    std::memset(img, 0xFF, kSlotListBytes);
    const std::size_t listBytes = std::min<std::size_t>(size, 16);
    std::memcpy(img, data, listBytes);
    const std::uint8_t* dir = data + listBytes;
    const std::size_t dirBytes = std::min<std::size_t>(size - listBytes, kDirectoryEntrySize);
    const std::uint8_t* rec = dir + dirBytes;
    const std::size_t recBytes = std::min<std::size_t>(size - listBytes - dirBytes, kSlotSize);
    for (const std::uint16_t slot : reportIndex(img, listBytes)) {
        if (slot < kSlotCount) {
            std::memcpy(img + kDirectoryOffset + kDirectoryEntrySize * slot, dir, dirBytes);
            std::memcpy(img + kSlotsOffset + kSlotSize * slot, rec, recBytes);
        }
    }
    const DecodeResult r = decodeReportFile(image);
    for (const ReportRow& row : r.rows) {
        const auto values = parseFileData(row.FileData);
        if (!values) {
            __builtin_trap(); // the decoder's own text must always read back
        }
        (void)row.FileName.toUtf8();
        (void)row.ProbeName.toUtf8();
    }
    parseFileData(
        QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    return 0;
}
