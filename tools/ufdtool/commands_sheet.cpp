// The spreadsheet report from the command line: the browser's show and "Edit Report " in one.
#include "commands.h"

#include "core/context/station_folder.h"
#include "core/documents/report_document.h"
#include "core/reports/database.h"
#include "core/reports/report_display.h"
#include "core/spreadsheet/spreadsheet_report.h"

#include <QCoreApplication>
#include <QDir>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace ufd::tool {

int cmdSheet(const QStringList& args, Io io) {
    const QString usage =
        QStringLiteral("usage: ufdtool sheet --row N [--workpiece ID] [--folder PROGRAM_FOLDER]\n");
    bool ok = false;
    const qint64 rowNumber = optionValue(args, QStringLiteral("--row")).toLongLong(&ok);
    if (!ok || rowNumber < 1 ||
        !positional(args, {QStringLiteral("--row"), QStringLiteral("--workpiece"),
                           QStringLiteral("--folder")})
             .isEmpty()) {
        io.err << usage;
        return 2;
    }
    // Moudle/ and Outfiles/ belong to the program folder: beside ufdtool, or the user's data
    // folder where ufdtool is installed.
    const QString folder =
        optionValue(args, QStringLiteral("--folder"), app::stationFolders().program);

    reports::DataStore store;
    if (!openStore(store, io)) {
        return 1;
    }
    // The browser's report query, in its order.
    QSqlQuery query(store.scratchDb());
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("select * From tabDetectorReport"))) {
        io.err << query.lastError().text() << "\n";
        return 1;
    }
    qint64 seen = 0;
    while (seen < rowNumber && query.next()) {
        ++seen;
    }
    if (seen < rowNumber) {
        io.err << "ufdtool: the last import holds " << seen << " report rows, not " << rowNumber
               << "\n";
        return 1;
    }
    const QSqlRecord row = query.record();

    auto workpiece = workpieceOption(args, store, io);
    if (!workpiece) {
        return 1;
    }
    // workpieceOption gave the station's location.
    workpiece->location =
        documents::documentLocation(documents::archivedRecord(store, row), workpiece->location);

    const reports::ShowResult shown = reports::showCurrentReport(row, reports::ReportDisplay{});
    if (!shown.ok()) {
        io.err << shown.error << "\n";
        return 1;
    }
    const reports::ReportCopy report =
        reports::writeSpreadsheetReport(folder, row, *workpiece, shown.display);
    if (!report.ok()) {
        io.err << report.error << "\n";
        return 1;
    }
    io.out << QDir::toNativeSeparators(report.path) << "\n";
    return 0;
}

} // namespace ufd::tool
