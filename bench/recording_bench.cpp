// What recording adds to a live answer: the record turned into a frame and kept in the
// pre-record buffer, or appended to the file with its count; and a one-hour recording at ten
// frames a second, whose last frames must cost what its first ones did.
#include "core/online/live_recording.h"
#include "demo/demo_data.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <random>
#include <vector>

using namespace ufd;

namespace {

// On the disk of the current folder, where the program's Record/ would be, not in a memory-backed
// /tmp.
QTemporaryDir recordFolder() {
    return QTemporaryDir(QDir::current().filePath(QStringLiteral("recording_bench-XXXXXX")));
}

std::vector<std::uint8_t> liveRecord(std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> rec(online::kRecordSize, 0);
    online::encodeRecord(demo::makeRecord(demo::EchoScene{}, rng), online::Encoding::Live,
                         rec.data());
    return rec;
}

// Not recording: every answer waits in the full pre-record buffer.
void BM_KeepLiveAnswerForPreRecord(benchmark::State& state) {
    const std::vector<std::uint8_t> rec = liveRecord(1);
    online::LiveRecorder recorder;
    const QDateTime now = QDateTime::currentDateTime();
    qint64 ms = 0;
    for (auto _ : state) {
        recorder.take(rec.data(), ms, now);
        ms += 100;
    }
    state.counters["buffered"] = static_cast<double>(recorder.buffer().size());
}
BENCHMARK(BM_KeepLiveAnswerForPreRecord)->Unit(benchmark::kMicrosecond);

// Recording: every answer is appended to the file and counted in its header.
void BM_RecordLiveAnswer(benchmark::State& state) {
    const QTemporaryDir dir = recordFolder();
    const std::vector<std::uint8_t> rec = liveRecord(1);
    online::LiveRecorder recorder;
    const QDateTime now = QDateTime::currentDateTime();
    recorder.startAt(dir.filePath("bench.Rec"), 10);
    qint64 ms = 0;
    for (auto _ : state) {
        if (!recorder.take(rec.data(), ms, now)) {
            state.SkipWithError(recorder.lastError().toUtf8().constData());
            break;
        }
        ms += 100;
    }
    recorder.stop();
}
BENCHMARK(BM_RecordLiveAnswer)->Unit(benchmark::kMicrosecond);

// One hour at ten frames a second (36,000 frames, about 100 MB), timed frame by frame.
void BM_RecordOneHourAtTenFramesASecond(benchmark::State& state) {
    constexpr int kFrames = 36000;
    constexpr int kSpan = 1000;
    const std::vector<std::uint8_t> rec = liveRecord(2);
    for (auto _ : state) {
        const QTemporaryDir dir = recordFolder();
        online::LiveRecorder recorder;
        recorder.startAt(dir.filePath("hour.Rec"), 10);
        const QDateTime now = QDateTime::currentDateTime();
        std::vector<qint64> ns(kFrames);
        QElapsedTimer t;
        for (int k = 0; k < kFrames; ++k) {
            t.start();
            recorder.take(rec.data(), 100LL * k, now);
            ns[static_cast<std::size_t>(k)] = t.nsecsElapsed();
        }
        const std::uint32_t frames = recorder.stop();
        const auto meanMs = [&](int from) {
            qint64 sum = 0;
            for (int k = from; k < from + kSpan; ++k) {
                sum += ns[static_cast<std::size_t>(k)];
            }
            return static_cast<double>(sum) / kSpan / 1e6;
        };
        state.counters["first1000_ms"] = meanMs(0);
        state.counters["last1000_ms"] = meanMs(kFrames - kSpan);
        state.counters["slowest_ms"] =
            static_cast<double>(*std::max_element(ns.begin(), ns.end())) / 1e6;
        state.counters["frames"] = frames;
        state.counters["MB"] =
            static_cast<double>(QFileInfo(dir.filePath("hour.Rec")).size()) / 1e6;
    }
}
BENCHMARK(BM_RecordOneHourAtTenFramesASecond)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
