#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace ufd::reports {
class DataStore;
}

namespace ufd::archive {

// Beside the program: names the shared server. Without it the embedded files are used.
inline constexpr char kSettingsFileName[] = "ufd-database.ini";
// The server's password comes from here, or from a prompt; it is never written to a file.
inline constexpr char kPasswordVariable[] = "UFD_DB_PASSWORD";
// The schema this program makes and reads; tabSchemaVersion holds the one a database has.
inline constexpr int kSchemaVersion = 2;

// A PostgreSQL server shared by the stations of a lab. The password is no part of it.
struct ServerAddress {
    QString host;
    int port = 5432;
    QString database;
    QString user;
    QStringList options; // further driver options, each "key=value" (e.g. "sslmode=require")

    QString describe() const; // user@host:port/database
};

// Where the databases are: the embedded files in `folder`, or `server` for the users, the
// workpieces and the archive, the report table staying in `folder`.
struct DatabaseLocation {
    QString folder = QStringLiteral(".");
    std::optional<ServerAddress> server;
    QString origin; // what chose it (the settings file or the URL), for messages
};

// "postgresql://user@host[:port]/database[?key=value&...]" (the report table then stays in
// `folder`) or "sqlite:FOLDER". A password in the URL is refused: it would show in process lists.
std::optional<DatabaseLocation> parseDatabaseUrl(const QString& url, const QString& folder,
                                                 QString& error);

// The settings file, an ini file with a [server] group: host, port (5432), database, user and
// options (blank-separated key=value). A missing file means the embedded files in `folder`; a
// password in it is refused.
std::optional<DatabaseLocation> locationFromSettings(const QString& settingsFile,
                                                     const QString& folder, QString& error);

// Asked for the server's password when UFD_DB_PASSWORD is not set; nothing means none was given.
using PasswordPrompt = std::function<std::optional<QString>(const ServerAddress& server)>;

// Opens `store` at `where`, creating the schema on first use and upgrading an older one; a
// database made by a newer program is refused. Without a prompt and UFD_DB_PASSWORD the driver
// is left to find the password itself (PGPASSWORD, the user's pgpass file).
bool openDatabases(reports::DataStore& store, const DatabaseLocation& where,
                   const PasswordPrompt& prompt, QString& error);

// The version in tabSchemaVersion; 0 when the table is missing.
int schemaVersion(const QSqlDatabase& db);

} // namespace ufd::archive
