// The cost of showing one live answer on the online window's record view: decode, texts,
// curves and the repaint of the plot, measured offscreen; and what recording it and a reference
// echo add.
#include "core/protocol/packet.h"
#include "demo/demo_data.h"
#include "widgets/ascan_chart.h"
#include "widgets/operator_messages.h"
#include "windows/online/record_view.h"
#include "windows/online/recording_control.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <random>

using namespace ufd;

namespace {

std::string livePacket(demo::CurveSet curves, std::uint32_t seed) {
    std::mt19937 rng(seed);
    demo::EchoScene scene;
    scene.curves = curves;
    std::vector<std::uint8_t> rec(online::kRecordSize, 0);
    online::encodeRecord(demo::makeRecord(scene, rng), online::Encoding::Live, rec.data());
    return protocol::buildResponsePacket(protocol::CmdOnlineRequest, 0, rec.data(), rec.size());
}

class Silent : public app::OperatorMessages {
public:
    void showMessage(const QString&) override {}
    void showError(const QString&) override {}
    bool askYesNo(const QString&, const QString&) override { return true; }
    bool askOkCancel(const QString&) override { return true; }
};

// What the online window does with an answer: `recording` also takes it into the recording
// part (kept for pre-record, or written to the file while `recordToFile`), `reference` draws a
// reference echo under it with the peaks' difference.
struct Extras {
    bool recording = false;
    bool recordToFile = false;
    bool reference = false;
};

void showAnswers(benchmark::State& state, demo::CurveSet curves, bool repaint = true,
                 Extras extras = {}) {
    QWidget window;
    auto* view = new online::RecordView(online::RecordView::Kind::Online, &window);
    view->resize(1100, 640);
    window.resize(1100, 640);
    window.show();
    QApplication::processEvents();
    Silent messages;
    online::RecordingControl recording(messages, &window, [] { return 10.0; });
    const QTemporaryDir records(QDir::current().filePath(QStringLiteral("online_bench-XXXXXX")));
    recording.setFolder(records.path());
    if (extras.recordToFile) {
        recording.recordClick();
    }
    // Alternate two answers so every repaint has something new to draw.
    const std::string packets[] = {livePacket(curves, 1), livePacket(curves, 2)};
    online::TOnlineData data;
    if (extras.reference) {
        const std::string& p = packets[1];
        data.decodeLivePacket(reinterpret_cast<const std::uint8_t*>(p.data()), p.size());
        view->showRecord(data.decoded(), data.curves());
        view->setReference(*view->currentTrace(QStringLiteral("frozen")));
    }
    int i = 0;
    for (auto _ : state) {
        const std::string& p = packets[i++ % 2];
        data.decodeLivePacket(reinterpret_cast<const std::uint8_t*>(p.data()), p.size());
        if (extras.recording) {
            recording.take(data.raw().data());
        }
        view->showRecord(data.decoded(), data.curves());
        if (repaint) {
            view->chart()->viewport()->repaint();
        }
    }
    recording.stopClick();
}

void BM_ShowLiveAnswerWithDacCurves(benchmark::State& state) {
    showAnswers(state, demo::CurveSet::Dac);
}
BENCHMARK(BM_ShowLiveAnswerWithDacCurves)->Unit(benchmark::kMillisecond);

void BM_ShowLiveAnswerWithAvgCurves(benchmark::State& state) {
    showAnswers(state, demo::CurveSet::Avg);
}
BENCHMARK(BM_ShowLiveAnswerWithAvgCurves)->Unit(benchmark::kMillisecond);

// The same without painting: decoding, texts, curves and the chart's layout of the new points.
void BM_UpdateViewWithoutPainting(benchmark::State& state) {
    showAnswers(state, demo::CurveSet::Dac, false);
}
BENCHMARK(BM_UpdateViewWithoutPainting)->Unit(benchmark::kMillisecond);

// As the window runs with "Record" not pressed: every answer waits in the pre-record buffer.
void BM_ShowLiveAnswerKeptForPreRecord(benchmark::State& state) {
    showAnswers(state, demo::CurveSet::Dac, true, {true, false, false});
}
BENCHMARK(BM_ShowLiveAnswerKeptForPreRecord)->Unit(benchmark::kMillisecond);

// Recording, with a reference echo drawn under the trace: everything this window can add.
void BM_ShowLiveAnswerRecordedWithReference(benchmark::State& state) {
    showAnswers(state, demo::CurveSet::Dac, true, {true, true, true});
}
BENCHMARK(BM_ShowLiveAnswerRecordedWithReference)->Unit(benchmark::kMillisecond);

void BM_UpdateViewRecordedWithReferenceWithoutPainting(benchmark::State& state) {
    showAnswers(state, demo::CurveSet::Dac, false, {true, true, true});
}
BENCHMARK(BM_UpdateViewRecordedWithReferenceWithoutPainting)->Unit(benchmark::kMillisecond);

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
