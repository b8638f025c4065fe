// Sync: five cameras of one minute each (AAC/MP4, 48 kHz) against a 90 s song, as `zorvo sync`
// runs them: decoding, resampling, coarse and fine correlation, cameras in parallel.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

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

}  // namespace
}  // namespace zorvo

BENCHMARK_MAIN();
