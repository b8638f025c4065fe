// Sync: five cameras of one minute each (AAC/MP4, 48 kHz) against a 90 s song, as `zorvo sync`
// runs them: decoding, resampling, coarse and fine correlation, cameras in parallel. And the
// peak memory of one camera of an hour (8 kHz mono) against a three-minute song.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/ProgramRun.h"
#include "support/TestPaths.h"
#include "support/TestSound.h"
#include "sync/AudioSync.h"

namespace zorvo {
namespace {

constexpr int kCameras = 5;

struct Session {
    test::TempDir dir;
    std::vector<SyncCamera> cameras;
    std::vector<double> truth;
};

// Made once per run; the song is rendered once and heard by every camera at its own delay.
void Make(Session& s) {
    const test::SyntheticSong song(21, 90.0);
    test::WriteSongWave(s.dir.File("song.wav"), song.Render(44100), 44100);
    const test::Room room{0.4, {{0.0113, 0.5}, {0.0291, 0.3}}, 120.0, 7000.0, 0.02, 0.3, 3};
    for (int k = 0; k < kCameras; ++k) {
        const double truthMs = -20000.0 + 9876.54 * k;
        test::CameraFile file;
        file.codec = test::TestAudioCodec::Aac;
        file.rate = 48000;
        file.videoSeconds = 60.0;
        file.samples = test::CameraSound(song, truthMs / 1000.0, 0.0, 48000, 60.0, room);
        const std::string path = s.dir.File("cam" + std::to_string(k) + ".mp4");
        test::WriteCameraFile(path, file);
        s.cameras.push_back({"cam" + std::to_string(k), path});
        s.truth.push_back(truthMs);
    }
}

const Session& Media() {
    static Session session;
    static const bool made = (Make(session), true);
    (void)made;
    return session;
}

void BM_SyncFiveCameras(benchmark::State& state) {
    const Session& session = Media();
    double worst = 0.0;
    for (auto _ : state) {
        AudioSync sync;
        if (!sync.LoadSong(session.dir.File("song.wav"))) {
            state.SkipWithError("no song");
            return;
        }
        const std::vector<SyncResult> results = sync.Match(session.cameras, nullptr);
        for (size_t k = 0; k < results.size(); ++k) {
            worst = std::max(worst, std::fabs(results[k].offsetMs - session.truth[k]));
        }
    }
    state.counters["worst_error_ms"] = worst;
}
BENCHMARK(BM_SyncFiveCameras)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The song starts 1234.5 s into the camera's sound, between stretches of other noise.
constexpr double kHourTruthMs = 1234500.0;

void BM_SyncOneHourCameraMemory(benchmark::State& state) {
    test::TempDir dir;
    const std::string song = dir.File("song.wav");
    const std::string camera = dir.File("hour.mp4");
    test::WriteSongWave(song, test::SyntheticSong(22, 180.0).Render(44100), 44100);
    const test::ProgramRun made =
        test::RunProgram({"ffmpeg",
                          "-nostdin",
                          "-v",
                          "error",
                          "-y",
                          "-f",
                          "lavfi",
                          "-i",
                          "color=c=gray:s=16x16:r=25:d=3600",
                          "-f",
                          "lavfi",
                          "-i",
                          "anoisesrc=color=brown:seed=9:d=1234.5:r=8000,volume=0.1",
                          "-i",
                          song,
                          "-f",
                          "lavfi",
                          "-i",
                          "anoisesrc=color=brown:seed=11:d=2185.5:r=8000,volume=0.1",
                          "-filter_complex",
                          "[2]aresample=8000[s];[1][s][3]concat=n=3:v=0:a=1[a]",
                          "-map",
                          "0:v",
                          "-map",
                          "[a]",
                          "-c:v",
                          "mpeg4",
                          "-g",
                          "250",
                          "-c:a",
                          "aac",
                          "-ac",
                          "1",
                          camera});
    if (made.status != 0) {
        state.SkipWithError(("ffmpeg: " + made.err).c_str());
        return;
    }
    double peakMiB = 0.0;
    double error = 0.0;
    for (auto _ : state) {
        // In a child of its own, so that its peak is the match's alone.
        int pipeEnds[2];
        if (pipe(pipeEnds) != 0) {
            state.SkipWithError("no pipe");
            return;
        }
        const pid_t child = fork();
        if (child == 0) {
            AudioSync sync;
            double offset = 1e300;
            if (sync.LoadSong(song)) {
                const std::vector<SyncResult> results = sync.Match({{"hour", camera}}, nullptr);
                offset = results[0].outcome == SyncOutcome::Matched ? results[0].offsetMs : 1e300;
            }
            const ssize_t written = write(pipeEnds[1], &offset, sizeof offset);
            _exit(written == sizeof offset ? 0 : 1);
        }
        close(pipeEnds[1]);
        double offset = 1e300;
        const bool read = ::read(pipeEnds[0], &offset, sizeof offset) == sizeof offset;
        close(pipeEnds[0]);
        int status = 0;
        rusage usage{};
        if (child < 0 || wait4(child, &status, 0, &usage) != child || !read) {
            state.SkipWithError("the match did not finish");
            return;
        }
        peakMiB = std::max(peakMiB, usage.ru_maxrss / 1024.0);
        error = std::max(error, std::fabs(offset - kHourTruthMs));
    }
    state.counters["peak_MiB"] = peakMiB;
    state.counters["error_ms"] = error;
}
BENCHMARK(BM_SyncOneHourCameraMemory)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace
}  // namespace zorvo

BENCHMARK_MAIN();
