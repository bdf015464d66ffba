#include "core/accounts/user_accounts.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <sodium.h>

namespace ufd::app {

namespace {

bool sodiumReady() {
    return sodium_init() >= 0;
}

// What tells rows apart in table order: SQLite's row id, or the key column of a shared server.
QString rowKey(const QSqlDatabase& db) {
    return db.driverName() == QLatin1String("QPSQL") ? QStringLiteral("\"ID\"")
                                                     : QStringLiteral("rowid");
}

} // namespace

QString hashPassword(const QString& password) {
    if (!sodiumReady()) {
        return {};
    }
    const QByteArray utf8 = password.toUtf8();
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, utf8.constData(), static_cast<unsigned long long>(utf8.size()),
                          crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
        return {};
    }
    return QString::fromLatin1(out);
}

bool isPasswordHash(const QString& stored) {
    return stored.startsWith(QLatin1String("$argon2id$"));
}

bool passwordMatches(const QString& stored, const QString& password) {
    if (isPasswordHash(stored)) {
        if (!sodiumReady()) {
            return false;
        }
        const QByteArray hash = stored.toLatin1();
        const QByteArray utf8 = password.toUtf8();
        return crypto_pwhash_str_verify(hash.constData(), utf8.constData(),
                                        static_cast<unsigned long long>(utf8.size())) == 0;
    }
    return stored == password;
}

QStringList UserAccounts::userNames() const {
    QStringList names;
    QSqlQuery q(db_);
    q.setForwardOnly(true);
    if (q.exec(QStringLiteral("SELECT * FROM \"UserTable\" ORDER BY %1").arg(rowKey(db_)))) {
        while (q.next()) {
            names << q.value(1).toString();
        }
    } else {
        lastError_ = q.lastError().text();
    }
    return names;
}

std::optional<QString> UserAccounts::login(const QString& name, const QString& password) {
    if (name.trimmed().isEmpty()) {
        return std::nullopt;
    }
    QSqlQuery q(db_);
    // Column 1 and 2 by position, as the table keeps name second and password third.
    q.prepare(
        QStringLiteral("SELECT %1, * FROM \"UserTable\" WHERE \"用户名\" = ? ORDER BY %1 LIMIT 1")
            .arg(rowKey(db_)));
    q.addBindValue(name);
    if (!q.exec()) {
        lastError_ = q.lastError().text();
        return std::nullopt;
    }
    if (!q.next()) {
        return std::nullopt;
    }
    const qint64 rowid = q.value(0).toLongLong();
    const QString storedName = q.value(2).toString();
    const QString stored = q.value(3).toString();
    if (!passwordMatches(stored, password)) {
        return std::nullopt;
    }
    if (!isPasswordHash(stored)) {
        const QString hash = hashPassword(password);
        if (!hash.isEmpty()) {
            QSqlQuery up(db_);
            up.prepare(QStringLiteral("UPDATE \"UserTable\" SET \"密码\" = ? WHERE %1 = ?")
                           .arg(rowKey(db_)));
            up.addBindValue(hash);
            up.addBindValue(rowid);
            if (!up.exec()) {
                lastError_ = up.lastError().text();
            }
        }
    }
    return storedName;
}

std::optional<QString> UserAccounts::level(const QString& name) {
    QSqlQuery q(db_);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral(
                  "SELECT \"用户类型\" FROM \"UserTable\" WHERE \"用户名\" = ? ORDER BY %1 LIMIT 1")
                  .arg(rowKey(db_)));
    q.addBindValue(name);
    if (!q.exec()) {
        lastError_ = q.lastError().text();
        return std::nullopt;
    }
    if (!q.next()) {
        return std::nullopt;
    }
    return q.value(0).toString();
}

bool UserAccounts::addUser(const QString& name, const QString& password, const QString& level) {
    const QString hash = hashPassword(password);
    if (hash.isEmpty()) {
        lastError_ = QStringLiteral("password hashing failed");
        return false;
    }
    QSqlQuery q(db_);
    q.prepare(QStringLiteral(
        "INSERT INTO \"UserTable\" (\"用户名\", \"密码\", \"用户类型\") VALUES (?, ?, ?)"));
    q.addBindValue(name);
    q.addBindValue(hash);
    q.addBindValue(level.isNull() ? QString(QLatin1String("")) : level);
    if (!q.exec()) {
        lastError_ = q.lastError().text();
        return false;
    }
    return true;
}

} // namespace ufd::app
