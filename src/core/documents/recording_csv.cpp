#include "core/documents/recording_csv.h"

#include "core/documents/waveform_csv.h"
#include "core/online/record_texts.h"
#include "core/online/text_format.h"
#include "core/reports/database.h"
#include "core/reports/report_file.h"

#include <QFileInfo>
#include <array>

namespace ufd::documents {

QByteArray frameCsv(const std::uint8_t* storedFrame) {
    // No directory entry: the name and date columns stay empty, the waveform is the frame's.
    const std::array<std::uint8_t, reports::kDirectoryEntrySize> noEntry{};
    const reports::ReportRow row = reports::decodeReportSlot(0, noEntry.data(), storedFrame);
    const reports::ShowResult shown =
        reports::showCurrentReport(reports::DataStore::reportRecord(row), reports::ReportDisplay{});
    return waveformCsv(shown.display);
}

QByteArray recordingCsv(const online::Recording& recording) {
    QString text = QStringLiteral("Frame,Time (s),Depth (mm),Sound path (mm),Horizontal distance "
                                  "(mm),Echo height (%),Equivalent size (mm),Base gain (dB)\r\n");
    const std::uint32_t frames = recording.frameCount();
    text.reserve(static_cast<qsizetype>(frames) * 64 + text.size());
    online::InstrumentRecord rec;
    for (std::uint32_t k = 0; k < frames; ++k) {
        online::decodeRecord(recording.frame(k), online::Encoding::Stored, rec);
        const online::RecordTexts t = online::recordTexts(rec);
        const double seconds = static_cast<double>(k) * 10.0 / recording.frameRate();
        text += QString::number(k + 1) + QLatin1Char(',') + online::formatFixed(seconds, 3);
        for (const online::DisplayReading& d : t.displays) {
            text += QLatin1Char(',') + d.text;
        }
        text += QStringLiteral("\r\n");
    }
    return text.toUtf8();
}

QString frameCsvName(const QString& recordingPath, std::uint32_t frameIndex) {
    return QFileInfo(recordingPath).completeBaseName() +
           QStringLiteral(" frame %1").arg(frameIndex + 1);
}

QString recordingCsvName(const QString& recordingPath) {
    return QFileInfo(recordingPath).completeBaseName();
}

} // namespace ufd::documents
