#pragma once

#include "core/online/reference.h"

#include <QList>
#include <QPointF>
#include <QSqlRecord>
#include <QString>
#include <array>
#include <vector>

namespace ufd::reports {

using TextRow = std::array<QString, 4>;

constexpr int kSampleTableRows = 1205; // header + two rows per display point
constexpr int kCurveTableRows = 603;   // header + one row per display point

// What the report browser's waveform plot and its two hidden tables hold: the report last shown.
// The window draws these values as they are; the spreadsheet report reads the tables and the
// curve titles.
struct ReportDisplay {
    ReportDisplay();

    double scale = 0; // mm per display point
    double x0 = 0;    // origin of the path axis, mm
    double x1 = 0;    // end of the path axis, mm

    double xMin = 0, xMax = 0; // horizontal axis limits
    double yMin = 0, yMax = 100;

    QList<QPointF> trace;                 // "Echo signal": trace 1 then trace 2 at each X
    std::array<QList<QPointF>, 3> curves; // curve series 1 to 3
    std::array<QString, 3> curveTitles;   // "DAC1"... or "AVG1"...
    bool curvesVisible = true;
    QList<QPointF> gateA, gateB; // empty or the two ends of the gate
    bool gateAVisible = true, gateBVisible = true;

    std::vector<TextRow> sampleTable; // kSampleTableRows rows
    std::vector<TextRow> curveTable;  // kCurveTableRows rows
};

struct ShowResult {
    ReportDisplay display; // what the display holds afterwards
    QString error;         // the conversion error that stopped the show; empty when it completed
    bool ok() const { return error.isEmpty(); }
};

// "Show current report" on the column values of one tabDetectorReport row. A column that cannot
// be converted stops the show with an error; the parts not reached keep what `previous` holds,
// as the window keeps them on screen.
ShowResult showCurrentReport(const QSqlRecord& row, const ReportDisplay& previous);

// A shown report as the echo to compare the live one with: its trace at its own paths, and the
// peak in its gate A where it draws one.
online::ReferenceTrace referenceFromReport(const ReportDisplay& shown, const QString& label);

// The text a bound display field shows for a column of the row: integers as digits, floating
// values in general format, texts as stored, an empty value as "".
QString fieldText(const QSqlRecord& row, const QString& column);

} // namespace ufd::reports
