// The record of archived reports and the station's details, from the command line.
#include "commands.h"

#include "core/accounts/user_accounts.h"
#include "core/archive/report_archive.h"
#include "core/archive/report_records.h"
#include "core/documents/report_verification.h"
#include "core/reports/database.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace ufd::tool {

namespace {

constexpr char kStamp[] = "yyyy-MM-dd hh:mm:ss";
// The checker's password for `archive sign`, instead of the prompt.
constexpr char kUserPasswordVariable[] = "UFD_USER_PASSWORD";

QString utc(const QDateTime& t) {
    return t.isValid() ? t.toString(QLatin1String(kStamp)) + QStringLiteral(" UTC") : QString();
}

// Every "--set FIELD=VALUE", in order; nothing, having said why, when one is not FIELD=VALUE.
std::optional<archive::DetailValues> setOptions(const QStringList& args, Io io) {
    archive::DetailValues out;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] != QLatin1String("--set")) {
            continue;
        }
        const QString pair = args.value(i + 1);
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            io.err << "ufdtool: --set takes FIELD=VALUE, not '" << pair << "'\n";
            return std::nullopt;
        }
        out[pair.left(eq)] = pair.mid(eq + 1);
        ++i;
    }
    return out;
}

std::optional<qint64> archiveId(const QStringList& args, const QStringList& withValue, Io io) {
    const QStringList ids = positional(args, withValue);
    bool ok = false;
    const qint64 id = ids.size() == 2 ? ids[1].toLongLong(&ok) : 0;
    if (!ok) {
        io.err << "usage: ufdtool archive details ID [--set FIELD=VALUE]... [--reason TEXT] "
                  "[--user NAME] [--json]\n"
                  "       ufdtool archive sign ID --user NAME\n"
                  "       ufdtool archive history ID [--json]\n";
        return std::nullopt;
    }
    return id;
}

QJsonObject recordJson(const archive::ReportRecord& r, const archive::ArchiveEntry& entry,
                       const QString& qualification) {
    QJsonObject details;
    for (const QString& field : archive::detailFields()) {
        details.insert(field, r.value(field));
    }
    QJsonObject out{{QStringLiteral("id"), r.archiveId},
                    {QStringLiteral("number"), r.number()},
                    {QStringLiteral("revision"), r.revision},
                    {QStringLiteral("fileName"), entry.fileName},
                    {QStringLiteral("fileDate"),
                     entry.fileDate.isValid() ? entry.fileDate.toString(kStamp) : QString()},
                    {QStringLiteral("reportHash"), r.reportHash},
                    {QStringLiteral("recordHash"), r.hash()},
                    {QStringLiteral("examiner"), r.examiner},
                    {QStringLiteral("qualification"), qualification},
                    {QStringLiteral("station"), r.station},
                    {QStringLiteral("details"), details}};
    if (r.signature) {
        out.insert(QStringLiteral("signature"),
                   QJsonObject{{QStringLiteral("checker"), r.signature->checker},
                               {QStringLiteral("at"), utc(r.signature->at)},
                               {QStringLiteral("hash"), r.signature->hash}});
    } else {
        out.insert(QStringLiteral("signature"), QJsonValue::Null);
    }
    return out;
}

int showDetails(reports::DataStore& store, qint64 id, bool json, Io io) {
    archive::ReportRecords records(store.archiveDb());
    const auto record = records.record(id);
    const auto report = archive::ReportArchive(store.archiveDb()).fetch(id);
    if (!record || !report) {
        io.err << (records.lastError().isEmpty()
                       ? QStringLiteral("ufdtool: no archived report %1").arg(id)
                       : records.lastError())
               << "\n";
        return 1;
    }
    const QString qualification =
        app::UserAccounts(store.userDb()).level(record->examiner).value_or(QString());
    if (json) {
        io.out << QJsonDocument(recordJson(*record, report->entry, qualification))
                      .toJson(QJsonDocument::Compact)
               << "\n";
        return 0;
    }
    io.out << "Report No.\t" << record->number() << "\n"
           << "Report\t" << report->entry.fileName << "\t"
           << (report->entry.fileDate.isValid() ? report->entry.fileDate.toString(kStamp)
                                                : QString())
           << "\n"
           << "Examiner\t" << archive::examinerText(record->examiner, qualification) << "\n"
           << "Checked by\t"
           << (record->signature
                   ? record->signature->checker + QLatin1Char(' ') + utc(record->signature->at)
                   : QStringLiteral("not checked"))
           << "\n"
           << "Station\t" << record->station << "\n";
    for (const QString& field : archive::detailFields()) {
        io.out << field << "\t" << record->value(field) << "\n";
    }
    io.out << "Record hash\t" << record->hash() << "\n";
    return 0;
}

int details(reports::DataStore& store, const QStringList& args, Io io) {
    const auto id = archiveId(
        args, {QStringLiteral("--set"), QStringLiteral("--reason"), QStringLiteral("--user")}, io);
    const auto changes = setOptions(args, io);
    if (!id || !changes) {
        return 2;
    }
    const bool json = hasFlag(args, QStringLiteral("--json"));
    if (changes->empty()) {
        return showDetails(store, *id, json, io);
    }
    for (const auto& [field, value] : *changes) {
        if (const QString why = archive::checkDetail(field, value); !why.isEmpty()) {
            io.err << "ufdtool: " << why << "\n";
            return 2;
        }
    }
    archive::ReportRecords records(store.archiveDb());
    if (!records.change(*id, *changes, optionValue(args, QStringLiteral("--reason")),
                        importingUser(args))) {
        io.err << records.lastError() << "\n";
        return 1;
    }
    return showDetails(store, *id, json, io);
}

int sign(reports::DataStore& store, const QStringList& args, Io io) {
    const auto id = archiveId(args, {QStringLiteral("--user")}, io);
    const QString checker = optionValue(args, QStringLiteral("--user"));
    if (!id || checker.isEmpty()) {
        if (id) {
            io.err << "ufdtool: archive sign needs --user NAME, the user who checks\n";
        }
        return 2;
    }
    std::optional<QString> password;
    if (qEnvironmentVariableIsSet(kUserPasswordVariable)) {
        password = qEnvironmentVariable(kUserPasswordVariable);
    } else {
        password = readHidden(QStringLiteral("Password of %1: ").arg(checker));
    }
    if (!password) {
        io.err << "ufdtool: no password was given\n";
        return 1;
    }
    archive::ReportRecords records(store.archiveDb());
    app::UserAccounts users(store.userDb());
    QString error;
    const auto signature =
        archive::checkAndSign(records, users, *id, checker, *password, QString(), error);
    if (!signature) {
        io.err << error << "\n";
        return 1;
    }
    const auto record = records.record(*id);
    io.out << "Signed: report " << (record ? record->number() : QString::number(*id)) << " by "
           << signature->checker << " at " << utc(signature->at) << "\n"
           << "Record hash\t" << signature->hash << "\n";
    return 0;
}

int history(reports::DataStore& store, const QStringList& args, Io io) {
    const auto id = archiveId(args, {}, io);
    if (!id) {
        return 2;
    }
    archive::ReportRecords records(store.archiveDb());
    const auto known = records.record(*id);
    const auto events = known ? records.history(*id) : std::nullopt;
    if (!events) {
        io.err << (records.lastError().isEmpty()
                       ? QStringLiteral("ufdtool: no archived report %1").arg(*id)
                       : records.lastError())
               << "\n";
        return 1;
    }
    if (hasFlag(args, QStringLiteral("--json"))) {
        QJsonArray list;
        for (const auto& e : *events) {
            list.append(QJsonObject{{QStringLiteral("at"), utc(e.at)},
                                    {QStringLiteral("user"), e.user},
                                    {QStringLiteral("event"), e.event},
                                    {QStringLiteral("revision"), e.revision},
                                    {QStringLiteral("field"), e.field},
                                    {QStringLiteral("old"), e.oldValue},
                                    {QStringLiteral("new"), e.newValue},
                                    {QStringLiteral("reason"), e.reason},
                                    {QStringLiteral("hash"), e.hash}});
        }
        io.out << QJsonDocument(
                      QJsonObject{{QStringLiteral("id"), *id}, {QStringLiteral("events"), list}})
                      .toJson(QJsonDocument::Compact)
               << "\n";
        return 0;
    }
    io.out << "At (UTC)\tUser\tEvent\tRevision\tField\tOld\tNew\tReason\n";
    for (const auto& e : *events) {
        io.out << e.at.toString(QLatin1String(kStamp)) << "\t" << e.user << "\t" << e.event << "\t"
               << e.revision << "\t" << e.field << "\t" << e.oldValue << "\t" << e.newValue << "\t"
               << (e.event == QLatin1String(archive::kEventSigned)
                       ? QStringLiteral("hash ") + e.hash
                       : e.reason)
               << "\n";
    }
    return 0;
}

} // namespace

int archiveRecordCommand(const QStringList& args, Io io) {
    reports::DataStore store;
    if (!openStore(store, io)) {
        return 1;
    }
    const QString sub = args.value(0);
    if (sub == QLatin1String("details")) {
        return details(store, args, io);
    }
    if (sub == QLatin1String("sign")) {
        return sign(store, args, io);
    }
    return history(store, args, io);
}

int cmdVerify(const QStringList& args, Io io) {
    const QStringList files = positional(args, {});
    if (files.size() != 1) {
        io.err << "usage: ufdtool verify FILE.pdf [--database URL]\n";
        return 2;
    }
    reports::DataStore store;
    if (!openStore(store, io)) {
        return 1;
    }
    const documents::PdfVerification result = documents::verifyReportsPdf(files[0], store);
    if (!result.error.isEmpty()) {
        io.err << result.error << "\n";
        return 1;
    }
    int differing = 0;
    for (const documents::PageCheck& p : result.pages) {
        io.out << "Page " << p.page
               << (p.report.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(p.report)) << ": "
               << (p.problem.isEmpty() ? QStringLiteral("current") : p.problem) << "\n";
        differing += p.problem.isEmpty() ? 0 : 1;
    }
    if (differing == 0) {
        io.out << "All " << result.pages.size()
               << " pages are their reports' current revisions in the archive.\n";
        return 0;
    }
    io.out << differing << " of " << result.pages.size() << " pages differ from the archive.\n";
    return 1;
}

int cmdStation(const QStringList& args, Io io) {
    const auto changes = setOptions(args, io);
    if (!changes || !positional(args, {QStringLiteral("--set")}).isEmpty()) {
        io.err << "usage: ufdtool station [--set FIELD=VALUE]...   FIELD: "
               << archive::stationFields().join(QStringLiteral(", ")) << "\n";
        return 2;
    }
    for (const auto& [field, value] : *changes) {
        QString why = archive::checkDetail(field, value);
        if (why.isEmpty() && !archive::stationFields().contains(field)) {
            why = QStringLiteral("\"%1\" is no station detail; they are %2")
                      .arg(field, archive::stationFields().join(QStringLiteral(", ")));
        }
        if (!why.isEmpty()) {
            io.err << "ufdtool: " << why << "\n";
            return 2;
        }
    }
    reports::DataStore store;
    if (!openStore(store, io)) {
        return 1;
    }
    archive::ReportRecords records(store.archiveDb());
    archive::StationDetails station = records.station(archive::stationName());
    if (!records.lastError().isEmpty()) {
        io.err << records.lastError() << "\n";
        return 1;
    }
    if (!changes->empty()) {
        for (const auto& [field, value] : *changes) {
            station.values[field] = value;
        }
        if (!records.setStation(station)) {
            io.err << records.lastError() << "\n";
            return 1;
        }
    }
    io.out << "Station\t" << station.name << "\n";
    for (const QString& field : archive::stationFields()) {
        io.out << field << "\t" << station.values[field] << "\n";
    }
    return 0;
}

} // namespace ufd::tool
