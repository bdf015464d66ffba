#include "core/reports/database.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlIndex>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <iterator>

namespace ufd::reports {

namespace {

struct Column {
    const char* name;
    const char* type;
};

// tabDetectorReport: integer columns INTEGER, decimal texts TEXT exactly as decoded, gates REAL.
// The last nine are part of the table but never written.
constexpr Column kReportColumns[] = {
    {"FileNum", "INTEGER"},
    {"FileName", "TEXT"},
    {"FileYear", "INTEGER"},
    {"FileMonth", "INTEGER"},
    {"FileDay", "INTEGER"},
    {"FileHour", "INTEGER"},
    {"FileMin", "INTEGER"},
    {"FileSec", "INTEGER"},
    {"FileDate", "TEXT"},
    {"sValue", "TEXT"},
    {"pValue", "TEXT"},
    {"dValue", "TEXT"},
    {"hValue", "TEXT"},
    {"vERS", "TEXT"},
    {"saValue", "TEXT"},
    {"sbValue", "TEXT"},
    {"vEchoNum", "INTEGER"},
    {"CH_No", "INTEGER"},
    {"PageNum", "INTEGER"},
    {"ProbeName", "TEXT"},
    {"ProbeAng", "TEXT"},
    {"ProbeZero", "TEXT"},
    {"ProbeFreq", "TEXT"},
    {"ProbeFront", "TEXT"},
    {"ProbedSize", "TEXT"},
    {"ProbehSize", "TEXT"},
    {"ProbewSize", "TEXT"},
    {"ProbeType", "TEXT"},
    {"ProbeDamp", "TEXT"},
    {"ProbeRectify", "TEXT"},
    {"CoordType", "TEXT"},
    {"DiaValue", "TEXT"},
    {"ThickValue", "TEXT"},
    {"mRange", "TEXT"},
    {"dDelay", "TEXT"},
    {"SoundVel", "INTEGER"},
    {"WaveAGC", "INTEGER"},
    {"GateA_Start", "REAL"},
    {"GateA_Width", "REAL"},
    {"GateA_Height", "REAL"},
    {"GateB_Start", "REAL"},
    {"GateB_Width", "REAL"},
    {"GateB_Height", "REAL"},
    {"GateLogic", "TEXT"},
    {"GateAlert", "TEXT"},
    {"CurrveType", "INTEGER"},
    {"DB_Base", "TEXT"},
    {"DB_Step", "TEXT"},
    {"DB_Scan", "TEXT"},
    {"DB_Surface", "TEXT"},
    {"DAC_Offset0", "TEXT"},
    {"DAC_Offset1", "TEXT"},
    {"DAC_Offset2", "TEXT"},
    {"DAC_SoundVel", "INTEGER"},
    {"DAC_SampleNum", "INTEGER"},
    {"DAC_CurveNum", "INTEGER"},
    {"WaveReject", "TEXT"},
    {"FPGA_FireEnergy", "TEXT"},
    {"FPGA_DisChgTime", "INTEGER"},
    {"FPGA_FireFreq", "INTEGER"},
    {"FlagALL", "INTEGER"},
    {"Flag_ProbeAng_En", "INTEGER"},
    {"Flag_GateZoom_En", "INTEGER"},
    {"Flag_KeyBell_En", "INTEGER"},
    {"Flag_FullSScr", "INTEGER"},
    {"FileData", "TEXT"},
    {"DAC_Offset3", "TEXT"},
    {"DAC_Offset4", "TEXT"},
    {"DAC_Offset5", "TEXT"},
    {"AVG_dSize", "TEXT"},
    {"AVG__Ers1", "TEXT"},
    {"AVG__Ers2", "TEXT"},
    {"AVG_Freq", "TEXT"},
    {"AVG_SamplePot1", "TEXT"},
};
constexpr int kNeverWritten = 8;
constexpr int kWrittenColumns = static_cast<int>(std::size(kReportColumns)) - kNeverWritten;
// After the table's own columns: which report a row is (ReportRow::ReportHash), so that documents
// made of two different reports of one name and date are told apart. Older files get it added.
constexpr Column kHashColumn{"ReportHash", "TEXT"};

constexpr std::array<const char*, 11> kPartColumns{"PartID", "PartName", "PartType", "Material",
                                                   "Heat",   "Face",     "Spare1",   "Mandator",
                                                   "Spare2", "Spare3",   "FlawInfo"};

QVariant text(const QString& s) {
    return QVariant(s);
}

// Values of the written columns, in table order.
QVariantList rowValues(const ReportRow& r) {
    const QVariant date = r.FileDate.isValid()
                              ? QVariant(r.FileDate.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")))
                              : QVariant(QMetaType::fromType<QString>());
    return {r.FileNum,
            text(r.FileName),
            r.FileYear,
            r.FileMonth,
            r.FileDay,
            r.FileHour,
            r.FileMin,
            r.FileSec,
            date,
            text(r.sValue),
            text(r.pValue),
            text(r.dValue),
            text(r.hValue),
            text(r.vERS),
            text(r.saValue),
            text(r.sbValue),
            r.vEchoNum,
            r.CH_No,
            r.PageNum,
            text(r.ProbeName),
            text(r.ProbeAng),
            text(r.ProbeZero),
            text(r.ProbeFreq),
            text(r.ProbeFront),
            text(r.ProbedSize),
            text(r.ProbehSize),
            text(r.ProbewSize),
            text(r.ProbeType),
            text(r.ProbeDamp),
            text(r.ProbeRectify),
            text(r.CoordType),
            text(r.DiaValue),
            text(r.ThickValue),
            text(r.mRange),
            text(r.dDelay),
            r.SoundVel,
            r.WaveAGC,
            r.GateA_Start,
            r.GateA_Width,
            r.GateA_Height,
            r.GateB_Start,
            r.GateB_Width,
            r.GateB_Height,
            text(r.GateLogic),
            text(r.GateAlert),
            r.CurrveType,
            text(r.DB_Base),
            text(r.DB_Step),
            text(r.DB_Scan),
            text(r.DB_Surface),
            text(r.DAC_Offset0),
            text(r.DAC_Offset1),
            text(r.DAC_Offset2),
            r.DAC_SoundVel,
            r.DAC_SampleNum,
            r.DAC_CurveNum,
            text(r.WaveReject),
            text(r.FPGA_FireEnergy),
            r.FPGA_DisChgTime,
            r.FPGA_FireFreq,
            r.FlagALL,
            r.Flag_ProbeAng_En,
            r.Flag_GateZoom_En,
            r.Flag_KeyBell_En,
            r.Flag_FullSScr,
            text(r.FileData)};
}

QString quoted(const char* name) {
    return QLatin1Char('"') + QString::fromUtf8(name) + QLatin1Char('"');
}

constexpr char kRowId[] = "rowid";

QMetaType columnType(const char* sqlType) {
    if (qstrcmp(sqlType, "INTEGER") == 0) {
        return QMetaType::fromType<qlonglong>();
    }
    if (qstrcmp(sqlType, "REAL") == 0) {
        return QMetaType::fromType<double>();
    }
    return QMetaType::fromType<QString>();
}

} // namespace

bool isServer(const QSqlDatabase& db) {
    return db.driverName() == QLatin1String("QPSQL");
}

RowIdTableModel::RowIdTableModel(QObject* parent, const QSqlDatabase& db)
    : QSqlTableModel(parent, db) {}

void RowIdTableModel::setTable(const QString& tableName) {
    QSqlTableModel::setTable(tableName);
    tableColumns_ = primaryKey().isEmpty() ? record() : QSqlRecord();
    keyByRowId();
}

bool RowIdTableModel::select() {
    const bool ok = QSqlTableModel::select();
    // A failed select sets the key back to the table's own, which is none.
    keyByRowId();
    return ok;
}

void RowIdTableModel::keyByRowId() {
    if (tableColumns_.isEmpty()) {
        return;
    }
    QSqlIndex key(tableName());
    key.append(QSqlField(QLatin1String(kRowId)));
    setPrimaryKey(key);
}

int RowIdTableModel::columnCount(const QModelIndex& parent) const {
    const int count = QSqlTableModel::columnCount(parent);
    return tableColumns_.isEmpty() ? count : std::min(count, tableColumns_.count());
}

QString RowIdTableModel::selectStatement() const {
    // Without a sort of its own, rows come in the order they were added, and stay there: a
    // server returns an updated row wherever it stored its new version, which would move the
    // edited row away from under the cursor.
    QString order = orderByClause();
    if (order.isEmpty() && !primaryKey().isEmpty()) {
        QStringList keys;
        for (int i = 0; i < primaryKey().count(); ++i) {
            keys << database().driver()->escapeIdentifier(primaryKey().fieldName(i),
                                                          QSqlDriver::FieldName);
        }
        order = QStringLiteral("ORDER BY ") + keys.join(QStringLiteral(", "));
    }
    if (tableColumns_.isEmpty()) {
        const QString statement = QSqlTableModel::selectStatement();
        return orderByClause().isEmpty() && !order.isEmpty() ? statement + QLatin1Char(' ') + order
                                                             : statement;
    }
    // The table's columns in their order, then the row id behind them.
    QSqlRecord columns = tableColumns_;
    columns.append(QSqlField(QLatin1String(kRowId)));
    QString statement =
        database().driver()->sqlStatement(QSqlDriver::SelectStatement, tableName(), columns, false);
    if (!filter().isEmpty()) {
        statement += QStringLiteral(" WHERE ") + filter();
    }
    if (!order.isEmpty()) {
        statement += QLatin1Char(' ') + order;
    }
    return statement;
}

DataStore::DataStore() {
    const QString tag = QString::number(reinterpret_cast<quintptr>(this), 16);
    reportConn_ = QStringLiteral("ADOConnection2-") + tag;
    userConn_ = QStringLiteral("ADOConnection1-") + tag;
}

DataStore::~DataStore() {
    close();
}

QStringList DataStore::reportColumns() {
    QStringList out;
    for (const Column& c : kReportColumns) {
        out << QString::fromLatin1(c.name);
    }
    out << QString::fromLatin1(kHashColumn.name);
    return out;
}

QStringList DataStore::workpieceColumns() {
    QStringList out;
    for (const char* c : kPartColumns) {
        out << QString::fromLatin1(c);
    }
    return out;
}

bool DataStore::exec(QSqlDatabase& db, const QString& sql) {
    QSqlQuery q(db);
    if (!q.exec(sql)) {
        lastError_ = q.lastError().text();
        return false;
    }
    return true;
}

QVariantList DataStore::reportValues(const ReportRow& row) {
    return rowValues(row);
}

QSqlRecord DataStore::reportRecord(const ReportRow& row) {
    const QVariantList values = rowValues(row);
    QSqlRecord rec;
    int i = 0;
    for (const Column& c : kReportColumns) {
        const QMetaType type = columnType(c.type);
        QSqlField field(QString::fromLatin1(c.name), type, QStringLiteral("tabDetectorReport"));
        // The values keep the types the table hands back; the unwritten columns stay empty.
        QVariant v = i < values.size() ? values[i] : QVariant();
        if (!v.isNull()) {
            v.convert(type);
        } else {
            v = QVariant(type);
        }
        field.setValue(v);
        rec.append(field);
        ++i;
    }
    QSqlField hash(QString::fromLatin1(kHashColumn.name), QMetaType::fromType<QString>(),
                   QStringLiteral("tabDetectorReport"));
    hash.setValue(row.ReportHash.isEmpty() ? QVariant(QMetaType::fromType<QString>())
                                           : QVariant(row.ReportHash));
    rec.append(hash);
    return rec;
}

bool DataStore::createReportSchema(QSqlDatabase& db, bool withWorkpieces) {
    QStringList cols;
    for (const Column& c : kReportColumns) {
        cols << quoted(c.name) + QLatin1Char(' ') + QString::fromLatin1(c.type);
    }
    const QString hashColumn =
        quoted(kHashColumn.name) + QLatin1Char(' ') + QString::fromLatin1(kHashColumn.type);
    cols << hashColumn;
    QStringList parts;
    for (const char* c : kPartColumns) {
        parts << quoted(c) + QStringLiteral(" TEXT");
    }
    if (!exec(db, QStringLiteral("CREATE TABLE IF NOT EXISTS tabDetectorReport (%1)")
                      .arg(cols.join(QStringLiteral(", "))))) {
        return false;
    }
    // A report table made by an earlier program lacks the hash; its rows stay without one.
    if (!db.record(QStringLiteral("tabDetectorReport"))
             .contains(QString::fromLatin1(kHashColumn.name)) &&
        !exec(db, QStringLiteral("ALTER TABLE tabDetectorReport ADD COLUMN %1").arg(hashColumn))) {
        return false;
    }
    return (!withWorkpieces ||
            exec(db, QStringLiteral("CREATE TABLE IF NOT EXISTS tabPartInfo (%1)")
                         .arg(parts.join(QStringLiteral(", ")))));
}

bool DataStore::createSharedTables(QSqlDatabase& db, QString& error) {
    const QString key = QStringLiteral("BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY");
    QStringList parts;
    QStringList lowered;
    for (const char* c : kPartColumns) {
        parts << quoted(c) + QStringLiteral(" TEXT");
        lowered << quoted(c) + QStringLiteral(" AS ") + QString::fromLatin1(c).toLower();
    }
    const QStringList statements{
        QStringLiteral("CREATE TABLE IF NOT EXISTS \"UserTable\" (\"ID\" %1, \"用户名\" TEXT, "
                       "\"密码\" TEXT, \"用户类型\" TEXT)")
            .arg(key),
        QStringLiteral("CREATE TABLE IF NOT EXISTS \"tabPartInfo\" (%1, rowid %2)")
            .arg(parts.join(QStringLiteral(", ")), key),
        QStringLiteral("CREATE OR REPLACE VIEW tabpartinfo AS SELECT %1, rowid "
                       "FROM \"tabPartInfo\"")
            .arg(lowered.join(QStringLiteral(", ")))};
    for (const QString& sql : statements) {
        QSqlQuery q(db);
        if (!q.exec(sql)) {
            error = q.lastError().text();
            return false;
        }
    }
    return true;
}

bool DataStore::createUserSchema(QSqlDatabase& db) {
    return exec(db, QStringLiteral("CREATE TABLE IF NOT EXISTS UserTable (ID INTEGER PRIMARY KEY, "
                                   "\"用户名\" TEXT, \"密码\" TEXT, \"用户类型\" TEXT)")) &&
           exec(db, QStringLiteral(
                        "CREATE TABLE IF NOT EXISTS SheBeiTable (ID INTEGER PRIMARY KEY)")) &&
           exec(db,
                QStringLiteral("CREATE TABLE IF NOT EXISTS IntTable (ID INTEGER PRIMARY KEY)")) &&
           exec(db, QStringLiteral("CREATE TABLE IF NOT EXISTS SoeTable (ID INTEGER PRIMARY KEY)"));
}

bool DataStore::open(const QString& folder) {
    close();
    const QDir dir(folder);
    const QString userPath = dir.filePath(QString::fromLatin1(kUserDbFile));
    usersCreated_ = !QFileInfo::exists(userPath);

    QSqlDatabase users = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), userConn_);
    users.setDatabaseName(userPath);
    // Two ufdtool processes started at once may both create the file's tables.
    users.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=15000"));
    if (!users.open()) {
        lastError_ = users.lastError().text();
        return false;
    }
    // SQLite opens any file and meets damage only at the first statement: a users database it
    // cannot read is not open, so that start-up ends with its error.
    if (!madeWhole(users, usersCreated_, [&] { return createUserSchema(users); })) {
        users.close();
        return false;
    }
    return openReportFile(folder, true);
}

bool DataStore::madeWhole(QSqlDatabase& db, bool fresh, const std::function<bool()>& make) {
    // A new file's tables in one transaction: one sync of the journal instead of one a table,
    // and never half a schema. An existing file is left without a write lock.
    if (!fresh) {
        return make();
    }
    if (!exec(db, QStringLiteral("BEGIN IMMEDIATE"))) {
        return false;
    }
    if (make() && exec(db, QStringLiteral("COMMIT"))) {
        return true;
    }
    QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
    return false;
}

bool DataStore::open(const QString& folder, const QString& shared) {
    close();
    sharedConn_ = shared;
    QSqlDatabase db = QSqlDatabase::database(sharedConn_, false);
    if (!db.isOpen()) {
        lastError_ = QStringLiteral("the shared database is not open");
        return false;
    }
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT count(*) FROM \"UserTable\"")) || !q.next()) {
        lastError_ = q.lastError().text();
        return false;
    }
    usersCreated_ = q.value(0).toLongLong() == 0;
    return openReportFile(folder, false);
}

bool DataStore::openReportFile(const QString& folder, bool withWorkpieces) {
    QSqlDatabase reports = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), reportConn_);
    const QString path = QDir(folder).filePath(QString::fromLatin1(kReportDbFile));
    const bool fresh = !QFileInfo::exists(path);
    reports.setDatabaseName(path);
    // ufdtool may import into the same file meanwhile; its transactions are short.
    reports.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=15000"));
    if (!reports.open()) {
        lastError_ = reports.lastError().text();
        return false;
    }
    // An import rewrites the whole report table (some 15 MB) in one transaction. With SQLite's
    // default cache of 2 MB, its changed pages spill into the file before the commit, and every
    // spill syncs the journal first: the cache holds one import whole instead.
    return exec(reports, QStringLiteral("PRAGMA cache_size = -32768")) &&
           madeWhole(reports, fresh, [&] { return createReportSchema(reports, withWorkpieces); });
}

void DataStore::close() {
    for (const QString& name : {reportConn_, userConn_, sharedConn_}) {
        if (!name.isEmpty() && QSqlDatabase::contains(name)) {
            {
                QSqlDatabase db = QSqlDatabase::database(name, false);
                db.close();
            }
            QSqlDatabase::removeDatabase(name);
        }
    }
    sharedConn_.clear();
}

bool DataStore::isOpen() const {
    return scratchDb().isOpen() && reportDb().isOpen() && userDb().isOpen();
}

QSqlDatabase DataStore::reportDb() const {
    return QSqlDatabase::database(isShared() ? sharedConn_ : reportConn_, false);
}
QSqlDatabase DataStore::scratchDb() const {
    return QSqlDatabase::database(reportConn_, false);
}
QSqlDatabase DataStore::userDb() const {
    return QSqlDatabase::database(isShared() ? sharedConn_ : userConn_, false);
}

ReplaceResult DataStore::replaceReports(const std::vector<ReportRow>& rows) {
    ReplaceResult result;
    QSqlDatabase db = scratchDb();
    db.transaction();
    QSqlQuery del(db);
    if (!del.exec(QStringLiteral("DELETE FROM tabDetectorReport"))) {
        result.firstError = del.lastError().text();
        db.rollback();
        result.failed = static_cast<int>(rows.size());
    } else {
        // Bound by names made once: Qt makes a name of every position it is given (a formatted
        // number), which cost a full file's import more than SQLite's own work.
        QStringList names;
        QStringList marks;
        for (int i = 0; i <= kWrittenColumns; ++i) {
            names << quoted(i < kWrittenColumns ? kReportColumns[static_cast<std::size_t>(i)].name
                                                : kHashColumn.name);
            marks << QStringLiteral(":v%1").arg(i);
        }
        QSqlQuery ins(db);
        ins.prepare(QStringLiteral("INSERT INTO tabDetectorReport (%1) VALUES (%2)")
                        .arg(names.join(QLatin1Char(',')), marks.join(QLatin1Char(','))));
        for (const ReportRow& row : rows) {
            const QVariantList values = rowValues(row);
            Q_ASSERT(values.size() == kWrittenColumns);
            for (int i = 0; i < values.size(); ++i) {
                ins.bindValue(marks[i], values[i]);
            }
            ins.bindValue(marks[kWrittenColumns], row.ReportHash);
            if (ins.exec()) {
                ++result.stored;
            } else {
                ++result.failed;
                if (result.firstError.isEmpty()) {
                    result.firstError = ins.lastError().text();
                }
            }
        }
        ins.finish();
        // A commit the database refuses keeps the table as it was: no report of this file is
        // stored, and the operator is told so.
        if (!db.commit()) {
            result.firstError = db.lastError().text();
            db.rollback();
            result.failed = static_cast<int>(rows.size());
            result.stored = 0;
        }
    }
    // The archive keeps what the scratch table could not: it may live elsewhere.
    if (importHook_) {
        importHook_(rows, result);
    }
    return result;
}

QStringList DataStore::workpieceNumbers(QString* error) {
    QStringList out;
    QSqlQuery q(reportDb());
    q.setForwardOnly(true);
    if (q.exec(QStringLiteral("SELECT \"PartID\" FROM \"tabPartInfo\" ORDER BY rowid"))) {
        while (q.next()) {
            out << q.value(0).toString();
        }
    } else {
        lastError_ = q.lastError().text();
        if (error != nullptr) {
            *error = lastError_;
        }
    }
    return out;
}

std::optional<WorkpieceDetails> DataStore::workpieceDetails(const QString& number, QString* error) {
    QSqlQuery q(reportDb());
    q.prepare(QStringLiteral("SELECT \"PartName\", \"PartType\", \"Material\", \"Heat\", \"Face\", "
                             "\"Mandator\", \"FlawInfo\" FROM \"tabPartInfo\" WHERE \"PartID\" = ? "
                             "ORDER BY rowid LIMIT 1"));
    q.addBindValue(number);
    if (!q.exec()) {
        lastError_ = q.lastError().text();
        if (error != nullptr) {
            *error = lastError_;
        }
        return std::nullopt;
    }
    if (!q.next()) {
        return std::nullopt;
    }
    WorkpieceDetails d;
    d.PartName = q.value(0).toString();
    d.PartType = q.value(1).toString();
    d.Material = q.value(2).toString();
    d.Heat = q.value(3).toString();
    d.Face = q.value(4).toString();
    d.Mandator = q.value(5).toString();
    d.FlawInfo = q.value(6).toString();
    return d;
}

} // namespace ufd::reports
