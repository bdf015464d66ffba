// Report images of any content: the decoder must stay inside the bytes. Inputs are laid over a
// full-size image (slot list first) so that short inputs still reach the decoding of slots.
#include "reports/report_file.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ufd::reports;
    // Odd sizes exercise the size check, the rest the decoding.
    if (size % 2 == 1) {
        decodeReportFile(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
        return 0;
    }
    QByteArray image(kReportFileSize, '\0');
    const std::size_t head = std::min<std::size_t>(size, 4096);
    std::memcpy(image.data(), data, std::min<std::size_t>(head, kSlotListBytes));
    // The rest of the input becomes directory entry and record of every slot it names.
    if (size > kSlotListBytes) {
        const std::size_t rest = size - kSlotListBytes;
        for (std::size_t slot = 0; slot < 4; ++slot) {
            std::memcpy(image.data() + kDirectoryOffset + 32 * slot, data + kSlotListBytes,
                        std::min<std::size_t>(rest, 32));
            std::memcpy(image.data() + kSlotsOffset + kSlotSize * slot, data + kSlotListBytes,
                        std::min<std::size_t>(rest, kSlotSize));
        }
    }
    const DecodeResult r = decodeReportFile(image);
    for (const ReportRow& row : r.rows) {
        parseFileData(row.FileData);
        (void)row.FileName.toUtf8();
        (void)row.ProbeName.toUtf8();
    }
    parseFileData(QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    return 0;
}
