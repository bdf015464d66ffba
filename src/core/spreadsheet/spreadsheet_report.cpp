#include "core/spreadsheet/spreadsheet_report.h"

#include <QDateTime>
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

constexpr int kPathColumn = 18; // column R: the sample points' paths, the chart's X values
// Which report a file in Outfiles/ holds. Document properties, not cells: the operator may retype
// the cells, and spreadsheet programs keep the properties when they save.
constexpr QLatin1String kReportNameProperty("UFD report name");
constexpr QLatin1String kReportDateProperty("UFD report date");
// Two reports may share a name and a date; their content tells them apart.
constexpr QLatin1String kReportHashProperty("UFD report hash");
// Set in the program's own default template only, to the time it was made; the reports made of
// it do not carry it.
constexpr QLatin1String kDefaultTemplateProperty("UFD default template");
constexpr int kMaxReportFiles = 999; // of one name
constexpr qint64 kMaxReportBytes = 256 * 1024 * 1024;

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

// A file written before reports carried their hash is known by name and date alone.
bool holdsReport(const QString& path, const QString& name, const QString& date,
                 const QString& hash) {
    QByteArray bytes;
    if (QFileInfo(path).size() > kMaxReportBytes || !readAll(path, bytes)) {
        return false;
    }
    const auto properties = customProperties(bytes);
    const auto has = [&](const QString& key, const QString& value) {
        const auto it = properties.find(key);
        return it != properties.end() && it->second == value;
    };
    if (!hash.isEmpty() && properties.count(kReportHashProperty) != 0) {
        return has(kReportHashProperty, hash);
    }
    return has(kReportNameProperty, name) && has(kReportDateProperty, date);
}

// Converts the legacy template with the office program into a temporary folder, then moves the
// result beside it, so that an interrupted conversion leaves no half-written template.
bool convertLegacyTemplate(const QString& legacy, const QString& target,
                           const TemplateOptions& options) {
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
    if (office.exitStatus() != QProcess::NormalExit || office.exitCode() != 0 ||
        !readAll(result, converted) || converted.isEmpty() || !writeAtomically(target, converted)) {
        return false;
    }
    // A legacy file stamped in the future must not be converted again on every report.
    const QDateTime legacyTime = QFileInfo(legacy).lastModified();
    QFile stamped(target);
    if (QFileInfo(target).lastModified() < legacyTime && stamped.open(QIODevice::ReadWrite)) {
        stamped.setFileTime(legacyTime, QFileDevice::FileModificationTime);
    }
    return true;
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

QString legacyTemplateText(const QString& programFolder) {
    return QStringLiteral("Please save %1 as an Excel workbook %2, or install LibreOffice!")
        .arg(QDir::toNativeSeparators(
                 QFileInfo(legacyTemplatePath(programFolder)).absoluteFilePath()),
             QDir::toNativeSeparators(QFileInfo(templatePath(programFolder)).absoluteFilePath()));
}

QString legacyConversionFailedText() {
    return QStringLiteral("TSV.xls could not be converted: please save TSV.xls as TSV.xlsx!");
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
                                        const ReportDisplay& shown) {
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
        put(1, 20 + k, shown.curveTitles[static_cast<std::size_t>(k)]);
    }
    put(2, 3, f("FileName"));
    put(2, 7, f("FileDate"));
    put(3, 3, workpiece.location.isEmpty() ? QStringLiteral("Beijing") : workpiece.location);
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
        put(row, kPathColumn, cellOf(shown.sampleTable, s, 0));
        put(row, kPathColumn + 1, cellOf(shown.sampleTable, s, 1));
        if (curves) {
            for (std::size_t k = 1; k <= 3; ++k) {
                put(row, kPathColumn + 1 + static_cast<int>(k), cellOf(shown.curveTable, c, k));
            }
        }
        const QString a = cellOf(shown.sampleTable, s, 2);
        if (gateA && !a.isEmpty()) {
            put(row, kPathColumn + 5, a);
        }
        const QString b = cellOf(shown.sampleTable, s, 3);
        if (gateB && !b.isEmpty()) {
            put(row, kPathColumn + 6, b);
        }
    }
    return cells;
}

TemplateOptions defaultTemplateOptions() {
    return TemplateOptions{QStandardPaths::findExecutable(QStringLiteral("soffice")), 120000};
}

ReportTemplate loadReportTemplate(const QString& programFolder, const QString& reportName,
                                  const TemplateOptions& options) {
    ReportTemplate t;
    const QString outDir = outfilesPath(programFolder);
    if (!isSafeReportName(reportName) || !QFileInfo(outDir).isDir()) {
        t.error = templateMissingText();
        return t;
    }
    t.outDir = QDir(outDir).absolutePath();
    const QString tmpl = templatePath(programFolder);
    const QFileInfo legacy(legacyTemplatePath(programFolder));
    const QFileInfo current(tmpl);
    // The default as the program made it: an office program that saved it since (the site's
    // edit) gave it a modified time of its own.
    const auto isDefault = [&] {
        QByteArray bytes;
        if (current.size() > kMaxReportBytes || !readAll(tmpl, bytes)) {
            return false;
        }
        const auto properties = customProperties(bytes);
        const auto made = properties.find(kDefaultTemplateProperty);
        return made != properties.end() && !made->second.isEmpty() &&
               made->second == modifiedStamp(bytes);
    };
    if (legacy.isFile() &&
        (!current.exists() || legacy.lastModified() > current.lastModified() || isDefault())) {
        if (options.officeProgram.isEmpty()) {
            t.error = legacyTemplateText(programFolder);
            return t;
        }
        if (!convertLegacyTemplate(legacy.filePath(), tmpl, options)) {
            t.error = legacyConversionFailedText();
            return t;
        }
    }
    if (!readAll(tmpl, t.workbook)) {
        t.error = templateMissingText();
    }
    return t;
}

QString reportFilePath(const QString& outDir, const QString& name, const QString& date,
                       const QString& hash) {
    return reportFilePath(outDir, name, QStringLiteral("xlsx"),
                          [&](const QString& path) { return holdsReport(path, name, date, hash); });
}

QString reportFilePath(const QString& outDir, const QString& name, const QString& extension,
                       const std::function<bool(const QString& path)>& holdsReport) {
    const QDir dir(outDir);
    for (int n = 1; n <= kMaxReportFiles; ++n) {
        const QString path = dir.absoluteFilePath(
            n == 1 ? QStringLiteral("%1.%2").arg(name, extension)
                   : QStringLiteral("%1 (%2).%3").arg(name, QString::number(n), extension));
        const QFileInfo info(path);
        if (!info.exists() && !info.isSymLink()) {
            return path;
        }
        if (info.isFile() && holdsReport(path)) {
            return path;
        }
    }
    return {};
}

ReportCopy saveSpreadsheetReport(const ReportTemplate& tmpl, const QSqlRecord& current,
                                 const WorkpieceFields& workpiece, const ReportDisplay& shown) {
    ReportCopy copy;
    const QString name = fieldText(current, QStringLiteral("FileName"));
    if (!tmpl.ok() || !isSafeReportName(name)) {
        copy.error = tmpl.ok() ? templateMissingText() : tmpl.error;
        return copy;
    }
    const QString date = fieldText(current, QStringLiteral("FileDate"));
    const QString hash = fieldText(current, QStringLiteral("ReportHash"));
    WorkbookExtras extras;
    extras.properties = {{kReportNameProperty, name},
                         {kReportDateProperty, date},
                         {kDefaultTemplateProperty, QString()}};
    if (!hash.isEmpty()) {
        extras.properties.emplace_back(kReportHashProperty, hash);
    }
    if (shown.x1 > shown.x0) {
        extras.sampleChart =
            SampleChartScale{kPathColumn, shown.x0, shown.x1, shown.yMin, shown.yMax};
    }
    const XlsxFillResult filled =
        fillFirstSheet(tmpl.workbook, spreadsheetCells(current, workpiece, shown), extras);
    if (!filled.error.isEmpty()) {
        copy.error = filled.error;
        return copy;
    }
    const QString path = reportFilePath(tmpl.outDir, name, date, hash);
    if (path.isEmpty() || !writeAtomically(path, filled.workbook)) {
        copy.error = templateMissingText();
        return copy;
    }
    copy.path = path;
    return copy;
}

ReportCopy writeSpreadsheetReport(const QString& programFolder, const QSqlRecord& current,
                                  const WorkpieceFields& workpiece, const ReportDisplay& shown,
                                  const TemplateOptions& options) {
    const ReportTemplate tmpl =
        loadReportTemplate(programFolder, fieldText(current, QStringLiteral("FileName")), options);
    return saveSpreadsheetReport(tmpl, current, workpiece, shown);
}

} // namespace ufd::reports
