#include "core/documents/waveform_csv.h"

#include "core/online/record.h"
#include "core/spreadsheet/spreadsheet_report.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace ufd::documents {

namespace {

QString cell(const std::vector<reports::TextRow>& table, std::size_t row, std::size_t column) {
    return row < table.size() ? table[row][column] : QString();
}

} // namespace

QByteArray waveformCsv(const reports::ReportDisplay& shown) {
    QStringList header{QStringLiteral("Path (mm)"), QStringLiteral("Echo 1 (%)"),
                       QStringLiteral("Echo 2 (%)")};
    for (std::size_t k = 0; k < 3; ++k) {
        header << (shown.curvesVisible ? shown.curveTitles[k]
                                       : QStringLiteral("Curve %1").arg(k + 1)) +
                      QStringLiteral(" (%)");
    }
    header << QStringLiteral("Gate A (%)") << QStringLiteral("Gate B (%)");

    const bool gateA = !shown.gateA.isEmpty();
    const bool gateB = !shown.gateB.isEmpty();
    QString text = header.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    text.reserve(static_cast<qsizetype>(online::kTracePoints) * 48);
    for (std::size_t i = 0; i < online::kTracePoints; ++i) {
        const std::size_t s = 2 * i + 1; // the sample table's rows of point i
        const std::size_t c = i + 1;     // the curve table's
        QStringList fields{cell(shown.curveTable, c, 0), cell(shown.sampleTable, s, 1),
                           cell(shown.sampleTable, s + 1, 1)};
        for (std::size_t k = 1; k <= 3; ++k) {
            fields << (shown.curvesVisible ? cell(shown.curveTable, c, k) : QString());
        }
        fields << (gateA ? cell(shown.sampleTable, s, 2) : QString())
               << (gateB ? cell(shown.sampleTable, s, 3) : QString());
        text += fields.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return text.toUtf8();
}

QString waveformCsvPath(const QString& outDir, const QString& name, const QByteArray& csv) {
    if (!reports::isSafeReportName(name)) {
        return {};
    }
    return reports::reportFilePath(outDir, name, QStringLiteral("csv"), [&](const QString& path) {
        QFile f(path);
        return f.size() == csv.size() && f.open(QIODevice::ReadOnly) && f.readAll() == csv;
    });
}

QString writeCsv(const QString& path, const QByteArray& bytes) {
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
        return QStringLiteral("Cannot write %1: %2")
            .arg(QDir::toNativeSeparators(path), out.errorString());
    }
    return {};
}

QString writeWaveformCsv(const QString& path, const reports::ReportDisplay& shown) {
    return writeCsv(path, waveformCsv(shown));
}

} // namespace ufd::documents
