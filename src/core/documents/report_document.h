#pragma once

#include "core/documents/report_page_content.h"

#include <QByteArray>
#include <QSqlRecord>
#include <QString>
#include <functional>
#include <vector>

namespace ufd::documents {

// A report as its files are matched to it: the name and date the browser shows, and what tells
// two reports of one name and date apart (ReportHash; empty when unknown).
struct ReportIdentity {
    QString name;
    QString date;
    QString hash;
    friend bool operator==(const ReportIdentity&, const ReportIdentity&) = default;
};

ReportIdentity reportIdentity(const QSqlRecord& row);
// Whether a file's report is this one: by hash where both know it, else by name and date (files
// written before reports carried their hash).
bool sameReport(const ReportIdentity& inFile, const ReportIdentity& report);

// What a PDF says about itself; `reports` names the report of each page, in page order.
struct PdfDocumentInfo {
    QString title;
    QString author;
    QString creator;
    std::vector<ReportIdentity> reports;
};

PdfDocumentInfo pdfDocumentInfo(std::vector<ReportIdentity> reports, const QString& inspector);

// The document's XMP packet, which carries the reports so that the file can be recognised later.
QByteArray xmpMetadata(const PdfDocumentInfo& info);
// The reports a file's XMP packet names; empty when the file names none (or is no such PDF).
std::vector<ReportIdentity> reportsInPdf(const QString& path);

// "<name>" for one report, "<first name> and <n - 1> more" for n.
QString pdfBaseName(const std::vector<ReportIdentity>& reports);

// The file in `outDir` for a PDF of these reports, by the spreadsheet report's rule: the file that
// holds the same reports already, else the first free "<base>.pdf", "<base> (2).pdf"... Empty
// when the base name is no safe file name or no name is free.
QString pdfReportPath(const QString& outDir, const std::vector<ReportIdentity>& reports);

// The pages of a document, each made when it is drawn, so that a thousand reports need not be in
// memory at once.
struct PageSource {
    PdfDocumentInfo document;
    std::function<PageResult(int index)> page; // index 0 to count() - 1
    int count() const { return static_cast<int>(document.reports.size()); }
};

PageSource pageSource(std::vector<QSqlRecord> rows, const reports::WorkpieceFields& workpiece,
                      const QString& inspector);
// Each report with its own workpiece: workpieces[i] is that of rows[i].
PageSource pageSource(std::vector<QSqlRecord> rows,
                      std::vector<reports::WorkpieceFields> workpieces, const QString& inspector);

} // namespace ufd::documents
