// The frame engine on the demo session (run from the repository root after
// `scripts/demo.sh build`): a still from a cold start (the `zorvo still` program, start to
// finish), a second still near the first in an open session (a click on the timeline), and
// playback at 640 pixels wide against a simulated audio clock; and the studio's playback and
// clicks on the four-camera full HD session of bench/make-hd-session.sh.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/Allocator.h"
#include "common/LogCollector.h"
#include "preview/FrameEngine.h"
#include "preview/Playback.h"
#include "preview/Proxies.h"

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

// The four-camera full HD session (bench/make-hd-session.sh; ZORVO_HD_SESSION names another).
fs::path HdScript() {
    const char* path = std::getenv("ZORVO_HD_SESSION");
    return path ? fs::path(path) : fs::temp_directory_path() / "zorvo-hd" / "hd.zorvo";
}

// The CPU time of the whole process (every thread), user and system, in seconds.
double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The machine's load average over the last minute (/proc/loadavg).
double LoadAverage() {
    std::ifstream loadavg("/proc/loadavg");
    double load = 0;
    loadavg >> load;
    return load;
}

// The HD session's engine, reading the cameras' proxies when `proxies` (all four must be made:
// `zorvo proxy`); null after skipping the benchmark.
std::unique_ptr<zorvo::FrameEngine> OpenHd(benchmark::State& state, bool proxies) {
    if (!fs::exists(HdScript())) {
        state.SkipWithError("make the session with bench/make-hd-session.sh first");
        return nullptr;
    }
    auto engine = zorvo::FrameEngine::Open(HdScript().string());
    if (!engine) {
        state.SkipWithError("the HD session does not open");
        return nullptr;
    }
    if (proxies) {
        auto files = zorvo::ProxiesOf(engine->Script());
        if (files.size() != zorvo::ProxyCameras(engine->Script()).size()) {
            state.SkipWithError("make the proxies first: zorvo proxy SESSION");
            return nullptr;
        }
        engine->ReadInstead(std::move(files));
    }
    return engine;
}

// The process's resident memory now and at its highest, in MiB (/proc/self/status).
void ResidentMiB(double& now, double& peak) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            now = std::stod(line.substr(6)) / 1024;
        } else if (line.rfind("VmHWM:", 0) == 0) {
            peak = std::stod(line.substr(6)) / 1024;
        }
    }
}

// 20 s of the HD session from its start at 640 pixels wide, as the studio plays it: the sound
// starts once the first picture is queued, its clock then runs on like a sound card's, and what
// is due is taken every 10 ms. Reports frames shown and skipped (after the stop's count), the
// longest time the picture stood still while the clock ran, and resident memory at 5 s and at
// the end (growth while playing) and at its highest, the process's CPU time and the load
// average. Arguments: the first frame, and whether the engine reads the proxies.
void BM_HdPlayback(benchmark::State& state) {
    zorvo::LogCollector log;
    const auto engine = OpenHd(state, state.range(1) != 0);
    if (!engine) {
        return;
    }
    const auto from = static_cast<std::int64_t>(state.range(0));
    constexpr double kSeconds = 20;
    for (auto _ : state) {
        zorvo::PlaybackFeeder feeder(*engine, 640);
        feeder.Seek(from, true);
        while (feeder.FirstQueued() < 0 && !feeder.Failed()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const auto start = Clock::now();
        const double cpuStart = ProcessCpuSeconds();
        const double loadStart = LoadAverage();
        zorvo::FedFrame frame;
        double lastChange = 0;
        double longestStill = 0;
        double rssAt5 = 0;
        double rss = 0;
        double peak = 0;
        double behindSeconds = 0;
        double clock = 0;
        while ((clock = Seconds(start)) < kSeconds &&
               from * 40 + clock * 1000 < static_cast<double>(engine->FrameCount()) * 40) {
            if (feeder.TakeDue(static_cast<double>(from) * 40 + clock * 1000, frame)) {
                longestStill = std::max(longestStill, clock - lastChange);
                lastChange = clock;
            }
            behindSeconds += feeder.Behind() ? 0.01 : 0;
            if (rssAt5 == 0 && clock >= 5) {
                ResidentMiB(rssAt5, peak);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        longestStill = std::max(longestStill, clock - lastChange);
        feeder.Stop(static_cast<double>(from) * 40 + clock * 1000);
        ResidentMiB(rss, peak);
        const auto shown = static_cast<double>(feeder.ShownCount());
        const auto skipped = static_cast<double>(feeder.SkippedCount());
        state.counters["shown"] = shown;
        state.counters["skipped"] = skipped;
        state.counters["skipped_pct"] = 100 * skipped / std::max(1.0, shown + skipped);
        state.counters["longest_still_s"] = longestStill;
        state.counters["behind_s"] = behindSeconds;
        state.counters["rss_5s_MiB"] = rssAt5;
        state.counters["rss_end_MiB"] = rss;
        state.counters["rss_peak_MiB"] = peak;
        state.counters["cpu_s"] = ProcessCpuSeconds() - cpuStart;
        state.counters["wall_s"] = clock;
        state.counters["load_start"] = loadStart;
        state.counters["load_end"] = LoadAverage();
    }
}
BENCHMARK(BM_HdPlayback)
    ->Args({0, 0})
    ->Args({0, 1})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

// Eight clicks on the HD session as the studio makes them (a preview 640 pixels wide), each a
// second after the one before, and one more 100 ms before the seventh that the seventh
// overtakes (cancels): the time from each of the eight to its own frame, whether each got it,
// the process's CPU time and the load average. Argument: whether the engine reads the proxies.
void BM_HdClicks(benchmark::State& state) {
    zorvo::LogCollector log;
    const auto engine = OpenHd(state, state.range(0) != 0);
    if (!engine) {
        return;
    }
    const std::vector<std::int64_t> clicks = {50, 494, 186, 320, 12, 560, 250, 410};
    constexpr std::int64_t kOvertaken = 530;
    for (auto _ : state) {
        zorvo::PlaybackFeeder feeder(*engine, 640);
        std::vector<double> latencies;
        double worst = 0;
        int got = 0;
        const double cpuStart = ProcessCpuSeconds();
        const double loadStart = LoadAverage();
        for (std::size_t i = 0; i < clicks.size(); ++i) {
            if (i == 6) {
                feeder.Seek(kOvertaken, false);
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            const auto start = Clock::now();
            feeder.Seek(clicks[i], false);
            zorvo::FedFrame frame;
            while (Seconds(start) < 10 && !feeder.TakeLatest(frame) && !feeder.Failed()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            if (frame.frame == clicks[i]) {
                ++got;
                latencies.push_back(Seconds(start) * 1000);
                worst = std::max(worst, latencies.back());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        }
        std::sort(latencies.begin(), latencies.end());
        state.counters["clicks_with_frame"] = got;
        state.counters["median_ms"] = latencies.empty() ? 0 : latencies[latencies.size() / 2];
        state.counters["worst_ms"] = worst;
        state.counters["cpu_s"] = ProcessCpuSeconds() - cpuStart;
        state.counters["load_start"] = loadStart;
        state.counters["load_end"] = LoadAverage();
    }
}
BENCHMARK(BM_HdClicks)->Arg(0)->Arg(1)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

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
