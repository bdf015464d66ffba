// The printed report pages and the waveform file from the command line, through the code the
// report browser uses.
#include "commands.h"

#include "core/context/station_folder.h"
#include "core/documents/report_document.h"
#include "core/documents/waveform_csv.h"
#include "core/reports/database.h"
#include "core/reports/report_display.h"
#include "core/spreadsheet/spreadsheet_report.h"

#ifdef UFDTOOL_PDF
#include "widgets/report_page.h"
#endif

#include <QCoreApplication>
#include <QDir>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <optional>
#include <set>
#include <vector>

namespace ufd::tool {

namespace {

// Every report row of the last import, in the browser's grid order; the store opened for it.
std::optional<std::vector<QSqlRecord>> lastImportRows(reports::DataStore& store, Io io) {
    if (!openStore(store, io)) {
        return std::nullopt;
    }
    QSqlQuery query(store.scratchDb());
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("select * From tabDetectorReport"))) {
        io.err << query.lastError().text() << "\n";
        return std::nullopt;
    }
    std::vector<QSqlRecord> rows;
    while (query.next()) {
        rows.push_back(query.record());
    }
    return rows;
}

// "all" or rows from 1 as `sheet --row` counts them: "1,3,5-9". The order given, each row once.
std::optional<std::vector<int>> parseRowList(const QString& list, int available, QString& error) {
    std::vector<int> rows;
    if (list == QLatin1String("all")) {
        for (int r = 1; r <= available; ++r) {
            rows.push_back(r);
        }
        return rows;
    }
    std::set<int> seen;
    for (const QString& item : list.split(QLatin1Char(','))) {
        const QStringList ends = item.trimmed().split(QLatin1Char('-'));
        bool okFirst = false, okLast = false;
        const int first = ends.value(0).toInt(&okFirst);
        const int last = ends.size() == 2 ? ends[1].toInt(&okLast) : first;
        if (ends.size() > 2 || !okFirst || (ends.size() == 2 && !okLast) || first < 1 ||
            last < first) {
            error = QStringLiteral("ufdtool: '%1' in the row list is no row number or range "
                                   "(rows count from 1: 1,3,5-9 or all)")
                        .arg(item);
            return std::nullopt;
        }
        if (last > available) {
            error = QStringLiteral("ufdtool: the last import holds %1 report rows, not %2")
                        .arg(available)
                        .arg(last);
            return std::nullopt;
        }
        for (int r = first; r <= last; ++r) {
            if (seen.insert(r).second) {
                rows.push_back(r);
            }
        }
    }
    if (rows.empty()) {
        error = QStringLiteral("ufdtool: the last import holds no report rows");
        return std::nullopt;
    }
    return rows;
}

} // namespace

int cmdPdf(const QStringList& args, Io io) {
    const QString usage =
        QStringLiteral("usage: ufdtool pdf --rows LIST|all [--workpiece ID] [--user NAME] "
                       "[--out FILE.pdf] [--folder PROGRAM_FOLDER]\n");
    const QStringList withValue{QStringLiteral("--rows"), QStringLiteral("--workpiece"),
                                QStringLiteral("--user"), QStringLiteral("--out"),
                                QStringLiteral("--folder")};
    const QString list = optionValue(args, QStringLiteral("--rows"));
    if (list.isEmpty() || !positional(args, withValue).isEmpty()) {
        io.err << usage;
        return 2;
    }
#ifndef UFDTOOL_PDF
    io.err << "ufdtool: built without the windows (UFD_BUILD_GUI=OFF), so it writes no PDF\n";
    return 1;
#else
    reports::DataStore store;
    const auto all = lastImportRows(store, io);
    if (!all) {
        return 1;
    }
    QString error;
    const auto chosen = parseRowList(list, static_cast<int>(all->size()), error);
    if (!chosen) {
        io.err << error << "\n";
        return 1;
    }
    const auto workpiece = workpieceOption(args, store, io);
    if (!workpiece) {
        return 1;
    }
    std::vector<QSqlRecord> rows;
    std::vector<reports::WorkpieceFields> workpieces;
    std::vector<std::optional<documents::PageRecord>> records;
    for (const int r : *chosen) {
        rows.push_back((*all)[static_cast<std::size_t>(r - 1)]);
        // The archive holds each imported report: its page carries the record.
        records.push_back(documents::archivedRecord(store, rows.back()));
        workpieces.push_back(*workpiece);
        workpieces.back().location =
            documents::documentLocation(records.back(), workpiece->location);
    }
    const documents::PageSource source =
        documents::pageSource(std::move(rows), std::move(workpieces),
                              optionValue(args, QStringLiteral("--user")), std::move(records));

    QString path = optionValue(args, QStringLiteral("--out"));
    if (path.isEmpty()) {
        // Outfiles/ belongs to the program folder, as for the spreadsheet report.
        const QString folder =
            optionValue(args, QStringLiteral("--folder"), app::stationFolders().program);
        path = documents::pdfReportPath(reports::outfilesPath(folder), source.document.reports);
        if (path.isEmpty()) {
            io.err << "ufdtool: no file name in " << reports::outfilesPath(folder)
                   << " for the report name '" << documents::pdfBaseName(source.document.reports)
                   << "'\n";
            return 1;
        }
    }
    const documents::PrintResult written = documents::writeReportsPdf(path, source);
    if (!written.ok()) {
        io.err << written.error << "\n";
        return 1;
    }
    io.out << QDir::toNativeSeparators(path) << "\n";
    return 0;
#endif
}

int archivePdf(const QStringList& args, Io io) {
    const QStringList ids = positional(args, {QStringLiteral("--out")}).mid(1);
    const QString path = optionValue(args, QStringLiteral("--out"));
    QList<qint64> chosen;
    for (const QString& id : ids) {
        bool ok = false;
        chosen << id.toLongLong(&ok);
        if (!ok) {
            chosen.clear();
            break;
        }
    }
    if (chosen.isEmpty() || path.isEmpty()) {
        io.err << "usage: ufdtool archive pdf ID... --out FILE.pdf\n";
        return 2;
    }
#ifndef UFDTOOL_PDF
    io.err << "ufdtool: built without the windows (UFD_BUILD_GUI=OFF), so it writes no PDF\n";
    return 1;
#else
    reports::DataStore store;
    if (!openStore(store, io)) {
        return 1;
    }
    QString error;
    auto pages = documents::archivedPages(store, chosen, error);
    if (!pages) {
        io.err << error << "\n";
        return 1;
    }
    const documents::PrintResult written =
        documents::writeReportsPdf(path, documents::pageSource(std::move(*pages)));
    if (!written.ok()) {
        io.err << written.error << "\n";
        return 1;
    }
    io.out << QDir::toNativeSeparators(path) << "\n";
    return 0;
#endif
}

int cmdCsv(const QStringList& args, Io io) {
    const QString usage = QStringLiteral("usage: ufdtool csv --row N --out FILE.csv\n");
    bool ok = false;
    const int row = optionValue(args, QStringLiteral("--row")).toInt(&ok);
    const QString path = optionValue(args, QStringLiteral("--out"));
    if (!ok || path.isEmpty() ||
        !positional(args, {QStringLiteral("--row"), QStringLiteral("--out")}).isEmpty()) {
        io.err << usage;
        return 2;
    }
    reports::DataStore store;
    const auto all = lastImportRows(store, io);
    if (!all) {
        return 1;
    }
    QString error;
    if (!parseRowList(QString::number(row), static_cast<int>(all->size()), error)) {
        io.err << error << "\n";
        return 1;
    }
    const reports::ShowResult shown = reports::showCurrentReport(
        (*all)[static_cast<std::size_t>(row - 1)], reports::ReportDisplay{});
    if (!shown.ok()) {
        io.err << shown.error << "\n";
        return 1;
    }
    error = documents::writeWaveformCsv(path, shown.display);
    if (!error.isEmpty()) {
        io.err << error << "\n";
        return 1;
    }
    io.out << QDir::toNativeSeparators(path) << "\n";
    return 0;
}

} // namespace ufd::tool
