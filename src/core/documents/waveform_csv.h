#pragma once

#include "core/reports/report_display.h"

#include <QByteArray>
#include <QString>

namespace ufd::documents {

// The waveform of a shown report for other programs: a header line, then one line per display
// point (all 602 of the report): path, echo 1, echo 2, curves 1 to 3, gate A, gate B. Numbers
// are the display tables' texts: general format with "." (the gate heights with two decimals);
// fields are comma-separated, lines end in CR LF. The curve columns are empty when the report
// has no curves, a gate's column where the display does not draw that gate or the point lies
// outside it.
QByteArray waveformCsv(const reports::ReportDisplay& shown);

// The file in `outDir` for the waveform of report `name`, by the spreadsheet report's rule: a
// waveform file names no report inside, so one with exactly these bytes is this report's; else
// the first free "<name>.csv", "<name> (2).csv"... Empty when the name is no safe file name or
// no name is free.
QString waveformCsvPath(const QString& outDir, const QString& name, const QByteArray& csv);

// Writes `bytes` whole to `path` (a temporary file renamed into place); the error text, empty
// when written.
QString writeCsv(const QString& path, const QByteArray& bytes);
// The same with the waveform's CSV.
QString writeWaveformCsv(const QString& path, const reports::ReportDisplay& shown);

} // namespace ufd::documents
