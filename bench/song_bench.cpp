// The memory a long song takes: the window's waveform peaks of it, `zorvo check` of a script
// that names it (run from the repository root, which holds build/bin/zorvo), and a sync of a
// camera that heard a minute of it (needs the `ffmpeg` program). Each is measured in a child
// process of its own, so its peak is its alone; the argument is the song's minutes.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "media/WavePeaks.h"
#include "support/ProgramRun.h"
#include "support/TestPaths.h"
#include "support/TestVideo.h"
#include "support/WaveFile.h"
#include "sync/AudioSync.h"

namespace zorvo {
namespace {

// The peak resident memory of `work` in a child process, in MiB; negative when it failed.
double ChildPeakMiB(const std::function<bool()>& work) {
    const pid_t child = fork();
    if (child == 0) {
        _exit(work() ? 0 : 1);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return -1;
    }
    return usage.ru_maxrss / 1024.0;
}

void BM_LongSongMemory(benchmark::State& state) {
    const std::string zorvo = (std::filesystem::current_path() / "build/bin/zorvo").string();
    if (!std::filesystem::exists(zorvo)) {
        state.SkipWithError("run from the repository root after building zorvo");
        return;
    }
    test::TempDir dir;
    const std::string song = dir.File("song.wav");
    const std::string script = dir.File("song.zorvo");
    if (!test::WriteLongSong(song, static_cast<int>(state.range(0)) * 60) ||
        !test::WriteTestVideo(dir.File("cam.avi"), test::TestVideo{}) ||
        !test::WriteTextFile(script,
                             "output( out.avi, 96, 144, point, song.wav )\n"
                             "input( cam, cam.avi ) { }\n"
                             "marker( 1, 1fullscreen ) { tempo( 120 ) signature( 4, 4 ) "
                             "display( cam ) }\nmarker( 2 ) { }\n")) {
        state.SkipWithError("cannot write the session");
        return;
    }
    double peaks = 0;
    double check = 0;
    for (auto _ : state) {
        peaks = ChildPeakMiB([&] {
            WavePeaks read;
            return read.Load(song) && !read.low.empty();
        });
        check = ChildPeakMiB([&] {
            const int quiet = ::open("/dev/null", O_WRONLY);
            ::dup2(quiet, 1);
            execl(zorvo.c_str(), "zorvo", "check", script.c_str(), nullptr);
            return false;
        });
    }
    if (peaks < 0 || check < 0) {
        state.SkipWithError("a child failed");
        return;
    }
    state.counters["peaks_MiB"] = peaks;
    state.counters["check_MiB"] = check;
}
BENCHMARK(BM_LongSongMemory)->Arg(1)->Arg(30)->Unit(benchmark::kSecond)->Iterations(1);

// The camera heard the song from this moment on, for a minute.
constexpr double kHeardFromS = 600.0;

void BM_SongSyncMemory(benchmark::State& state) {
    test::TempDir dir;
    const std::string song = dir.File("song.wav");
    const std::string camera = dir.File("cam.mp4");
    const std::string minutes = std::to_string(state.range(0) * 60);
    const test::ProgramRun madeSong =
        test::RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                          "anoisesrc=color=pink:seed=5:r=44100:d=" + minutes + ",volume=0.3", "-ac",
                          "2", "-c:a", "pcm_s16le", song});
    const test::ProgramRun madeCamera = test::RunProgram({"ffmpeg",
                                                          "-nostdin",
                                                          "-v",
                                                          "error",
                                                          "-y",
                                                          "-f",
                                                          "lavfi",
                                                          "-i",
                                                          "color=c=gray:s=16x16:r=25:d=60",
                                                          "-ss",
                                                          std::to_string(kHeardFromS),
                                                          "-t",
                                                          "60",
                                                          "-i",
                                                          song,
                                                          "-map",
                                                          "0:v",
                                                          "-map",
                                                          "1:a",
                                                          "-c:v",
                                                          "mpeg4",
                                                          "-c:a",
                                                          "aac",
                                                          "-ac",
                                                          "1",
                                                          "-ar",
                                                          "48000",
                                                          camera});
    if (madeSong.status != 0 || madeCamera.status != 0) {
        state.SkipWithError(("ffmpeg: " + madeSong.err + madeCamera.err).c_str());
        return;
    }
    double peak = 0;
    double offset = 0;
    double confidence = 0;
    for (auto _ : state) {
        int pipeEnds[2];
        if (pipe(pipeEnds) != 0) {
            state.SkipWithError("no pipe");
            return;
        }
        peak = ChildPeakMiB([&] {
            AudioSync sync;
            double found[2] = {1e300, 0};
            if (sync.LoadSong(song)) {
                const std::vector<SyncResult> results = sync.Match({{"cam", camera}}, nullptr);
                if (results[0].outcome == SyncOutcome::Matched) {
                    found[0] = results[0].offsetMs;
                    found[1] = results[0].confidence;
                }
            }
            return write(pipeEnds[1], found, sizeof found) == sizeof found;
        });
        close(pipeEnds[1]);
        double found[2] = {1e300, 0};
        const bool read = ::read(pipeEnds[0], found, sizeof found) == sizeof found;
        close(pipeEnds[0]);
        if (peak < 0 || !read) {
            state.SkipWithError("the sync failed");
            return;
        }
        offset = found[0];
        confidence = found[1];
    }
    // In full, to compare runs of two builds.
    std::fprintf(stderr, "sync: offset %.9f ms, confidence %.9f\n", offset, confidence);
    state.counters["sync_MiB"] = peak;
    // The camera heard the song's start before its own: at -600 s, to the AAC's own delay.
    state.counters["offset_ms"] = benchmark::Counter(offset);
    state.counters["confidence"] = confidence;
}
BENCHMARK(BM_SongSyncMemory)->Arg(30)->Arg(90)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
}  // namespace zorvo

BENCHMARK_MAIN();
