// The printed report pages: one report to PDF, and every report of a full report file into one
// PDF. Goals: one report under 50 ms; 1,024 reports under 10 s and under 100 KB a page.
#include "core/reports/database.h"
#include "core/reports/report_file.h"
#include "demo/demo_data.h"
#include "widgets/report_page.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <vector>

using namespace ufd;

namespace {

// The rows of an imported demo file of `reports` reports, as the browser's query reads them.
struct Rows {
    QTemporaryDir dir;
    reports::DataStore store;
    std::vector<QSqlRecord> rows;

    explicit Rows(int reports) {
        if (!dir.isValid() || !store.open(dir.path())) {
            return;
        }
        store.replaceReports(reports::decodeReportFile(demo::makeReportImage(reports, 7)).rows);
        QSqlQuery q(store.reportDb());
        q.exec(QStringLiteral("select * From tabDetectorReport"));
        while (q.next()) {
            rows.push_back(q.record());
        }
    }
};

void writePdf(benchmark::State& state, int reports) {
    Rows data(reports);
    if (data.rows.size() != static_cast<std::size_t>(reports)) {
        state.SkipWithError("no rows");
        return;
    }
    reports::WorkpieceFields workpiece{QStringLiteral("W-1"),
                                       {QStringLiteral("Flange"), QStringLiteral("Pipe"),
                                        QStringLiteral("Q345"), QStringLiteral("Normalised"),
                                        QStringLiteral("6.3"), QStringLiteral("QA"),
                                        QStringLiteral("Crack")}};
    const QString path = data.dir.filePath(QStringLiteral("out.pdf"));
    for (auto _ : state) {
        const auto result = documents::writeReportsPdf(
            path, documents::pageSource(data.rows, workpiece, QStringLiteral("Inspector")));
        if (!result.ok()) {
            state.SkipWithError(result.error.toStdString().c_str());
            return;
        }
    }
    const double bytes = static_cast<double>(QFileInfo(path).size());
    state.counters["KB_per_page"] = bytes / 1024 / reports;
    state.counters["pages"] = reports;
}

// "Save as PDF" of the report on screen: show, page content, drawing and the file.
void BM_OneReportPdf(benchmark::State& state) {
    writePdf(state, 1);
}
BENCHMARK(BM_OneReportPdf)->Unit(benchmark::kMillisecond);

// Every report of a full report file (1,024) into one PDF.
void BM_FullReportFilePdf(benchmark::State& state) {
    writePdf(state, 1024);
}
BENCHMARK(BM_FullReportFilePdf)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
