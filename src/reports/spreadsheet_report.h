#pragma once

#include "reports/database.h"
#include "reports/report_display.h"
#include "reports/xlsx_template.h"

#include <QSqlRecord>
#include <QString>
#include <vector>

namespace ufd::reports {

// The browser's workpiece fields as they stand; the operator may have typed over them.
struct WorkpieceFields {
    QString number;
    WorkpieceDetails details;
};

QString templateMissingText();     // every failure of the copy, a refused name included
QString editReportQuestionTitle(); // the Yes/No question asked before the cells are written
QString editReportQuestionText();

// The template and report files, relative to the program folder.
QString templatePath(const QString& programFolder);       // Moudle/TSV.xlsx
QString legacyTemplatePath(const QString& programFolder); // Moudle/TSV.xls
QString outfilesPath(const QString& programFolder);       // Outfiles

// A report name that stays a plain file name inside Outfiles/ on every platform: not empty, no
// path separator, no "..", no control character, none of the characters Windows forbids.
bool isSafeReportName(const QString& name);

// Every cell of the spreadsheet report in writing order: the parameter cells from the current
// row and the workpiece fields, then the sample rows from the report last shown, which need not
// be the current row.
std::vector<SheetCell> spreadsheetCells(const QSqlRecord& current, const WorkpieceFields& workpiece,
                                        const ReportDisplay& lastShown);

struct TemplateOptions {
    // Office program that converts a legacy .xls template; empty: no conversion.
    QString officeProgram;
    int conversionTimeoutMs = 120000;
};
TemplateOptions defaultTemplateOptions(); // soffice from PATH, when installed

struct ReportCopy {
    QString path;  // the report file in Outfiles/
    QString error; // the operator message when the copy failed
    bool ok() const { return error.isEmpty(); }
};

// Copies the template to Outfiles/ + name + ".xlsx", replacing an earlier report of that name.
// Where only the legacy template exists it is converted once beside itself. The report is
// written to a temporary file and renamed into place; nothing is written outside Outfiles/.
ReportCopy copyReportTemplate(const QString& programFolder, const QString& reportName,
                              const TemplateOptions& options = defaultTemplateOptions());

// Writes the cells into the copy, in place and all at once. Returns the error that stopped it;
// the copy then stays as it was.
QString fillReport(const QString& reportPath, const std::vector<SheetCell>& cells);

// The copy and the filling in one, without the question: for the command line.
ReportCopy writeSpreadsheetReport(const QString& programFolder, const QSqlRecord& current,
                                  const WorkpieceFields& workpiece, const ReportDisplay& lastShown,
                                  const TemplateOptions& options = defaultTemplateOptions());

} // namespace ufd::reports
