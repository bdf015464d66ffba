#include "core/archive/shared_database.h"

#include "core/archive/report_archive.h"
#include "core/archive/report_records.h"
#include "core/archive/sql_transaction.h"
#include "core/reports/database.h"

#include <QFileInfo>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>
#include <atomic>

namespace ufd::archive {

namespace {

constexpr char kVersionTable[] = "tabSchemaVersion";
// Any number of the program's own: stations starting at once change the schema one at a time.
constexpr qint64 kSchemaLock = 0x55464441;
// Long enough for a slow line, short enough that start-up does not seem to hang.
constexpr char kConnectTimeout[] = "connect_timeout=10";

// Makes what a database of an older version lacks and records the new version, all or nothing.
bool prepareSchema(QSqlDatabase& db, bool server, QString& error) {
    Transaction tx(db, server);
    if (!tx.isOpen()) {
        error = tx.error();
        return false;
    }
    const auto run = [&](const QString& sql, const QVariantList& values = {}) {
        QSqlQuery q(db);
        if (!execute(q, sql, values)) {
            error = q.lastError().text();
            return false;
        }
        return true;
    };
    if (server && !run(QStringLiteral("SELECT pg_advisory_xact_lock(?)"), {kSchemaLock})) {
        return false;
    }
    const int version = schemaVersion(db);
    if (version > kSchemaVersion) {
        error =
            QStringLiteral("The database holds schema version %1; this program knows versions up "
                           "to %2. Use the newer program that made it.")
                .arg(version)
                .arg(kSchemaVersion);
        return false;
    }
    if (version < kSchemaVersion) {
        // Every statement makes what is missing, whatever came before: version 1 the archive,
        // version 2 its report records (filled for the reports archived before).
        if (server && !reports::DataStore::createSharedTables(db, error)) {
            return false;
        }
        QStringList statements = ReportArchive::schemaStatements(server);
        statements << recordSchemaStatements(server);
        statements << QStringLiteral(
                          "CREATE TABLE IF NOT EXISTS \"%1\" (\"Version\" INTEGER NOT NULL)")
                          .arg(QLatin1String(kVersionTable))
                   << QStringLiteral("DELETE FROM \"%1\"").arg(QLatin1String(kVersionTable));
        for (const QString& sql : statements) {
            if (!run(sql)) {
                return false;
            }
        }
        if (!run(QStringLiteral("INSERT INTO \"%1\" (\"Version\") VALUES (?)")
                     .arg(QLatin1String(kVersionTable)),
                 {kSchemaVersion})) {
            return false;
        }
    }
    if (!ReportArchive::createMissingIndexes(db, server, error)) {
        return false;
    }
    if (!tx.commit()) {
        error = tx.error();
        return false;
    }
    return true;
}

QString nextConnectionName() {
    static std::atomic<int> counter{0};
    return QStringLiteral("ufd-server-%1").arg(++counter);
}

} // namespace

QString ServerAddress::describe() const {
    return QStringLiteral("%1@%2:%3/%4").arg(user, host).arg(port).arg(database);
}

std::optional<DatabaseLocation> parseDatabaseUrl(const QString& url, const QString& folder,
                                                 QString& error) {
    DatabaseLocation where;
    where.origin = url;
    if (url.startsWith(QLatin1String("sqlite:"))) {
        where.folder = url.mid(7);
        if (where.folder.isEmpty()) {
            error =
                QStringLiteral("%1: name the folder of the databases, as sqlite:FOLDER").arg(url);
            return std::nullopt;
        }
        return where;
    }
    const QUrl u(url, QUrl::StrictMode);
    if (!u.isValid() ||
        (u.scheme() != QLatin1String("postgresql") && u.scheme() != QLatin1String("postgres"))) {
        error =
            QStringLiteral("%1: not a database URL; use postgresql://USER@HOST:PORT/DATABASE or "
                           "sqlite:FOLDER")
                .arg(url);
        return std::nullopt;
    }
    if (!u.password().isEmpty()) {
        error = QStringLiteral("%1: a password does not belong in the URL (others can read it); "
                               "set %2 instead")
                    .arg(u.toString(QUrl::RemovePassword), QLatin1String(kPasswordVariable));
        return std::nullopt;
    }
    ServerAddress server;
    server.host = u.host();
    server.port = u.port(5432);
    server.user = u.userName();
    server.database = u.path().mid(1);
    for (const auto& [key, value] : QUrlQuery(u).queryItems(QUrl::FullyDecoded)) {
        server.options << key + QLatin1Char('=') + value;
    }
    if (server.host.isEmpty() || server.database.isEmpty()) {
        error = QStringLiteral("%1: the URL must name the host and the database").arg(url);
        return std::nullopt;
    }
    where.folder = folder;
    where.server = server;
    return where;
}

std::optional<DatabaseLocation> locationFromSettings(const QString& settingsFile,
                                                     const QString& folder, QString& error) {
    DatabaseLocation where;
    where.folder = folder;
    if (!QFileInfo::exists(settingsFile)) {
        return where;
    }
    where.origin = settingsFile;
    QSettings ini(settingsFile, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError) {
        error = QStringLiteral("%1: the settings cannot be read").arg(settingsFile);
        return std::nullopt;
    }
    ini.beginGroup(QStringLiteral("server"));
    if (ini.contains(QStringLiteral("password"))) {
        error = QStringLiteral("%1 holds a password: remove it. The password comes from the "
                               "environment variable %2 or is asked for at start-up.")
                    .arg(settingsFile, QLatin1String(kPasswordVariable));
        return std::nullopt;
    }
    ServerAddress server;
    server.host = ini.value(QStringLiteral("host")).toString();
    server.database = ini.value(QStringLiteral("database")).toString();
    server.user = ini.value(QStringLiteral("user")).toString();
    bool portOk = true;
    server.port = ini.value(QStringLiteral("port"), 5432).toInt(&portOk);
    server.options =
        ini.value(QStringLiteral("options")).toString().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (server.host.isEmpty() || server.database.isEmpty() || !portOk || server.port <= 0 ||
        server.port > 65535) {
        error = QStringLiteral("%1: the [server] group must name host and database (and may name "
                               "port, user and options)")
                    .arg(settingsFile);
        return std::nullopt;
    }
    where.server = server;
    return where;
}

bool openDatabases(reports::DataStore& store, const DatabaseLocation& where,
                   const PasswordPrompt& prompt, QString& error) {
    if (!where.server) {
        if (!store.open(where.folder)) {
            error = store.lastError();
            return false;
        }
        bool ok = false;
        {
            QSqlDatabase db = store.reportDb();
            ok = prepareSchema(db, false, error) && bindStation(db, stationName(), error);
        }
        if (!ok) {
            store.close(); // an archive this program cannot read must not be written either
        }
        return ok;
    }
    const ServerAddress& server = *where.server;
    const QString named =
        where.origin.isEmpty() ? QString() : QStringLiteral(" (named in %1)").arg(where.origin);
    QString password;
    if (qEnvironmentVariableIsSet(kPasswordVariable)) {
        password = qEnvironmentVariable(kPasswordVariable);
    } else if (prompt) {
        const std::optional<QString> given = prompt(server);
        if (!given) {
            error = QStringLiteral("No password was given for the database server %1%2.")
                        .arg(server.describe(), named);
            return false;
        }
        password = *given;
    }

    const QString name = nextConnectionName();
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        if (!db.isValid()) {
            error = QStringLiteral("Qt's PostgreSQL driver (QPSQL) is missing, so the database "
                                   "server %1%2 cannot be used (on Debian: libqt6sql6-psql).")
                        .arg(server.describe(), named);
        } else {
            db.setHostName(server.host);
            db.setPort(server.port);
            db.setDatabaseName(server.database);
            db.setUserName(server.user);
            db.setPassword(password);
            db.setConnectOptions((QStringList{QLatin1String(kConnectTimeout),
                                              QStringLiteral("application_name=ufd")} +
                                  server.options)
                                     .join(QLatin1Char(';')));
            if (!db.open()) {
                error = QStringLiteral("Cannot reach the database server %1%2:\n%3")
                            .arg(server.describe(), named, db.lastError().text().trimmed());
            } else if (!prepareSchema(db, true, error) || !bindStation(db, stationName(), error)) {
                error = QStringLiteral("The database server %1%2 cannot be used:\n%3")
                            .arg(server.describe(), named, error);
            } else {
                ok = true;
            }
        }
    }
    if (!ok) {
        QSqlDatabase::removeDatabase(name);
        return false;
    }
    // The store owns the connection from here on, also when it fails to open.
    if (!store.open(where.folder, name)) {
        error = store.lastError();
        return false;
    }
    return true;
}

int schemaVersion(const QSqlDatabase& db) {
    if (!db.tables().contains(QLatin1String(kVersionTable))) {
        return 0;
    }
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT max(\"Version\") FROM \"%1\"")
                    .arg(QLatin1String(kVersionTable))) ||
        !q.next()) {
        return 0;
    }
    return q.value(0).toInt();
}

} // namespace ufd::archive
