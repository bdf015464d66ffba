// Decoding and storing reports: the per-record cost and a whole 1,024-report file, imported as
// the program imports it (the report table and the archive).
#include "core/archive/report_archive.h"
#include "core/archive/shared_database.h"
#include "core/online/curves.h"
#include "core/reports/database.h"
#include "core/reports/report_file.h"
#include "demo/demo_data.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>

using namespace ufd;

namespace {

const QByteArray& fullImage() {
    static const QByteArray image = demo::makeReportImage(1024, 7);
    return image;
}

const std::uint8_t* slot(std::size_t n) {
    return reinterpret_cast<const std::uint8_t*>(fullImage().constData()) + reports::kSlotsOffset +
           reports::kSlotSize * n;
}

const std::uint8_t* dirEntry(std::size_t n) {
    return reinterpret_cast<const std::uint8_t*>(fullImage().constData()) +
           reports::kDirectoryOffset + reports::kDirectoryEntrySize * n;
}

// Slot 0 holds a DAC report and slot 1 an AVG report (the demo alternates them).
void BM_DecodeReportWithDacCurves(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(reports::decodeReportSlot(0, dirEntry(0), slot(0)));
    }
}
BENCHMARK(BM_DecodeReportWithDacCurves)->Unit(benchmark::kMicrosecond);

void BM_DecodeReportWithAvgCurves(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(reports::decodeReportSlot(1, dirEntry(1), slot(1)));
    }
}
BENCHMARK(BM_DecodeReportWithAvgCurves)->Unit(benchmark::kMicrosecond);

void BM_DecodeLiveRecordAndCurves(benchmark::State& state) {
    online::InstrumentRecord rec;
    online::CurveArrays curves{};
    for (auto _ : state) {
        online::decodeRecord(slot(0), online::Encoding::Stored, rec);
        online::computeCurves(rec, curves);
        benchmark::DoNotOptimize(curves);
    }
}
BENCHMARK(BM_DecodeLiveRecordAndCurves)->Unit(benchmark::kMicrosecond);

void BM_DecodeWholeReportFile(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(reports::decodeReportFile(fullImage()));
    }
}
BENCHMARK(BM_DecodeWholeReportFile)->Unit(benchmark::kMillisecond);

// Databases in a folder of their own, opened as the program opens them, every import archived.
struct Station {
    QTemporaryDir dir;
    reports::DataStore store;
    explicit Station(const QByteArray& image) {
        archive::DatabaseLocation here;
        here.folder = dir.path();
        QString error;
        archive::openDatabases(store, here, {}, error);
        archive::archiveEveryImport(
            store,
            [&image] {
                return archive::ImportedImage{image, QStringLiteral("full.bin")};
            },
            [] { return QStringLiteral("bench"); });
    }
    // Decodes and stores the file; false when a report was not stored or not archived.
    bool import(const QByteArray& image) {
        const auto decoded = reports::decodeReportFile(image);
        const reports::ReplaceResult r = store.replaceReports(decoded.rows);
        return r.stored == 1024 && r.failed == 0 && r.archiveError.isEmpty() &&
               r.archived + r.alreadyArchived == 1024;
    }
};

void BM_ImportWholeReportFileIntoFreshDatabase(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto station = std::make_unique<Station>(fullImage());
        state.ResumeTiming();
        if (!station->import(fullImage())) {
            state.SkipWithError("not every report was stored and archived");
            return;
        }
        state.PauseTiming();
        station.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ImportWholeReportFileIntoFreshDatabase)->Unit(benchmark::kMillisecond)->Iterations(5);

// The same file again: the report table is replaced, the archive has every report already.
void BM_ImportWholeReportFileAlreadyArchived(benchmark::State& state) {
    Station station(fullImage());
    station.import(fullImage());
    for (auto _ : state) {
        if (!station.import(fullImage())) {
            state.SkipWithError("not every report was stored and archived");
            return;
        }
    }
}
BENCHMARK(BM_ImportWholeReportFileAlreadyArchived)->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

BENCHMARK_MAIN();
