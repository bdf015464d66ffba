#include "reports/spreadsheet_report.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

namespace ufd::reports {

namespace {

QString cellOf(const std::vector<TextRow>& table, std::size_t row, std::size_t column) {
    return row < table.size() ? table[row][column] : QString();
}

bool writeAtomically(const QString& path, const QByteArray& bytes) {
    QSaveFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.commit();
}

bool readAll(const QString& path, QByteArray& bytes) {
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        return false;
    }
    bytes = in.readAll();
    return in.error() == QFileDevice::NoError;
}

// Converts the legacy template with the office program into a temporary folder, then moves the
// result beside it, so that an interrupted conversion leaves no half-written template.
bool convertLegacyTemplate(const QString& legacy, const QString& target,
                           const TemplateOptions& options) {
    if (options.officeProgram.isEmpty()) {
        return false;
    }
    QTemporaryDir work;
    if (!work.isValid()) {
        return false;
    }
    const QString profile =
        QUrl::fromLocalFile(work.filePath(QStringLiteral("profile"))).toString();
    const QString outDir = work.filePath(QStringLiteral("out"));
    if (!QDir().mkpath(outDir)) {
        return false;
    }
    QProcess office;
    office.setProgram(options.officeProgram);
    office.setArguments({QStringLiteral("-env:UserInstallation=") + profile,
                         QStringLiteral("--headless"), QStringLiteral("--norestore"),
                         QStringLiteral("--convert-to"), QStringLiteral("xlsx"),
                         QStringLiteral("--outdir"), outDir, legacy});
    office.setProcessChannelMode(QProcess::MergedChannels);
    office.start();
    if (!office.waitForFinished(options.conversionTimeoutMs)) {
        office.kill();
        office.waitForFinished(5000);
        return false;
    }
    QByteArray converted;
    const QString result =
        QDir(outDir).filePath(QFileInfo(legacy).completeBaseName() + QStringLiteral(".xlsx"));
    return office.exitStatus() == QProcess::NormalExit && office.exitCode() == 0 &&
           readAll(result, converted) && !converted.isEmpty() && writeAtomically(target, converted);
}

} // namespace

QString templateMissingText() {
    return QStringLiteral("Please check whether the template file exists!");
}

QString editReportQuestionTitle() {
    return QStringLiteral("Operation prompt");
}

QString editReportQuestionText() {
    return QStringLiteral("Data conversion takes time, please wait patiently") + QLatin1Char('\r') +
           QString(8, QLatin1Char(' ')) + QStringLiteral("Press YES to continue");
}

QString templatePath(const QString& programFolder) {
    return QDir(programFolder).filePath(QStringLiteral("Moudle/TSV.xlsx"));
}

QString legacyTemplatePath(const QString& programFolder) {
    return QDir(programFolder).filePath(QStringLiteral("Moudle/TSV.xls"));
}

QString outfilesPath(const QString& programFolder) {
    return QDir(programFolder).filePath(QStringLiteral("Outfiles"));
}

bool isSafeReportName(const QString& name) {
    if (name.isEmpty() || name.contains(QLatin1String(".."))) {
        return false;
    }
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0) ||
            QStringView(u"/\\:*?\"<>|").contains(c)) {
            return false;
        }
    }
    return true;
}

std::vector<SheetCell> spreadsheetCells(const QSqlRecord& current, const WorkpieceFields& workpiece,
                                        const ReportDisplay& lastShown) {
    const auto f = [&](const char* column) {
        return fieldText(current, QString::fromLatin1(column));
    };
    std::vector<SheetCell> cells;
    cells.reserve(60 + 251 * 7);
    const auto put = [&](int row, int column, const QString& text) {
        cells.push_back({row, column, text});
    };

    put(1, 1, QStringLiteral("Ultrasonic Flaw Detect Report"));
    for (int k = 0; k < 3; ++k) {
        put(1, 20 + k, lastShown.curveTitles[static_cast<std::size_t>(k)]);
    }
    put(2, 3, f("FileName"));
    put(2, 7, f("FileDate"));
    put(3, 3, QStringLiteral("Beijing"));
    const WorkpieceDetails& wp = workpiece.details;
    put(4, 3, workpiece.number);
    put(4, 5, wp.PartType);
    put(4, 7, wp.PartName);
    put(5, 3, wp.Material);
    put(5, 5, wp.Face);
    put(5, 7, wp.Heat);
    put(6, 3, wp.FlawInfo);
    put(6, 7, wp.Mandator);
    put(7, 3, f("ProbeName"));
    put(7, 5, f("ProbeFreq") + QStringLiteral("MHz"));
    put(7, 9, f("ProbeDamp"));
    put(8, 3, f("ProbeType"));
    put(8, 9, f("ProbeZero") + QStringLiteral("us"));
    const QString probe = f("ProbeType");
    if (probe == QLatin1String("Straight") || probe == QLatin1String("Dual D")) {
        put(7, 6, QStringLiteral("Probe diameter"));
        put(7, 7, f("ProbedSize") + QStringLiteral("mm"));
    } else {
        put(7, 7, f("ProbehSize") + QStringLiteral(" X ") + f("ProbewSize"));
        put(8, 5, f("ProbeAng"));
        put(8, 7, f("ProbeFront") + QStringLiteral("mm"));
    }
    put(9, 5, f("DB_Base") + QStringLiteral("dB"));
    put(9, 7, f("ThickValue") + QStringLiteral("mm"));
    put(9, 9, f("GateAlert"));
    put(10, 3, f("mRange") + QStringLiteral("mm"));
    put(10, 5, f("SoundVel") + QStringLiteral("m/s"));
    put(10, 7, f("GateA_Start") + QStringLiteral("mm"));
    put(10, 9, f("GateB_Start") + QStringLiteral("mm"));
    put(11, 3, f("dDelay") + QStringLiteral("us"));
    put(11, 7, f("GateA_Width") + QStringLiteral("mm"));
    put(11, 9, f("GateB_Width") + QStringLiteral("mm"));
    put(12, 3, f("ProbeRectify"));
    put(12, 5, f("WaveReject") + QStringLiteral("%"));
    put(12, 7, f("GateA_Height") + QStringLiteral("%"));
    put(12, 9, f("GateB_Height") + QStringLiteral("%"));
    put(14, 3, f("DB_Surface") + QStringLiteral("dB"));
    put(14, 5, f("DAC_Offset0") + QStringLiteral("dB"));
    put(14, 7, f("DAC_Offset1") + QStringLiteral("dB"));
    put(14, 9, f("DAC_Offset2") + QStringLiteral("dB"));
    put(15, 3, f("FPGA_FireEnergy") + QStringLiteral("V"));
    put(15, 5, f("FPGA_DisChgTime") + QStringLiteral("us"));
    put(15, 7, f("FPGA_FireFreq") + QStringLiteral("Hz"));
    put(16, 3, f("sValue") + QStringLiteral("mm"));
    put(16, 5, f("pValue") + QStringLiteral("mm"));
    put(16, 7, f("dValue") + QStringLiteral("mm"));
    put(16, 9, f("vEchoNum"));
    put(17, 3, f("hValue") + QStringLiteral("%"));
    put(17, 5, f("vERS"));
    put(17, 7, QStringLiteral("mm"));

    // Sample rows: every second display point of the plot, from the tables behind it.
    const bool curves = f("CurrveType") != QLatin1String("0");
    const QString logic = f("GateLogic");
    const bool gateA = logic == QLatin1String("GateA") || logic == QLatin1String("GateAB");
    const bool gateB = logic == QLatin1String("GateB") || logic == QLatin1String("GateAB");
    for (std::size_t i = 0; i <= 250; ++i) {
        const int row = static_cast<int>(i) + 2;
        const std::size_t s = 4 * i + 1;
        const std::size_t c = 2 * i + 1;
        put(row, 18, cellOf(lastShown.sampleTable, s, 0));
        put(row, 19, cellOf(lastShown.sampleTable, s, 1));
        if (curves) {
            for (std::size_t k = 1; k <= 3; ++k) {
                put(row, 19 + static_cast<int>(k), cellOf(lastShown.curveTable, c, k));
            }
        }
        const QString a = cellOf(lastShown.sampleTable, s, 2);
        if (gateA && !a.isEmpty()) {
            put(row, 23, a);
        }
        const QString b = cellOf(lastShown.sampleTable, s, 3);
        if (gateB && !b.isEmpty()) {
            put(row, 24, b);
        }
    }
    return cells;
}

TemplateOptions defaultTemplateOptions() {
    return TemplateOptions{QStandardPaths::findExecutable(QStringLiteral("soffice")), 120000};
}

ReportCopy copyReportTemplate(const QString& programFolder, const QString& reportName,
                              const TemplateOptions& options) {
    ReportCopy copy;
    const QString outDir = outfilesPath(programFolder);
    if (!isSafeReportName(reportName) || !QFileInfo(outDir).isDir()) {
        copy.error = templateMissingText();
        return copy;
    }
    const QString report = QDir(outDir).absoluteFilePath(reportName + QStringLiteral(".xlsx"));
    if (QFileInfo(report).absolutePath() != QDir(outDir).absolutePath()) {
        copy.error = templateMissingText();
        return copy;
    }
    const QString tmpl = templatePath(programFolder);
    const QString legacy = legacyTemplatePath(programFolder);
    if (!QFileInfo::exists(tmpl) && QFileInfo::exists(legacy)) {
        convertLegacyTemplate(legacy, tmpl, options);
    }
    QByteArray bytes;
    if (!readAll(tmpl, bytes) || !writeAtomically(report, bytes)) {
        copy.error = templateMissingText();
        return copy;
    }
    copy.path = report;
    return copy;
}

QString fillReport(const QString& reportPath, const std::vector<SheetCell>& cells) {
    QByteArray bytes;
    if (!readAll(reportPath, bytes)) {
        return QStringLiteral("Cannot read %1").arg(QDir::toNativeSeparators(reportPath));
    }
    XlsxFillResult filled = fillFirstSheet(bytes, cells);
    if (!filled.error.isEmpty()) {
        return filled.error;
    }
    if (!writeAtomically(reportPath, filled.workbook)) {
        return QStringLiteral("Cannot write %1").arg(QDir::toNativeSeparators(reportPath));
    }
    return {};
}

ReportCopy writeSpreadsheetReport(const QString& programFolder, const QSqlRecord& current,
                                  const WorkpieceFields& workpiece, const ReportDisplay& lastShown,
                                  const TemplateOptions& options) {
    ReportCopy copy =
        copyReportTemplate(programFolder, fieldText(current, QStringLiteral("FileName")), options);
    if (copy.ok()) {
        copy.error = fillReport(copy.path, spreadsheetCells(current, workpiece, lastShown));
    }
    return copy;
}

} // namespace ufd::reports
