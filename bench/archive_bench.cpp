// The report archive at the size of years of work. Full report files into an empty archive,
// beside the floor of the same work without a database (hashing and compressing the same
// bytes); then, with the history copied back to a million reports, what the archive window
// asks: each filter's count and first page, the last row, a page in the middle, a sort by
// name, where a report stands, one report fetched, and one more file imported. On SQLite and,
// when the machine has PostgreSQL, on a throw-away server.
//   archive_bench [--backend=sqlite|postgres|both] [--files=N] [--reports=N]
//                 [Google Benchmark flags]
#include "archive_history.h"
#include "core/archive/report_archive.h"
#include "core/archive/shared_database.h"
#include "core/reports/database.h"
#include "core/reports/report_file.h"
#include "throwaway_postgres.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <memory>
#include <random>
#include <zlib.h>

using namespace ufd;
using bench::historyFile;
using bench::kFirstDay;

namespace {

int gFiles = 100;
qint64 gReports = 1000000;

// One archive, filled by the first benchmark and read by the others.
struct Archive {
    QTemporaryDir dir;
    std::unique_ptr<ufd::testing::ThrowawayPostgres> server;
    reports::DataStore store;
    bool postgres = false;
    int nextFile = 0;
    bool grown = false;
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
    const char* name() const { return postgres ? "PostgreSQL" : "SQLite"; }

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
        const auto decoded = reports::decodeReportFile(image, reports::Columns::WithoutFileData);
        return archive::ReportArchive(store.archiveDb())
            .add(image, decoded.rows,
                 {QStringLiteral("history-%1.bin").arg(nextFile++), QStringLiteral("bench")});
    }

    // The history copied back to gReports reports, a tenth of them given one of 50 workpieces.
    bool grow() {
        if (grown) {
            return true;
        }
        QElapsedTimer t;
        t.start();
        // Before the copies, which take it along, and before the server's vacuum at the end.
        QSqlQuery q(store.archiveDb());
        if (!q.exec(QStringLiteral("UPDATE \"tabReportArchive\" SET \"PartID\" = 'W-' || "
                                   "(\"ArchiveID\" % 50) WHERE \"ArchiveID\" % 10 = 0"))) {
            error = q.lastError().text();
            return false;
        }
        if (!bench::copyHistoryBack(store.archiveDb(), nextFile, gReports, error)) {
            return false;
        }
        grown = true;
        const auto total = archive::ReportArchive(store.archiveDb()).count({});
        std::fprintf(stderr, "%s archive grown to %lld reports (%.1f MB) in %.1f s\n", name(),
                     static_cast<long long>(total.value_or(-1)), static_cast<double>(bytes()) / 1e6,
                     static_cast<double>(t.elapsed()) / 1e3);
        return true;
    }
};

std::unique_ptr<Archive> gArchives[2];

Archive* archiveFor(benchmark::State& state, bool postgres, bool grown = false) {
    auto& a = gArchives[postgres ? 1 : 0];
    if (!a) {
        a = std::make_unique<Archive>(postgres);
    }
    if (a->ok() && grown && !a->grow()) {
        std::fprintf(stderr, "%s\n", qPrintable(a->error));
    }
    if (!a->ok()) {
        state.SkipWithError(qPrintable(a->error));
        return nullptr;
    }
    return a.get();
}

// What the archive does to a file without a database: each report's directory entry and slot
// hashed (as the decoder hashes it) and compressed (one deflate state, runs only, as the archive
// packs them).
void floorOfFiles(benchmark::State& state) {
    z_stream z{};
    deflateInit2(&z, 1, Z_DEFLATED, 15, 8, Z_RLE);
    QByteArray out(8192, Qt::Uninitialized);
    qint64 packed = 0;
    for (auto _ : state) {
        for (int i = 0; i < gFiles; ++i) {
            state.PauseTiming();
            const QByteArray image = historyFile(i);
            state.ResumeTiming();
            const auto* b = reinterpret_cast<const Bytef*>(image.constData());
            for (std::size_t slot = 0; slot < reports::kSlotCount; ++slot) {
                const Bytef* entry =
                    b + reports::kDirectoryOffset + reports::kDirectoryEntrySize * slot;
                const Bytef* bytes = b + reports::kSlotsOffset + reports::kSlotSize * slot;
                benchmark::DoNotOptimize(reports::reportHash(entry, bytes));
                deflateReset(&z);
                z.next_out = reinterpret_cast<Bytef*>(out.data());
                z.avail_out = static_cast<uInt>(out.size());
                z.next_in = const_cast<Bytef*>(entry);
                z.avail_in = reports::kDirectoryEntrySize;
                deflate(&z, Z_NO_FLUSH);
                z.next_in = const_cast<Bytef*>(bytes);
                z.avail_in = reports::kSlotSize;
                deflate(&z, Z_FINISH);
                packed += static_cast<qint64>(z.total_out);
            }
        }
    }
    deflateEnd(&z);
    state.counters["packed_MB"] =
        static_cast<double>(packed) / 1e6 /
        static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
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
    std::fprintf(stderr, "%s archive after %d files: %.1f MB\n", a->name(), gFiles,
                 static_cast<double>(bytes) / 1e6);
}

// The window's question for a filter: how many, and the first page of them.
struct Filter {
    const char* name;
    archive::ArchiveFilter (*make)();
};

const Filter kFilters[] = {
    {"Everything", [] { return archive::ArchiveFilter{}; }},
    {"TwoMonths",
     [] {
         archive::ArchiveFilter f;
         f.from = kFirstDay.addDays(-400);
         f.to = f.from.addDays(60);
         return f;
     }},
    {"NameContains",
     [] {
         archive::ArchiveFilter f;
         f.nameContains = QStringLiteral("weld-05");
         return f;
     }},
    {"RareName", // a tenth of a per cent: fewer than a page in the newest 200,000
     [] {
         archive::ArchiveFilter f;
         f.nameContains = QStringLiteral("weld-0512");
         return f;
     }},
    {"Probe",
     [] {
         archive::ArchiveFilter f;
         f.probeName = QStringLiteral("5P20");
         return f;
     }},
    {"SourceFile",
     [] {
         archive::ArchiveFilter f;
         f.sourceFile = QStringLiteral("3-history-5.bin");
         return f;
     }},
    {"Workpiece",
     [] {
         archive::ArchiveFilter f;
         f.workpiece = QStringLiteral("W-20");
         return f;
     }},
    {"NameAndTwoMonths",
     [] {
         archive::ArchiveFilter f;
         f.nameContains = QStringLiteral("weld-05");
         f.from = kFirstDay.addDays(-400);
         f.to = f.from.addDays(60);
         return f;
     }},
    {"SortedByName",
     [] {
         archive::ArchiveFilter f;
         f.sortBy = archive::ArchiveSort::FileName;
         f.descending = false;
         return f;
     }},
    {"ProbeSortedBySource",
     [] {
         archive::ArchiveFilter f;
         f.probeName = QStringLiteral("5P20");
         f.sortBy = archive::ArchiveSort::SourceFile;
         return f;
     }},
};

constexpr int kPage = 200; // the window's page

void firstPage(benchmark::State& state, bool postgres, const Filter* filter) {
    Archive* a = archiveFor(state, postgres, true);
    if (a == nullptr) {
        return;
    }
    archive::ReportArchive archive(a->store.archiveDb());
    archive::ArchiveFilter f = filter->make();
    f.limit = kPage;
    qint64 total = 0;
    // Once untimed: the first question after the history was made meets cold caches.
    archive.entries(f, archive.count(f).value_or(-1));
    for (auto _ : state) {
        const auto count = archive.count(f);
        const auto page = count ? archive.entries(f, *count) : std::nullopt;
        if (!page) {
            state.SkipWithError(qPrintable(archive.lastError()));
            return;
        }
        total = *count;
        benchmark::DoNotOptimize(page->data());
    }
    state.counters["matches"] = static_cast<double>(total);
}

// A page at `where` (0 first, 1 last) of everything, newest first, the count known.
void pageAt(benchmark::State& state, bool postgres, double where) {
    Archive* a = archiveFor(state, postgres, true);
    if (a == nullptr) {
        return;
    }
    archive::ReportArchive archive(a->store.archiveDb());
    archive::ArchiveFilter f;
    const qint64 total = archive.count(f).value_or(0);
    f.limit = kPage;
    f.offset = static_cast<int>(static_cast<double>(total - kPage) * where);
    for (auto _ : state) {
        const auto page = archive.entries(f, total);
        if (!page || page->empty()) {
            state.SkipWithError(qPrintable(archive.lastError()));
            return;
        }
        benchmark::DoNotOptimize(page->data());
    }
}

// Where a report stands in the list: what keeps the current report after a new search.
void positionOf(benchmark::State& state, bool postgres) {
    Archive* a = archiveFor(state, postgres, true);
    if (a == nullptr) {
        return;
    }
    archive::ReportArchive archive(a->store.archiveDb());
    const qint64 total = archive.count({}).value_or(0);
    std::mt19937 rng(5);
    std::uniform_int_distribution<qint64> pick(0, total - 1);
    archive::ArchiveFilter f;
    f.limit = 1;
    for (auto _ : state) {
        state.PauseTiming();
        f.offset = static_cast<int>(pick(rng));
        const auto entry = archive.entries(f, total);
        state.ResumeTiming();
        if (!entry || entry->empty() || archive.position(f, entry->front().id) != f.offset) {
            state.SkipWithError("the position is not the row's");
            return;
        }
    }
}

void fetchOne(benchmark::State& state, bool postgres) {
    Archive* a = archiveFor(state, postgres, true);
    if (a == nullptr) {
        return;
    }
    archive::ReportArchive archive(a->store.archiveDb());
    // Reports from the newest page and from the middle of the history.
    const qint64 total = archive.count({}).value_or(0);
    std::vector<qint64> ids;
    for (const qint64 at : {qint64{0}, total / 2}) {
        archive::ArchiveFilter f;
        f.offset = static_cast<int>(at);
        f.limit = 500;
        for (const qint64 id : archive.ids(f, total).value_or(std::vector<qint64>{})) {
            ids.push_back(id);
        }
    }
    if (ids.empty()) {
        state.SkipWithError(qPrintable(archive.lastError()));
        return;
    }
    std::mt19937 rng(5);
    std::uniform_int_distribution<std::size_t> pick(0, ids.size() - 1);
    for (auto _ : state) {
        const auto report = archive.fetch(ids[pick(rng)]);
        if (!report) {
            state.SkipWithError(qPrintable(archive.lastError()));
            return;
        }
        benchmark::DoNotOptimize(report->row.count());
    }
}

// Each iteration a file the archive has not seen.
void importOneMore(benchmark::State& state, bool postgres) {
    Archive* a = archiveFor(state, postgres, true);
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
    if (gReports <= 0) {
        return;
    }
    for (const Filter& f : kFilters) {
        benchmark::RegisterBenchmark(
            (std::string("BM_CountAndFirstPage/") + f.name + suffix).c_str(), firstPage, postgres,
            &f)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark(("BM_LastPage" + suffix).c_str(), pageAt, postgres, 1.0)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_MiddlePage" + suffix).c_str(), pageAt, postgres, 0.5)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_PositionOfAReport" + suffix).c_str(), positionOf, postgres)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_FetchOne" + suffix).c_str(), fetchOne, postgres)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_ImportOneMoreFile" + suffix).c_str(), importOneMore, postgres)
        ->Iterations(5)
        ->Unit(benchmark::kMillisecond);
}

// Prints each import beside the floor, the ratio the note asks for.
class Reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const std::string name = run.benchmark_name();
            const double seconds =
                run.GetAdjustedRealTime() * benchmark::GetTimeUnitMultiplier(run.time_unit);
            if (name.rfind("BM_Floor", 0) == 0) {
                floor_ = seconds;
            } else if (name.rfind("BM_ImportFullFilesIntoEmptyArchive", 0) == 0 && floor_ > 0) {
                std::printf("  %s: %.1f s for %d files, floor %.1f s, %.1f times the floor\n",
                            name.c_str(), seconds, gFiles, floor_, seconds / floor_);
            }
        }
    }

private:
    double floor_ = 0;
};

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
        } else if (arg.startsWith(QLatin1String("--reports="))) {
            gReports = arg.mid(10).toLongLong();
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    benchmark::RegisterBenchmark("BM_FloorHashAndCompressFullFiles", floorOfFiles)
        ->Iterations(1)
        ->Unit(benchmark::kSecond);
    if (backend != QLatin1String("postgres")) {
        registerFor(false);
    }
    // PostgreSQL where the machine has it, unless only SQLite was asked for.
    if (backend == QLatin1String("postgres") ||
        (backend == QLatin1String("both") && !ufd::testing::ThrowawayPostgres::unavailableHere())) {
        registerFor(true);
    }
    benchmark::Initialize(&argc, argv);
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    for (auto& a : gArchives) {
        a.reset();
    }
    return 0;
}
