#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <optional>

namespace ufd::app {

// Argon2id hash in the library's self-describing text form.
QString hashPassword(const QString& password);
bool isPasswordHash(const QString& stored);
// Checks `password` against a stored value: a hash, or the plain text of an older database.
bool passwordMatches(const QString& stored, const QString& password);

// The user accounts of UserTable: column 2 "用户名", column 3 "密码", "用户类型" the level.
class UserAccounts {
public:
    explicit UserAccounts(QSqlDatabase db) : db_(std::move(db)) {}

    // User names from the second column, in table order; a failed query leaves lastError().
    QStringList userNames() const;

    // The first row whose name equals `name` exactly decides; an empty name is no account. On
    // success returns the stored name; a plain-text password that matched is replaced by its
    // hash.
    std::optional<QString> login(const QString& name, const QString& password);

    bool addUser(const QString& name, const QString& password, const QString& level = QString());
    // The level of the first account named `name`, shown as the user's qualification; nothing
    // when there is no such account.
    std::optional<QString> level(const QString& name);
    QString lastError() const { return lastError_; }

private:
    QSqlDatabase db_;
    mutable QString lastError_;
};

} // namespace ufd::app
