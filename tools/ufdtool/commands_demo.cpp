// The workpiece list from the command line, so that a demonstration starts with some rows.
#include "commands.h"

#include "core/reports/database.h"

#include <QSqlError>
#include <QSqlQuery>
#include <array>

namespace ufd::tool {

namespace {

constexpr char kUsage[] =
    "usage: ufdtool workpieces add ID NAME [TYPE [MATERIAL [HEAT [FACE [MANDATOR [FLAWINFO]]]]]]"
    " | workpieces list\n";

// The columns `add` fills, in the order its arguments come.
constexpr std::array<const char*, 8> kAddedColumns{"PartID", "PartName", "PartType", "Material",
                                                   "Heat",   "Face",     "Mandator", "FlawInfo"};

int addWorkpiece(reports::DataStore& store, const QStringList& values, Io io) {
    QStringList columns;
    QStringList marks;
    for (qsizetype i = 0; i < values.size(); ++i) {
        columns << QLatin1String(kAddedColumns[static_cast<std::size_t>(i)]);
        marks << QStringLiteral("?");
    }
    QSqlQuery q(store.reportDb());
    q.prepare(QStringLiteral("INSERT INTO tabPartInfo (%1) VALUES (%2)")
                  .arg(columns.join(QStringLiteral(", ")), marks.join(QStringLiteral(", "))));
    for (const QString& v : values) {
        q.addBindValue(v);
    }
    if (!q.exec()) {
        io.err << q.lastError().text() << "\n";
        return 1;
    }
    io.out << "Workpiece added: " << values[0] << "\n";
    return 0;
}

} // namespace

int cmdWorkpieces(const QStringList& args, Io io) {
    const bool list = args.size() == 1 && args[0] == QLatin1String("list");
    const bool add = args.size() >= 3 && args[0] == QLatin1String("add") &&
                     args.size() - 1 <= qsizetype{kAddedColumns.size()};
    if (!list && !add) {
        io.err << kUsage;
        return 2;
    }
    reports::DataStore store;
    if (!openStore(store, io)) {
        return 1;
    }
    if (add) {
        return addWorkpiece(store, args.mid(1), io);
    }
    QSqlQuery q(store.reportDb());
    if (!q.exec(QStringLiteral("SELECT PartID, PartName FROM tabPartInfo ORDER BY rowid"))) {
        io.err << q.lastError().text() << "\n";
        return 1;
    }
    while (q.next()) {
        io.out << q.value(0).toString() << "\t" << q.value(1).toString() << "\n";
    }
    return 0;
}

} // namespace ufd::tool
