#pragma once

#include "core/reports/report_file.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace ufd::reports {
class DataStore;
}

namespace ufd::archive {

// Who brought a report file in, and from where.
struct ImportOrigin {
    QString sourceFile; // the file name, without its folder; empty when unknown
    QString user;
    QDateTime importedAt = QDateTime::currentDateTimeUtc();
};

struct AddResult {
    int added = 0; // reports the archive did not hold before
    int known = 0; // reports it held already
    QString error; // why nothing was added; empty on success
    bool ok() const { return error.isEmpty(); }
};

// What a list is sorted by: a column of its entries. Equal values keep the order of arrival
// in the same direction; an empty value sorts below every other.
enum class ArchiveSort {
    FileName,
    FileDate,
    ProbeName,
    Workpiece,
    SourceFile,
    ImportedAt,
    ImportedBy
};

// Which archived reports a list holds, in which order. Empty texts and invalid times do not
// filter.
struct ArchiveFilter {
    QDateTime from, to;   // FileDate from and to, both included, to the second
    QString nameContains; // part of FileName; letters A-Z in either case
    QString probeName;    // the whole ProbeName
    QString workpiece;    // the whole PartID assigned
    QString sourceFile;   // the whole source file name
    ArchiveSort sortBy = ArchiveSort::FileDate;
    bool descending = true; // newest first
    int offset = 0;         // entries skipped
    int limit = 100;        // at most this many entries
};

// One archived report in a list: what tells it apart, without its columns and waveform.
struct ArchiveEntry {
    qint64 id = 0;
    QString fileName;   // FileName
    QDateTime fileDate; // FileDate (a wall-clock stamp in UTC); invalid when the report had none
    int fileNum = 0;    // its slot in the source file
    QString probeName;
    QString workpiece; // PartID; empty when none is assigned
    QString sourceFile;
    QDateTime importedAt; // UTC
    QString importedBy;
    QString hash; // SHA-256 of its directory entry and slot, hexadecimal
};

struct ArchivePage {
    std::vector<ArchiveEntry> entries; // in the filter's order
    qint64 total = 0;                  // every entry the filter matches
};

struct ArchivedReport {
    ArchiveEntry entry;
    // The columns of tabDetectorReport, FileData included, with the types the table gives:
    // what the browser's display and the spreadsheet and document code read.
    QSqlRecord row;
};

// The archive of every imported report, on the connection given (UFD.mdb or the shared server;
// DataStore::archiveDb()). A report is kept once, identified by the SHA-256 of its 32-byte
// directory entry and its 4,096-byte slot; nothing ever deletes it. Its decoded columns are kept
// for lists and filters; those bytes, zlib-compressed, are its waveform: FileData and every
// other column are decoded from them again when it is fetched.
class ReportArchive {
public:
    explicit ReportArchive(QSqlDatabase db);

    // Adds the reports of a whole report file. `rows` are its decoded rows in slot-list order
    // (as decodeReportFile gives them); one transaction, so concurrent importers neither lose
    // nor duplicate a report.
    AddResult add(const QByteArray& image, const std::vector<reports::ReportRow>& rows,
                  const ImportOrigin& origin);
    // The same, decoding `image` itself (without FileData, which the archive does not keep).
    AddResult add(const QByteArray& image, const ImportOrigin& origin);

    // A page of the reports the filter matches, with their count. Nothing on a database error.
    std::optional<ArchivePage> list(const ArchiveFilter& filter);
    // How many reports the filter matches. Nothing on a database error.
    std::optional<qint64> count(const ArchiveFilter& filter);
    // The filter's page alone. `total` is what count() said of the same filter (-1: not asked),
    // which lets a page past the middle be read from the end and the embedded files' planner
    // be led.
    std::optional<std::vector<ArchiveEntry>> entries(const ArchiveFilter& filter,
                                                     qint64 total = -1);
    // The ids of the filter's page alone, as entries() reads them.
    std::optional<std::vector<qint64>> ids(const ArchiveFilter& filter, qint64 total = -1);
    // Where report `id` stands in the filter's order (0 first); nothing when the filter leaves
    // it out (lastError() empty) or on an error.
    std::optional<qint64> position(const ArchiveFilter& filter, qint64 id);
    // One archived report. Nothing when `id` is unknown (lastError() empty) or on an error.
    std::optional<ArchivedReport> fetch(qint64 id);
    // Assigns every report of `ids` to the workpiece `partId` (empty: to none), all or none.
    bool assignWorkpiece(const QList<qint64>& ids, const QString& partId);
    // The different probe names and source files archived, sorted: choices for a filter.
    QStringList probeNames();
    QStringList sourceFiles();

    QString lastError() const { return lastError_; }

    // Up to this many matches, SQLite is led to find them by their filters and sort them, and a
    // name search keeps its matches from its count for its pages; beyond, the sort column's
    // index is read in order up to the page. Both give the same rows; set for tests to reach
    // either plan with a few reports.
    void setSortedInMemoryLimit(qint64 matches) { sortedInMemory_ = matches; }

    // The statements that make the archive's tables, for the schema of a new database.
    static QStringList schemaStatements(bool server);
    // Makes the indexes that sorting by each column needs where the archive lacks them (an
    // archive made before them gets them on its next opening); in the caller's transaction.
    static bool createMissingIndexes(QSqlDatabase& db, bool server, QString& error);

private:
    struct Pending;
    class Packing;
    struct Statements;
    struct Condition;
    // The actions themselves; the public ones reach a server that went away again first.
    AddResult addNow(const QByteArray& image, const std::vector<reports::ReportRow>& rows,
                     const ImportOrigin& origin);
    std::optional<qint64> countNow(const ArchiveFilter& filter);
    std::optional<std::vector<ArchiveEntry>> entriesNow(const ArchiveFilter& filter, qint64 total);
    std::optional<std::vector<qint64>> idsNow(const ArchiveFilter& filter, qint64 total);
    std::optional<qint64> positionNow(const ArchiveFilter& filter, qint64 id);
    std::optional<ArchivedReport> fetchNow(qint64 id);
    bool assignNow(const QList<qint64>& ids, const QString& partId);
    std::optional<QStringList> distinctNow(const char* column);
    // False, with lastError() saying the server cannot be reached, when its lost connection
    // cannot be made again.
    bool connected();
    bool lost() const;
    template <typename Action> auto reconnecting(Action action) -> decltype(action());
    enum class Steer { Plain, Sparse, Dense };
    Condition condition(const ArchiveFilter& filter, Steer steer) const;
    QString orderBy(const ArchiveFilter& filter, bool reversed) const;
    // A name search's count; its matches kept in matches_ when there are no more than
    // sortedInMemory_. Nullopt with lastError_ set on a database error.
    std::optional<qint64> countNames(Condition where);
    // The server's planner's guess of how many rows `where` leaves.
    std::optional<double> estimatedRows(const Condition& where);
    std::optional<qint64> countServerNames(const Condition& where);
    // Runs `select` (%1 the table, %2 the condition) for `rows` at most; false with lastError_
    // set on a database error.
    bool selectUpTo(QSqlQuery& q, qint64 rows, const QString& select, const Condition& where);
    std::optional<qint64> countRows(const Condition& where);
    // Runs the page query of `filter` for `columns`; `reversed`: its rows come last first.
    bool runPage(QSqlQuery& q, const ArchiveFilter& filter, qint64 total, const QString& columns,
                 bool& reversed);
    static const char* sortColumnName(ArchiveSort sort);
    // Marks the reports the archive holds already; false on a database error.
    bool markKnown(std::vector<Pending>& pending);
    // Inserts one new report and then its bytes on SQLite; false when another importer brought
    // it first, or with `failure` set.
    bool insertRow(Statements& statements, Packing& packing, const Pending& p, QSqlError& failure);
    // Inserts `chunk` (sorted by hash) on the server, the rows and then their bytes as one JSON
    // text a statement; the number stored, which leaves out those another importer brought first.
    int insertServerRows(Statements& statements, Packing& packing, std::span<Pending* const> chunk,
                         QSqlError& failure);

    QSqlDatabase db_;
    bool server_ = false;
    qint64 sortedInMemory_ = 20000;
    QString lastError_;
    // The few matches of the last name search counted. A name matches no index seek, so that a
    // search reads every name: its pages find its rows through `found` (their ids, or on the
    // server their names) instead of reading every name again. Dropped by a new count and by an
    // import through this archive.
    struct Matches {
        QString where; // the search's own condition, and its values
        QVariantList values;
        QString found;
    };
    std::optional<Matches> matches_;
};

// A report file as an import has it: its bytes and the file they were read from or saved to
// (empty when none).
struct ImportedImage {
    QByteArray bytes;
    QString path;
};

// Makes every import of `store` (its replaceReports) add the reports to the archive: the rows
// are those of the image that `image` gives at that moment, imported by `user`.
void archiveEveryImport(reports::DataStore& store, std::function<ImportedImage()> image,
                        std::function<QString()> user);

} // namespace ufd::archive
