#pragma once

#include "core/reports/report_file.h"

#include <QSqlDatabase>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <QString>
#include <QStringList>
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
};

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

// The two database files of the program and every operation on them that is not a window's.
// Both are SQLite files under their historic names, resolved against `folder`; a missing file
// is created with its schema.
class DataStore {
public:
    DataStore();
    ~DataStore();
    DataStore(const DataStore&) = delete;
    DataStore& operator=(const DataStore&) = delete;

    // Opens (creating when missing) both databases. False with lastError() set on failure.
    bool open(const QString& folder = QStringLiteral("."));
    void close();
    bool isOpen() const;
    // True when open() had to create the users database (so it cannot hold an account yet).
    bool usersDatabaseCreated() const { return usersCreated_; }
    QString lastError() const { return lastError_; }

    QSqlDatabase reportDb() const;
    QSqlDatabase userDb() const;

    // Deletes every report and inserts `rows` in order, in one transaction that is committed
    // also when a row fails.
    ReplaceResult replaceReports(const std::vector<ReportRow>& rows);

    // PartID of every workpiece, in table order.
    QStringList workpieceNumbers();
    // Details of the first workpiece whose PartID is exactly `number`.
    std::optional<WorkpieceDetails> workpieceDetails(const QString& number);

    static QStringList reportColumns();    // every column of tabDetectorReport, in order
    static QStringList workpieceColumns(); // every column of tabPartInfo, in order

private:
    bool createReportSchema(QSqlDatabase& db);
    bool createUserSchema(QSqlDatabase& db);
    bool exec(QSqlDatabase& db, const QString& sql);

    QString reportConn_;
    QString userConn_;
    QString lastError_;
    bool usersCreated_ = false;
};

} // namespace ufd::reports
