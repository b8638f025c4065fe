// The frame engine on the demo session (run from the repository root after
// `scripts/demo.sh build`): a still from a cold start (the `zorvo still` program, start to
// finish), a second still near the first in an open session (a click on the timeline), and
// playback at 640 pixels wide against a simulated audio clock.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "common/Allocator.h"
#include "common/LogCollector.h"
#include "preview/FrameEngine.h"
#include "preview/Playback.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const fs::path kDemo = fs::current_path() / "build" / "demo";
const fs::path kScript = kDemo / "demo.zorvo";

bool HaveDemo(benchmark::State& state) {
    if (!fs::exists(kDemo / "cam1.mp4") || !fs::exists(kScript)) {
        state.SkipWithError("run from the repository after `scripts/demo.sh build`");
        return false;
    }
    return true;
}

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double ChildrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The whole `zorvo still` command at the moment given by the argument's MEASURE.BEAT list.
void BM_StillColdStart(benchmark::State& state) {
    if (!HaveDemo(state)) {
        return;
    }
    const char* moments[] = {"3.2", "5.3", "9.1", "14.1"};
    const std::string when = moments[state.range(0)];
    const std::string command = "build/bin/zorvo still --at " + when + " -o " +
                                (fs::temp_directory_path() / "zorvo-bench-still.png").string() +
                                " " + kScript.string() + " > /dev/null";
    for (auto _ : state) {
        const double cpu = ChildrenCpuSeconds();
        const auto start = Clock::now();
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("zorvo still failed");
            break;
        }
        state.SetIterationTime(Seconds(start));
        state.counters["cpu_s"] = ChildrenCpuSeconds() - cpu;
    }
    state.SetLabel("at " + when);
}
BENCHMARK(BM_StillColdStart)
    ->DenseRange(0, 3)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// A click `range(1)` frames after a still at frame range(0), in an open session at the
// script's size (the first still is not timed).
void BM_StillNear(benchmark::State& state) {
    if (!HaveDemo(state)) {
        return;
    }
    zorvo::LogCollector log;
    const auto engine = zorvo::FrameEngine::Open(kScript.string());
    if (!engine) {
        state.SkipWithError("the demo does not open");
        return;
    }
    zorvo::FrameBitmap picture;
    for (auto _ : state) {
        state.PauseTiming();
        // Somewhere else first, so that the first still opens its own captures.
        engine->Compose(state.range(0) > 300 ? 100 : 500, picture);
        engine->Compose(state.range(0), picture);
        state.ResumeTiming();
        if (!engine->Compose(state.range(0) + state.range(1), picture)) {
            state.SkipWithError("a still failed");
            break;
        }
    }
}
BENCHMARK(BM_StillNear)
    ->Args({212, 3})
    ->Args({212, 13})
    ->Args({400, 6})
    ->Args({60, 25})
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

// 100 frames from 00:04 one after the other at 640 pixels wide, as fast as they come: the
// engine's throughput without a clock, and the source pictures decoded per frame.
void BM_Sequential640(benchmark::State& state) {
    if (!HaveDemo(state)) {
        return;
    }
    zorvo::LogCollector log;
    const auto engine = zorvo::FrameEngine::Open(kScript.string());
    if (!engine) {
        state.SkipWithError("the demo does not open");
        return;
    }
    zorvo::FrameBitmap picture;
    for (auto _ : state) {
        const auto decoded = engine->Decoders().decodedPictures.load();
        const auto start = Clock::now();
        for (std::int64_t frame = 100; frame < 200; ++frame) {
            if (!engine->Compose(frame, picture, 640)) {
                state.SkipWithError("a frame failed");
                return;
            }
        }
        state.counters["frames_per_s"] = 100 / Seconds(start);
        state.counters["decoded_per_frame"] =
            static_cast<double>(engine->Decoders().decodedPictures.load() - decoded) / 100;
    }
}
BENCHMARK(BM_Sequential640)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

// 20 s of the demo from 00:04 played at 640 pixels wide: the feeder runs ahead, the player
// starts the sound once the first picture is there and takes what is due every 5 ms by a clock
// that then runs on regardless, as a sound card's would.
void BM_Playback640(benchmark::State& state) {
    if (!HaveDemo(state)) {
        return;
    }
    zorvo::LogCollector log;
    const auto engine = zorvo::FrameEngine::Open(kScript.string());
    if (!engine) {
        state.SkipWithError("the demo does not open");
        return;
    }
    constexpr std::int64_t kFrom = 100;
    constexpr double kSeconds = 20;
    for (auto _ : state) {
        zorvo::PlaybackFeeder feeder(*engine, 640, static_cast<std::size_t>(state.range(0)));
        feeder.Seek(kFrom, true);
        // The sound starts once the first picture is there, as a player starts it.
        while (feeder.FirstQueued() < 0 && !feeder.Failed()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const auto start = Clock::now();
        zorvo::FedFrame frame;
        while (Seconds(start) < kSeconds) {
            feeder.TakeDue(kFrom * 40 + Seconds(start) * 1000, frame);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const auto shown = static_cast<double>(feeder.ShownCount());
        const auto skipped = static_cast<double>(feeder.SkippedCount());
        state.counters["shown"] = shown;
        state.counters["skipped"] = skipped;
        state.counters["skipped_pct"] = 100 * skipped / std::max(1.0, shown + skipped);
    }
}
BENCHMARK(BM_Playback640)->Arg(4)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    zorvo::LimitAllocatorArenas();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
