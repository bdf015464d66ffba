// The cost of showing one live answer on the online window's record view: decode, texts,
// curves and the repaint of the plot, measured offscreen.
#include "core/protocol/packet.h"
#include "demo/demo_data.h"
#include "widgets/ascan_chart.h"
#include "windows/online/record_view.h"

#include <QApplication>
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

void showAnswers(benchmark::State& state, demo::CurveSet curves, bool repaint = true) {
    online::RecordView view(online::RecordView::Kind::Online);
    view.resize(1100, 640);
    view.show();
    QApplication::processEvents();
    // Alternate two answers so every repaint has something new to draw.
    const std::string packets[] = {livePacket(curves, 1), livePacket(curves, 2)};
    online::TOnlineData data;
    int i = 0;
    for (auto _ : state) {
        const std::string& p = packets[i++ % 2];
        data.decodeLivePacket(reinterpret_cast<const std::uint8_t*>(p.data()), p.size());
        view.showRecord(data.decoded(), data.curves());
        if (repaint) {
            view.chart()->viewport()->repaint();
        }
    }
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
