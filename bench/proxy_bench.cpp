// Proxies: four 1920 x 1080 H.264 cameras at 29.97 frames a second and 15 Mbit/s (a little
// noise, so they decode like camera footage) with AAC sound, made into the studio's proxies
// one camera after the other or two at a time, with the encoder preset and the decoder's loop
// filter as arguments. Reports the wall-clock and CPU time against the session's length.
// ZORVO_BENCH_SECONDS (default 240) sets the cameras' length; ZORVO_BENCH_DIR keeps the media
// between runs.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "output/Proxy.h"
#include "support/ProgramRun.h"

namespace zorvo {
namespace {

namespace fs = std::filesystem;
constexpr int kCameras = 4;

int Seconds() {
    const char* text = std::getenv("ZORVO_BENCH_SECONDS");
    return text ? std::max(10, std::atoi(text)) : 240;
}

std::string Folder() {
    const char* dir = std::getenv("ZORVO_BENCH_DIR");
    return dir ? dir : (fs::temp_directory_path() / "zorvo-proxy-bench").string();
}

// Ten seconds encoded once, repeated to the length without encoding again.
std::vector<std::string> Cameras() {
    const std::string dir = Folder();
    fs::create_directories(dir);
    const std::string clip = dir + "/clip.mp4";
    if (!fs::exists(clip)) {
        test::RunProgram(test::Words(
            "ffmpeg -hide_banner -loglevel error -y -f lavfi -i "
            "testsrc2=size=1920x1080:rate=30000/1001,noise=alls=12:allf=t -f lavfi -i "
            "sine=frequency=440:sample_rate=48000 -t 10 -c:v libx264 -preset superfast -b:v 15M "
            "-maxrate 15M -bufsize 30M -g 60 -pix_fmt yuv420p -c:a aac -b:a 128k " +
            clip));
    }
    const std::string long_ = dir + "/cam-" + std::to_string(Seconds()) + ".mp4";
    if (!fs::exists(long_)) {
        test::RunProgram(test::Words("ffmpeg -hide_banner -loglevel error -y -stream_loop -1 -i " +
                                     clip + " -t " + std::to_string(Seconds()) + " -c copy " +
                                     long_));
    }
    std::vector<std::string> cameras;
    for (int k = 0; k < kCameras; ++k) {
        // Another path is another camera to the cache.
        const std::string path =
            dir + "/cam" + std::to_string(k) + "-" + std::to_string(Seconds()) + ".mp4";
        std::error_code error;
        fs::create_hard_link(long_, path, error);
        cameras.push_back(path);
    }
    return cameras;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Arguments: preset (0 ultrafast, 1 veryfast), loop filter left out (1) or not, cameras made at
// once (1 or 2; two take one decoder thread each).
void BM_ProxiesFourHdCameras(benchmark::State& state) {
    const std::vector<std::string> cameras = Cameras();
    setenv("XDG_CACHE_HOME", (Folder() + "/cache").c_str(), 1);
    ProxySettings settings;
    settings.preset = state.range(0) == 0 ? "ultrafast" : "veryfast";
    settings.fastDecode = state.range(1) != 0;
    const auto atOnce = static_cast<size_t>(state.range(2));
    settings.decoderThreads = atOnce > 1 ? 1 : 0;
    double wall = 0;
    double cpu = 0;
    bool made = true;
    for (auto _ : state) {
        std::size_t removed = 0;
        std::uint64_t bytes = 0;
        RemoveProxies(removed, bytes);
        const double cpuStart = CpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        std::atomic<bool> stop{false};
        std::vector<std::thread> workers;
        std::atomic<size_t> next{0};
        for (size_t w = 0; w < atOnce; ++w) {
            workers.emplace_back([&] {
                for (size_t k; (k = next++) < cameras.size();) {
                    made =
                        MakeProxy(cameras[k], ProxyPathFor(cameras[k]), stop, {}, settings) && made;
                }
            });
        }
        for (std::thread& worker : workers) {
            worker.join();
        }
        wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpu = CpuSeconds() - cpuStart;
    }
    if (!made) {
        state.SkipWithError("a proxy failed");
    }
    const double session = Seconds();
    state.counters["session_s"] = session;
    state.counters["wall_s"] = wall;
    state.counters["cpu_s"] = cpu;
    state.counters["wall_per_session"] = wall / session;
    // What two idle cores would take, had they nothing else to do.
    state.counters["cpu_per_2cores_per_session"] = cpu / 2 / session;
}
BENCHMARK(BM_ProxiesFourHdCameras)
    ->ArgsProduct({{0, 1}, {1, 0}, {1, 2}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
}  // namespace zorvo

BENCHMARK_MAIN();
