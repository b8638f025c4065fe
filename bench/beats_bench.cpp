// Beats: `zorvo beats` on a five-minute song (44.1 kHz stereo, 16 bit) and a script of 150
// measures, run as a program so its time is its own: once with an empty cache (decoding and
// aubio) and once with the analysis cached. Wall-clock time, and the program's CPU time.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/TestBeats.h"
#include "support/TestPaths.h"
#include "support/WaveFile.h"

extern char** environ;

namespace zorvo {
namespace {

struct Session {
    test::TempDir dir;
};

void Make(Session& s) {
    const std::vector<float> mono = test::RenderDrums({120, 0, 4, 4, 0, false, 150}, 44100);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(mono.size() * 4);
    for (const float x : mono) {
        const auto v = static_cast<std::int16_t>(std::max(-1.0f, std::min(1.0f, x)) * 32000);
        for (int channel = 0; channel < 2; ++channel) {
            bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
            bytes.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
        }
    }
    test::WaveFormat format;
    format.sampleRate = 44100;
    format.channels = 2;
    test::WriteWaveFile(s.dir.File("song.wav"), format, bytes);
    test::WriteTextFile(
        s.dir.File("song.zorvo"),
        "output( out.avi, 64, 48, point, song.wav )\ninput( cam, cam.avi ) { }\n"
        "marker( 1, 1fullscreen ) { tempo( 120 ) signature( 4, 4 ) display( cam ) }\n"
        "marker( 75, 1fullscreen ) { display( cam ) }\nmarker( 151 ) { }\n");
}

const Session& Media() {
    static Session session;
    static const bool made = (Make(session), true);
    (void)made;
    return session;
}

// Runs `zorvo beats`; the CPU seconds it took. (Its peak memory is not measurable from here: a
// spawned child starts with this process's high-water mark; `/usr/bin/time -f %M` gives it.)
double RunBeats(const Session& s, bool keepCache) {
    const std::string cache = s.dir.File("cache");
    if (!keepCache) {
        std::filesystem::remove_all(cache);
    }
    const std::string program = test::BinDir() + "/zorvo";
    const std::string script = s.dir.File("song.zorvo");
    const std::string xdg = "XDG_CACHE_HOME=" + cache;
    std::vector<char*> env;
    for (char** e = environ; *e; ++e) {
        env.push_back(*e);
    }
    env.push_back(const_cast<char*>(xdg.c_str()));
    env.push_back(nullptr);
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("beats"),
                    const_cast<char*>(script.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, env.data()) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void Run(benchmark::State& state, bool cached) {
    const Session& session = Media();
    if (cached) {
        RunBeats(session, false);
    }
    double cpu = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        cpu += RunBeats(session, cached);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["child_cpu_s"] = cpu / static_cast<double>(state.iterations());
}

void BM_BeatsFiveMinutes(benchmark::State& state) {
    Run(state, false);
}
void BM_BeatsFiveMinutesCached(benchmark::State& state) {
    Run(state, true);
}
BENCHMARK(BM_BeatsFiveMinutes)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_BeatsFiveMinutesCached)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace zorvo

BENCHMARK_MAIN();
