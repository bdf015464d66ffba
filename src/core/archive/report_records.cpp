#include "core/archive/report_records.h"

#include "core/accounts/user_accounts.h"
#include "core/archive/sql_transaction.h"
#include "core/archive/stamps.h"
#include "core/reports/database.h"

#include <QCryptographicHash>
#include <QDate>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <array>

namespace ufd::archive {

namespace {

// Makes a report's details row where it has none yet, so that an UPDATE finds it; the id is
// bound twice.
constexpr char kDetailsRowIfMissing[] =
    "INSERT INTO \"tabReportDetails\" (\"ArchiveID\") SELECT ? WHERE NOT EXISTS (SELECT 1 FROM "
    "\"tabReportDetails\" WHERE \"ArchiveID\" = ?)";

struct FieldInfo {
    const char* name;
    const char* column;
    const char* label;
};
constexpr std::array<FieldInfo, 10> kFields{{
    {kProcedure, "Procedure", "Procedure"},
    {kAcceptance, "Acceptance", "Acceptance"},
    {kEvaluation, "Evaluation", "Evaluation"},
    {kNotes, "Notes", "Notes"},
    {kCouplant, "Couplant", "Couplant"},
    {kBlock, "Block", "Calibration block"},
    {kInstrument, "Instrument", "Instrument"},
    {kInstrumentSerial, "InstrumentSerial", "Instrument serial"},
    {kCalibrationDue, "CalibrationDue", "Calibration due"},
    {kLocation, "Location", "Location"},
}};
constexpr std::size_t kFirstStationField = 6;

const FieldInfo* fieldInfo(const QString& field) {
    for (const FieldInfo& f : kFields) {
        if (field == QLatin1String(f.name)) {
            return &f;
        }
    }
    return nullptr;
}

QString quoted(const char* name) {
    return QLatin1Char('"') + QLatin1String(name) + QLatin1Char('"');
}

// The detail columns, each after `prefix`.
QString detailColumns(const QString& prefix, std::size_t first = 0) {
    QStringList out;
    for (std::size_t i = first; i < kFields.size(); ++i) {
        out << prefix + quoted(kFields[i].column);
    }
    return out.join(QStringLiteral(", "));
}

QVariant textOrNull(const QString& s) {
    return s.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(s);
}

// A SQL text literal, for the one statement that cannot take a bound value (a trigger's body).
QString literal(const QString& s) {
    QString out = s;
    out.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + out + QLatin1Char('\'');
}

} // namespace

QStringList detailFields() {
    QStringList out;
    for (const FieldInfo& f : kFields) {
        out << QLatin1String(f.name);
    }
    return out;
}

QStringList stationFields() {
    return detailFields().mid(static_cast<qsizetype>(kFirstStationField));
}

QStringList evaluations() {
    return {QStringLiteral("accept"), QStringLiteral("reject"), QStringLiteral("repair"),
            QStringLiteral("retest"), QLatin1String(kNotEvaluated)};
}

QString detailLabel(const QString& field) {
    const FieldInfo* f = fieldInfo(field);
    return f ? QLatin1String(f->label) : field;
}

QString checkDetail(const QString& field, const QString& value) {
    if (!fieldInfo(field)) {
        return QStringLiteral("\"%1\" is no detail; the details are %2")
            .arg(field, detailFields().join(QStringLiteral(", ")));
    }
    if (field == QLatin1String(kEvaluation) && !evaluations().contains(value)) {
        return QStringLiteral("the evaluation is one of %1, not \"%2\"")
            .arg(evaluations().join(QStringLiteral(", ")), value);
    }
    if (field == QLatin1String(kCalibrationDue) && !value.isEmpty() &&
        !QDate::fromString(value, Qt::ISODate).isValid()) {
        return QStringLiteral("the calibration due date is a date, yyyy-MM-dd, not \"%1\"")
            .arg(value);
    }
    return {};
}

QString defaultLocation() {
    return QStringLiteral("Beijing");
}

QString ReportRecord::value(const QString& field) const {
    const auto it = details.find(field);
    return it == details.end() ? QString() : it->second;
}

QString reportNumber(qint64 archiveId, int revision) {
    return QStringLiteral("%1-R%2").arg(archiveId).arg(revision);
}

QString checkedText(const std::optional<Signature>& signature) {
    if (!signature) {
        return QStringLiteral("not checked");
    }
    return QStringLiteral("%1, %2 UTC")
        .arg(signature->checker, signature->at.toString(QLatin1String(kStamp)));
}

QString examinerText(const QString& examiner, const QString& qualification) {
    return qualification.isEmpty() ? examiner
                                   : QStringLiteral("%1 (%2)").arg(examiner, qualification);
}

QString ReportRecord::number() const {
    return reportNumber(archiveId, revision);
}

QString ReportRecord::hash() const {
    QJsonArray parts{QStringLiteral("ufd-record-1"), reportHash, revision, examiner};
    for (const QString& field : detailFields()) {
        parts.append(value(field));
    }
    return QString::fromLatin1(
        QCryptographicHash::hash(QJsonDocument(parts).toJson(QJsonDocument::Compact),
                                 QCryptographicHash::Sha256)
            .toHex());
}

QString stationName() {
    const QString named = qEnvironmentVariable("UFD_STATION").trimmed();
    if (!named.isEmpty()) {
        return named;
    }
    const QString host = QSysInfo::machineHostName();
    return host.isEmpty() ? QStringLiteral("station") : host;
}

QString stationLocation(const QSqlDatabase& archiveDb) {
    const StationDetails station = ReportRecords(archiveDb).station(stationName());
    const auto it = station.values.find(QLatin1String(kLocation));
    return it == station.values.end() ? QString() : it->second;
}

QStringList recordSchemaStatements(bool server) {
    const QString archiveKey = server ? QStringLiteral("BIGINT") : QStringLiteral("INTEGER");
    QStringList detailDefs;
    for (const FieldInfo& f : kFields) {
        detailDefs << quoted(f.column) +
                          (qstrcmp(f.name, kEvaluation) == 0
                               ? QStringLiteral(" TEXT NOT NULL DEFAULT '%1'").arg(kNotEvaluated)
                               : QStringLiteral(" TEXT"));
    }
    QStringList stationDefs;
    for (std::size_t i = kFirstStationField; i < kFields.size(); ++i) {
        stationDefs << quoted(kFields[i].column) + QStringLiteral(" TEXT");
    }
    QStringList out{
        QStringLiteral("CREATE TABLE IF NOT EXISTS \"tabStation\" (\"Station\" TEXT PRIMARY KEY, "
                       "%1)")
            .arg(stationDefs.join(QStringLiteral(", "))),
        // The record as it stands: the current revision, its details and its signature.
        QStringLiteral("CREATE TABLE IF NOT EXISTS \"tabReportDetails\" (\"ArchiveID\" %1 "
                       "PRIMARY KEY REFERENCES \"tabReportArchive\" (\"ArchiveID\"), \"Revision\" "
                       "INTEGER NOT NULL DEFAULT 1, \"Station\" TEXT, %2, \"CheckedBy\" TEXT, "
                       "\"CheckedAt\" TEXT, \"CheckedHash\" TEXT)")
            .arg(archiveKey, detailDefs.join(QStringLiteral(", "))),
        // How it came to stand so: every import, change and signature, never rewritten.
        QStringLiteral("CREATE TABLE IF NOT EXISTS \"tabReportHistory\" (\"EventID\" %1 PRIMARY "
                       "KEY, \"ArchiveID\" %2 NOT NULL REFERENCES \"tabReportArchive\" "
                       "(\"ArchiveID\"), \"Revision\" INTEGER NOT NULL, \"Event\" TEXT NOT NULL, "
                       "\"Field\" TEXT, \"OldValue\" TEXT, \"NewValue\" TEXT, \"Reason\" TEXT, "
                       "\"UserName\" TEXT, \"At\" TEXT NOT NULL, \"Hash\" TEXT)")
            .arg(server ? QStringLiteral("BIGINT GENERATED BY DEFAULT AS IDENTITY")
                        : QStringLiteral("INTEGER"),
                 archiveKey),
        QStringLiteral("CREATE INDEX IF NOT EXISTS \"ixHistoryReport\" ON \"tabReportHistory\" "
                       "(\"ArchiveID\", \"EventID\")"),
        // Reports archived before there were records: revision 1, imported when they were.
        QStringLiteral("INSERT INTO \"tabReportDetails\" (\"ArchiveID\") SELECT a.\"ArchiveID\" "
                       "FROM \"tabReportArchive\" a WHERE NOT EXISTS (SELECT 1 FROM "
                       "\"tabReportDetails\" d WHERE d.\"ArchiveID\" = a.\"ArchiveID\")"),
        QStringLiteral("INSERT INTO \"tabReportHistory\" (\"ArchiveID\", \"Revision\", \"Event\", "
                       "\"UserName\", \"At\") SELECT a.\"ArchiveID\", 1, '%1', a.\"ImportedBy\", "
                       "a.\"ImportedAt\" FROM \"tabReportArchive\" a WHERE NOT EXISTS (SELECT 1 "
                       "FROM \"tabReportHistory\" h WHERE h.\"ArchiveID\" = a.\"ArchiveID\") "
                       "ORDER BY a.\"ArchiveID\"")
            .arg(kEventImported),
    };
    if (server) {
        // One statement-level trigger per import statement: a bulk insert or COPY pays once.
        out << QStringLiteral(
                   "CREATE OR REPLACE FUNCTION \"ufdReportArchived\"() RETURNS trigger LANGUAGE "
                   "plpgsql AS $$ BEGIN "
                   "INSERT INTO \"tabReportDetails\" (\"ArchiveID\", \"Station\", %1) SELECT "
                   "n.\"ArchiveID\", NULLIF(current_setting('ufd.station', true), ''), %2 FROM "
                   "archived n LEFT JOIN \"tabStation\" s ON s.\"Station\" = "
                   "current_setting('ufd.station', true) ON CONFLICT (\"ArchiveID\") DO NOTHING; "
                   "INSERT INTO \"tabReportHistory\" (\"ArchiveID\", \"Revision\", \"Event\", "
                   "\"UserName\", \"At\") SELECT n.\"ArchiveID\", 1, '%3', n.\"ImportedBy\", "
                   "n.\"ImportedAt\" FROM archived n ORDER BY n.\"ArchiveID\"; "
                   "RETURN NULL; END $$")
                   .arg(detailColumns(QString(), kFirstStationField),
                        detailColumns(QStringLiteral("s."), kFirstStationField),
                        QLatin1String(kEventImported))
            << QStringLiteral("DROP TRIGGER IF EXISTS \"trReportArchived\" ON \"tabReportArchive\"")
            << QStringLiteral("CREATE TRIGGER \"trReportArchived\" AFTER INSERT ON "
                              "\"tabReportArchive\" REFERENCING NEW TABLE AS archived FOR EACH "
                              "STATEMENT EXECUTE FUNCTION \"ufdReportArchived\"()")
            << QStringLiteral("CREATE OR REPLACE FUNCTION \"ufdHistoryAppendOnly\"() RETURNS "
                              "trigger LANGUAGE plpgsql AS $$ BEGIN RAISE EXCEPTION "
                              "'tabReportHistory is append-only: % refused', TG_OP; END $$")
            << QStringLiteral(
                   "DROP TRIGGER IF EXISTS \"trHistoryAppendOnly\" ON \"tabReportHistory\"")
            << QStringLiteral("CREATE TRIGGER \"trHistoryAppendOnly\" BEFORE UPDATE OR DELETE OR "
                              "TRUNCATE ON \"tabReportHistory\" FOR EACH STATEMENT EXECUTE "
                              "FUNCTION \"ufdHistoryAppendOnly\"()");
    } else {
        // The station's details come from the connection's own trigger (bindStation).
        out << QStringLiteral("CREATE TRIGGER IF NOT EXISTS \"trReportArchived\" AFTER INSERT ON "
                              "\"tabReportArchive\" BEGIN "
                              "INSERT OR IGNORE INTO \"tabReportDetails\" (\"ArchiveID\") VALUES "
                              "(NEW.\"ArchiveID\"); "
                              "INSERT INTO \"tabReportHistory\" (\"ArchiveID\", \"Revision\", "
                              "\"Event\", \"UserName\", \"At\") VALUES (NEW.\"ArchiveID\", 1, "
                              "'%1', NEW.\"ImportedBy\", NEW.\"ImportedAt\"); END")
                   .arg(kEventImported);
        for (const auto& [name, op] :
             {std::pair{"trHistoryNoUpdate", "UPDATE"}, std::pair{"trHistoryNoDelete", "DELETE"}}) {
            out << QStringLiteral("CREATE TRIGGER IF NOT EXISTS \"%1\" BEFORE %2 ON "
                                  "\"tabReportHistory\" BEGIN SELECT RAISE(ABORT, "
                                  "'tabReportHistory is append-only: %2 refused'); END")
                       .arg(QLatin1String(name), QLatin1String(op));
        }
    }
    return out;
}

bool bindStation(QSqlDatabase& db, const QString& station, QString& error) {
    QSqlQuery q(db);
    if (reports::isServer(db)) {
        if (!execute(q, QStringLiteral("SELECT set_config('ufd.station', ?, false)"), {station})) {
            error = q.lastError().text();
            return false;
        }
        return true;
    }
    // SQLite has no session variable; a trigger of this connection alone knows the name.
    const QString name = literal(station);
    const QStringList statements{
        QStringLiteral("DROP TRIGGER IF EXISTS temp.\"trStationTakeOver\""),
        QStringLiteral("CREATE TEMP TRIGGER \"trStationTakeOver\" AFTER INSERT ON "
                       "main.\"tabReportArchive\" BEGIN INSERT INTO \"tabReportDetails\" "
                       "(\"ArchiveID\", \"Station\", %1) SELECT NEW.\"ArchiveID\", %2, %3 FROM "
                       "(SELECT 1) LEFT JOIN \"tabStation\" s ON s.\"Station\" = %2 WHERE true "
                       "ON CONFLICT (\"ArchiveID\") DO UPDATE SET \"Station\" = "
                       "excluded.\"Station\", %4; END")
            .arg(detailColumns(QString(), kFirstStationField), name,
                 detailColumns(QStringLiteral("s."), kFirstStationField), [] {
                     QStringList sets;
                     for (std::size_t i = kFirstStationField; i < kFields.size(); ++i) {
                         sets << quoted(kFields[i].column) + QStringLiteral(" = excluded.") +
                                     quoted(kFields[i].column);
                     }
                     return sets.join(QStringLiteral(", "));
                 }())};
    for (const QString& sql : statements) {
        if (!q.exec(sql)) {
            error = q.lastError().text();
            return false;
        }
    }
    return true;
}

ReportRecords::ReportRecords(QSqlDatabase db)
    : db_(std::move(db)), server_(reports::isServer(db_)) {}

std::optional<ReportRecord> ReportRecords::readRecord(const QString& where, const QVariant& key,
                                                      bool lock) {
    QSqlQuery q(db_);
    q.setForwardOnly(true);
    // The report's own row is the lock: two stations changing one record take turns.
    const QString sql =
        QStringLiteral(
            "SELECT a.\"ArchiveID\", a.\"ReportHash\", a.\"ImportedBy\", d.\"Revision\", "
            "d.\"Station\", d.\"CheckedBy\", d.\"CheckedAt\", d.\"CheckedHash\", %1 "
            "FROM \"tabReportArchive\" a LEFT JOIN \"tabReportDetails\" d ON "
            "d.\"ArchiveID\" = a.\"ArchiveID\" WHERE a.%2 = ?%3")
            .arg(detailColumns(QStringLiteral("d.")), where,
                 lock && server_ ? QStringLiteral(" FOR UPDATE OF a") : QString());
    if (!execute(q, sql, {key})) {
        lastError_ = q.lastError().text();
        return std::nullopt;
    }
    if (!q.next()) {
        return std::nullopt;
    }
    ReportRecord r;
    r.archiveId = q.value(0).toLongLong();
    r.reportHash = q.value(1).toString();
    r.examiner = q.value(2).toString();
    r.revision = q.value(3).isNull() ? 1 : q.value(3).toInt();
    r.station = q.value(4).toString();
    if (!q.value(7).isNull()) {
        r.signature =
            Signature{q.value(5).toString(), stampTime(q.value(6)), q.value(7).toString()};
    }
    for (std::size_t i = 0; i < kFields.size(); ++i) {
        r.details[QLatin1String(kFields[i].name)] = q.value(8 + static_cast<int>(i)).toString();
    }
    if (q.value(3).isNull()) {
        r.details[QLatin1String(kEvaluation)] = QLatin1String(kNotEvaluated);
    }
    return r;
}

std::optional<ReportRecord> ReportRecords::record(qint64 archiveId) {
    lastError_.clear();
    return readRecord(QStringLiteral("\"ArchiveID\""), archiveId, false);
}

std::optional<ReportRecord> ReportRecords::recordByHash(const QString& reportHash) {
    lastError_.clear();
    return readRecord(QStringLiteral("\"ReportHash\""), reportHash, false);
}

std::optional<std::vector<HistoryEvent>> ReportRecords::history(qint64 archiveId) {
    lastError_.clear();
    QSqlQuery q(db_);
    q.setForwardOnly(true);
    if (!execute(q,
                 QStringLiteral("SELECT \"EventID\", \"Revision\", \"Event\", \"Field\", "
                                "\"OldValue\", \"NewValue\", \"Reason\", \"UserName\", \"At\", "
                                "\"Hash\" FROM \"tabReportHistory\" WHERE \"ArchiveID\" = ? ORDER "
                                "BY \"EventID\""),
                 {archiveId})) {
        lastError_ = q.lastError().text();
        return std::nullopt;
    }
    std::vector<HistoryEvent> out;
    while (q.next()) {
        HistoryEvent e;
        e.id = q.value(0).toLongLong();
        e.revision = q.value(1).toInt();
        e.event = q.value(2).toString();
        e.field = q.value(3).toString();
        e.oldValue = q.value(4).toString();
        e.newValue = q.value(5).toString();
        e.reason = q.value(6).toString();
        e.user = q.value(7).toString();
        e.at = stampTime(q.value(8));
        e.hash = q.value(9).toString();
        out.push_back(std::move(e));
    }
    return out;
}

bool ReportRecords::change(qint64 archiveId, const DetailValues& changes, const QString& reason,
                           const QString& user, const QString& expectedHash) {
    lastError_.clear();
    DetailValues wanted;
    for (const auto& [field, value] : changes) {
        // Blanks around a value are no part of it; a box and the command line agree on that.
        wanted[field] = value.trimmed();
        if (const QString why = checkDetail(field, wanted[field]); !why.isEmpty()) {
            lastError_ = why;
            return false;
        }
    }
    Transaction tx(db_, server_);
    if (!tx.isOpen()) {
        lastError_ = tx.error();
        return false;
    }
    const auto current = readRecord(QStringLiteral("\"ArchiveID\""), archiveId, true);
    if (!current) {
        if (lastError_.isEmpty()) {
            lastError_ = QStringLiteral("The archive holds no report %1.").arg(archiveId);
        }
        return false;
    }
    if (!expectedHash.isEmpty() && current->hash() != expectedHash) {
        lastError_ = QStringLiteral("Report %1 has changed since it was shown; look at it again.")
                         .arg(current->number());
        return false;
    }
    DetailValues changed;
    for (const auto& [field, value] : wanted) {
        if (current->value(field) != value) {
            changed[field] = value;
        }
    }
    if (changed.empty()) {
        return true;
    }
    const bool wasSigned = current->signature.has_value();
    if (wasSigned && reason.trimmed().isEmpty()) {
        lastError_ = QStringLiteral("Report %1 is signed: a change needs a reason, and makes "
                                    "revision %2.")
                         .arg(current->number())
                         .arg(current->revision + 1);
        return false;
    }
    const int revision = wasSigned ? current->revision + 1 : current->revision;
    const QString when = nowStamp();
    QSqlQuery q(db_);
    const auto run = [&](const QString& sql, const QVariantList& values) {
        if (!execute(q, sql, values)) {
            lastError_ = q.lastError().text();
            return false;
        }
        return true;
    };
    QStringList sets{QStringLiteral("\"Revision\" = ?"), QStringLiteral("\"CheckedBy\" = NULL"),
                     QStringLiteral("\"CheckedAt\" = NULL"),
                     QStringLiteral("\"CheckedHash\" = NULL")};
    QVariantList values{revision};
    for (const auto& [field, value] : changed) {
        sets << quoted(fieldInfo(field)->column) + QStringLiteral(" = ?");
        values << value;
    }
    values << archiveId;
    if (!run(QLatin1String(kDetailsRowIfMissing), {archiveId, archiveId}) ||
        !run(QStringLiteral("UPDATE \"tabReportDetails\" SET %1 WHERE \"ArchiveID\" = ?")
                 .arg(sets.join(QStringLiteral(", "))),
             values)) {
        return false;
    }
    for (const auto& [field, value] : changed) {
        if (!run(QStringLiteral("INSERT INTO \"tabReportHistory\" (\"ArchiveID\", \"Revision\", "
                                "\"Event\", \"Field\", \"OldValue\", \"NewValue\", \"Reason\", "
                                "\"UserName\", \"At\") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                 {archiveId, revision, QLatin1String(kEventChanged), field, current->value(field),
                  value, textOrNull(reason.trimmed()), user, when})) {
            return false;
        }
    }
    if (!tx.commit()) {
        lastError_ = tx.error();
        return false;
    }
    return true;
}

std::optional<Signature> ReportRecords::sign(qint64 archiveId, const QString& checker,
                                             const QString& expectedHash) {
    lastError_.clear();
    if (checker.isEmpty()) {
        lastError_ = QStringLiteral("Name the user who checks the report.");
        return std::nullopt;
    }
    Transaction tx(db_, server_);
    if (!tx.isOpen()) {
        lastError_ = tx.error();
        return std::nullopt;
    }
    const auto current = readRecord(QStringLiteral("\"ArchiveID\""), archiveId, true);
    if (!current) {
        if (lastError_.isEmpty()) {
            lastError_ = QStringLiteral("The archive holds no report %1.").arg(archiveId);
        }
        return std::nullopt;
    }
    if (checker == current->examiner) {
        lastError_ = QStringLiteral("%1 examined report %2 and cannot sign it: another user must "
                                    "check it.")
                         .arg(checker, current->number());
        return std::nullopt;
    }
    if (current->signature) {
        lastError_ = QStringLiteral("Report %1 is signed already, by %2.")
                         .arg(current->number(), current->signature->checker);
        return std::nullopt;
    }
    const QString hash = current->hash();
    if (!expectedHash.isEmpty() && hash != expectedHash) {
        lastError_ = QStringLiteral("Report %1 has changed since it was shown; look at it again.")
                         .arg(current->number());
        return std::nullopt;
    }
    const QString when = nowStamp();
    QSqlQuery q(db_);
    if (!execute(q, QLatin1String(kDetailsRowIfMissing), {archiveId, archiveId}) ||
        !execute(q,
                 QStringLiteral("UPDATE \"tabReportDetails\" SET \"CheckedBy\" = ?, \"CheckedAt\" "
                                "= ?, \"CheckedHash\" = ? WHERE \"ArchiveID\" = ?"),
                 {checker, when, hash, archiveId}) ||
        !execute(
            q,
            QStringLiteral("INSERT INTO \"tabReportHistory\" (\"ArchiveID\", \"Revision\", "
                           "\"Event\", \"UserName\", \"At\", \"Hash\") VALUES (?, ?, ?, ?, "
                           "?, ?)"),
            {archiveId, current->revision, QLatin1String(kEventSigned), checker, when, hash})) {
        lastError_ = q.lastError().text();
        return std::nullopt;
    }
    if (!tx.commit()) {
        lastError_ = tx.error();
        return std::nullopt;
    }
    return Signature{checker, stampTime(when), hash};
}

StationDetails ReportRecords::station(const QString& name) {
    lastError_.clear();
    StationDetails out{name, {}};
    for (const QString& field : stationFields()) {
        out.values[field] = QString();
    }
    QSqlQuery q(db_);
    q.setForwardOnly(true);
    if (!execute(q,
                 QStringLiteral("SELECT %1 FROM \"tabStation\" WHERE \"Station\" = ?")
                     .arg(detailColumns(QString(), kFirstStationField)),
                 {name})) {
        lastError_ = q.lastError().text();
        return out;
    }
    if (q.next()) {
        int i = 0;
        for (const QString& field : stationFields()) {
            out.values[field] = q.value(i++).toString();
        }
    }
    return out;
}

bool ReportRecords::setStation(const StationDetails& station) {
    lastError_.clear();
    if (station.name.isEmpty()) {
        lastError_ = QStringLiteral("The station has no name.");
        return false;
    }
    QVariantList values{station.name};
    QStringList sets;
    for (const QString& field : stationFields()) {
        const auto it = station.values.find(field);
        const QString value = it == station.values.end() ? QString() : it->second.trimmed();
        if (const QString why = checkDetail(field, value); !why.isEmpty()) {
            lastError_ = why;
            return false;
        }
        values << textOrNull(value);
        const QString column = quoted(fieldInfo(field)->column);
        sets << column + QStringLiteral(" = excluded.") + column;
    }
    QSqlQuery q(db_);
    if (!execute(
            q,
            QStringLiteral("INSERT INTO \"tabStation\" (\"Station\", %1) VALUES (?, ?, ?, ?, "
                           "?) ON CONFLICT (\"Station\") DO UPDATE SET %2")
                .arg(detailColumns(QString(), kFirstStationField), sets.join(QStringLiteral(", "))),
            values)) {
        lastError_ = q.lastError().text();
        return false;
    }
    return true;
}

std::optional<Signature> checkAndSign(ReportRecords& records, app::UserAccounts& users,
                                      qint64 archiveId, const QString& checker,
                                      const QString& password, const QString& expectedHash,
                                      QString& error) {
    if (!users.login(checker, password)) {
        error = users.lastError().isEmpty()
                    ? QStringLiteral("The user name or the password is wrong.")
                    : users.lastError();
        return std::nullopt;
    }
    auto signature = records.sign(archiveId, checker, expectedHash);
    if (!signature) {
        error = records.lastError();
    }
    return signature;
}

} // namespace ufd::archive
