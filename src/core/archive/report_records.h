#pragma once

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <map>
#include <optional>
#include <vector>

namespace ufd::app {
class UserAccounts;
}

namespace ufd::archive {

// The details of an archived report beside what the instrument stored. The first six the
// examiner gives; the last four the station gives when it archives the report. The names are
// those of the command line and of the history.
inline constexpr char kProcedure[] = "procedure";
inline constexpr char kAcceptance[] = "acceptance";
inline constexpr char kEvaluation[] = "evaluation";
inline constexpr char kNotes[] = "notes";
inline constexpr char kCouplant[] = "couplant";
inline constexpr char kBlock[] = "block";
inline constexpr char kInstrument[] = "instrument";
inline constexpr char kInstrumentSerial[] = "instrument-serial";
inline constexpr char kCalibrationDue[] = "calibration-due";
inline constexpr char kLocation[] = "location";

inline constexpr char kNotEvaluated[] = "not evaluated";

QStringList detailFields();                // all ten, in the order above
QStringList stationFields();               // the station's four
QStringList evaluations();                 // accept, reject, repair, retest, not evaluated
QString detailLabel(const QString& field); // "Procedure", "Instrument serial", ...
// Why `value` cannot be the value of `field`; empty when it can.
QString checkDetail(const QString& field, const QString& value);
// What a document prints as the location when none is set.
QString defaultLocation();

// Field name to value; a missing field is empty.
using DetailValues = std::map<QString, QString>;

struct Signature {
    QString checker;
    QDateTime at; // UTC
    QString hash; // of the report with its details as signed (ReportRecord::hash)
};

// An archived report's record as it stands: its details at the current revision and the
// signature of that revision, if any.
struct ReportRecord {
    qint64 archiveId = 0;
    QString reportHash; // the archive's identity of the report's bytes
    int revision = 1;
    QString examiner; // the user who imported it
    QString station;  // the station that archived it
    DetailValues details;
    std::optional<Signature> signature;

    QString value(const QString& field) const;
    // The report number printed on every page: archive ID and revision, "17-R2".
    QString number() const;
    // SHA-256 of the report with its details at this revision, hexadecimal: what a signature
    // and a printed page name.
    QString hash() const;
};

QString reportNumber(qint64 archiveId, int revision);
// The checker and the time he signed, "bob, 2026-03-01 08:00:00 UTC", or "not checked".
QString checkedText(const std::optional<Signature>& signature);
// The examiner with his qualification, "ann (Level II)", or his name alone.
QString examinerText(const QString& examiner, const QString& qualification);

inline constexpr char kEventImported[] = "imported";
inline constexpr char kEventChanged[] = "changed";
inline constexpr char kEventSigned[] = "signed";

// One line of tabReportHistory.
struct HistoryEvent {
    qint64 id = 0;
    int revision = 1;                          // the revision the event made or signed
    QString event;                             // kEventImported, kEventChanged, kEventSigned
    QString field, oldValue, newValue, reason; // a change
    QString user;
    QDateTime at; // UTC
    QString hash; // a signature's
};

// What a station gives each report it archives, kept with the archive under the station's name.
struct StationDetails {
    QString name;
    DetailValues values; // stationFields()
};

// This station's name: UFD_STATION when set, else the computer's host name.
QString stationName();
// The location this station's documents print; empty when it has set none.
QString stationLocation(const QSqlDatabase& archiveDb);

// The details, sign-off and history of the archived reports, on the archive's connection.
// Every change is one transaction; tabReportHistory only ever grows (the database refuses
// UPDATE and DELETE on it), and the archive itself records every import there.
class ReportRecords {
public:
    explicit ReportRecords(QSqlDatabase db);

    // Nothing when the archive holds no such report (lastError() empty) or on an error.
    std::optional<ReportRecord> record(qint64 archiveId);
    std::optional<ReportRecord> recordByHash(const QString& reportHash);
    // Oldest first; nothing on an error.
    std::optional<std::vector<HistoryEvent>> history(qint64 archiveId);

    // Sets the fields of `changes` for `user`; values equal to the current ones are no change.
    // An unsigned revision changes in place. A signed one changes only with a reason, and the
    // change makes the next revision, unsigned. `expectedHash`, when given, is the record the
    // user saw: a record changed since is refused. False with lastError() set: nothing changed.
    bool change(qint64 archiveId, const DetailValues& changes, const QString& reason,
                const QString& user, const QString& expectedHash = {});
    // Signs the current revision for `checker`, whose password the caller has checked: refused
    // for the examiner, for a revision signed already, and for a record changed since
    // `expectedHash` (when given).
    std::optional<Signature> sign(qint64 archiveId, const QString& checker,
                                  const QString& expectedHash = {});

    StationDetails station(const QString& name);
    bool setStation(const StationDetails& station);

    QString lastError() const { return lastError_; }

private:
    std::optional<ReportRecord> readRecord(const QString& where, const QVariant& key, bool lock);

    QSqlDatabase db_;
    bool server_ = false;
    QString lastError_;
};

// "Check and sign": `checker` proves who he is with `password` against `users`, then signs.
std::optional<Signature> checkAndSign(ReportRecords& records, app::UserAccounts& users,
                                      qint64 archiveId, const QString& checker,
                                      const QString& password, const QString& expectedHash,
                                      QString& error);

// The statements that make the tables and triggers of report records (schema version 2) and
// fill them for reports archived before, each a no-op when run again.
QStringList recordSchemaStatements(bool server);
// Tells the connection which station it serves, so that the reports it archives take over that
// station's details.
bool bindStation(QSqlDatabase& db, const QString& station, QString& error);

} // namespace ufd::archive
