#pragma once

#include "core/documents/report_page_content.h"

#include <QByteArray>
#include <QList>
#include <QSqlRecord>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

namespace ufd::reports {
class DataStore;
}

namespace ufd::documents {

// A report as its files are matched to it: the name and date the browser shows, and what tells
// two reports of one name and date apart (ReportHash; empty when unknown). The page of an
// archived report also names its archive ID, and the revision and record hash
// (archive::ReportRecord::hash) it prints.
struct ReportIdentity {
    QString name;
    QString date;
    QString hash;
    qint64 archiveId = 0;
    int revision = 0; // 0: no record printed
    QString recordHash;
    friend bool operator==(const ReportIdentity&, const ReportIdentity&) = default;
};

ReportIdentity reportIdentity(const QSqlRecord& row);
// Whether a file's report is this one: by hash where both know it, else by name and date (files
// written before reports carried their hash). A new revision of a record is another document,
// which goes beside the old one.
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
// Each report with its own workpiece: workpieces[i] is that of rows[i], and records[i] its
// record when the archive holds it (records may be empty: none).
PageSource pageSource(std::vector<QSqlRecord> rows,
                      std::vector<reports::WorkpieceFields> workpieces, const QString& inspector,
                      std::vector<std::optional<PageRecord>> records = {});

// An archived report as its page shows it.
struct ArchivedPage {
    QSqlRecord row;
    reports::WorkpieceFields workpiece; // the one assigned, and the location it took over
    PageRecord record;
};

// The archived reports `ids`, in that order, from `store`'s archive; nothing, with `error` set,
// when one cannot be read.
std::optional<std::vector<ArchivedPage>> archivedPages(reports::DataStore& store,
                                                       const QList<qint64>& ids, QString& error);
PageSource pageSource(std::vector<ArchivedPage> pages);

// The record of the report whose hash `row` carries (its ReportHash), with the examiner's
// qualification; nothing when the archive does not hold it.
std::optional<PageRecord> archivedRecord(reports::DataStore& store, const QSqlRecord& row);
// The location a document prints: the one its report took over when archived, else the
// station's (read once by the caller for all its reports).
QString documentLocation(const std::optional<PageRecord>& record, const QString& stationLocation);

} // namespace ufd::documents
