// The report browser, measured offscreen: "Open Report File" of a full report file until its
// last report is shown, into an empty archive and with its reports archived already, as the
// program imports (through its context, so the archive takes every import); and showing another
// report clicked in the grid.
#include "core/context/app_context.h"
#include "demo/demo_data.h"
#include "widgets/ascan_chart.h"
#include "widgets/data_link.h"
#include "widgets/operator_messages.h"
#include "windows/reports/report_browser.h"

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QLineSeries>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <memory>

using namespace ufd;

namespace {

class QuietMessages final : public app::OperatorMessages {
public:
    void showMessage(const QString& text) override { report(text); }
    void showError(const QString& text) override { report(text); }
    bool askYesNo(const QString&, const QString&) override { return false; }
    bool askOkCancel(const QString&) override { return false; }

private:
    static void report(const QString& text) { std::fprintf(stderr, "%s\n", qPrintable(text)); }
};

// A program folder with a full report file and databases of its own, opened as the program
// opens them.
struct Browser {
    Browser() {
        QFile f(dir.filePath("full.bin"));
        f.open(QIODevice::WriteOnly);
        f.write(demo::makeReportImage(1024, 77));
        f.close();
        window = std::make_unique<reports::TFImPortData>(context.dataStore(), context.reportQuery(),
                                                         context.reportImage(), messages,
                                                         dir.path() + "/");
        window->setFileChooser(
            [this](QWidget*, const QString&) { return dir.filePath("full.bin"); });
        window->resize(1100, 760);
        window->show();
        QApplication::processEvents();
    }

    // Until the grid shows the last report and the plot has drawn it.
    bool open() {
        window->BitBtn_OpenClick();
        QApplication::processEvents();
        return window->dataLink()->currentRow() == 1023 &&
               window->chart()->traceSeries()->count() > 0;
    }

    QTemporaryDir dir;
    app::AppContext context;
    bool opened = context.openData(dir.path()); // before the window reads the workpieces
    QuietMessages messages;
    std::unique_ptr<reports::TFImPortData> window;
};

// A new station: nothing archived yet. Each iteration a program folder of its own.
void BM_OpenFullReportFileIntoEmptyArchive(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto b = std::make_unique<Browser>();
        state.ResumeTiming();
        if (!b->open()) {
            state.SkipWithError("the last report was not shown");
            return;
        }
        state.PauseTiming();
        b.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenFullReportFileIntoEmptyArchive)->Unit(benchmark::kMillisecond)->Iterations(5);

// The same file opened again: every report is archived already.
void BM_OpenFullReportFile(benchmark::State& state) {
    Browser b;
    if (!b.open()) {
        state.SkipWithError("the last report was not shown");
        return;
    }
    for (auto _ : state) {
        if (!b.open()) {
            state.SkipWithError("the last report was not shown");
            return;
        }
    }
}
BENCHMARK(BM_OpenFullReportFile)->Unit(benchmark::kMillisecond);

void BM_ShowAnotherReportFromTheGrid(benchmark::State& state) {
    Browser b;
    b.open();
    QTableView* grid = b.window->grid();
    const int column = grid->horizontalHeader()->logicalIndex(0);
    int row = 0;
    for (auto _ : state) {
        row = (row + 1) % 8; // DAC, AVG and plain reports in turn
        const QModelIndex index = grid->model()->index(row, column);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(index).center());
        QApplication::processEvents();
    }
    if (b.window->dataLink()->currentRow() != row) {
        state.SkipWithError("the click did not reach the row");
    }
}
BENCHMARK(BM_ShowAnotherReportFromTheGrid)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
