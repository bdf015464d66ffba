// The report browser's show and the spreadsheet report, on demo reports in a real database.
#include "core/reports/database.h"
#include "core/reports/report_display.h"
#include "core/reports/report_file.h"
#include "core/spreadsheet/spreadsheet_report.h"
#include "demo/demo_data.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <vector>

using namespace ufd;

namespace {

// A program folder with the default template, and the rows of an imported demo file.
struct Workbench {
    QTemporaryDir dir;
    reports::DataStore store;
    std::vector<QSqlRecord> rows;
    QString folder;
    bool ok = false;

    Workbench() {
        folder = dir.filePath(QStringLiteral("program"));
        if (!dir.isValid() || !store.open(dir.path()) || !QDir().mkpath(folder + "/Moudle") ||
            !QDir().mkpath(folder + "/Outfiles") ||
            !QFile::copy(QStringLiteral(UFD_TEMPLATE_PATH), reports::templatePath(folder))) {
            return;
        }
        store.replaceReports(reports::decodeReportFile(demo::makeReportImage(6, 3)).rows);
        QSqlQuery q(store.reportDb());
        q.exec(QStringLiteral("select * From tabDetectorReport"));
        while (q.next()) {
            rows.push_back(q.record());
        }
        ok = rows.size() == 6;
    }
};

// Clicking another row of the grid: read the row, show it.
void BM_ShowCurrentReport(benchmark::State& state) {
    Workbench w;
    if (!w.ok) {
        state.SkipWithError("no workbench");
        return;
    }
    reports::ReportDisplay display;
    std::size_t i = 0;
    for (auto _ : state) {
        auto shown = reports::showCurrentReport(w.rows[i++ % w.rows.size()], display);
        display = std::move(shown.display);
        benchmark::DoNotOptimize(display.trace.constData());
    }
}
BENCHMARK(BM_ShowCurrentReport)->Unit(benchmark::kMillisecond);

// "Edit Report " of a DAC report with both gates: every cell, copy and filling.
void BM_SpreadsheetReport(benchmark::State& state) {
    Workbench w;
    if (!w.ok) {
        state.SkipWithError("no workbench");
        return;
    }
    QSqlRecord row = w.rows[0];
    row.setValue(QStringLiteral("GateLogic"), QStringLiteral("GateAB"));
    const auto shown = reports::showCurrentReport(row, reports::ReportDisplay{});
    reports::WorkpieceFields workpiece{QStringLiteral("W-1"),
                                       {QStringLiteral("Flange"), QStringLiteral("Pipe"),
                                        QStringLiteral("Q345"), QStringLiteral("Normalised"),
                                        QStringLiteral("6.3"), QStringLiteral("QA"),
                                        QStringLiteral("Crack")}};
    for (auto _ : state) {
        const auto report =
            reports::writeSpreadsheetReport(w.folder, row, workpiece, shown.display, {});
        if (!report.ok()) {
            state.SkipWithError(report.error.toStdString().c_str());
            return;
        }
    }
}
BENCHMARK(BM_SpreadsheetReport)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
