// The report browser, measured offscreen: "Open Report File" of a full report file until its
// last report is shown, and showing another report clicked in the grid.
#include "core/protocol/report_image.h"
#include "core/reports/database.h"
#include "core/reports/report_query.h"
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

// A program folder with a full report file and databases of its own.
struct Browser {
    Browser() {
        QFile f(dir.filePath("full.bin"));
        f.open(QIODevice::WriteOnly);
        f.write(demo::makeReportImage(1024, 77));
        f.close();
        window.setFileChooser(
            [this](QWidget*, const QString&) { return dir.filePath("full.bin"); });
        window.resize(1100, 760);
        window.show();
        QApplication::processEvents();
    }

    QTemporaryDir dir;
    reports::DataStore store;
    bool opened = store.open(dir.path()); // before the window reads the workpieces
    reports::ReportQuery query{store};
    protocol::ReportImage image;
    QuietMessages messages;
    reports::TFImPortData window{store, query, image, messages, dir.path() + "/"};
};

void BM_OpenFullReportFile(benchmark::State& state) {
    Browser b;
    for (auto _ : state) {
        b.window.BitBtn_OpenClick();
        QApplication::processEvents(); // the grid and the plot are laid out and painted
    }
    if (b.window.dataLink()->currentRow() != 1023 ||
        b.window.chart()->traceSeries()->count() == 0) {
        state.SkipWithError("the last report was not shown");
    }
}
BENCHMARK(BM_OpenFullReportFile)->Unit(benchmark::kMillisecond);

void BM_ShowAnotherReportFromTheGrid(benchmark::State& state) {
    Browser b;
    b.window.BitBtn_OpenClick();
    QTableView* grid = b.window.grid();
    const int column = grid->horizontalHeader()->logicalIndex(0);
    int row = 0;
    for (auto _ : state) {
        row = (row + 1) % 8; // DAC, AVG and plain reports in turn
        const QModelIndex index = grid->model()->index(row, column);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(index).center());
        QApplication::processEvents();
    }
    if (b.window.dataLink()->currentRow() != row) {
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
