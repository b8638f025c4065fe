// End-to-end render throughput: whole builds of the demo session and of the typical two-camera
// script on 1920 x 1080 H.264 sources at 720 x 576, with the process's peak memory; and, when
// the ffmpeg program is installed, the same decode + crop + scale + stack + write done by an
// ffmpeg filter graph, for comparison.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "common/LogCollector.h"
#include "render/Project.h"

namespace {

namespace fs = std::filesystem;

const fs::path kWork = fs::temp_directory_path() / "zorvo-render-bench";

bool Run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

bool HaveFfmpeg() {
    return Run("ffmpeg -version > /dev/null 2>&1");
}

// Two 1920 x 1080 H.264 cameras of 30 seconds and a WAVE song, made once.
bool MakeTypicalMedia() {
    fs::create_directories(kWork);
    for (const char* name : {"cam1", "cam2"}) {
        const fs::path file = kWork / (std::string(name) + ".mp4");
        if (fs::exists(file)) {
            continue;
        }
        const std::string source = std::string(name) == "cam1" ? "testsrc2" : "smptehdbars";
        if (!Run("ffmpeg -v error -y -f lavfi -i " + source +
                 "=size=1920x1080:rate=25 -t 30 -c:v libx264 -preset veryfast -bf 2 -g 50 "
                 "-pix_fmt yuv420p " +
                 file.string())) {
            return false;
        }
    }
    const fs::path song = kWork / "song.wav";
    return fs::exists(song) ||
           Run("ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=30 -ac 2 -ar 44100 " +
               song.string());
}

std::string TypicalScript() {
    const std::string dir = kWork.string() + "/";
    const std::string path = dir + "typical.txt";
    std::ofstream(path) << "output( " << dir << "typical.avi, 720, 576, bicubic, " << dir
                        << "song.wav )\n"
                        << "input( cam1, " << dir
                        << "cam1.mp4, center, 1200, 0 ) { brightness( 0.1 ); }\n"
                        << "input( cam2, " << dir << "cam2.mp4, top_left ) { }\n"
                        << "group( all ) { cam1, cam2 }\n"
                        << "marker( 1, 1left_1right ) { tempo( 120 ); signature( 4, 4 ); "
                           "separator( 4 ); display( cam1, each_measure ); display( all, "
                           "each_beat ); }\n"
                        << "marker( 9, 1fullscreen ) { effect( fade_out ); display( cam2 ); }\n"
                        << "marker( 13 ) { }\n";
    return path;
}

double PeakMemoryMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

// Runs one build to its end; the number of frames it wrote, or -1.
int Build(const std::string& script) {
    zorvo::LogCollector log;
    zorvo::CProject job(script, nullptr);
    while (log.BuildFinishedCount() == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return job.Succeeded() ? static_cast<int>(job.FrameCounter()) : -1;
}

void Report(benchmark::State& state, int frames, double seconds) {
    state.counters["frames"] = frames;
    state.counters["fps"] = frames / seconds;
    state.counters["peak_MiB"] = PeakMemoryMiB();
}

void BM_RenderTypical1080p(benchmark::State& state) {
    if (!HaveFfmpeg() || !MakeTypicalMedia()) {
        state.SkipWithError("needs the ffmpeg program to make the sources");
        return;
    }
    const std::string script = TypicalScript();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const int frames = Build(script);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (frames < 0) {
            state.SkipWithError("the build failed");
            return;
        }
        Report(state, frames, seconds);
    }
}
BENCHMARK(BM_RenderTypical1080p)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// The same work as the typical script's first span done by ffmpeg: two 1080p decodes, crop to
// the half-picture aspect, scale to 360 x 576, stack side by side, write raw BGR with the song.
void BM_FfmpegFilterGraph1080p(benchmark::State& state) {
    if (!HaveFfmpeg() || !MakeTypicalMedia()) {
        state.SkipWithError("needs the ffmpeg program");
        return;
    }
    const std::string dir = kWork.string() + "/";
    const std::string command = "ffmpeg -v error -y -threads 1 -filter_threads 1 -ss 1.2 -i " +
                                dir + "cam1.mp4 -i " + dir + "cam2.mp4 -i " + dir +
                                "song.wav -filter_complex "
                                "\"[0:v]crop=750:1080,scale=360:576:flags=bicubic[l];"
                                "[1:v]crop=750:1080:0:0,scale=360:576:flags=bicubic[r];"
                                "[l][r]hstack,format=bgr24,vflip[v]\" "
                                "-map [v] -map 2:a -t 23.36 -c:v rawvideo -c:a pcm_s16le " +
                                dir + "ffmpeg.avi";
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!Run(command)) {
            state.SkipWithError("ffmpeg failed");
            return;
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        Report(state, 584, seconds);
    }
}
BENCHMARK(BM_FfmpegFilterGraph1080p)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// The bundled demo session, when `make demo` has made its media.
void BM_RenderDemo(benchmark::State& state) {
    // `make demo` puts the script beside its media, whose paths it gives relative to itself.
    const fs::path demo = fs::current_path() / "build" / "demo";
    const fs::path script = demo / "demo.zorvo";
    if (!fs::exists(demo / "cam1.mp4") || !fs::exists(script)) {
        state.SkipWithError("run from the repository after `make demo`");
        return;
    }
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const int frames = Build(script.string());
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (frames < 0) {
            state.SkipWithError("the build failed");
            break;
        }
        Report(state, frames, seconds);
    }
}
BENCHMARK(BM_RenderDemo)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
