#pragma once

#include "core/reports/database.h"
#include "core/reports/report_display.h"
#include "core/spreadsheet/xlsx_template.h"

#include <QSqlRecord>
#include <QString>
#include <functional>
#include <vector>

namespace ufd::reports {

// The browser's workpiece fields as they stand (the operator may have typed over them), and
// where the inspection took place.
struct WorkpieceFields {
    QString number;
    WorkpieceDetails details;
    // The station's location, or the one an archived report took over; empty prints the
    // documents' old fixed "Beijing".
    QString location = {};
};

QString templateMissingText();     // every failure of the copy, a refused name included
QString editReportQuestionTitle(); // the Yes/No question asked before the cells are written
QString editReportQuestionText();
// Moudle/TSV.xls is the template, and nothing converts it: which file to save as what, where.
QString legacyTemplateText(const QString& programFolder);
QString legacyConversionFailedText();

// The template and report files, relative to the program folder.
QString templatePath(const QString& programFolder);       // Moudle/TSV.xlsx
QString legacyTemplatePath(const QString& programFolder); // Moudle/TSV.xls
QString outfilesPath(const QString& programFolder);       // Outfiles

// A report name that stays a plain file name inside Outfiles/ on every platform: not empty, no
// path separator, no "..", no control character, none of the characters Windows forbids.
bool isSafeReportName(const QString& name);

// Every cell of the spreadsheet report in writing order: the parameter cells from the current
// row and the workpiece fields, then the sample rows from `shown`, the display of that same row.
std::vector<SheetCell> spreadsheetCells(const QSqlRecord& current, const WorkpieceFields& workpiece,
                                        const ReportDisplay& shown);

struct TemplateOptions {
    // Office program that converts a legacy .xls template; empty: no conversion.
    QString officeProgram;
    int conversionTimeoutMs = 120000;
};
TemplateOptions defaultTemplateOptions(); // soffice from PATH, when installed

// The template as a report of that name would be made from, checked before anything is written.
struct ReportTemplate {
    QString outDir;      // Outfiles/, absolute
    QByteArray workbook; // the template's bytes
    QString error;       // the operator message when no report can be made
    bool ok() const { return error.isEmpty(); }
};

// Checks the report name and Outfiles/ and reads the template. A Moudle/TSV.xls is the site's
// template, converted once into TSV.xlsx, when there is no TSV.xlsx, when TSV.xlsx is still the
// program's own default as it made it (marked in its document properties with the time it was
// made, which a save by an office program changes), or when it is newer than a TSV.xlsx the site
// made; a site's own TSV.xlsx edited since wins.
ReportTemplate loadReportTemplate(const QString& programFolder, const QString& reportName,
                                  const TemplateOptions& options = defaultTemplateOptions());

// The file a report of that name, date and hash (ReportHash; empty when unknown) is written to:
// the file that holds this report already, else the first free one of "<name>.xlsx",
// "<name> (2).xlsx"... Empty when none is free. A file that carries no hash is this report's
// when its name and date are.
QString reportFilePath(const QString& outDir, const QString& name, const QString& date,
                       const QString& hash = QString());

// The same rule for any kind of document: "<name>.<extension>", "<name> (2).<extension>"...,
// the first that `holdsReport` recognises as this report's file, else the first free one.
QString reportFilePath(const QString& outDir, const QString& name, const QString& extension,
                       const std::function<bool(const QString& path)>& holdsReport);

struct ReportCopy {
    QString path;  // the report file in Outfiles/
    QString error; // the operator message when it failed
    bool ok() const { return error.isEmpty(); }
};

// Fills the template with the report and stores it in Outfiles/ (reportFilePath) as a whole: a
// temporary file renamed into place, so a failure leaves Outfiles/ as it was.
ReportCopy saveSpreadsheetReport(const ReportTemplate& tmpl, const QSqlRecord& current,
                                 const WorkpieceFields& workpiece, const ReportDisplay& shown);

// Both in one, without the question: for the command line.
ReportCopy writeSpreadsheetReport(const QString& programFolder, const QSqlRecord& current,
                                  const WorkpieceFields& workpiece, const ReportDisplay& shown,
                                  const TemplateOptions& options = defaultTemplateOptions());

} // namespace ufd::reports
