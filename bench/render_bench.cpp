// End-to-end render throughput: whole builds of the demo session and of the typical two-camera
// script on 1920 x 1080 H.264 sources at 720 x 576, with the process's peak memory; and, when
// the ffmpeg program is installed, the same decode + crop + scale + stack + write done by an
// ffmpeg filter graph, for comparison. The comparison runs both in turn, several times, so that
// the load other programs put on the machine weighs on both alike.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "common/Allocator.h"
#include "common/LogCollector.h"
#include "render/Project.h"
#include "render/Storyboard.h"
#include "timeline/TimelineWalk.h"

namespace {

namespace fs = std::filesystem;

const fs::path kWork = fs::temp_directory_path() / "zorvo-render-bench";

// Alternating runs per measure: 3, or ZORVO_BENCH_ROUNDS (a single round of the 60 s full HD
// session already takes five minutes).
int Rounds() {
    const char* value = std::getenv("ZORVO_BENCH_ROUNDS");
    const int rounds = value ? std::atoi(value) : 0;
    return rounds >= 1 ? rounds : 3;
}

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

// Writes a script the bench made as kWork/`name`, by way of a file of this process renamed over
// it, so that a render reading it (here or in another bench process) never sees it half written.
// Its path, or "" when it could not be written.
std::string WriteScript(const std::string& name, const std::string& text) {
    std::error_code error;
    fs::create_directories(kWork, error);
    const fs::path path = kWork / name;
    const fs::path own = kWork / (name + "." + std::to_string(getpid()) + ".tmp");
    std::ofstream file(own);
    file << text;
    file.close();
    if (file) {
        fs::rename(own, path, error);
    }
    if (!file || error) {
        fs::remove(own, error);
        return {};
    }
    return path.string();
}

// A short tag that tells scripts of different texts apart (FNV-1a), for their file names.
std::string TextTag(const std::string& text) {
    std::uint32_t hash = 2166136261u;
    for (const char c : text) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    char tag[9];
    std::snprintf(tag, sizeof tag, "%08x", static_cast<unsigned>(hash));
    return tag;
}

std::string TypicalScript() {
    const std::string dir = kWork.string() + "/";
    std::ostringstream text;
    text << "output( " << dir << "typical.avi, 720, 576, bicubic, " << dir << "song.wav )\n"
         << "input( cam1, " << dir << "cam1.mp4, center, 1200, 0 ) { brightness( 0.1 ); }\n"
         << "input( cam2, " << dir << "cam2.mp4, top_left ) { }\n"
         << "group( all ) { cam1, cam2 }\n"
         << "marker( 1, 1left_1right ) { tempo( 120 ); signature( 4, 4 ); "
            "separator( 4 ); display( cam1, each_measure ); display( all, "
            "each_beat ); }\n"
         << "marker( 9, 1fullscreen ) { effect( fade_out ); display( cam2 ); }\n"
         << "marker( 13 ) { }\n";
    return WriteScript("typical.txt", text.str());
}

double PeakMemoryMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

// Runs one build to its end, to `output` instead of the script's path when given; the number
// of frames it wrote, or -1. `decoded` and `distinct` receive the pictures the decoders
// delivered and the distinct ones the output used.
int Build(const std::string& script, const std::string& output = {},
          std::uint64_t* decoded = nullptr, std::uint64_t* distinct = nullptr) {
    zorvo::LogCollector log;
    zorvo::CProject job(script, nullptr, zorvo::AVIWriter::kSplitBytes, output);
    while (log.BuildFinishedCount() == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (decoded && distinct) {
        *decoded = job.DecodedPictures();
        *distinct = job.DistinctPictures();
    }
    return job.Succeeded() ? static_cast<int>(job.FrameCounter()) : -1;
}

// What one run in a child process cost: wall clock, CPU time and peak memory of that child.
struct Cost {
    bool ok = false;
    double seconds = 0;
    double cpuSeconds = 0;
    double peakMiB = 0;
};

template <typename Body>
Cost InChild(Body body) {
    Cost cost;
    // Neither run pays for writing out what the one before it left in the page cache.
    sync();
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0) {
        return cost;
    }
    if (child == 0) {
        _exit(body() ? 0 : 1);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) {
        return cost;
    }
    cost.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cost.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    cost.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                      (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    cost.peakMiB = usage.ru_maxrss / 1024.0;
    return cost;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void Report(benchmark::State& state, int frames, double seconds) {
    state.counters["frames"] = frames;
    state.counters["fps"] = frames / seconds;
    state.counters["peak_MiB"] = PeakMemoryMiB();
}

// The output file's extension: the uncompressed AVI, or H.264 with FLAC or AAC.
const char* const kOutputs[] = {"avi", "mkv", "mp4"};

void BM_RenderTypical1080p(benchmark::State& state) {
    if (!HaveFfmpeg() || !MakeTypicalMedia()) {
        state.SkipWithError("needs the ffmpeg program to make the sources");
        return;
    }
    const std::string script = TypicalScript();
    const std::string output = (kWork / "typical.").string() + kOutputs[state.range(0)];
    state.SetLabel(kOutputs[state.range(0)]);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const int frames = Build(script, output);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (frames < 0) {
            state.SkipWithError("the build failed");
            return;
        }
        Report(state, frames, seconds);
        state.counters["file_MiB"] = static_cast<double>(fs::file_size(output)) / (1 << 20);
    }
}
BENCHMARK(BM_RenderTypical1080p)
    ->DenseRange(0, 2)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime();

// The typical script rendered to AVI, Matroska and MP4 in turn, three rounds, every run in a
// child process. `mkv_ratio` and `mp4_ratio` are the encoded renders' median times over the
// AVI's: the encoded writer's cost, with the load on the machine weighing on all three alike.
void BM_EncodedAgainstAvi(benchmark::State& state) {
    if (!HaveFfmpeg() || !MakeTypicalMedia()) {
        state.SkipWithError("needs the ffmpeg program to make the sources");
        return;
    }
    const std::string script = TypicalScript();
    for (auto _ : state) {
        std::vector<double> seconds[3], cpu[3];
        for (int round = 0; round < Rounds(); ++round) {
            for (int k = 0; k < 3; ++k) {
                const std::string output = (kWork / "typical.").string() + kOutputs[k];
                const Cost cost = InChild([&] { return Build(script, output) > 0; });
                if (!cost.ok) {
                    state.SkipWithError("a render failed");
                    return;
                }
                seconds[k].push_back(cost.seconds);
                cpu[k].push_back(cost.cpuSeconds);
            }
        }
        for (int k = 0; k < 3; ++k) {
            const std::string name = kOutputs[k];
            state.counters[name + "_s"] = Median(seconds[k]);
            state.counters[name + "_cpu_s"] = Median(cpu[k]);
            state.counters[name + "_MiB"] =
                static_cast<double>(fs::file_size((kWork / "typical.").string() + kOutputs[k])) /
                (1 << 20);
        }
        state.counters["mkv_ratio"] = Median(seconds[1]) / Median(seconds[0]);
        state.counters["mp4_ratio"] = Median(seconds[2]) / Median(seconds[0]);
    }
}
BENCHMARK(BM_EncodedAgainstAvi)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

std::string FilterGraphCommand() {
    const std::string dir = kWork.string() + "/";
    return "ffmpeg -v error -y -threads 1 -filter_threads 1 -ss 1.2 -i " + dir + "cam1.mp4 -i " +
           dir + "cam2.mp4 -i " + dir +
           "song.wav -filter_complex "
           "\"[0:v]crop=750:1080,scale=360:576:flags=bicubic[l];"
           "[1:v]crop=750:1080:0:0,scale=360:576:flags=bicubic[r];"
           "[l][r]hstack,format=bgr24,vflip[v]\" "
           "-map [v] -map 2:a -t 23.36 -c:v rawvideo -c:a pcm_s16le " +
           dir + "ffmpeg.avi";
}

// The same work as the typical script's first span done by ffmpeg: two 1080p decodes, crop to
// the half-picture aspect, scale to 360 x 576, stack side by side, write raw BGR with the song.
void BM_FfmpegFilterGraph1080p(benchmark::State& state) {
    if (!HaveFfmpeg() || !MakeTypicalMedia()) {
        state.SkipWithError("needs the ffmpeg program");
        return;
    }
    const std::string command = FilterGraphCommand();
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

std::string FilterGraphCommand();

// The typical script and the ffmpeg filter graph in turn, three times each, every run in a
// child process. `ratio` is Zorvo's median time over the filter graph's; `decoded_per_needed`
// the source pictures decoded over the distinct ones the output shows.
void BM_RenderAgainstFilterGraph1080p(benchmark::State& state) {
    if (!HaveFfmpeg() || !MakeTypicalMedia()) {
        state.SkipWithError("needs the ffmpeg program to make the sources");
        return;
    }
    const std::string script = TypicalScript();
    const std::string command = FilterGraphCommand();
    for (auto _ : state) {
        std::vector<double> zorvo, peer, zorvoCpu, peerCpu;
        double peak = 0;
        std::uint64_t counts[3] = {};
        for (int round = 0; round < Rounds(); ++round) {
            int fds[2];  // the counts come back from the child
            if (pipe(fds) != 0) {
                state.SkipWithError("no pipe");
                return;
            }
            const Cost render = InChild([&] {
                close(fds[0]);
                std::uint64_t values[3] = {};
                const int frames = Build(script, {}, &values[1], &values[2]);
                values[0] = static_cast<std::uint64_t>(std::max(frames, 0));
                const bool written = write(fds[1], values, sizeof values) == sizeof values;
                return frames > 0 && written;
            });
            close(fds[1]);
            const bool read = ::read(fds[0], counts, sizeof counts) == sizeof counts;
            close(fds[0]);
            const Cost graph = InChild([&] { return Run(command); });
            if (!render.ok || !read || !graph.ok) {
                state.SkipWithError("a run failed");
                return;
            }
            zorvo.push_back(render.seconds);
            zorvoCpu.push_back(render.cpuSeconds);
            peer.push_back(graph.seconds);
            peerCpu.push_back(graph.cpuSeconds);
            peak = std::max(peak, render.peakMiB);
        }
        state.counters["frames"] = static_cast<double>(counts[0]);
        state.counters["zorvo_s"] = Median(zorvo);
        state.counters["ffmpeg_s"] = Median(peer);
        state.counters["ratio"] = Median(zorvo) / Median(peer);
        state.counters["zorvo_cpu_s"] = Median(zorvoCpu);
        state.counters["ffmpeg_cpu_s"] = Median(peerCpu);
        state.counters["decoded"] = static_cast<double>(counts[1]);
        state.counters["needed"] = static_cast<double>(counts[2]);
        state.counters["decoded_per_needed"] =
            counts[2] > 0 ? static_cast<double>(counts[1]) / static_cast<double>(counts[2]) : 0;
        state.counters["peak_MiB"] = peak;
    }
}
BENCHMARK(BM_RenderAgainstFilterGraph1080p)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// The full HD session: four 1920 x 1080 H.264 cameras at 29.97 frames a second (key frame
// every 60, B-frames, a little noise so that they cost what camera footage costs to decode) and
// a song, made once. Each lasts the session plus its sync offset.
bool MakeFullHdMedia(int seconds) {
    fs::create_directories(kWork);
    const char* const sources[] = {"testsrc2", "smptehdbars", "testsrc", "rgbtestsrc"};
    for (int i = 0; i < 4; ++i) {
        const fs::path file =
            kWork / ("hd" + std::to_string(i + 1) + "-" + std::to_string(seconds) + ".mp4");
        if (fs::exists(file)) {
            continue;
        }
        if (!Run(std::string("ffmpeg -v error -y -f lavfi -i ") + sources[i] +
                 "=size=1920x1080:rate=30000/1001 -vf noise=alls=8:allf=t -t " +
                 std::to_string(seconds + 2) +
                 " -c:v libx264 -preset superfast -g 60 -keyint_min 60 -bf 2 -pix_fmt yuv420p " +
                 file.string())) {
            return false;
        }
    }
    const fs::path song = kWork / ("hdsong-" + std::to_string(seconds) + ".wav");
    return fs::exists(song) || Run("ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=" +
                                   std::to_string(seconds) + " -ac 2 -ar 44100 " + song.string());
}

// The session at 128 bpm in 4/4 (a measure is 1.875 s) over five spans of about equal length:
// every camera in turn on each beat, all four in quarters, one large and two small areas with
// separators, the quarters cut every half beat, and a fade out. Each output (path and size) has
// a script of its own, fullhd-SECONDS-WxH-TAG.txt: renders to another output, at once or later,
// must not rewrite the one a render reads.
std::string FullHdScript(int seconds, const std::string& output, int width, int height) {
    const int measures = std::max(5, static_cast<int>(seconds / 1.875));
    const std::string dir = kWork.string() + "/";
    const std::string tag = "-" + std::to_string(seconds);
    int bound[6];
    for (int k = 0; k <= 5; ++k) {
        bound[k] = 1 + (measures * k + 4) / 5;
    }
    std::ostringstream text;
    text << "output( " << output << ", " << width << ", " << height << ", bicubic, " << dir
         << "hdsong" << tag << ".wav )\n";
    for (int i = 1; i <= 4; ++i) {
        text << "input( cam" << i << ", " << dir << "hd" << i << tag << ".mp4, center, "
             << (i - 1) * 500 << " ) { " << (i == 2 ? "brightness( 0.05 ); " : "")
             << (i == 3 ? "contrast( 0.1 ); " : "") << "}\n";
    }
    text << "group( all ) { cam1, cam2, cam3, cam4 }\n"
         << "group( pair ) { cam2, cam3 }\n"
         << "marker( " << bound[0]
         << ", 1fullscreen ) { tempo( 128 ); signature( 4, 4 ); display( all, each_beat ); }\n"
         << "marker( " << bound[1]
         << ", 2top_2bottom ) { display( cam1 ); display( cam2 ); display( cam3 ); "
            "display( cam4 ); }\n"
         << "marker( " << bound[2]
         << ", 1left_2right ) { separator( 8 ); display( all, each_measure ); "
            "display( pair, each_beat ); display( cam4 ); }\n"
         << "marker( " << bound[3]
         << ", 2top_2bottom ) { separator( 0 ); display( all, every_half_beat ); "
            "display( cam2 ); display( cam3 ); display( all, each_beat ); }\n"
         << "marker( " << bound[4]
         << ", 1fullscreen ) { effect( fade_out ); display( all, each_measure ); }\n"
         << "marker( " << bound[5] << " ) { }\n";
    return WriteScript("fullhd" + tag + "-" + std::to_string(width) + "x" + std::to_string(height) +
                           "-" + TextTag(text.str()) + ".txt",
                       text.str());
}

// What ffmpeg needs for the same frames: four decodes from the same offsets, each scaled to a
// quarter, stacked two by two, x264 at Zorvo's preset and quality, AAC.
std::string FullHdFilterGraphCommand(int seconds) {
    const std::string dir = kWork.string() + "/";
    const std::string tag = "-" + std::to_string(seconds);
    const int measures = std::max(5, static_cast<int>(seconds / 1.875));
    std::string command = "ffmpeg -v error -y";
    for (int i = 1; i <= 4; ++i) {
        command += " -ss " + std::to_string((i - 1) * 0.5) + " -i " + dir + "hd" +
                   std::to_string(i) + tag + ".mp4";
    }
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.3f", measures * 1.875);
    return command + " -i " + dir + "hdsong" + tag +
           ".wav -filter_complex \"[0:v]scale=960:540:flags=bicubic[a];"
           "[1:v]scale=960:540:flags=bicubic[b];[2:v]scale=960:540:flags=bicubic[c];"
           "[3:v]scale=960:540:flags=bicubic[d];"
           "[a][b][c][d]xstack=inputs=4:layout=0_0|w0_0|0_h0|w0_h0,fps=25,format=yuv420p[v]\" "
           "-map [v] -map 4:a -t " +
           duration + " -c:v libx264 -preset superfast -crf 18 -c:a aac -b:a 192k " + dir +
           "ffmpeg-fullhd.mp4";
}

// The seconds of the full HD session: the recorded figures are of 60; ZORVO_BENCH_SECONDS
// shortens it for trial runs.
int FullHdSeconds() {
    const char* value = std::getenv("ZORVO_BENCH_SECONDS");
    const int seconds = value ? std::atoi(value) : 0;
    return seconds >= 10 ? seconds : 60;
}

// A render in a child process that sends back its frame count and the decoded and distinct
// pictures.
Cost RenderCounting(const std::string& script, const std::string& output,
                    std::uint64_t (&counts)[3]) {
    int fds[2];
    if (pipe(fds) != 0) {
        return {};
    }
    Cost cost = InChild([&] {
        close(fds[0]);
        std::uint64_t values[3] = {};
        const int frames = Build(script, output, &values[1], &values[2]);
        values[0] = static_cast<std::uint64_t>(std::max(frames, 0));
        const bool written = write(fds[1], values, sizeof values) == sizeof values;
        return frames > 0 && written;
    });
    close(fds[1]);
    cost.ok = ::read(fds[0], counts, sizeof counts) == sizeof counts && cost.ok;
    close(fds[0]);
    return cost;
}

// The full HD session rendered to MP4 and the filter graph, in turn, three times each.
void BM_RenderFullHdAgainstFilterGraph(benchmark::State& state) {
    const int seconds = FullHdSeconds();
    if (!HaveFfmpeg() || !MakeFullHdMedia(seconds)) {
        state.SkipWithError("needs the ffmpeg program to make the sources");
        return;
    }
    const std::string output = (kWork / "fullhd.mp4").string();
    const std::string script = FullHdScript(seconds, output, 1920, 1080);
    const std::string command = FullHdFilterGraphCommand(seconds);
    state.SetLabel(script);
    for (auto _ : state) {
        std::vector<double> zorvo, peer, zorvoCpu, peerCpu;
        double peak = 0, peerPeak = 0;
        std::uint64_t counts[3] = {};
        for (int round = 0; round < Rounds(); ++round) {
            const Cost render = RenderCounting(script, {}, counts);
            const Cost graph = InChild([&] { return Run(command); });
            if (!render.ok || !graph.ok) {
                state.SkipWithError("a run failed");
                return;
            }
            zorvo.push_back(render.seconds);
            zorvoCpu.push_back(render.cpuSeconds);
            peer.push_back(graph.seconds);
            peerCpu.push_back(graph.cpuSeconds);
            peak = std::max(peak, render.peakMiB);
            peerPeak = std::max(peerPeak, graph.peakMiB);
        }
        state.counters["seconds"] = seconds;
        state.counters["frames"] = static_cast<double>(counts[0]);
        state.counters["zorvo_s"] = Median(zorvo);
        state.counters["ffmpeg_s"] = Median(peer);
        state.counters["ratio"] = Median(zorvo) / Median(peer);
        state.counters["zorvo_cpu_s"] = Median(zorvoCpu);
        state.counters["ffmpeg_cpu_s"] = Median(peerCpu);
        state.counters["decoded"] = static_cast<double>(counts[1]);
        state.counters["shown"] = static_cast<double>(counts[2]);
        state.counters["peak_MiB"] = peak;
        state.counters["ffmpeg_peak_MiB"] = peerPeak;
    }
}
BENCHMARK(BM_RenderFullHdAgainstFilterGraph)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime();

// One render of the full HD session (for a profiler, or an AVI to compare byte for byte:
// ZORVO_BENCH_OUTPUT names the file, at 480 x 270 when it ends in .avi).
void BM_RenderFullHd(benchmark::State& state) {
    const int seconds = FullHdSeconds();
    if (!HaveFfmpeg() || !MakeFullHdMedia(seconds)) {
        state.SkipWithError("needs the ffmpeg program to make the sources");
        return;
    }
    const char* named = std::getenv("ZORVO_BENCH_OUTPUT");
    const std::string output = named ? named : (kWork / "fullhd.mp4").string();
    const bool avi = output.size() > 4 && output.substr(output.size() - 4) == ".avi";
    const std::string script = FullHdScript(seconds, output, avi ? 480 : 1920, avi ? 270 : 1080);
    state.SetLabel(script);
    for (auto _ : state) {
        std::uint64_t counts[3] = {};
        const Cost render = RenderCounting(script, {}, counts);
        if (!render.ok) {
            state.SkipWithError("the build failed");
            return;
        }
        state.counters["zorvo_s"] = render.seconds;
        state.counters["zorvo_cpu_s"] = render.cpuSeconds;
        state.counters["frames"] = static_cast<double>(counts[0]);
        state.counters["decoded"] = static_cast<double>(counts[1]);
        state.counters["shown"] = static_cast<double>(counts[2]);
        state.counters["peak_MiB"] = render.peakMiB;
    }
}
BENCHMARK(BM_RenderFullHd)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// Six small cameras cut on every beat for `measures` measures (one second each): the peak
// memory of the render must not grow with the timeline.
void BM_RenderSixInputs(benchmark::State& state) {
    const int measures = static_cast<int>(state.range(0));
    if (!HaveFfmpeg()) {
        state.SkipWithError("needs the ffmpeg program to make the sources");
        return;
    }
    fs::create_directories(kWork);
    const std::string dir = kWork.string() + "/";
    std::string script = "output( " + dir + "six.avi, 320, 240 )\n";
    for (int i = 1; i <= 6; ++i) {
        const std::string file = dir + "small" + std::to_string(i) + ".mp4";
        if (!fs::exists(file) &&
            !Run("ffmpeg -v error -y -f lavfi -i testsrc2=size=320x180:rate=25 -t 205 -c:v "
                 "libx264 -preset ultrafast -bf 2 -g 50 -pix_fmt yuv420p " +
                 file)) {
            state.SkipWithError("ffmpeg failed");
            return;
        }
        script += "input( c" + std::to_string(i) + ", " + file + ", center, " +
                  std::to_string(i * 300) + " ) { brightness( 0.0" + std::to_string(i) + " ); }\n";
    }
    script += "group( odd ) { c1, c3, c5 }\ngroup( even ) { c2, c4, c6 }\n";
    for (int m = 1; m < measures; m += 4) {
        script += "marker( " + std::to_string(m) +
                  (m % 8 == 1 ? ", 1left_1right ) { display( odd, each_beat ) display( even, "
                                "each_beat ) "
                              : ", 1fullscreen ) { display( c" + std::to_string(1 + m % 6) +
                                    ", each_measure ) ") +
                  (m == 1 ? "tempo( 240 ) signature( 4, 4 ) }\n" : "}\n");
    }
    script += "marker( " + std::to_string(measures + 1) + " ) { }\n";
    // One script for each length: the two lengths' runs must not rewrite each other's.
    const std::string path = WriteScript("six-" + std::to_string(measures) + ".txt", script);
    for (auto _ : state) {
        const Cost render = InChild([&] { return Build(path) > 0; });
        if (!render.ok) {
            state.SkipWithError("the build failed");
            return;
        }
        state.counters["seconds"] = render.seconds;
        state.counters["peak_MiB"] = render.peakMiB;
    }
}
BENCHMARK(BM_RenderSixInputs)
    ->Arg(25)
    ->Arg(200)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime();

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

// The script of a storyboard benchmark: arg 0 the typical script, 1 the demo session; empty
// (after skipping the benchmark) when its media cannot be had.
std::string StoryboardScript(benchmark::State& state) {
    const bool demo = state.range(0) == 1;
    const fs::path demoScript = fs::current_path() / "build" / "demo" / "demo.zorvo";
    if (demo ? !fs::exists(demoScript) : !HaveFfmpeg() || !MakeTypicalMedia()) {
        state.SkipWithError(demo ? "run from the repository after `make demo`"
                                 : "needs the ffmpeg program to make the sources");
        return {};
    }
    state.SetLabel(demo ? "demo" : "typical");
    return demo ? demoScript.string() : TypicalScript();
}

// One storyboard run in a child process, its sheet written as `zorvo storyboard` writes it;
// `counts` receives its stills, the pictures decoded and the distinct ones shown.
Cost StoryboardInChild(const std::string& script, std::uint64_t (&counts)[3]) {
    int fds[2];
    if (pipe(fds) != 0) {
        return {};
    }
    Cost cost = InChild([&] {
        close(fds[0]);
        zorvo::KeepFreedFrames();  // as `zorvo storyboard` does
        zorvo::ContactSheet sheet(240, 7, true);
        std::uint64_t values[3] = {};
        bool ok = false;
        {
            zorvo::LogCollector log;
            zorvo::CProject job(script, sheet, false);
            while (log.BuildFinishedCount() == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            ok = job.Succeeded();
            values[0] = sheet.Stills().size();
            values[1] = job.DecodedPictures();
            values[2] = job.DistinctPictures();
        }
        ok = ok && zorvo::WritePng(sheet.Sheet(), (kWork / "storyboard.png").string());
        return ok && write(fds[1], values, sizeof values) == sizeof values;
    });
    close(fds[1]);
    cost.ok = cost.ok && ::read(fds[0], counts, sizeof counts) == sizeof counts;
    close(fds[0]);
    return cost;
}

// The storyboard alone, once: for comparing versions of it on the same media.
void BM_Storyboard(benchmark::State& state) {
    const std::string script = StoryboardScript(state);
    for (auto _ : state) {
        std::uint64_t counts[3] = {};
        const Cost stills = script.empty() ? Cost{} : StoryboardInChild(script, counts);
        if (!stills.ok) {
            state.SkipWithError("the storyboard failed");
            return;
        }
        state.counters["stills"] = static_cast<double>(counts[0]);
        state.counters["decoded"] = static_cast<double>(counts[1]);
        state.counters["shown"] = static_cast<double>(counts[2]);
        state.counters["storyboard_s"] = stills.seconds;
        state.counters["storyboard_cpu_s"] = stills.cpuSeconds;
        state.counters["peak_MiB"] = stills.peakMiB;
    }
}
BENCHMARK(BM_Storyboard)->DenseRange(0, 1)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// The storyboard of a session (one still per block, as `zorvo storyboard` makes it) against
// its render, in turn, three rounds, every run in a child process: arg 0 the typical
// two-camera script, 1 the demo session (run from the repository after `make demo`). `ratio`
// and `cpu_ratio` are the storyboard's median wall-clock and CPU time over the render's;
// `decoded` the source pictures its decoders delivered for `stills` stills, `shown` the distinct
// ones they show.
void BM_StoryboardAgainstRender(benchmark::State& state) {
    const std::string script = StoryboardScript(state);
    if (script.empty()) {
        return;
    }
    const std::string output = (kWork / "storyboard-render.avi").string();
    for (auto _ : state) {
        std::vector<double> board, render, boardCpu, renderCpu;
        std::uint64_t counts[3] = {};
        for (int round = 0; round < Rounds(); ++round) {
            const Cost stills = StoryboardInChild(script, counts);
            const Cost full = InChild([&] { return Build(script, output) > 0; });
            if (!stills.ok || !full.ok) {
                state.SkipWithError("a run failed");
                return;
            }
            board.push_back(stills.seconds);
            boardCpu.push_back(stills.cpuSeconds);
            render.push_back(full.seconds);
            renderCpu.push_back(full.cpuSeconds);
        }
        state.counters["stills"] = static_cast<double>(counts[0]);
        state.counters["decoded"] = static_cast<double>(counts[1]);
        state.counters["shown"] = static_cast<double>(counts[2]);
        state.counters["storyboard_s"] = Median(board);
        state.counters["storyboard_cpu_s"] = Median(boardCpu);
        state.counters["render_s"] = Median(render);
        state.counters["render_cpu_s"] = Median(renderCpu);
        state.counters["ratio"] = Median(board) / Median(render);
        state.counters["cpu_ratio"] = Median(boardCpu) / Median(renderCpu);
    }
    fs::remove(output);
}
BENCHMARK(BM_StoryboardAgainstRender)
    ->DenseRange(0, 1)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime();

// Keeps every still whole, with the song frame it shows.
class KeptStills : public zorvo::StillSink {
  public:
    bool TakeStill(const zorvo::FrameBitmap& frame, const zorvo::TimelineSpan&,
                   const zorvo::TimelineBlock& block) override {
        stills.emplace_back(block.firstFrame, std::vector<std::uint8_t>(
                                                  frame.Bits(), frame.Bits() + frame.SizeBytes()));
        rows = frame.Height();
        return true;
    }
    std::vector<std::pair<std::int64_t, std::vector<std::uint8_t>>> stills;
    std::size_t rows = 0;
};

// Each still of the storyboard against the frame of the render at its song frame (as the
// ffmpeg program reads the AVI): `differing` stills, and the lowest PSNR in dB among them (0
// when all are the same bytes). Arg 0 the typical script, 1 the demo session.
void BM_StillsAgainstRender(benchmark::State& state) {
    const std::string script = StoryboardScript(state);
    if (script.empty()) {
        return;
    }
    const std::string output = (kWork / "stills-render.avi").string();
    for (auto _ : state) {
        KeptStills kept;
        {
            zorvo::LogCollector log;
            zorvo::CProject job(script, kept, false);
            while (log.BuildFinishedCount() == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        if (kept.stills.empty() || Build(script, output) < 0) {
            state.SkipWithError("a run failed");
            return;
        }
        FILE* frames =
            popen(("ffmpeg -v error -i " + output + " -f rawvideo -pix_fmt bgr24 -").c_str(), "r");
        const std::size_t bytes = kept.stills.front().second.size();
        std::vector<std::uint8_t> frame(bytes);
        int differing = 0;
        double lowest = 0;
        std::size_t next = 0;
        for (std::int64_t n = 0; frames && next < kept.stills.size() &&
                                 std::fread(frame.data(), 1, bytes, frames) == bytes;
             ++n) {
            if (kept.stills[next].first != n) {
                continue;
            }
            // The still's rows run bottom-up, ffmpeg's top-down.
            const std::vector<std::uint8_t>& still = kept.stills[next++].second;
            const std::size_t rows = kept.rows;
            const std::size_t stride = bytes / rows;
            double squares = 0;
            for (std::size_t y = 0; y < rows; ++y) {
                for (std::size_t x = 0; x < stride; ++x) {
                    const double d =
                        double(still[y * stride + x]) - frame[(rows - 1 - y) * stride + x];
                    squares += d * d;
                }
            }
            if (squares > 0) {
                ++differing;
                const double psnr = 10 * std::log10(255.0 * 255.0 * bytes / squares);
                lowest = lowest == 0 ? psnr : std::min(lowest, psnr);
            }
        }
        if (frames) {
            pclose(frames);
        }
        state.counters["stills"] = static_cast<double>(kept.stills.size());
        state.counters["compared"] = static_cast<double>(next);
        state.counters["differing"] = differing;
        state.counters["lowest_psnr_dB"] = lowest;
    }
    fs::remove(output);
}
BENCHMARK(BM_StillsAgainstRender)
    ->DenseRange(0, 1)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace

// The allocator set up as the programs set it.
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
