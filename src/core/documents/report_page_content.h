#pragma once

#include "core/archive/report_records.h"
#include "core/reports/report_display.h"
#include "core/spreadsheet/spreadsheet_report.h"

#include <QList>
#include <QPointF>
#include <QSqlRecord>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace ufd::documents {

// A line as printed: colour 0xRRGGBB, width and dash pattern (dash, gap, dash, ...) in mm; an
// empty pattern is a solid line.
struct LineStyle {
    std::uint32_t rgb = 0;
    double widthMm = 0.2;
    std::vector<double> dashMm;
};

// The printed plot's line styles. The curves differ from the echo and from each other in grey
// level and dash, so that a greyscale print tells them apart; the gates are broader and marked.
LineStyle echoStyle();
LineStyle curveStyle(int k); // curve 1 to 3 as k = 0 to 2
LineStyle gateStyle(int k);  // gate A as 0, gate B as 1

struct PlotSeries {
    QString title;
    LineStyle style;
    QList<QPointF> points;   // path in mm, amplitude in percent of full screen
    bool endMarkers = false; // a cross at each end, as the screen marks the gates
};

struct Axis {
    QString title;
    double min = 0, max = 100;
    std::vector<double> ticks; // grid lines and labels, within min..max
    int decimals = 0;          // of the tick labels
};

struct PlotContent {
    Axis x, y;
    std::vector<PlotSeries> series; // drawing and legend order: echo, curves, gates
};

// Grid positions 1, 2 or 5 × 10^n apart within min..max, about `count` of them.
std::vector<double> axisTicks(double min, double max, int count);

struct FieldCell {
    QString label;
    QString value;
    int span = 1;  // of the four label and value pairs of a row
    int lines = 1; // the row's height in lines; a long value wraps onto them
};
using FieldRow = std::vector<FieldCell>;

struct FieldGroup {
    QString heading; // empty: none
    std::vector<FieldRow> rows;
};

struct SignatureLine {
    QString role; // "Examiner", "Checked by"
    QString name; // empty: left to be written by hand
    QString date; // empty: left to be written by hand
};

// Everything one printed report page shows; the painter adds only the page number.
struct ReportPage {
    QString title;
    QString number; // the report number, beside the title and in the footer; empty: none
    QString reportName, reportDate;
    std::vector<FieldGroup> groups;
    QString plotHeading;
    PlotContent plot;
    QString signatureLabel, dateLabel;
    std::vector<SignatureLine> signatures;
    QString statement;   // under the signatures
    QString programName; // in the footer
};

// What a page prints of an archived report's record.
struct PageRecord {
    archive::ReportRecord record;
    QString qualification; // the examiner's level
};

QString resultsStatement(); // "The results relate only to the item tested."

// One text as a page draws it; `open`: what the page draws after it, up to the next text, is
// not part of the record (the examiner's qualification follows his account).
struct PrintedText {
    QString text;
    bool open = false;
};
// The texts of a record as a page draws them, block by block, each block's texts one after the
// other: the report number, the record's group, the signature lines. What a check of a printed
// page compares with the archive.
std::vector<std::vector<PrintedText>> printedRecord(const PageRecord& record);

QString pageNumberText(int page, int pages); // "Page n of m"

// The page of the report in `row`: the spreadsheet report's cells under the default template's
// labels, and the A-scan of `shown`, the display of that row. An archived report's page carries
// its record: number, details, examiner and checker. A report the archive does not hold names
// `inspector`, the user who makes the document, instead.
ReportPage makeReportPage(const QSqlRecord& row, const reports::WorkpieceFields& workpiece,
                          const reports::ReportDisplay& shown, const QString& inspector,
                          const std::optional<PageRecord>& record = {});

struct PageResult {
    ReportPage page;
    QString error; // why the row cannot be shown
    bool ok() const { return error.isEmpty(); }
};

// The browser's show of `row` and its page in one, for a report that is not on screen.
PageResult makeReportPage(const QSqlRecord& row, const reports::WorkpieceFields& workpiece,
                          const QString& inspector, const std::optional<PageRecord>& record = {});

} // namespace ufd::documents
