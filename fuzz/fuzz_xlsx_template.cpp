// Spreadsheet templates as a site brings them, filled as a report fills them: refused with a
// message or filled, never a crash; a filled workbook opens again and tells which report it holds.
//
// Random bytes are almost never a zip whose checksums hold, so the input is a list of package
// parts laid over the default template, which this target zips. Each part starts with a line
// "@@ NAME" and runs to the next such line; "@@ -NAME" removes the part NAME. A part named like
// one of the template's replaces it, any other name adds one. Bytes before the first such line
// replace the first worksheet. An input that starts like a zip ("PK\3\4") is the whole package,
// so that damage to the zip itself stays fuzzed too.
#include "core/spreadsheet/xlsx_template.h"
#include "default_template.h" // kDefaultTemplate: Moudle/TSV.xlsx of this build

#include <QBuffer>
#include <QDateTime>
#include <cstdlib>
#include <optional>
#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>
#include <string>
#include <string_view>

namespace {

using namespace ufd::reports;

struct Part {
    QString name;
    QByteArray data;
};

constexpr std::string_view kPartHeader = "\n@@ ";
constexpr qsizetype kMaxNameBytes = 255; // a zip stores up to 65,535; nothing needs more here
const QString kFirstSheet = QStringLiteral("xl/worksheets/sheet1.xml");
// The document properties a report file carries, as spreadsheet_report.cpp names them.
const QString kNameProperty = QStringLiteral("UFD report name");
const QString kDateProperty = QStringLiteral("UFD report date");
const QString kReportName = QStringLiteral("WELD-0001");
const QString kReportDate = QStringLiteral("2026-11-02 08:30:00");

std::vector<Part> unzip(const QByteArray& bytes) {
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    QuaZip zip(&buffer);
    std::vector<Part> parts;
    if (!zip.open(QuaZip::mdUnzip)) {
        return parts;
    }
    for (bool more = zip.goToFirstFile(); more; more = zip.goToNextFile()) {
        QuaZipFile file(&zip);
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        parts.push_back({zip.getCurrentFileName(), file.readAll()});
    }
    return parts;
}

const std::vector<Part>& templateParts() {
    static const std::vector<Part> parts = [] {
        auto p = unzip(QByteArray::fromRawData(reinterpret_cast<const char*>(kDefaultTemplate),
                                               sizeof kDefaultTemplate));
        if (p.empty()) {
            std::abort(); // the embedded template must open, or nothing below means anything
        }
        return p;
    }();
    return parts;
}

// Stored, not deflated: the filler reads both, and this keeps the runs fast.
std::optional<QByteArray> zipParts(const std::vector<Part>& parts) {
    QByteArray out;
    QBuffer buffer(&out);
    QuaZip zip(&buffer);
    zip.setUtf8Enabled(true);
    if (!zip.open(QuaZip::mdCreate)) {
        return std::nullopt;
    }
    for (const Part& p : parts) {
        QuaZipNewInfo info(p.name);
        info.dateTime = QDateTime(QDate(2026, 11, 2), QTime(8, 30));
        QuaZipFile file(&zip);
        if (!file.open(QIODevice::WriteOnly, info, nullptr, 0, 0, 0) ||
            file.write(p.data) != p.data.size()) {
            return std::nullopt;
        }
        file.close();
        if (file.getZipError() != ZIP_OK) {
            return std::nullopt;
        }
    }
    zip.close();
    if (zip.getZipError() != ZIP_OK) {
        return std::nullopt;
    }
    return out;
}

void applyPart(std::vector<Part>& parts, std::string_view header, std::string_view content) {
    const bool remove = header.starts_with('-');
    if (remove) {
        header.remove_prefix(1);
    }
    const QString name =
        QString::fromUtf8(header.data(), std::min<qsizetype>(std::ssize(header), kMaxNameBytes));
    if (remove) {
        std::erase_if(parts, [&](const Part& p) { return p.name == name; });
        return;
    }
    QByteArray data(content.data(), std::ssize(content));
    for (Part& p : parts) {
        if (p.name == name) {
            p.data = std::move(data);
            return;
        }
    }
    parts.push_back({name, std::move(data)});
}

std::optional<QByteArray> packageOf(const std::uint8_t* bytes, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(bytes), size);
    if (input.starts_with("PK\3\4")) {
        return QByteArray(input.data(), std::ssize(input));
    }
    std::vector<Part> parts = templateParts();
    // A newline in front makes every header, the first included, start with one.
    const std::string text = '\n' + std::string(input);
    const std::string_view all(text);
    std::size_t next = all.find(kPartHeader);
    if (next != 0) {
        applyPart(parts, kFirstSheet.toStdString(), all.substr(1, next - 1));
    }
    while (next != std::string_view::npos) {
        const std::size_t nameAt = next + kPartHeader.size();
        const std::size_t eol = all.find('\n', nameAt);
        const std::string_view header = all.substr(nameAt, eol - nameAt);
        next = eol == std::string_view::npos ? eol : all.find(kPartHeader, eol);
        const std::string_view content =
            next == eol ? std::string_view() : all.substr(eol + 1, next - eol - 1);
        applyPart(parts, header, content);
    }
    return zipParts(parts);
}

// The cells a report writes: its fields in rows 1 to 17, then the sample columns R to X of
// rows 2 to 252, some left empty.
const std::vector<SheetCell>& reportCells() {
    static const std::vector<SheetCell> cells = [] {
        std::vector<SheetCell> c{{1, 1, QStringLiteral("Ultrasonic Flaw Detect Report")},
                                 {1, 20, QStringLiteral("DAC1")},
                                 {2, 3, kReportName},
                                 {2, 7, kReportDate},
                                 {4, 3, QString()},
                                 {7, 3, QStringLiteral("PROBE\x01 <&>")},
                                 {7, 5, QStringLiteral("2.5MHz")},
                                 {9, 9, QStringLiteral("1")},
                                 {10, 3, QStringLiteral("100.0mm")},
                                 {17, 5, QStringLiteral("-0.5")}};
        for (int row = 2; row <= 252; ++row) {
            c.push_back({row, 18, QString::number((row - 2) * 0.4, 'f', 2)});
            c.push_back({row, 19, QString::number(row % 97)});
            c.push_back({row, 20, row % 3 == 0 ? QString() : QString::number(row % 50)});
            if (row % 25 == 0) {
                c.push_back({row, 23, QStringLiteral("45.2")});
            }
        }
        return c;
    }();
    return cells;
}

WorkbookExtras reportExtras() {
    WorkbookExtras extras;
    extras.properties = {{kNameProperty, kReportName}, {kDateProperty, kReportDate}};
    extras.sampleChart = SampleChartScale{18, 0.0, 100.0, 0.0, 100.0};
    return extras;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto package = packageOf(data, size);
    if (!package) {
        return 0; // a part name no zip can hold: nothing to fill
    }
    const WorkbookExtras extras = reportExtras();
    const XlsxFillResult r = fillFirstSheet(*package, reportCells(), extras);
    if (!r.error.isEmpty()) {
        if (!r.workbook.isEmpty()) {
            std::abort(); // a refused template yields no workbook
        }
        return 0;
    }
    // What we wrote opens again, and it holds the report it was filled with: the next report of
    // that name is told whether to replace it by these properties.
    if (!fillFirstSheet(r.workbook, reportCells(), extras).error.isEmpty()) {
        std::abort();
    }
    const auto properties = customProperties(r.workbook);
    const auto holds = [&](const QString& key, const QString& value) {
        const auto it = properties.find(key);
        return it != properties.end() && it->second == value;
    };
    if (!holds(kNameProperty, kReportName) || !holds(kDateProperty, kReportDate)) {
        std::abort();
    }
    return 0;
}
