// The report windows, measured offscreen. The browser: "Open Report File" of a full report file
// until its last report is shown, into an empty archive and with its reports archived already,
// as the program imports (through its context, so the archive takes every import), and showing
// another report clicked in the grid. The archive window over a million archived reports: opened,
// each filter until its first page shows, a jump to the last row, and the memory it takes.
//   browser_bench [--archive-reports=N (1000000; 0 leaves the archive window out)]
//                 [--lab=FOLDER (the archive is made there once and used again)]
//                 [--server (the archive on a throw-away PostgreSQL server, made each run)]
//                 [Google Benchmark flags]
#include "archive_history.h"
#include "core/archive/shared_database.h"
#include "core/context/app_context.h"
#include "demo/demo_data.h"
#include "throwaway_postgres.h"
#include "widgets/ascan_chart.h"
#include "widgets/data_link.h"
#include "widgets/operator_messages.h"
#include "windows/reports/archive_list_model.h"
#include "windows/reports/report_archive_window.h"
#include "windows/reports/report_browser.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <malloc.h>
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

qint64 gArchiveReports = 1000000;

// What the heap holds in use, small blocks and mapped ones: what a window keeps, whatever
// the allocator kept from earlier windows.
double heapInUseMB() {
    const struct mallinfo2 m = mallinfo2();
    return static_cast<double>(m.uordblks + m.hblkhd) / 1048576.0;
}

// Resident memory of this process, from the kernel's account.
double residentMB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
        }
    }
    return 0;
}

// A station whose archive holds a lab's million reports: twenty files imported, then copied back
// into the years before. Made once, for every archive window benchmark.
QString gLabFolder; // --lab=FOLDER: kept there for the next run
bool gServer = false;

struct Lab {
    QTemporaryDir temporary;
    QString folder = gLabFolder.isEmpty() ? temporary.path() : gLabFolder;
    ufd::testing::ThrowawayPostgres server;
    app::AppContext context;
    QString error;
    Lab() {
        if (gServer && !useServer()) {
            return;
        }
        if (!context.openData(folder)) {
            error = context.lastError();
            return;
        }
        if (archive::ReportArchive(context.dataStore().archiveDb()).count({}).value_or(0) >=
            gArchiveReports) {
            return; // made by an earlier run
        }
        QElapsedTimer t;
        t.start();
        constexpr int kFiles = 20;
        const QSqlDatabase db = context.dataStore().archiveDb();
        for (int i = 0; i < kFiles && error.isEmpty(); ++i) {
            error = bench::importHistoryFile(db, i).error;
        }
        if (error.isEmpty()) {
            bench::copyHistoryBack(db, kFiles, gArchiveReports, error);
        }
        std::fprintf(stderr, "archive of %lld reports made in %.1f s\n",
                     static_cast<long long>(gArchiveReports),
                     static_cast<double>(t.elapsed()) / 1e3);
    }

    // The program's settings file naming the server, as a lab's station has it.
    bool useServer() {
        if (!server.start()) {
            error = server.error();
            return false;
        }
        qputenv(archive::kPasswordVariable, server.password().toUtf8());
        const QString settings = temporary.filePath(QLatin1String(archive::kSettingsFileName));
        QFile file(settings);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(QStringLiteral("[server]\nhost=127.0.0.1\nport=%1\ndatabase=postgres\n"
                                      "user=%2\n")
                           .arg(server.port())
                           .arg(server.user())
                           .toUtf8()) < 0) {
            error = QStringLiteral("cannot write %1").arg(settings);
            return false;
        }
        context.setDatabaseSettingsFile(settings);
        return true;
    }
};

// Ended before the application: the server is stopped through QProcess.
std::unique_ptr<Lab> gLab;

Lab* lab(benchmark::State& state) {
    if (!gLab) {
        gLab = std::make_unique<Lab>();
    }
    if (!gLab->error.isEmpty()) {
        state.SkipWithError(qPrintable(gLab->error));
        return nullptr;
    }
    return gLab.get();
}

std::unique_ptr<reports::TFReportArchive> openArchiveWindow(Lab& l, QuietMessages& messages) {
    auto w =
        std::make_unique<reports::TFReportArchive>(l.context.dataStore(), messages, l.folder + "/");
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    w->resize(1100, 760);
    w->show();
    QApplication::processEvents(); // the grid and the pages are laid out and painted
    return w;
}

// From the menu command until the newest page shows with its count and the newest report.
void BM_ArchiveWindowOpen(benchmark::State& state) {
    Lab* l = lab(state);
    if (l == nullptr) {
        return;
    }
    QuietMessages messages;
    for (auto _ : state) {
        auto w = openArchiveWindow(*l, messages);
        if (w->listModel()->total() < gArchiveReports) {
            state.SkipWithError("the archive window does not count every report");
            return;
        }
        state.PauseTiming();
        w.reset();
        state.ResumeTiming();
    }
}

// Each filter of the window, from Search until its first page and count show.
void BM_ArchiveWindowFilter(benchmark::State& state) {
    Lab* l = lab(state);
    if (l == nullptr) {
        return;
    }
    QuietMessages messages;
    auto w = openArchiveWindow(*l, messages);
    const auto search = [&] {
        w->refresh();
        QApplication::processEvents();
    };
    const auto clear = [&] {
        w->nameFilter()->clear();
        w->fromEnabled()->setChecked(false);
        w->toEnabled()->setChecked(false);
        w->sourceFilter()->setCurrentIndex(0);
        w->workpieceFilter()->setCurrentIndex(0);
    };
    const int which = static_cast<int>(state.range(0));
    qint64 matches = 0;
    for (auto _ : state) {
        state.PauseTiming();
        clear();
        switch (which) {
        case 0:
            break;
        case 1:
            w->fromEnabled()->setChecked(true);
            w->fromDate()->setDate(bench::kFirstDay.date().addDays(-400));
            w->toEnabled()->setChecked(true);
            w->toDate()->setDate(bench::kFirstDay.date().addDays(-340));
            break;
        case 2:
            w->nameFilter()->setText(QStringLiteral("weld-05"));
            break;
        case 3:
            w->sourceFilter()->setCurrentText(QStringLiteral("3-history-5.bin"));
            break;
        case 5: // a tenth of a per cent
            w->nameFilter()->setText(QStringLiteral("weld-0512"));
            break;
        default:
            w->nameFilter()->setText(QStringLiteral("weld-05"));
            w->fromEnabled()->setChecked(true);
            w->fromDate()->setDate(bench::kFirstDay.date().addDays(-400));
            break;
        }
        state.ResumeTiming();
        search();
        matches = w->listModel()->total();
    }
    state.counters["matches"] = static_cast<double>(matches);
}

// The grid taken to its last row (Ctrl+End), until that row and its report show.
void BM_ArchiveWindowJumpToLastRow(benchmark::State& state) {
    Lab* l = lab(state);
    if (l == nullptr) {
        return;
    }
    QuietMessages messages;
    for (auto _ : state) {
        state.PauseTiming();
        auto w = openArchiveWindow(*l, messages); // at the top, no other page read
        QTableView* grid = w->grid();
        const int last = grid->model()->rowCount() - 1;
        state.ResumeTiming();
        QTest::keyClick(grid, Qt::Key_End, Qt::ControlModifier);
        QApplication::processEvents();
        if (grid->currentIndex().row() != last || w->lastShown().trace.isEmpty()) {
            state.SkipWithError("the last row and its report did not show");
            return;
        }
        state.PauseTiming();
        w.reset();
        state.ResumeTiming();
    }
}

// What the window adds to the program's memory: opened, then scrolled a page at a time through
// its first 20,000 rows, taken to the last row and to the middle.
void BM_ArchiveWindowMemory(benchmark::State& state) {
    Lab* l = lab(state);
    if (l == nullptr) {
        return;
    }
    QuietMessages messages;
    double added = 0;
    double resident = 0;
    for (auto _ : state) {
        const double before = heapInUseMB();
        const double residentBefore = residentMB();
        auto w = openArchiveWindow(*l, messages);
        QTableView* grid = w->grid();
        for (int i = 0; i < 100; ++i) {
            QTest::keyClick(grid, Qt::Key_PageDown);
            QApplication::processEvents();
        }
        QTest::keyClick(grid, Qt::Key_End, Qt::ControlModifier);
        QApplication::processEvents();
        grid->setCurrentIndex(grid->model()->index(grid->model()->rowCount() / 2, 0));
        grid->scrollTo(grid->currentIndex());
        QApplication::processEvents();
        added = heapInUseMB() - before;
        resident = residentMB() - residentBefore;
        std::fprintf(stderr, "archive window: heap in use %+.1f MB, resident %+.1f MB (%.1f MB)\n",
                     added, resident, residentMB());
    }
    state.counters["window_MB"] = added;
    state.counters["resident_MB"] = resident;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg.startsWith(QLatin1String("--archive-reports="))) {
            gArchiveReports = arg.mid(18).toLongLong();
        } else if (arg.startsWith(QLatin1String("--lab="))) {
            gLabFolder = arg.mid(6);
        } else if (arg == QLatin1String("--server")) {
            gServer = true;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    if (gArchiveReports > 0) {
        benchmark::RegisterBenchmark("BM_ArchiveWindowOpen", BM_ArchiveWindowOpen)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_ArchiveWindowFilter", BM_ArchiveWindowFilter)
            ->ArgNames({"filter"})
            ->DenseRange(0, 5)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_ArchiveWindowJumpToLastRow", BM_ArchiveWindowJumpToLastRow)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_ArchiveWindowMemory", BM_ArchiveWindowMemory)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gLab.reset();
    return 0;
}
