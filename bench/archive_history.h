#pragma once
// A lab's history for the benchmarks: full report files imported through the archive as a
// station imports them, then copied in SQL into the years before until the archive holds as
// many reports as asked. Every copy is a whole archived report: its own hash, id, date, source
// file, and its bytes, so that the window can show any of them.
#include "core/archive/report_archive.h"
#include "core/reports/report_file.h"
#include "demo/demo_data.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

namespace ufd::bench {

inline const QDateTime kFirstDay(QDate(2024, 1, 1), QTime(7, 0), Qt::UTC);
inline constexpr int kDaysPerFile = 6;

// File `i` of a lab's history: 1,024 reports of its own, six days after file i - 1.
inline QByteArray historyFile(int i) {
    return demo::makeReportImage(static_cast<int>(reports::kSlotCount),
                                 static_cast<std::uint32_t>(1000 + i),
                                 kFirstDay.addDays(qint64{kDaysPerFile} * i));
}

inline archive::AddResult importHistoryFile(const QSqlDatabase& db, int i) {
    const QByteArray image = historyFile(i);
    return archive::ReportArchive(db).add(
        image, {QStringLiteral("history-%1.bin").arg(i), QStringLiteral("bench")});
}

// Copies the `files` history files archived (and nothing else) into earlier years until the
// archive holds at least `wanted` reports. False with `error` set on a database error.
inline bool copyHistoryBack(QSqlDatabase db, int files, qint64 wanted, QString& error) {
    const bool server = db.driverName() == QLatin1String("QPSQL");
    QSqlQuery q(db);
    const auto run = [&](const QString& sql) {
        if (!q.exec(sql)) {
            error = q.lastError().text() + QStringLiteral("\n") + sql;
            return false;
        }
        return true;
    };
    if (!run(QStringLiteral("SELECT count(*), max(\"ArchiveID\") FROM \"tabReportArchive\"")) ||
        !q.next()) {
        return false;
    }
    const qint64 originals = q.value(0).toLongLong();
    const qint64 lastId = q.value(1).toLongLong();
    if (originals == 0) {
        error = QStringLiteral("nothing to copy");
        return false;
    }
    q.finish();
    QStringList columns;
    const QSqlRecord rec = db.record(QStringLiteral("tabReportArchive"));
    for (int i = 0; i < rec.count(); ++i) {
        if (rec.fieldName(i) != QLatin1String("ArchiveID")) {
            columns << QLatin1Char('"') + rec.fieldName(i) + QLatin1Char('"');
        }
    }
    const qint64 step = lastId + 1;
    for (qint64 k = 1; originals * k < wanted; ++k) {
        const qint64 days = qint64{kDaysPerFile} * files * k;
        const auto shifted = [&](const char* column) {
            return server ? QStringLiteral("to_char(\"%1\"::timestamp - interval '%2 days', "
                                           "'YYYY-MM-DD HH24:MI:SS')")
                                .arg(QLatin1String(column))
                                .arg(days)
                          : QStringLiteral("strftime('%Y-%m-%d %H:%M:%S', \"%1\", '-%2 days')")
                                .arg(QLatin1String(column))
                                .arg(days);
        };
        QStringList values;
        for (const QString& c : columns) {
            if (c == QLatin1String("\"ReportHash\"")) {
                values << QStringLiteral("\"ReportHash\" || '-%1'").arg(k);
            } else if (c == QLatin1String("\"SourceFile\"")) {
                values << QStringLiteral("'%1-' || \"SourceFile\"").arg(k);
            } else if (c == QLatin1String("\"FileDate\"")) {
                values << shifted("FileDate");
            } else if (c == QLatin1String("\"ImportedAt\"")) {
                values << shifted("ImportedAt");
            } else {
                values << c;
            }
        }
        const QString range = QStringLiteral("\"ArchiveID\" <= %1").arg(lastId);
        if (!db.transaction() ||
            !run(QStringLiteral("INSERT INTO \"tabReportArchive\" (\"ArchiveID\", %1) SELECT "
                                "\"ArchiveID\" + %2, %3 FROM \"tabReportArchive\" WHERE %4")
                     .arg(columns.join(QStringLiteral(", ")))
                     .arg(step * k)
                     .arg(values.join(QStringLiteral(", ")), range)) ||
            !run(QStringLiteral("INSERT INTO \"tabReportArchiveData\" (\"ArchiveID\", "
                                "\"SlotBytes\") SELECT \"ArchiveID\" + %1, \"SlotBytes\" FROM "
                                "\"tabReportArchiveData\" WHERE %2")
                     .arg(step * k)
                     .arg(range)) ||
            !db.commit()) {
            if (error.isEmpty()) {
                error = db.lastError().text();
            }
            db.rollback();
            return false;
        }
    }
    if (server) {
        // The ids were given, so the identity's sequence has to learn them; and the tables are
        // vacuumed and analysed at once, as autovacuum does some time after years of imports
        // (index-only scans need the visibility map), not while the benchmarks run.
        return run(QStringLiteral("SELECT setval(pg_get_serial_sequence('\"tabReportArchive\"', "
                                  "'ArchiveID'), (SELECT max(\"ArchiveID\") FROM "
                                  "\"tabReportArchive\"))")) &&
               run(QStringLiteral("VACUUM ANALYZE"));
    }
    return true;
}

} // namespace ufd::bench
