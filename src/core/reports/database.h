#pragma once

#include "core/reports/report_file.h"

#include <QByteArray>
#include <QSqlDatabase>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <optional>
#include <vector>

namespace ufd::reports {

constexpr char kReportDbFile[] = "UFD.mdb";
constexpr char kUserDbFile[] = "kvrt.mdb";

struct WorkpieceDetails {
    QString PartName, PartType, Material, Heat, Face, Mandator, FlawInfo;
};

struct ReplaceResult {
    int stored = 0;
    int failed = 0;     // rows the database refused; the rows before them stay
    QString firstError; // the database's own message for the first refused row
    // What the import hook (the archive) made of the same rows.
    int archived = 0;        // reports it did not hold before
    int alreadyArchived = 0; // reports it held already
    QString archiveError;    // why it kept nothing; empty when it did its part
};

// True for a connection to a shared server (PostgreSQL), false for the embedded files.
bool isServer(const QSqlDatabase& db);

// A table model for the windows that edit a table. Where the table has no key of its own, a row
// is found by SQLite's row id, fetched as one more column that the model does not show;
// otherwise Qt would find it by all its values and change or delete its identical twins with it.
class RowIdTableModel : public QSqlTableModel {
public:
    explicit RowIdTableModel(QObject* parent = nullptr, const QSqlDatabase& db = QSqlDatabase());

    void setTable(const QString& tableName) override;
    bool select() override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;

protected:
    QString selectStatement() const override;

private:
    void keyByRowId();

    QSqlRecord tableColumns_; // empty where the table has a key
};

// The databases of the program and every operation on them that is not a window's. Embedded, they
// are two SQLite files under their historic names, resolved against a folder; a missing file is
// created with its schema. With a shared server, the users, the workpieces and the archive live
// there and only the report table (the browser's scratch area) stays in the local UFD.mdb.
class DataStore {
public:
    DataStore();
    ~DataStore();
    DataStore(const DataStore&) = delete;
    DataStore& operator=(const DataStore&) = delete;

    // Opens (creating when missing) both files in `folder`. False with lastError() set on failure.
    bool open(const QString& folder = QStringLiteral("."));
    // The report table in `folder`; users and workpieces on the open connection named `shared`,
    // whose tables the caller has made (createSharedTables). The store closes and removes it.
    bool open(const QString& folder, const QString& shared);
    void close();
    bool isOpen() const;
    bool isShared() const { return !sharedConn_.isEmpty(); }
    // True when open() had to create the users database (so it cannot hold an account yet); on a
    // server, when its user table holds no account.
    bool usersDatabaseCreated() const { return usersCreated_; }
    QString lastError() const { return lastError_; }

    // tabPartInfo and the archive: the server when one is shared, else UFD.mdb, which then also
    // holds tabDetectorReport.
    QSqlDatabase reportDb() const;
    QSqlDatabase archiveDb() const { return reportDb(); }
    // tabDetectorReport: always the local UFD.mdb.
    QSqlDatabase scratchDb() const;
    QSqlDatabase userDb() const;

    // Deletes every report and inserts `rows` in order, in one transaction that is committed
    // also when a row fails; a failed delete or commit leaves the table as it was, with every
    // row counted as failed. Then hands the rows to the import hook.
    ReplaceResult replaceReports(const std::vector<ReportRow>& rows);

    // Told of every replaceReports, with the rows and the result to add its own part to.
    using ImportHook = std::function<void(const std::vector<ReportRow>& rows, ReplaceResult&)>;
    void setImportHook(ImportHook hook) { importHook_ = std::move(hook); }

    // PartID of every workpiece, in table order. A failed query gives none, with the
    // database's message in `error` when given.
    QStringList workpieceNumbers(QString* error = nullptr);
    // Details of the first workpiece whose PartID is exactly `number`; none when there is no
    // such workpiece or the query failed (then `error`, when given, says why).
    std::optional<WorkpieceDetails> workpieceDetails(const QString& number,
                                                     QString* error = nullptr);

    static QStringList reportColumns();    // every column of tabDetectorReport, in order
    static QStringList workpieceColumns(); // every column of tabPartInfo, in order
    // A decoded row as a row of tabDetectorReport: its columns in order, with the value types
    // the table gives back.
    static QSqlRecord reportRecord(const ReportRow& row);
    // The values of the columns a decoded row writes (every column up to FileData), in table
    // order: what an INSERT binds, without the record's field names and types.
    static QVariantList reportValues(const ReportRow& row);
    // UserTable and tabPartInfo on a shared server, when missing. A server has no row id, so
    // tabPartInfo carries a "rowid" key column; a lower-case view lets SQL written for the files
    // (unquoted names, ORDER BY rowid) reach it too.
    static bool createSharedTables(QSqlDatabase& db, QString& error);

private:
    bool openReportFile(const QString& folder, bool withWorkpieces);
    bool createReportSchema(QSqlDatabase& db, bool withWorkpieces);
    bool createUserSchema(QSqlDatabase& db);
    bool exec(QSqlDatabase& db, const QString& sql);
    // Runs `make` (a schema's statements), in one transaction when the file is `fresh`.
    bool madeWhole(QSqlDatabase& db, bool fresh, const std::function<bool()>& make);

    QString reportConn_;
    QString userConn_;
    QString sharedConn_;
    QString lastError_;
    bool usersCreated_ = false;
    ImportHook importHook_;
};

} // namespace ufd::reports
