#pragma once
// Internal to the archive: a write transaction and statement execution that work alike on the
// embedded files and on the shared server.

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

namespace ufd::archive {

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
inline bool execute(QSqlQuery& q, const QString& sql, const QVariantList& values) {
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

} // namespace ufd::archive
