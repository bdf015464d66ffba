// Decoding and storing reports: the per-record cost and a whole 1,024-report file.
#include "core/online/curves.h"
#include "core/reports/database.h"
#include "core/reports/report_file.h"
#include "demo/demo_data.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

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

void BM_ImportWholeReportFileIntoFreshDatabase(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        reports::DataStore store;
        store.open(dir.path());
        state.ResumeTiming();
        const auto decoded = reports::decodeReportFile(fullImage());
        benchmark::DoNotOptimize(store.replaceReports(decoded.rows));
    }
}
BENCHMARK(BM_ImportWholeReportFileIntoFreshDatabase)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

BENCHMARK_MAIN();
