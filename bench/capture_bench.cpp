// Capture throughput: output frames per second from a 1920x1080 H.264 source scaled to 720x576.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "capture/FFMPEGCapture.h"
#include "script/Interpolation.h"
#include "support/TestPaths.h"
#include "support/TestVideo.h"

namespace zorvo {
namespace {

constexpr std::uint32_t kFrames = 50;

// The source is made once per run: 6 s of 1080p at 25 fps with B-frames.
const std::string& Source() {
    static test::TempDir dir;
    static const std::string path = [] {
        test::TestVideo video;
        video.codec = test::TestCodec::H264;
        video.width = 1920;
        video.height = 1080;
        video.frameCount = 150;
        video.keyFrameInterval = 25;
        const std::string file = dir.File("source.mp4");
        return test::WriteTestVideo(file, video) ? file : std::string();
    }();
    return path;
}

// Takes every frame as soon as it exists, so the figure is the capture's own speed, not the
// consumer's 100 ms polling interval.
void Drain(CFFMPEGCapture& capture, benchmark::State& state) {
    for (std::uint32_t i = 0; i < kFrames; ++i) {
        while (capture.Produced() < i + 2 && !capture.m_bFailed.load()) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        if (!capture.GetBitmap(i)) {
            state.SkipWithError("capture failed");
            return;
        }
        capture.ReleaseBitmap(i);
    }
}

// Arguments: scaler flags, noise-reduction level, start in ms (3500 ms is past the 75-frame
// pre-roll: a seek, then the pre-roll decoded).
void BM_Capture1080pTo576p(benchmark::State& state) {
    if (Source().empty()) {
        state.SkipWithError("no source video");
        return;
    }
    const CSInput input("cam", Source());
    for (auto _ : state) {
        CaptureOptions options = InputCaptureOptions(&input);
        options.startMs = state.range(2);
        options.frameCount = kFrames;
        options.width = 720;
        options.height = 576;
        options.noiseReduction = static_cast<std::int32_t>(state.range(1));
        options.flipMode = FlipMode::Auto;
        options.interpolation = static_cast<std::int32_t>(state.range(0));
        CFFMPEGCapture capture(std::move(options));
        if (!capture.Start()) {
            state.SkipWithError("no thread");
            break;
        }
        Drain(capture, state);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kFrames);
}
BENCHMARK(BM_Capture1080pTo576p)
    ->ArgNames({"flags", "noise", "startMs"})
    ->Args({1, 0, 0})     // fast_bilinear
    ->Args({4, 0, 0})     // bicubic
    ->Args({1, 20, 0})    // with noise reduction
    ->Args({1, 0, 3500})  // a segment that starts inside the file
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace zorvo

BENCHMARK_MAIN();
