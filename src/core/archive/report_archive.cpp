#include "core/archive/report_archive.h"

#include "core/reports/database.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <algorithm>
#include <cstring>

namespace ufd::archive {

using reports::ReportRow;

namespace {

constexpr char kTable[] = "\"tabReportArchive\"";
constexpr char kDataTable[] = "\"tabReportArchiveData\"";
constexpr char kStamp[] = "yyyy-MM-dd hh:mm:ss";
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

// The columns of a list entry, in ArchiveEntry's order, each after `prefix`.
QString entryColumns(const QString& prefix = QString()) {
    QStringList out;
    for (const char* c : {"ArchiveID", "FileName", "FileDate", "FileNum", "ProbeName", "PartID",
                          "SourceFile", "ImportedAt", "ImportedBy", "ReportHash"}) {
        out << prefix + quoted(QLatin1String(c));
    }
    return out.join(QStringLiteral(", "));
}

QDateTime stampTime(const QVariant& v) {
    if (v.isNull()) {
        return {};
    }
    QDateTime t = QDateTime::fromString(v.toString(), QLatin1String(kStamp));
    t.setTimeSpec(Qt::UTC);
    return t;
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

// A transaction that takes the write lock at once on SQLite, so that two importers wait for
// each other instead of failing when both try to upgrade a read lock.
class Transaction {
public:
    Transaction(QSqlDatabase& db, bool server) : db_(db), server_(server) {
        QSqlQuery q(db_);
        open_ = server_ ? db_.transaction() : q.exec(QStringLiteral("BEGIN IMMEDIATE"));
        if (!open_) {
            error_ = server_ ? db_.lastError().text() : q.lastError().text();
        }
    }
    ~Transaction() {
        if (open_) {
            server_ ? db_.rollback() : QSqlQuery(db_).exec(QStringLiteral("ROLLBACK"));
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    bool isOpen() const { return open_; }
    QString error() const { return error_; }
    bool commit() {
        QSqlQuery q(db_);
        const bool ok = server_ ? db_.commit() : q.exec(QStringLiteral("COMMIT"));
        if (!ok) {
            error_ = server_ ? db_.lastError().text() : q.lastError().text();
        }
        open_ = !ok && open_;
        return ok;
    }

private:
    QSqlDatabase& db_;
    bool server_;
    bool open_ = false;
    QString error_;
};

// Runs `sql` with `values` bound; Qt's PostgreSQL driver cannot run a prepared statement without
// values, so such a statement runs directly.
bool execute(QSqlQuery& q, const QString& sql, const QVariantList& values) {
    if (values.isEmpty()) {
        return q.exec(sql);
    }
    if (!q.prepare(sql)) {
        return false;
    }
    for (int i = 0; i < values.size(); ++i) {
        q.bindValue(i, values[i]);
    }
    return q.exec();
}

// Another importer held the lock or chose the same rows in another order: trying again helps.
bool worthRetrying(const QSqlError& e) {
    const QString code = e.nativeErrorCode();
    return code == QLatin1String("40P01") || code == QLatin1String("40001") ||
           code == QLatin1String("5") || code == QLatin1String("6");
}

struct Pending {
    QByteArray hash;   // hexadecimal
    QByteArray packed; // directory entry and slot, compressed
    QSqlRecord record; // its columns, made before the transaction as well
};

} // namespace

ReportArchive::ReportArchive(QSqlDatabase db)
    : db_(std::move(db)), server_(reports::isServer(db_)) {}

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

AddResult ReportArchive::add(const QByteArray& image, const ImportOrigin& origin) {
    return add(image, reports::decodeReportFile(image).rows, origin);
}

AddResult ReportArchive::add(const QByteArray& image, const std::vector<ReportRow>& rows,
                             const ImportOrigin& origin) {
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

    std::vector<Pending> pending;
    pending.reserve(rows.size());
    for (const ReportRow& row : rows) {
        const auto slot = static_cast<std::size_t>(row.FileNum);
        QByteArray bytes(kReportBytes, Qt::Uninitialized);
        std::memcpy(bytes.data(),
                    b + reports::kDirectoryOffset + reports::kDirectoryEntrySize * slot,
                    reports::kDirectoryEntrySize);
        std::memcpy(bytes.data() + reports::kDirectoryEntrySize,
                    b + reports::kSlotsOffset + reports::kSlotSize * slot, reports::kSlotSize);
        // Compressed before the transaction, so that other importers wait less; the fastest
        // level, as the waveform's noise leaves little for more effort to gain.
        pending.push_back({QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex(),
                           qCompress(bytes, 1), reports::DataStore::reportRecord(row)});
    }
    // Every importer takes the rows in one order, so two of them sharing reports wait for each
    // other instead of deadlocking.
    std::sort(pending.begin(), pending.end(),
              [](const Pending& x, const Pending& y) { return x.hash < y.hash; });

    const QSqlRecord& cols = archivedColumns();
    QStringList names{QStringLiteral("\"ReportHash\""), QStringLiteral("\"SourceFile\""),
                      QStringLiteral("\"ImportedAt\""), QStringLiteral("\"ImportedBy\"")};
    for (int i = 0; i < cols.count(); ++i) {
        names << quoted(cols.fieldName(i));
    }
    QStringList marks;
    marks.fill(QStringLiteral("?"), names.size());
    const QString insertSql =
        QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) ON CONFLICT (\"ReportHash\") DO NOTHING "
                       "RETURNING \"ArchiveID\"")
            .arg(QLatin1String(kTable), names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
    const QString dataSql =
        QStringLiteral("INSERT INTO %1 (\"ArchiveID\", \"SlotBytes\") VALUES (?, ?)")
            .arg(QLatin1String(kDataTable));
    const QString& source = origin.sourceFile;
    const QString when = origin.importedAt.toUTC().toString(QLatin1String(kStamp));

    for (int attempt = 1;; ++attempt) {
        result = AddResult{};
        QSqlError failure;
        {
            Transaction tx(db_, server_);
            if (!tx.isOpen()) {
                result.error = tx.error();
                return result;
            }
            QSqlQuery ins(db_);
            QSqlQuery data(db_);
            if (!ins.prepare(insertSql) || !data.prepare(dataSql)) {
                result.error = (ins.lastError().isValid() ? ins : data).lastError().text();
                return result;
            }
            for (const Pending& p : pending) {
                const QSqlRecord& rec = p.record;
                ins.bindValue(0, QString::fromLatin1(p.hash));
                ins.bindValue(1, source.isEmpty() ? QVariant(QMetaType::fromType<QString>())
                                                  : QVariant(source));
                ins.bindValue(2, when);
                ins.bindValue(3, origin.user);
                for (int i = 0; i < cols.count(); ++i) {
                    ins.bindValue(4 + i, rec.value(i));
                }
                if (!ins.exec()) {
                    failure = ins.lastError();
                    break;
                }
                if (!ins.next()) {
                    ++result.known; // another import brought it first
                    continue;
                }
                data.bindValue(0, ins.value(0).toLongLong());
                data.bindValue(1, p.packed);
                if (!data.exec()) {
                    failure = data.lastError();
                    break;
                }
                ++result.added;
            }
            ins.finish();
            if (!failure.isValid() && tx.commit()) {
                return result;
            }
            if (!failure.isValid()) {
                result.error = tx.error();
                return result;
            }
        }
        if (attempt == kAttempts || !worthRetrying(failure)) {
            result = AddResult{};
            result.error = failure.text();
            return result;
        }
    }
}

std::optional<ArchivePage> ReportArchive::list(const ArchiveFilter& filter) {
    QStringList where;
    QVariantList values;
    if (filter.from.isValid()) {
        where << QStringLiteral("\"FileDate\" >= ?");
        values << filter.from.toString(QLatin1String(kStamp));
    }
    if (filter.to.isValid()) {
        where << QStringLiteral("\"FileDate\" <= ?");
        values << filter.to.toString(QLatin1String(kStamp));
    }
    if (!filter.nameContains.isEmpty()) {
        QString pattern = filter.nameContains;
        pattern.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
            .replace(QLatin1Char('%'), QLatin1String("\\%"))
            .replace(QLatin1Char('_'), QLatin1String("\\_"));
        // SQLite's LIKE ignores the case of A-Z already; PostgreSQL's needs the I.
        where << (server_ ? QStringLiteral("\"FileName\" ILIKE ? ESCAPE '\\'")
                          : QStringLiteral("\"FileName\" LIKE ? ESCAPE '\\'"));
        values << QStringLiteral("%") + pattern + QStringLiteral("%");
    }
    const std::pair<const QString*, const char*> exact[] = {{&filter.probeName, "ProbeName"},
                                                            {&filter.workpiece, "PartID"},
                                                            {&filter.sourceFile, "SourceFile"}};
    for (const auto& [text, column] : exact) {
        if (!text->isEmpty()) {
            where << quoted(QLatin1String(column)) + QStringLiteral(" = ?");
            values << *text;
        }
    }
    const QString condition = where.isEmpty()
                                  ? QString()
                                  : QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));

    ArchivePage page;
    QSqlQuery q(db_);
    q.setForwardOnly(true);
    if (!execute(q,
                 QStringLiteral("SELECT count(*) FROM %1%2").arg(QLatin1String(kTable), condition),
                 values) ||
        !q.next()) {
        lastError_ = q.lastError().text();
        return std::nullopt;
    }
    page.total = q.value(0).toLongLong();
    q.finish();
    values << std::max(0, filter.limit) << std::max(0, filter.offset);
    if (!execute(q,
                 QStringLiteral("SELECT %1 FROM %2%3 ORDER BY \"FileDate\" DESC NULLS LAST, "
                                "\"ArchiveID\" DESC LIMIT ? OFFSET ?")
                     .arg(entryColumns(), QLatin1String(kTable), condition),
                 values)) {
        lastError_ = q.lastError().text();
        return std::nullopt;
    }
    while (q.next()) {
        page.entries.push_back(readEntry(q, 0));
    }
    return page;
}

std::optional<ArchivedReport> ReportArchive::fetch(qint64 id) {
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
    report.row = reports::DataStore::reportRecord(reports::decodeReportSlot(
        static_cast<std::uint16_t>(report.entry.fileNum), b, b + reports::kDirectoryEntrySize));
    return report;
}

bool ReportArchive::assignWorkpiece(const QList<qint64>& ids, const QString& partId) {
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

QStringList ReportArchive::distinct(const char* column) {
    QStringList out;
    QSqlQuery q(db_);
    q.setForwardOnly(true);
    const QString c = quoted(QLatin1String(column));
    if (!q.exec(QStringLiteral("SELECT DISTINCT %1 FROM %2 WHERE %1 <> '' ORDER BY %1")
                    .arg(c, QLatin1String(kTable)))) {
        lastError_ = q.lastError().text();
        return out;
    }
    while (q.next()) {
        out << q.value(0).toString();
    }
    return out;
}

QStringList ReportArchive::probeNames() {
    return distinct("ProbeName");
}

QStringList ReportArchive::sourceFiles() {
    return distinct("SourceFile");
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
