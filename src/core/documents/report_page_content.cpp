#include "core/documents/report_page_content.h"

#include "core/online/curves.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace ufd::documents {

namespace {

// The default template's labels, at the cell left of the value each names (columns B, D, F, H);
// a span of 2 takes the next label and value pair too, as the template merges the value cells.
struct TemplateLabel {
    int row;
    int column;
    const char* text;
    int span;
};
constexpr TemplateLabel kLabels[] = {
    {2, 2, "Report name", 2},
    {2, 6, "Date", 2},
    {3, 2, "Location", 2},
    {4, 2, "Workpiece No.", 1},
    {4, 4, "Type", 1},
    {4, 6, "Name", 2},
    {5, 2, "Material", 1},
    {5, 4, "Roughness Ra", 1},
    {5, 6, "Heat treatment", 2},
    {6, 2, "Flaw description", 2},
    {6, 6, "Department", 2},
    {7, 2, "Probe name", 1},
    {7, 4, "Frequency", 1},
    {7, 6, "Crystal size", 1},
    {7, 8, "Damping", 1},
    {8, 2, "Probe type", 1},
    {8, 4, "Angle", 1},
    {8, 6, "Front length", 1},
    {8, 8, "Probe delay", 1},
    {9, 4, "Base gain", 1},
    {9, 6, "Thickness", 1},
    {9, 8, "Gate alarm", 1},
    {10, 2, "Range", 1},
    {10, 4, "Velocity", 1},
    {10, 6, "Gate A start", 1},
    {10, 8, "Gate B start", 1},
    {11, 2, "Display delay", 1},
    {11, 6, "Gate A width", 1},
    {11, 8, "Gate B width", 1},
    {12, 2, "Rectify", 1},
    {12, 4, "Reject", 1},
    {12, 6, "Gate A height", 1},
    {12, 8, "Gate B height", 1},
    {14, 2, "Surface gain", 1},
    {14, 4, "Offset RL", 1},
    {14, 6, "Offset SL", 1},
    {14, 8, "Offset EL", 1},
    {15, 2, "Pulse amplitude", 1},
    {15, 4, "Pulse width", 1},
    {15, 6, "Pulse frequency", 1},
    {16, 2, "Echo path", 1},
    {16, 4, "Horizontal dist.", 1},
    {16, 6, "Vertical dist.", 1},
    {16, 8, "Echoes", 1},
    {17, 2, "Echo height", 1},
    {17, 4, "Equivalent", 1},
    {17, 6, "Unit", 1},
};

struct Group {
    const char* heading;
    std::vector<int> rows;
};

const std::vector<Group>& groups() {
    static const std::vector<Group> g{
        {"", {2, 3}},
        {"Workpiece information", {4, 5, 6}},
        {"Probe information", {7, 8}},
        {"Flaw detection parameters", {9, 10, 11, 12}},
        {"Gain offsets and pulser", {14, 15}},
        {"Detection result", {16, 17}},
    };
    return g;
}

constexpr int kLastParameterRow = 17; // below: the sample columns, drawn as the plot instead
constexpr int kFirstLabelColumn = 2;
constexpr int kPairsPerRow = 4;

using CellMap = std::map<std::pair<int, int>, QString>;

FieldRow fieldRow(int row, const CellMap& cells) {
    const auto text = [&](int column) {
        const auto it = cells.find({row, column});
        return it == cells.end() ? QString() : it->second;
    };
    FieldRow out;
    for (int pair = 0; pair < kPairsPerRow;) {
        const int column = kFirstLabelColumn + 2 * pair;
        FieldCell cell;
        for (const TemplateLabel& l : kLabels) {
            if (l.row == row && l.column == column) {
                cell.label = QString::fromLatin1(l.text);
                cell.span = l.span;
            }
        }
        // The report writes a few labels of its own ("Probe diameter" for a straight probe).
        if (const QString own = text(column); !own.isEmpty()) {
            cell.label = own;
        }
        cell.value = text(column + 1);
        pair += cell.span;
        out.push_back(std::move(cell));
    }
    return out;
}

// The first `count` points: those a screen of the report shows.
QList<QPointF> firstPoints(const QList<QPointF>& points, qsizetype count) {
    return points.mid(0, std::min(count, points.size()));
}

int tickDecimals(const std::vector<double>& ticks) {
    if (ticks.size() < 2) {
        return 0;
    }
    const double step = ticks[1] - ticks[0];
    return step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
}

Axis axis(const QString& title, double min, double max) {
    Axis a;
    a.title = title;
    a.min = min;
    // A report with no range still gets an axis a painter can divide by.
    a.max = max > min ? max : min + 1;
    a.ticks = axisTicks(a.min, a.max, 10);
    a.decimals = tickDecimals(a.ticks);
    return a;
}

PlotContent plotContent(const reports::ReportDisplay& shown) {
    PlotContent plot;
    plot.x = axis(QStringLiteral("Path (mm)"), shown.xMin, shown.xMax);
    plot.y = axis(QStringLiteral("Amplitude (%)"), shown.yMin, shown.yMax);

    // The screen shows display points 0 to P (500, or 600 full-screen); the traces hold 602.
    const double span = shown.x1 - shown.x0;
    const int screenPoints =
        shown.scale > 0 && span > 0 ? std::clamp(qRound(span / shown.scale), 1, 601) : 500;

    PlotSeries echo{QStringLiteral("Echo signal"), echoStyle(),
                    firstPoints(shown.trace, 2 * (screenPoints + 1)), false};
    plot.series.push_back(std::move(echo));
    if (shown.curvesVisible) {
        // The curve algorithms compute 501 points; the zeros after them are no curve.
        const int curvePoints = std::min(screenPoints + 1, online::kCurvePointCount);
        for (int k = 0; k < 3; ++k) {
            const auto i = static_cast<std::size_t>(k);
            plot.series.push_back({shown.curveTitles[i], curveStyle(k),
                                   firstPoints(shown.curves[i], curvePoints), false});
        }
    }
    if (!shown.gateA.isEmpty()) {
        plot.series.push_back({QStringLiteral("Gate A"), gateStyle(0), shown.gateA, true});
    }
    if (!shown.gateB.isEmpty()) {
        plot.series.push_back({QStringLiteral("Gate B"), gateStyle(1), shown.gateB, true});
    }
    return plot;
}

// The record's group: the number, then the examiner's details, the station's, the notes.
FieldGroup recordGroup(const PageRecord& r) {
    const auto cell = [&](const char* field, int span = 1, int lines = 1) {
        return FieldCell{archive::detailLabel(QLatin1String(field)),
                         r.record.value(QLatin1String(field)), span, lines};
    };
    return {QStringLiteral("Inspection record"),
            {{{QStringLiteral("Report No."), r.record.number()},
              cell(archive::kProcedure, 2),
              cell(archive::kEvaluation)},
             {cell(archive::kAcceptance, 2), cell(archive::kCouplant), cell(archive::kBlock)},
             {cell(archive::kInstrument),
              cell(archive::kInstrumentSerial),
              cell(archive::kCalibrationDue),
              {}},
             {cell(archive::kNotes, 4, 2)}}};
}

std::vector<SignatureLine> recordSignatures(const PageRecord& r) {
    const auto& signature = r.record.signature;
    return {
        {QStringLiteral("Examiner"), archive::examinerText(r.record.examiner, r.qualification), {}},
        {QStringLiteral("Checked by"),
         signature ? signature->checker : archive::checkedText(signature),
         signature ? signature->at.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) +
                         QStringLiteral(" UTC")
                   : QString()}};
}

const QString kSignatureLabel = QStringLiteral("Signature");
const QString kDateLabel = QStringLiteral("Date");

} // namespace

QString resultsStatement() {
    return QStringLiteral("The results relate only to the item tested.");
}

std::vector<std::vector<PrintedText>> printedRecord(const PageRecord& record) {
    std::vector<std::vector<PrintedText>> blocks;
    blocks.push_back({{record.record.number()}});
    const FieldGroup fields = recordGroup(record);
    std::vector<PrintedText> group{{fields.heading}};
    for (const FieldRow& row : fields.rows) {
        for (const FieldCell& cell : row) {
            group.push_back({cell.label});
            group.push_back({cell.value});
        }
    }
    blocks.push_back(std::move(group));
    std::vector<PrintedText> signatures;
    const std::vector<SignatureLine> lines = recordSignatures(record);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const SignatureLine& line = lines[i];
        const bool examiner = i == 0;
        signatures.push_back({line.role});
        // The examiner's name, then his qualification as his account has it today.
        signatures.push_back({examiner ? record.record.examiner : line.name, examiner});
        signatures.push_back({kSignatureLabel});
        signatures.push_back({kDateLabel});
        signatures.push_back({line.date});
    }
    blocks.push_back(std::move(signatures));
    blocks.push_back({{resultsStatement()}});
    return blocks;
}

LineStyle echoStyle() {
    return {0x000000, 0.2, {}};
}

// Grey levels (Rec. 601 luma) of about 60, 110 and 165: apart from the black echo, from each
// other and from the paper, each curve also with a dash pattern of its own.
LineStyle curveStyle(int k) {
    switch (k) {
    case 0:
        return {0x0040C8, 0.35, {}};
    case 1:
        return {0xB43CB4, 0.35, {2.0, 1.0}};
    default:
        return {0xF09600, 0.35, {3.0, 0.8, 0.6, 0.8}};
    }
}

LineStyle gateStyle(int k) {
    return k == 0 ? LineStyle{0xDC0000, 0.6, {}} : LineStyle{0x00A000, 0.6, {1.2, 0.6}};
}

std::vector<double> axisTicks(double min, double max, int count) {
    std::vector<double> ticks;
    if (!std::isfinite(min) || !std::isfinite(max) || !(max > min) || count < 1) {
        return ticks;
    }
    const double raw = (max - min) / count;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    double step = 10 * magnitude;
    for (const double m : {1.0, 2.0, 5.0}) {
        if (m * magnitude >= raw * (1 - 1e-9)) {
            step = m * magnitude;
            break;
        }
    }
    const double slack = step * 1e-9;
    for (auto i = static_cast<long long>(std::ceil((min - slack) / step));; ++i) {
        const double v = static_cast<double>(i) * step;
        if (v > max + slack) {
            break;
        }
        ticks.push_back(std::abs(v) < slack ? 0.0 : v);
    }
    return ticks;
}

QString pageNumberText(int page, int pages) {
    return QStringLiteral("Page %1 of %2").arg(page).arg(pages);
}

ReportPage makeReportPage(const QSqlRecord& row, const reports::WorkpieceFields& workpiece,
                          const reports::ReportDisplay& shown, const QString& inspector,
                          const std::optional<PageRecord>& record) {
    CellMap cells;
    for (const auto& c : reports::spreadsheetCells(row, workpiece, shown)) {
        if (c.row <= kLastParameterRow) {
            cells[{c.row, c.column}] = c.text;
        }
    }
    ReportPage page;
    page.title = cells[{1, 1}];
    page.reportName = cells[{2, 3}];
    page.reportDate = cells[{2, 7}];
    for (const Group& g : groups()) {
        FieldGroup group{QString::fromLatin1(g.heading), {}};
        for (const int r : g.rows) {
            group.rows.push_back(fieldRow(r, cells));
        }
        page.groups.push_back(std::move(group));
    }
    if (record) {
        page.number = record->record.number();
        page.groups.push_back(recordGroup(*record));
        page.signatures = recordSignatures(*record);
    } else {
        page.signatures = {{QStringLiteral("Inspector"), inspector, {}},
                           {QStringLiteral("Checked by"), QString(), {}}};
    }
    page.plotHeading = QStringLiteral("A-scan");
    page.plot = plotContent(shown);
    page.signatureLabel = kSignatureLabel;
    page.dateLabel = kDateLabel;
    page.statement = resultsStatement();
    page.programName = QStringLiteral("Ultrasonic Flaw Detector");
    return page;
}

PageResult makeReportPage(const QSqlRecord& row, const reports::WorkpieceFields& workpiece,
                          const QString& inspector, const std::optional<PageRecord>& record) {
    const reports::ShowResult shown = reports::showCurrentReport(row, reports::ReportDisplay{});
    if (!shown.ok()) {
        return {{}, shown.error};
    }
    return {makeReportPage(row, workpiece, shown.display, inspector, record), {}};
}

} // namespace ufd::documents
