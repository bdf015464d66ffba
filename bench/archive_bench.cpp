// The report archive at the size of years of work: full report files into an empty archive, then
// with them archived a filtered list, one report fetched, and one more file imported. On SQLite
// and, when the machine has PostgreSQL, on a throw-away server.
//   archive_bench [--backend=sqlite|postgres|both] [--files=N] [Google Benchmark flags]
#include "core/archive/report_archive.h"
#include "core/archive/shared_database.h"
#include "core/reports/database.h"
#include "core/reports/report_file.h"
#include "demo/demo_data.h"
#include "throwaway_postgres.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <memory>
#include <random>

using namespace ufd;

namespace {

int gFiles = 100;
const QDateTime kFirstDay(QDate(2024, 1, 1), QTime(7, 0), Qt::UTC);

// File `i` of a lab's history: 1,024 reports of its own, six days after file i - 1.
QByteArray historyFile(int i) {
    return demo::makeReportImage(static_cast<int>(reports::kSlotCount),
                                 static_cast<std::uint32_t>(1000 + i), kFirstDay.addDays(6LL * i));
}

// One archive, filled by the first benchmark and read by the others.
struct Archive {
    QTemporaryDir dir;
    std::unique_ptr<ufd::testing::ThrowawayPostgres> server;
    reports::DataStore store;
    bool postgres = false;
    int nextFile = 0;
    QString error;

    explicit Archive(bool onServer) : postgres(onServer) {
        archive::DatabaseLocation where;
        where.folder = dir.path();
        if (postgres) {
            server = std::make_unique<ufd::testing::ThrowawayPostgres>();
            if (!server->start()) {
                error = server->error();
                return;
            }
            qputenv(archive::kPasswordVariable, server->password().toUtf8());
            QString parseError;
            where = *archive::parseDatabaseUrl(server->url(), dir.path(), parseError);
        }
        archive::openDatabases(store, where, {}, error);
    }

    bool ok() const { return error.isEmpty(); }

    qint64 bytes() {
        if (!postgres) {
            return QFileInfo(dir.filePath(QString::fromLatin1(reports::kReportDbFile))).size();
        }
        QSqlQuery q(store.archiveDb());
        return q.exec(QStringLiteral("SELECT pg_database_size(current_database())")) && q.next()
                   ? q.value(0).toLongLong()
                   : -1;
    }

    // Reads and decodes a file as ufdtool's `archive import` does, then adds it.
    archive::AddResult import(const QByteArray& image) {
        const auto decoded = reports::decodeReportFile(image);
        return archive::ReportArchive(store.archiveDb())
            .add(image, decoded.rows,
                 {QStringLiteral("history-%1.bin").arg(nextFile++), QStringLiteral("bench")});
    }
};

std::unique_ptr<Archive> gArchives[2];

Archive* archiveFor(benchmark::State& state, bool postgres) {
    auto& a = gArchives[postgres ? 1 : 0];
    if (!a) {
        a = std::make_unique<Archive>(postgres);
    }
    if (!a->ok()) {
        state.SkipWithError(qPrintable(a->error));
        return nullptr;
    }
    return a.get();
}

void importHistory(benchmark::State& state, bool postgres) {
    Archive* a = archiveFor(state, postgres);
    if (a == nullptr) {
        return;
    }
    for (auto _ : state) {
        for (int i = 0; i < gFiles; ++i) {
            state.PauseTiming();
            const QByteArray image = historyFile(i);
            state.ResumeTiming();
            const archive::AddResult r = a->import(image);
            if (!r.ok() || r.added != static_cast<int>(reports::kSlotCount)) {
                state.SkipWithError(qPrintable(
                    QStringLiteral("file %1: %2 added, %3").arg(i).arg(r.added).arg(r.error)));
                return;
            }
        }
    }
    const qint64 bytes = a->bytes();
    state.counters["reports"] = static_cast<double>(gFiles) * reports::kSlotCount;
    state.counters["archive_MB"] = static_cast<double>(bytes) / 1e6;
    std::fprintf(stderr, "%s archive after %d files: %.1f MB\n", postgres ? "PostgreSQL" : "SQLite",
                 gFiles, static_cast<double>(bytes) / 1e6);
}

// "Name contains" and two months of dates, the first page and the count, as the window asks.
void filteredList(benchmark::State& state, bool postgres) {
    Archive* a = archiveFor(state, postgres);
    if (a == nullptr) {
        return;
    }
    archive::ReportArchive archive(a->store.archiveDb());
    archive::ArchiveFilter filter;
    filter.nameContains = QStringLiteral("weld-05");
    filter.from = kFirstDay.addDays(6LL * gFiles / 3);
    filter.to = filter.from.addDays(60);
    qint64 total = 0;
    for (auto _ : state) {
        const auto page = archive.list(filter);
        if (!page) {
            state.SkipWithError(qPrintable(archive.lastError()));
            return;
        }
        total = page->total;
        benchmark::DoNotOptimize(page->entries.data());
    }
    state.counters["matches"] = static_cast<double>(total);
}

// What the archive window opens with: the newest page of everything, and the count.
void newestPage(benchmark::State& state, bool postgres) {
    Archive* a = archiveFor(state, postgres);
    if (a == nullptr) {
        return;
    }
    archive::ReportArchive archive(a->store.archiveDb());
    for (auto _ : state) {
        const auto page = archive.list({});
        if (!page) {
            state.SkipWithError(qPrintable(archive.lastError()));
            return;
        }
        benchmark::DoNotOptimize(page->entries.data());
    }
}

void fetchOne(benchmark::State& state, bool postgres) {
    Archive* a = archiveFor(state, postgres);
    if (a == nullptr) {
        return;
    }
    archive::ReportArchive archive(a->store.archiveDb());
    const auto newest = archive.list({});
    if (!newest || newest->total == 0) {
        state.SkipWithError("an empty archive");
        return;
    }
    std::mt19937 rng(5);
    std::uniform_int_distribution<qint64> pick(1, newest->total);
    for (auto _ : state) {
        const auto report = archive.fetch(pick(rng));
        if (!report) {
            state.SkipWithError(qPrintable(archive.lastError()));
            return;
        }
        benchmark::DoNotOptimize(report->row.count());
    }
}

// Each iteration a file the archive has not seen.
void importOneMore(benchmark::State& state, bool postgres) {
    Archive* a = archiveFor(state, postgres);
    if (a == nullptr) {
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        const QByteArray image = historyFile(a->nextFile);
        state.ResumeTiming();
        const archive::AddResult r = a->import(image);
        if (!r.ok() || r.added != static_cast<int>(reports::kSlotCount)) {
            state.SkipWithError(qPrintable(r.error));
            return;
        }
    }
}

void registerFor(bool postgres) {
    const std::string suffix = postgres ? "/PostgreSQL" : "/SQLite";
    benchmark::RegisterBenchmark(("BM_ImportFullFilesIntoEmptyArchive" + suffix).c_str(),
                                 importHistory, postgres)
        ->Iterations(1)
        ->Unit(benchmark::kSecond);
    benchmark::RegisterBenchmark(("BM_FilteredList" + suffix).c_str(), filteredList, postgres)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_NewestPage" + suffix).c_str(), newestPage, postgres)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_FetchOne" + suffix).c_str(), fetchOne, postgres)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_ImportOneMoreFile" + suffix).c_str(), importOneMore, postgres)
        ->Iterations(5)
        ->Unit(benchmark::kMillisecond);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString backend = QStringLiteral("both");
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg.startsWith(QLatin1String("--backend="))) {
            backend = arg.mid(10);
        } else if (arg.startsWith(QLatin1String("--files="))) {
            gFiles = std::max(1, arg.mid(8).toInt());
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    if (backend != QLatin1String("postgres")) {
        registerFor(false);
    }
    // PostgreSQL where the machine has it, unless only SQLite was asked for.
    if (backend == QLatin1String("postgres") ||
        (backend == QLatin1String("both") && !ufd::testing::ThrowawayPostgres::unavailableHere())) {
        registerFor(true);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (auto& a : gArchives) {
        a.reset();
    }
    return 0;
}
