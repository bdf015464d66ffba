#include "core/archive/report_archive.h"

#include "core/archive/sql_transaction.h"
#include "core/archive/stamps.h"

#include "core/reports/database.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <span>
#include <thread>
#include <type_traits>
#define ZLIB_CONST
#include <zlib.h>

namespace ufd::archive {

using reports::ReportRow;

namespace {

constexpr char kTable[] = "\"tabReportArchive\"";
constexpr char kDataTable[] = "\"tabReportArchiveData\"";
// What a report's identity and waveform are made of: its directory entry, then its slot.
constexpr qsizetype kReportBytes = reports::kDirectoryEntrySize + reports::kSlotSize;
constexpr int kAttempts = 3;

QString quoted(const QString& name) {
    return QLatin1Char('"') + name + QLatin1Char('"');
}

// The decoded columns the archive keeps: those of the report table up to FileData, which the
// kept bytes stand for.
const QSqlRecord& archivedColumns() {
    static const QSqlRecord columns = [] {
        QSqlRecord rec = reports::DataStore::reportRecord(ReportRow{});
        const int data = rec.indexOf(QStringLiteral("FileData"));
        while (rec.count() > data) {
            rec.remove(data);
        }
        return rec;
    }();
    return columns;
}

// The columns an import fills, quoted, in the order of its values: where the report came
// from, then the report table's.
const QStringList& insertedColumns() {
    static const QStringList names = [] {
        QStringList out{QStringLiteral("\"ReportHash\""), QStringLiteral("\"SourceFile\""),
                        QStringLiteral("\"ImportedAt\""), QStringLiteral("\"ImportedBy\"")};
        const QSqlRecord& cols = archivedColumns();
        for (int i = 0; i < cols.count(); ++i) {
            out << quoted(cols.fieldName(i));
        }
        return out;
    }();
    return names;
}

// The columns of a list entry, in ArchiveEntry's order, each after `prefix`.
QString entryColumns(const QString& prefix = QString()) {
    QStringList out;
    for (const char* c : {"ArchiveID", "FileName", "FileDate", "FileNum", "ProbeName", "PartID",
                          "SourceFile", "ImportedAt", "ImportedBy", "ReportHash"}) {
        out << prefix + quoted(QLatin1String(c));
    }
    return out.join(QStringLiteral(", "));
}

ArchiveEntry readEntry(const QSqlQuery& q, int first) {
    ArchiveEntry e;
    e.id = q.value(first).toLongLong();
    e.fileName = q.value(first + 1).toString();
    e.fileDate = stampTime(q.value(first + 2));
    e.fileNum = q.value(first + 3).toInt();
    e.probeName = q.value(first + 4).toString();
    e.workpiece = q.value(first + 5).toString();
    e.sourceFile = q.value(first + 6).toString();
    e.importedAt = stampTime(q.value(first + 7));
    e.importedBy = q.value(first + 8).toString();
    e.hash = q.value(first + 9).toString();
    return e;
}

// Another importer held the lock or chose the same rows in another order: trying again helps.
bool worthRetrying(const QSqlError& e) {
    const QString code = e.nativeErrorCode();
    return code == QLatin1String("40P01") || code == QLatin1String("40001") ||
           code == QLatin1String("5") || code == QLatin1String("6");
}

// Rows a statement carries to a server, as one JSON text: each statement is a round trip, and a
// whole report file fits. SQLite has no round trips to save, and looks up each name of a
// statement being prepared among those before it: one row a statement there, prepared once.
constexpr int kServerRows = 1024;
// Hashes a look-up asks for at once.
constexpr int kLookupRows = 200;

// Packs a report's bytes as qCompress does (the length big-endian, then a zlib stream), with
// one deflate state for every report of a file: setting one up and freeing it again (a quarter
// of a megabyte, zeroed) cost more than packing the 4 KiB it is used for.
class Packer {
public:
    // Runs of equal bytes only: a report's waveform holds them and little else to find, so a
    // search for longer matches costs more time than it saves bytes.
    Packer() { ok_ = deflateInit2(&z_, 1, Z_DEFLATED, 15, 8, Z_RLE) == Z_OK; }
    ~Packer() {
        if (ok_) {
            deflateEnd(&z_);
        }
    }
    Packer(const Packer&) = delete;
    Packer& operator=(const Packer&) = delete;

    QByteArray pack(QByteArrayView first, QByteArrayView second) {
        const auto total = static_cast<uLong>(first.size() + second.size());
        if (!ok_ || deflateReset(&z_) != Z_OK) {
            return qCompress(first.toByteArray() + second.toByteArray(), 1);
        }
        QByteArray out(4 + static_cast<qsizetype>(deflateBound(&z_, total)), Qt::Uninitialized);
        auto* o = reinterpret_cast<unsigned char*>(out.data());
        o[0] = static_cast<unsigned char>(total >> 24);
        o[1] = static_cast<unsigned char>(total >> 16);
        o[2] = static_cast<unsigned char>(total >> 8);
        o[3] = static_cast<unsigned char>(total);
        z_.next_out = o + 4;
        z_.avail_out = static_cast<uInt>(out.size() - 4);
        int rc = Z_OK;
        for (const auto& [part, flush] : {std::pair{first, Z_NO_FLUSH}, {second, Z_FINISH}}) {
            z_.next_in = reinterpret_cast<const Bytef*>(part.data());
            z_.avail_in = static_cast<uInt>(part.size());
            rc = deflate(&z_, flush);
        }
        if (rc != Z_STREAM_END) {
            return qCompress(first.toByteArray() + second.toByteArray(), 1);
        }
        out.resize(4 + static_cast<qsizetype>(z_.total_out));
        return out;
    }

private:
    z_stream z_{};
    bool ok_ = false;
};

} // namespace

struct ReportArchive::Pending {
    QByteArray hash; // hexadecimal
    const ReportRow* row = nullptr;
    const std::uint8_t* entry = nullptr; // its directory entry, in the image
    const std::uint8_t* slot = nullptr;
    bool known = false;   // archived before, or twice in this file
    std::size_t turn = 0; // its place among the new reports, the order they are packed in
    QByteArray packed;    // directory entry and slot, compressed
};

// Packs the new reports of a file in their order on a thread of its own.
class ReportArchive::Packing {
public:
    explicit Packing(const std::vector<Pending*>& fresh) : fresh_(fresh) {
        for (std::size_t i = 0; i < fresh_.size(); ++i) {
            fresh_[i]->turn = i;
        }
        worker_ = std::jthread([this] {
            Packer packer;
            for (Pending* p : fresh_) {
                p->packed = packer.pack(QByteArrayView(p->entry, reports::kDirectoryEntrySize),
                                        QByteArrayView(p->slot, reports::kSlotSize));
                done_.fetch_add(1, std::memory_order_release);
                done_.notify_one();
            }
        });
    }
    Packing(const Packing&) = delete;
    Packing& operator=(const Packing&) = delete;

    // A new report's packed bytes, once the thread has made them.
    const QByteArray& bytesOf(const Pending& p) {
        for (std::size_t now = done_.load(std::memory_order_acquire); now <= p.turn;
             now = done_.load(std::memory_order_acquire)) {
            done_.wait(now, std::memory_order_acquire);
        }
        return p.packed;
    }

private:
    const std::vector<Pending*>& fresh_;
    std::atomic<std::size_t> done_{0};
    std::jthread worker_; // last: joined before the rest goes
};

// Placeholders of one row of `columns` values, "(:v0,:v1)", and their names. Values are bound by
// name: Qt makes a name of every position it is given (a formatted number, the better part of an
// import's time in binding), and a name made once is looked up alone.
struct Marks {
    QString sql;
    QStringList names;
    explicit Marks(int columns) {
        names.reserve(columns);
        for (int c = 0; c < columns; ++c) {
            names << QStringLiteral(":v%1").arg(c);
        }
        sql = QLatin1Char('(') + names.join(QLatin1Char(',')) + QLatin1Char(')');
    }
};

// The statements of one transaction, each prepared once and used for every row.
struct ReportArchive::Statements {
    QSqlQuery rows, data;
    QStringList rowNames, dataNames;
    // Where the file came from: the same for each of its reports.
    QVariant source, when, user;
    Statements(const QSqlDatabase& db, const ImportOrigin& origin)
        : rows(db), data(db),
          source(origin.sourceFile.isEmpty() ? QVariant(QMetaType::fromType<QString>())
                                             : QVariant(origin.sourceFile)),
          when(origin.importedAt.toUTC().toString(QLatin1String(kStamp))), user(origin.user) {}
};

ReportArchive::ReportArchive(QSqlDatabase db)
    : db_(std::move(db)), server_(reports::isServer(db_)) {}

namespace {

bool succeeded(bool ok) {
    return ok;
}
bool succeeded(const AddResult& r) {
    return r.ok();
}
template <typename T> bool succeeded(const std::optional<T>& r) {
    return r.has_value();
}

} // namespace

bool ReportArchive::connected() {
    if (!server_ || db_.isOpen()) {
        return true;
    }
    if (db_.open()) {
        return true;
    }
    lastError_ = QStringLiteral("The database server %1@%2:%3/%4 cannot be reached: %5")
                     .arg(db_.userName(), db_.hostName())
                     .arg(db_.port())
                     .arg(db_.databaseName(), db_.lastError().text().trimmed());
    return false;
}

bool ReportArchive::lost() const {
    // Qt's driver closes a connection whose server has gone.
    return server_ && !db_.isOpen();
}

// A server that went away (restarted, the network down for a while) is reached again by the
// next action, without the program having to start again; an action that lost the connection
// runs once more on a new one, which every action may: each is one transaction or none.
template <typename Action> auto ReportArchive::reconnecting(Action action) -> decltype(action()) {
    using Result = decltype(action());
    const auto failed = [this] {
        if constexpr (std::is_same_v<Result, AddResult>) {
            AddResult r;
            r.error = lastError_;
            return r;
        } else {
            return Result{};
        }
    };
    if (!connected()) {
        return failed();
    }
    Result result = action();
    if (!succeeded(result) && lost()) {
        result = connected() ? action() : failed();
    }
    return result;
}

AddResult ReportArchive::add(const QByteArray& image, const std::vector<ReportRow>& rows,
                             const ImportOrigin& origin) {
    return reconnecting([&] { return addNow(image, rows, origin); });
}

std::optional<qint64> ReportArchive::count(const ArchiveFilter& filter) {
    return reconnecting([&] { return countNow(filter); });
}

std::optional<std::vector<ArchiveEntry>> ReportArchive::entries(const ArchiveFilter& filter,
                                                                qint64 total) {
    return reconnecting([&] { return entriesNow(filter, total); });
}

std::optional<std::vector<qint64>> ReportArchive::ids(const ArchiveFilter& filter, qint64 total) {
    return reconnecting([&] { return idsNow(filter, total); });
}

std::optional<qint64> ReportArchive::position(const ArchiveFilter& filter, qint64 id) {
    return reconnecting([&] { return positionNow(filter, id); });
}

std::optional<ArchivedReport> ReportArchive::fetch(qint64 id) {
    return reconnecting([&] { return fetchNow(id); });
}

bool ReportArchive::assignWorkpiece(const QList<qint64>& ids, const QString& partId) {
    return reconnecting([&] { return assignNow(ids, partId); });
}

QStringList ReportArchive::schemaStatements(bool server) {
    const QSqlRecord& cols = archivedColumns();
    QStringList columns;
    for (int i = 0; i < cols.count(); ++i) {
        const QSqlField f = cols.field(i);
        QString type = QStringLiteral("TEXT");
        if (f.metaType() == QMetaType::fromType<qlonglong>()) {
            type = QStringLiteral("INTEGER");
        } else if (f.metaType() == QMetaType::fromType<double>()) {
            type = server ? QStringLiteral("DOUBLE PRECISION") : QStringLiteral("REAL");
        }
        columns << quoted(f.name()) + QLatin1Char(' ') + type;
    }
    const QString key = server ? QStringLiteral("BIGINT GENERATED BY DEFAULT AS IDENTITY")
                               : QStringLiteral("INTEGER");
    QStringList out{
        QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (\"ArchiveID\" %2 PRIMARY KEY, "
                       "\"ReportHash\" TEXT NOT NULL UNIQUE, \"SourceFile\" TEXT, "
                       "\"ImportedAt\" TEXT NOT NULL, \"ImportedBy\" TEXT, \"PartID\" TEXT, %3)")
            .arg(QLatin1String(kTable), key, columns.join(QStringLiteral(", "))),
        // The bytes apart, so that lists and counts read only the narrow rows.
        QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (\"ArchiveID\" %2 PRIMARY KEY REFERENCES "
                       "%3 (\"ArchiveID\"), \"SlotBytes\" %4 NOT NULL)")
            .arg(QLatin1String(kDataTable), server ? QStringLiteral("BIGINT") : key,
                 QLatin1String(kTable), server ? QStringLiteral("BYTEA") : QStringLiteral("BLOB")),
        // Newest first and every filter from the index alone. PostgreSQL sorts NULL first when
        // descending unless told; SQLite sorts it last and takes no NULLS in an index.
        QStringLiteral("CREATE INDEX IF NOT EXISTS \"ixArchiveList\" ON %1 (\"FileDate\" DESC%2, "
                       "\"ArchiveID\" DESC, \"FileName\", \"ProbeName\", \"PartID\", "
                       "\"SourceFile\")")
            .arg(QLatin1String(kTable), server ? QStringLiteral(" NULLS LAST") : QString())};
    if (server) {
        // The bytes are compressed already.
        out << QStringLiteral("ALTER TABLE %1 ALTER COLUMN \"SlotBytes\" SET STORAGE EXTERNAL")
                   .arg(QLatin1String(kDataTable));
    }
    return out;
}

bool ReportArchive::createMissingIndexes(QSqlDatabase& db, bool server, QString& error) {
    // One index a sortable column, ending in the id as the lists do; on SQLite the id is the
    // row id, which every index ends in already. The date's is the list index of the schema.
    // The server's name index holds the lower-case names instead of the ids: a name search
    // counts from it alone, and reads less (a name repeated is kept once with its rows); the
    // few rows of one name are put in order of their ids after it. A second index of the
    // lower-case names beside a name index would leave its planner a choice, and it may take
    // the one that folds every name again, at twice the time.
    const std::pair<const char*, const char*> indexes[] = {
        {server ? "ixArchiveNames" : "ixArchiveName", "FileName"},
        {"ixArchiveProbe", "ProbeName"},
        {"ixArchivePart", "PartID"},
        {"ixArchiveSource", "SourceFile"},
        {"ixArchiveImported", "ImportedAt"},
        {"ixArchiveImporter", "ImportedBy"}};
    QSqlQuery q(db);
    // Looked up first: an index made again, even IF NOT EXISTS, would lock the table against
    // another station's import on the server.
    if (!q.exec(server ? QStringLiteral("SELECT indexname FROM pg_indexes WHERE schemaname = "
                                        "current_schema() AND tablename = 'tabReportArchive'")
                       : QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'index' AND "
                                        "tbl_name = 'tabReportArchive'"))) {
        error = q.lastError().text();
        return false;
    }
    QStringList existing;
    while (q.next()) {
        existing << q.value(0).toString();
    }
    for (const auto& [name, column] : indexes) {
        if (existing.contains(QLatin1String(name))) {
            continue;
        }
        const QString c = quoted(QLatin1String(column));
        QString columns = c;
        if (server) {
            columns += qstrcmp(column, "FileName") == 0
                           ? QStringLiteral(" NULLS FIRST, lower(\"FileName\")")
                           : QStringLiteral(" NULLS FIRST, \"ArchiveID\"");
        }
        if (!q.exec(QStringLiteral("CREATE INDEX IF NOT EXISTS \"%1\" ON %2 (%3)")
                        .arg(QLatin1String(name), QLatin1String(kTable), columns))) {
            error = q.lastError().text();
            return false;
        }
    }
    // The name index of the version before, which the one above replaces.
    if (server && existing.contains(QLatin1String("ixArchiveName")) &&
        !q.exec(QStringLiteral("DROP INDEX IF EXISTS \"ixArchiveName\""))) {
        error = q.lastError().text();
        return false;
    }
    return true;
}

AddResult ReportArchive::add(const QByteArray& image, const ImportOrigin& origin) {
    return add(image, reports::decodeReportFile(image, reports::Columns::WithoutFileData).rows,
               origin);
}

AddResult ReportArchive::addNow(const QByteArray& image, const std::vector<ReportRow>& rows,
                                const ImportOrigin& origin) {
    matches_.reset(); // new reports may match
    AddResult result;
    if (image.size() != reports::kReportFileSize) {
        result.error = QStringLiteral("not a whole report file (%1 bytes)").arg(image.size());
        return result;
    }
    const auto* b = reinterpret_cast<const std::uint8_t*>(image.constData());
    std::vector<std::uint16_t> slotList = reports::reportIndex(b, reports::kSlotListBytes);
    slotList.erase(std::remove_if(slotList.begin(), slotList.end(),
                                  [](std::uint16_t s) { return s >= reports::kSlotCount; }),
                   slotList.end());
    const bool matches =
        slotList.size() == rows.size() &&
        std::equal(slotList.begin(), slotList.end(), rows.begin(),
                   [](std::uint16_t s, const ReportRow& r) { return r.FileNum == s; });
    if (!matches) {
        result.error = QStringLiteral("the reports were not decoded from this report file");
        return result;
    }

    std::vector<Pending> pending(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        Pending& p = pending[i];
        const auto slot = static_cast<std::size_t>(rows[i].FileNum);
        p.row = &rows[i];
        p.entry = b + reports::kDirectoryOffset + reports::kDirectoryEntrySize * slot;
        p.slot = b + reports::kSlotsOffset + reports::kSlotSize * slot;
        // The decoder hashed the same bytes.
        p.hash = (rows[i].ReportHash.isEmpty() ? reports::reportHash(p.entry, p.slot)
                                               : rows[i].ReportHash)
                     .toLatin1();
    }
    // Every importer takes the rows in one order, so two of them sharing reports wait for each
    // other instead of deadlocking.
    std::sort(pending.begin(), pending.end(),
              [](const Pending& x, const Pending& y) { return x.hash < y.hash; });
    for (std::size_t i = 1; i < pending.size(); ++i) {
        pending[i].known = pending[i].hash == pending[i - 1].hash;
    }
    // What the archive holds already is left alone before the write lock: archived reports are
    // never deleted, so they stay known, and a file imported again costs a look-up alone.
    if (!markKnown(pending)) {
        result.error = lastError_;
        return result;
    }
    std::vector<Pending*> fresh;
    for (Pending& p : pending) {
        if (!p.known) {
            fresh.push_back(&p);
        }
    }
    const auto all = static_cast<int>(rows.size());
    if (fresh.empty()) {
        result.known = all;
        return result;
    }
    // The new reports are packed on a second core while their rows go in, which is most of an
    // import's time; a row's bytes are waited for only when they are bound. Declared after what
    // it reads, so that every way out of here waits for it first.
    Packing packing(fresh);

    for (int attempt = 1;; ++attempt) {
        QSqlError failure;
        int added = 0;
        {
            Transaction tx(db_, server_);
            if (!tx.isOpen()) {
                result.error = tx.error();
                return result;
            }
            Statements statements(db_, origin);
            if (server_) {
                for (std::size_t from = 0; from < fresh.size() && !failure.isValid();
                     from += kServerRows) {
                    const std::size_t to = std::min(fresh.size(), from + kServerRows);
                    added += insertServerRows(statements, packing,
                                              {fresh.begin() + static_cast<std::ptrdiff_t>(from),
                                               fresh.begin() + static_cast<std::ptrdiff_t>(to)},
                                              failure);
                }
            } else {
                for (std::size_t i = 0; i < fresh.size() && !failure.isValid(); ++i) {
                    added += insertRow(statements, packing, *fresh[i], failure) ? 1 : 0;
                }
            }
            if (!failure.isValid() && tx.commit()) {
                // What another importer brought meanwhile was left to it.
                result.added = added;
                result.known = all - added;
                return result;
            }
            if (!failure.isValid()) {
                result.error = tx.error();
                return result;
            }
        }
        if (attempt == kAttempts || !worthRetrying(failure)) {
            result.error = failure.text();
            return result;
        }
    }
}

bool ReportArchive::markKnown(std::vector<Pending>& pending) {
    QSqlQuery q(db_);
    q.setForwardOnly(true);
    for (std::size_t from = 0; from < pending.size(); from += kLookupRows) {
        const std::size_t to = std::min(pending.size(), from + kLookupRows);
        QVariantList hashes;
        for (std::size_t i = from; i < to; ++i) {
            hashes << QString::fromLatin1(pending[i].hash);
        }
        QStringList marks;
        marks.fill(QStringLiteral("?"), hashes.size());
        if (!execute(q,
                     QStringLiteral("SELECT \"ReportHash\" FROM %1 WHERE \"ReportHash\" IN (%2)")
                         .arg(QLatin1String(kTable), marks.join(QLatin1Char(','))),
                     hashes)) {
            lastError_ = q.lastError().text();
            return false;
        }
        while (q.next()) {
            const QByteArray hash = q.value(0).toString().toLatin1();
            const auto at =
                std::lower_bound(pending.begin() + static_cast<std::ptrdiff_t>(from),
                                 pending.begin() + static_cast<std::ptrdiff_t>(to), hash,
                                 [](const Pending& p, const QByteArray& h) { return p.hash < h; });
            for (auto it = at; it != pending.end() && it->hash == hash; ++it) {
                it->known = true;
            }
        }
        q.finish();
    }
    return true;
}

bool ReportArchive::insertRow(Statements& statements, Packing& packing, const Pending& p,
                              QSqlError& failure) {
    const QSqlRecord& cols = archivedColumns();
    QSqlQuery& ins = statements.rows;
    if (statements.rowNames.isEmpty()) {
        const Marks marks(4 + cols.count());
        // Whether the row went in SQLite says by the rows it changed and the row id it gave,
        // without a result to read.
        ins.setForwardOnly(true);
        if (!ins.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES %3 ON CONFLICT "
                                        "(\"ReportHash\") DO NOTHING")
                             .arg(QLatin1String(kTable), insertedColumns().join(QLatin1Char(',')),
                                  marks.sql))) {
            failure = ins.lastError();
            return false;
        }
        statements.rowNames = marks.names;
    }
    const QStringList& rowNames = statements.rowNames;
    ins.bindValue(rowNames[0], QString::fromLatin1(p.hash));
    ins.bindValue(rowNames[1], statements.source);
    ins.bindValue(rowNames[2], statements.when);
    ins.bindValue(rowNames[3], statements.user);
    const QVariantList values = reports::DataStore::reportValues(*p.row);
    for (int i = 0; i < cols.count(); ++i) {
        ins.bindValue(rowNames[4 + i], values[i]);
    }
    if (!ins.exec()) {
        failure = ins.lastError();
        return false;
    }
    if (ins.numRowsAffected() != 1) {
        return false; // another importer brought it first
    }
    QSqlQuery& data = statements.data;
    if (statements.dataNames.isEmpty()) {
        const Marks marks(2);
        if (!data.prepare(QStringLiteral("INSERT INTO %1 (\"ArchiveID\", \"SlotBytes\") VALUES %2")
                              .arg(QLatin1String(kDataTable), marks.sql))) {
            failure = data.lastError();
            return false;
        }
        statements.dataNames = marks.names;
    }
    data.bindValue(statements.dataNames[0], ins.lastInsertId().toLongLong());
    data.bindValue(statements.dataNames[1], packing.bytesOf(p));
    if (!data.exec()) {
        failure = data.lastError();
        return false;
    }
    return true;
}

namespace {

// `text` as a JSON string.
void appendJsonString(QString& out, const QString& text) {
    out += QLatin1Char('"');
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\')) {
            out += QLatin1Char('\\');
            out += c;
        } else if (c.unicode() < 0x20) {
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    out += QLatin1Char('"');
}

// A bound value as the server reads it into its column: null, or the text of the value, which
// the column's type reads back exactly (the shortest decimal that gives the same double).
void appendJsonValue(QString& out, const QVariant& v) {
    if (!v.isValid() || v.isNull() ||
        (v.metaType() == QMetaType::fromType<QString>() && v.toString().isNull())) {
        out += QStringLiteral("null");
        return;
    }
    switch (v.metaType().id()) {
    case QMetaType::Double: {
        const double d = v.toDouble();
        if (std::isnan(d)) {
            out += QStringLiteral("\"NaN\"");
        } else if (std::isinf(d)) {
            out += d > 0 ? QStringLiteral("\"Infinity\"") : QStringLiteral("\"-Infinity\"");
        } else {
            out += QLatin1Char('"') + QString::number(d, 'g', QLocale::FloatingPointShortest) +
                   QLatin1Char('"');
        }
        return;
    }
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        out += v.toString();
        return;
    default:
        appendJsonString(out, v.toString());
    }
}

} // namespace

// The server's statements carry their rows as one JSON text each. Qt's driver puts every bound
// value into the text of the statement it sends, which the server then parses value by value:
// most of an import's time there. One text is read by the server's JSON reader at once.
int ReportArchive::insertServerRows(Statements& statements, Packing& packing,
                                    std::span<Pending* const> chunk, QSqlError& failure) {
    const QSqlRecord& cols = archivedColumns();
    QSqlQuery& ins = statements.rows;
    if (statements.rowNames.isEmpty()) {
        const QStringList& names = insertedColumns();
        const QString list = names.join(QLatin1Char(','));
        // In the order given, sorted by hash, as every importer takes them.
        ins.setForwardOnly(true);
        if (!ins.prepare(QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM "
                                        "json_populate_recordset(NULL::%1, CAST(:rows AS json)) "
                                        "WITH ORDINALITY AS r ORDER BY r.ordinality ON CONFLICT "
                                        "(\"ReportHash\") DO NOTHING RETURNING \"ArchiveID\", "
                                        "\"ReportHash\"")
                             .arg(QLatin1String(kTable), list))) {
            failure = ins.lastError();
            return 0;
        }
        // The JSON keys: the column names, quoted as JSON.
        statements.rowNames.clear();
        for (const QString& n : names) {
            statements.rowNames << n + QLatin1Char(':');
        }
    }
    QString sourceJson;
    appendJsonValue(sourceJson, statements.source);
    QString whenJson;
    appendJsonValue(whenJson, statements.when);
    QString userJson;
    appendJsonValue(userJson, statements.user);
    const QStringList& keys = statements.rowNames;
    QString rows;
    rows.reserve(static_cast<qsizetype>(chunk.size()) * 2048);
    rows += QLatin1Char('[');
    for (const Pending* p : chunk) {
        rows += rows.size() > 1 ? QStringLiteral(",{") : QStringLiteral("{");
        rows += keys[0] + QLatin1Char('"') + QLatin1String(p->hash) + QLatin1Char('"');
        rows += QLatin1Char(',') + keys[1] + sourceJson;
        rows += QLatin1Char(',') + keys[2] + whenJson;
        rows += QLatin1Char(',') + keys[3] + userJson;
        const QVariantList values = reports::DataStore::reportValues(*p->row);
        for (int i = 0; i < cols.count(); ++i) {
            rows += QLatin1Char(',') + keys[4 + i];
            appendJsonValue(rows, values[i]);
        }
        rows += QLatin1Char('}');
    }
    rows += QLatin1Char(']');
    ins.bindValue(QStringLiteral(":rows"), rows);
    if (!ins.exec()) {
        failure = ins.lastError();
        return 0;
    }
    // Those another importer brought first are not there.
    std::vector<std::pair<qint64, const Pending*>> stored;
    while (ins.next()) {
        const QByteArray hash = ins.value(1).toString().toLatin1();
        const auto it =
            std::lower_bound(chunk.begin(), chunk.end(), hash,
                             [](const Pending* p, const QByteArray& h) { return p->hash < h; });
        if (it != chunk.end() && (*it)->hash == hash) {
            stored.emplace_back(ins.value(0).toLongLong(), *it);
        }
    }
    ins.finish();
    if (stored.empty()) {
        return 0;
    }
    QSqlQuery& data = statements.data;
    if (statements.dataNames.isEmpty()) {
        if (!data.prepare(QStringLiteral("INSERT INTO %1 (\"ArchiveID\", \"SlotBytes\") SELECT "
                                         "CAST(e->>0 AS bigint), decode(e->>1, 'base64') FROM "
                                         "json_array_elements(CAST(:data AS json)) AS e")
                              .arg(QLatin1String(kDataTable)))) {
            failure = data.lastError();
            return 0;
        }
        statements.dataNames << QStringLiteral(":data");
    }
    QString bytes;
    bytes += QLatin1Char('[');
    for (const auto& [id, p] : stored) {
        bytes += bytes.size() > 1 ? QStringLiteral(",[") : QStringLiteral("[");
        bytes += QString::number(id) + QStringLiteral(",\"") +
                 QLatin1String(packing.bytesOf(*p).toBase64()) + QStringLiteral("\"]");
    }
    bytes += QLatin1Char(']');
    data.bindValue(statements.dataNames[0], bytes);
    if (!data.exec()) {
        failure = data.lastError();
        return 0;
    }
    return static_cast<int>(stored.size());
}

// The WHERE clause of a filter, and its values. On SQLite, which plans without statistics,
// `steer` says how to lead its planner: Sparse when few rows match, so that it finds them by
// their filters' indexes and sorts them (the name through its narrow index, which LIKE cannot
// seek in); Dense when many do, so that it reads the sort column's index in order and stops at
// the page, a filter on another column keeping its index out of the choice ("+column").
struct ReportArchive::Condition {
    QString sql; // empty, or " WHERE ..."
    QVariantList values;
};

ReportArchive::Condition ReportArchive::condition(const ArchiveFilter& filter, Steer steer) const {
    const QString sortColumn = QLatin1String(sortColumnName(filter.sortBy));
    const auto column = [&](const char* name) {
        const QString c = QLatin1String(name);
        return (steer == Steer::Dense && c != sortColumn ? QStringLiteral("+") : QString()) +
               quoted(c);
    };
    QStringList where;
    Condition out;
    if (filter.from.isValid()) {
        where << column("FileDate") + QStringLiteral(" >= ?");
        out.values << filter.from.toString(QLatin1String(kStamp));
    }
    if (filter.to.isValid()) {
        where << column("FileDate") + QStringLiteral(" <= ?");
        out.values << filter.to.toString(QLatin1String(kStamp));
    }
    if (!filter.nameContains.isEmpty()) {
        QString pattern = filter.nameContains;
        pattern.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
            .replace(QLatin1Char('%'), QLatin1String("\\%"))
            .replace(QLatin1Char('_'), QLatin1String("\\_"));
        // SQLite's LIKE ignores the case of A-Z already. PostgreSQL's name index holds the
        // lower-case names, so that a count reads them from it; ILIKE would fold every name
        // again for every count.
        const QString like = server_
                                 ? QStringLiteral("lower(\"FileName\") LIKE lower(?) ESCAPE '\\'")
                                 : QStringLiteral("\"FileName\" LIKE ? ESCAPE '\\'");
        // The date's index holds the name too; another column's would look each row up.
        const bool nameInSortIndex =
            sortColumn == QLatin1String("FileName") || sortColumn == QLatin1String("FileDate");
        where << (steer == Steer::Sparse && !nameInSortIndex
                      ? QStringLiteral("\"ArchiveID\" IN (SELECT \"ArchiveID\" FROM %1 WHERE %2)")
                            .arg(QLatin1String(kTable), like)
                      : like);
        out.values << QStringLiteral("%") + pattern + QStringLiteral("%");
    }
    const std::pair<const QString*, const char*> exact[] = {{&filter.probeName, "ProbeName"},
                                                            {&filter.workpiece, "PartID"},
                                                            {&filter.sourceFile, "SourceFile"}};
    for (const auto& [text, name] : exact) {
        if (!text->isEmpty()) {
            where << column(name) + QStringLiteral(" = ?");
            out.values << *text;
        }
    }
    if (!where.isEmpty()) {
        out.sql = QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    }
    return out;
}

const char* ReportArchive::sortColumnName(ArchiveSort sort) {
    switch (sort) {
    case ArchiveSort::FileName:
        return "FileName";
    case ArchiveSort::FileDate:
        break;
    case ArchiveSort::ProbeName:
        return "ProbeName";
    case ArchiveSort::Workpiece:
        return "PartID";
    case ArchiveSort::SourceFile:
        return "SourceFile";
    case ArchiveSort::ImportedAt:
        return "ImportedAt";
    case ArchiveSort::ImportedBy:
        return "ImportedBy";
    }
    return "FileDate";
}

QString ReportArchive::orderBy(const ArchiveFilter& filter, bool reversed) const {
    const bool descending = filter.descending != reversed;
    const QString direction = descending ? QStringLiteral(" DESC") : QStringLiteral(" ASC");
    // An empty value sorts below every other on both: SQLite's own order, and PostgreSQL's once
    // told (its indexes are made so).
    const QString nulls = !server_     ? QString()
                          : descending ? QStringLiteral(" NULLS LAST")
                                       : QStringLiteral(" NULLS FIRST");
    return QStringLiteral(" ORDER BY %1%2%3, \"ArchiveID\"%2")
        .arg(quoted(QLatin1String(sortColumnName(filter.sortBy))), direction, nulls);
}

std::optional<qint64> ReportArchive::countNow(const ArchiveFilter& filter) {
    lastError_.clear();
    matches_.reset();
    const Condition where = condition(filter, Steer::Plain);
    // Another filter finds its rows through its index.
    if (!filter.nameContains.isEmpty() && !filter.from.isValid() && !filter.to.isValid() &&
        filter.probeName.isEmpty() && filter.workpiece.isEmpty() && filter.sourceFile.isEmpty()) {
        return countNames(where);
    }
    return countRows(where);
}

std::optional<qint64> ReportArchive::countNames(Condition where) {
    if (server_) {
        return countServerNames(where);
    }
    const qint64 kept = sortedInMemory_;
    // The name index read in order; where the matches are more, counted on after the last one
    // read: every name is read once.
    QSqlQuery q(db_);
    if (!selectUpTo(q, kept + 1,
                    QStringLiteral("SELECT \"ArchiveID\" FROM %1%2 ORDER BY \"FileName\", "
                                   "\"ArchiveID\""),
                    where)) {
        return std::nullopt;
    }
    std::vector<qint64> ids;
    while (q.next()) {
        ids.push_back(q.value(0).toLongLong());
    }
    if (q.lastError().isValid()) {
        lastError_ = q.lastError().text();
        return std::nullopt;
    }
    const auto read = static_cast<qint64>(ids.size());
    if (read <= kept) {
        QString found = QStringLiteral(" WHERE 0 = 1");
        if (!ids.empty()) {
            // Ids the archive made: no text of anybody's in the statement.
            found = QStringLiteral(" WHERE \"ArchiveID\" IN (");
            for (const qint64 id : ids) {
                found += QString::number(id) + QLatin1Char(',');
            }
            found.back() = QLatin1Char(')');
        }
        matches_ = Matches{where.sql, where.values, found};
        return read;
    }
    where.sql += QStringLiteral(" AND (\"FileName\", \"ArchiveID\") > ((SELECT \"FileName\" FROM "
                                "%1 WHERE \"ArchiveID\" = ?), ?)")
                     .arg(QLatin1String(kTable));
    where.values << ids.back() << ids.back();
    const auto rest = countRows(where);
    return rest ? std::optional<qint64>(read + *rest) : std::nullopt;
}

bool ReportArchive::selectUpTo(QSqlQuery& q, qint64 rows, const QString& select,
                               const Condition& where) {
    QVariantList values = where.values;
    values << rows;
    q.setForwardOnly(true);
    if (!execute(q, select.arg(QLatin1String(kTable), where.sql) + QStringLiteral(" LIMIT ?"),
                 values)) {
        lastError_ = q.lastError().text();
        return false;
    }
    return true;
}

std::optional<qint64> ReportArchive::countServerNames(const Condition& where) {
    const qint64 kept = sortedInMemory_;
    // The server reads the names' index in parallel, in no order that could be counted on
    // from. Where its planner expects few matches it is asked for the names that match, each
    // with its number (names repeat: fewer than the rows), and the pages find their rows
    // through the same index by these names.
    const auto expected = estimatedRows(where);
    if (!expected) {
        return std::nullopt;
    }
    if (*expected > static_cast<double>(kept)) {
        return countRows(where);
    }
    QSqlQuery q(db_);
    if (!selectUpTo(q, kept + 1,
                    QStringLiteral("SELECT \"FileName\", count(*) FROM %1%2 GROUP BY \"FileName\""),
                    where)) {
        return std::nullopt;
    }
    QString found;
    qint64 names = 0;
    qint64 total = 0;
    while (q.next()) {
        QSqlField name(QString(), QMetaType::fromType<QString>());
        name.setValue(q.value(0));
        found += (++names == 1 ? QStringLiteral(" WHERE \"FileName\" IN (") : QStringLiteral(",")) +
                 db_.driver()->formatValue(name);
        total += q.value(1).toLongLong();
    }
    if (q.lastError().isValid()) {
        lastError_ = q.lastError().text();
        return std::nullopt;
    }
    if (names > kept) {
        return countRows(where); // the planner was wrong
    }
    if (total <= kept) {
        matches_ = Matches{where.sql, where.values,
                           names == 0 ? QStringLiteral(" WHERE 0 = 1") : found + QLatin1Char(')')};
    }
    return total;
}

std::optional<double> ReportArchive::estimatedRows(const Condition& where) {
    // EXPLAIN cannot be prepared: the values go into its text as the driver writes literals.
    QString sql = QStringLiteral("EXPLAIN (FORMAT JSON) SELECT \"ArchiveID\" FROM %1%2")
                      .arg(QLatin1String(kTable), where.sql);
    qsizetype at = 0;
    for (const QVariant& value : where.values) {
        at = sql.indexOf(QLatin1Char('?'), at);
        QSqlField field(QString(), value.metaType());
        field.setValue(value);
        const QString literal = db_.driver()->formatValue(field);
        sql.replace(at, 1, literal);
        at += literal.size();
    }
    QSqlQuery q(db_);
    if (!q.exec(sql) || !q.next()) {
        lastError_ = q.lastError().text();
        return std::nullopt;
    }
    const QJsonArray plans = QJsonDocument::fromJson(q.value(0).toString().toUtf8()).array();
    return plans.at(0)
        .toObject()
        .value(QLatin1String("Plan"))
        .toObject()
        .value(QLatin1String("Plan Rows"))
        .toDouble();
}

std::optional<qint64> ReportArchive::countRows(const Condition& where) {
    // Without a filter SQLite would count the widest of the narrow indexes, the hashes';
    // the workpieces' is the narrowest, mostly empty.
    const QString table =
        !server_ && where.sql.isEmpty()
            ? QStringLiteral("%1 INDEXED BY \"ixArchivePart\"").arg(QLatin1String(kTable))
            : QLatin1String(kTable);
    QSqlQuery q(db_);
    q.setForwardOnly(true);
    if (!execute(q, QStringLiteral("SELECT count(*) FROM %1%2").arg(table, where.sql),
                 where.values) ||
        !q.next()) {
        lastError_ = q.lastError().text();
        return std::nullopt;
    }
    return q.value(0).toLongLong();
}

bool ReportArchive::runPage(QSqlQuery& q, const ArchiveFilter& filter, qint64 total,
                            const QString& columns, bool& reversed) {
    lastError_.clear();
    qint64 offset = std::max(0, filter.offset);
    qint64 limit = std::max(0, filter.limit);
    // A page past the middle is read from the end, which skips fewer rows: the last page of
    // a million is as quick as the first.
    reversed = total >= 0 && offset + limit / 2 > total / 2;
    if (reversed) {
        limit = std::max<qint64>(0, std::min(limit, total - offset));
        offset = std::max<qint64>(0, total - offset - limit);
    }
    const Steer steer = server_ || total < 0       ? Steer::Plain
                        : total <= sortedInMemory_ ? Steer::Sparse
                                                   : Steer::Dense;
    Condition where = condition(filter, steer);
    if (matches_ && !filter.nameContains.isEmpty()) {
        const Condition plain = condition(filter, Steer::Plain);
        if (plain.sql == matches_->where && plain.values == matches_->values) {
            where = {matches_->found, {}};
        }
    }
    where.values << limit << offset;
    q.setForwardOnly(true);
    if (!execute(q,
                 QStringLiteral("SELECT %1 FROM %2%3%4 LIMIT ? OFFSET ?")
                     .arg(columns, QLatin1String(kTable), where.sql, orderBy(filter, reversed)),
                 where.values)) {
        lastError_ = q.lastError().text();
        return false;
    }
    return true;
}

std::optional<std::vector<ArchiveEntry>> ReportArchive::entriesNow(const ArchiveFilter& filter,
                                                                   qint64 total) {
    QSqlQuery q(db_);
    bool reversed = false;
    if (!runPage(q, filter, total, entryColumns(), reversed)) {
        return std::nullopt;
    }
    std::vector<ArchiveEntry> out;
    out.reserve(static_cast<std::size_t>(std::max(0, filter.limit)));
    while (q.next()) {
        out.push_back(readEntry(q, 0));
    }
    if (reversed) {
        std::reverse(out.begin(), out.end());
    }
    return out;
}

std::optional<std::vector<qint64>> ReportArchive::idsNow(const ArchiveFilter& filter,
                                                         qint64 total) {
    QSqlQuery q(db_);
    bool reversed = false;
    if (!runPage(q, filter, total, QStringLiteral("\"ArchiveID\""), reversed)) {
        return std::nullopt;
    }
    std::vector<qint64> out;
    out.reserve(static_cast<std::size_t>(std::max(0, filter.limit)));
    while (q.next()) {
        out.push_back(q.value(0).toLongLong());
    }
    if (reversed) {
        std::reverse(out.begin(), out.end());
    }
    return out;
}

std::optional<ArchivePage> ReportArchive::list(const ArchiveFilter& filter) {
    const auto total = count(filter);
    if (!total) {
        return std::nullopt;
    }
    auto page = entries(filter, *total);
    if (!page) {
        return std::nullopt;
    }
    return ArchivePage{std::move(*page), *total};
}

std::optional<qint64> ReportArchive::positionNow(const ArchiveFilter& filter, qint64 id) {
    lastError_.clear();
    const QString sort = quoted(QLatin1String(sortColumnName(filter.sortBy)));
    Condition where = condition(filter, Steer::Plain);
    QSqlQuery q(db_);
    q.setForwardOnly(true);
    QVariantList values = where.values;
    values << id;
    if (!execute(q,
                 QStringLiteral("SELECT %1 FROM %2%3%4 \"ArchiveID\" = ?")
                     .arg(sort, QLatin1String(kTable), where.sql,
                          where.sql.isEmpty() ? QStringLiteral(" WHERE") : QStringLiteral(" AND")),
                 values)) {
        lastError_ = q.lastError().text();
        return std::nullopt;
    }
    if (!q.next()) {
        return std::nullopt; // the filter leaves it out
    }
    const QVariant value = q.value(0);
    q.finish();
    // The rows before it: on the far side of its value, or on its value and nearer by arrival.
    // An empty value is below every other.
    const bool down = filter.descending;
    const QString idBefore =
        down ? QStringLiteral("\"ArchiveID\" > ?") : QStringLiteral("\"ArchiveID\" < ?");
    QString before;
    if (value.isNull()) {
        before = down ? QStringLiteral("(%1 IS NOT NULL OR %2)").arg(sort, idBefore)
                      : QStringLiteral("(%1 IS NULL AND %2)").arg(sort, idBefore);
        where.values << id;
    } else {
        before =
            down ? QStringLiteral("(%1 > ? OR (%1 = ? AND %2))").arg(sort, idBefore)
                 : QStringLiteral("(%1 IS NULL OR %1 < ? OR (%1 = ? AND %2))").arg(sort, idBefore);
        where.values << value << value << id;
    }
    if (!execute(q,
                 QStringLiteral("SELECT count(*) FROM %1%2%3 %4")
                     .arg(QLatin1String(kTable), where.sql,
                          where.sql.isEmpty() ? QStringLiteral(" WHERE") : QStringLiteral(" AND"),
                          before),
                 where.values) ||
        !q.next()) {
        lastError_ = q.lastError().text();
        return std::nullopt;
    }
    return q.value(0).toLongLong();
}

std::optional<ArchivedReport> ReportArchive::fetchNow(qint64 id) {
    lastError_.clear();
    QSqlQuery q(db_);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT d.\"SlotBytes\", %1 FROM %2 a JOIN %3 d ON d.\"ArchiveID\" = "
                             "a.\"ArchiveID\" WHERE a.\"ArchiveID\" = ?")
                  .arg(entryColumns(QStringLiteral("a.")), QLatin1String(kTable),
                       QLatin1String(kDataTable)));
    q.addBindValue(id);
    if (!q.exec()) {
        lastError_ = q.lastError().text();
        return std::nullopt;
    }
    if (!q.next()) {
        return std::nullopt;
    }
    ArchivedReport report;
    report.entry = readEntry(q, 1);
    const QByteArray bytes = qUncompress(q.value(0).toByteArray());
    if (bytes.size() != kReportBytes) {
        lastError_ = QStringLiteral("archived report %1: its bytes are damaged").arg(id);
        return std::nullopt;
    }
    const auto* b = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    reports::ReportRow row = reports::decodeReportSlot(
        static_cast<std::uint16_t>(report.entry.fileNum), b, b + reports::kDirectoryEntrySize);
    row.ReportHash = report.entry.hash;
    report.row = reports::DataStore::reportRecord(row);
    return report;
}

bool ReportArchive::assignNow(const QList<qint64>& ids, const QString& partId) {
    Transaction tx(db_, server_);
    if (!tx.isOpen()) {
        lastError_ = tx.error();
        return false;
    }
    QSqlQuery q(db_);
    q.prepare(QStringLiteral("UPDATE %1 SET \"PartID\" = ? WHERE \"ArchiveID\" = ?")
                  .arg(QLatin1String(kTable)));
    for (const qint64 id : ids) {
        q.bindValue(0, partId.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : partId);
        q.bindValue(1, id);
        if (!q.exec()) {
            lastError_ = q.lastError().text();
            return false;
        }
        if (q.numRowsAffected() != 1) {
            lastError_ = QStringLiteral("no archived report %1").arg(id);
            return false;
        }
    }
    if (!tx.commit()) {
        lastError_ = tx.error();
        return false;
    }
    return true;
}

std::optional<QStringList> ReportArchive::distinctNow(const char* column) {
    QStringList out;
    QSqlQuery q(db_);
    q.setForwardOnly(true);
    const QString c = quoted(QLatin1String(column));
    // One seek in the column's index a value, instead of reading every report's entry: a lab
    // has a few probes and a source file a thousand reports.
    if (!q.exec(QStringLiteral("WITH RECURSIVE v(x) AS (SELECT min(%1) FROM %2 WHERE %1 > '' "
                               "UNION ALL SELECT (SELECT min(%1) FROM %2 WHERE %1 > v.x) FROM v "
                               "WHERE v.x IS NOT NULL) SELECT x FROM v WHERE x IS NOT NULL")
                    .arg(c, QLatin1String(kTable)))) {
        lastError_ = q.lastError().text();
        return std::nullopt;
    }
    while (q.next()) {
        out << q.value(0).toString();
    }
    return out;
}

QStringList ReportArchive::probeNames() {
    return reconnecting([&] { return distinctNow("ProbeName"); }).value_or(QStringList());
}

QStringList ReportArchive::sourceFiles() {
    return reconnecting([&] { return distinctNow("SourceFile"); }).value_or(QStringList());
}

void archiveEveryImport(reports::DataStore& store, std::function<ImportedImage()> image,
                        std::function<QString()> user) {
    store.setImportHook([&store, image = std::move(image), user = std::move(user)](
                            const std::vector<ReportRow>& rows, reports::ReplaceResult& result) {
        const ImportedImage imported = image();
        const QString source =
            imported.path.isEmpty() ? QString() : QFileInfo(imported.path).fileName();
        const AddResult added = ReportArchive(store.archiveDb())
                                    .add(imported.bytes, rows, ImportOrigin{source, user()});
        result.archived = added.added;
        result.alreadyArchived = added.known;
        result.archiveError = added.error;
    });
}

} // namespace ufd::archive
