#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "common/LogCollector.h"
#include "support/TestPaths.h"
#include "support/TestSound.h"
#include "sync/AudioSync.h"

namespace zorvo {
namespace {

using test::CameraFile;
using test::Room;
using test::TestAudioCodec;

struct Camera {
    std::string name;  // file name: the container
    TestAudioCodec codec;
    int rate;
    double truthMs;     // camera time, from its first picture, of the song's start
    double videoStart;  // file clock, seconds
    double audioStart;
    double seconds;
    Room room;
    const test::SyntheticSong* heard = nullptr;  // another sound than the song
    SyncOutcome outcome = SyncOutcome::Matched;
};

TEST(AudioSync, FindsEachCameraWithinOneMillisecond) {
    const test::SyntheticSong song(11, 8.0);
    const test::SyntheticSong other(12, 8.0);
    const test::SyntheticSong take(11, 8.0, 5);
    const Room room{0.4, {{0.0113, 0.5}, {0.0291, 0.3}}, 120.0, 7000.0, 0.02, 0.3, 3};
    const std::vector<Camera> cameras = {
        {"before.mp4", TestAudioCodec::Aac, 48000, 1234.56, 0.0, 0.0, 5.0, room},
        {"inside.mov", TestAudioCodec::Pcm, 44100, -2345.67, 0.4, 0.0, 5.0, room},
        {"late.mkv", TestAudioCodec::Flac, 48000, 517.3, 0.0, 0.25, 4.0, room},
        {"mute.mp4", TestAudioCodec::None, 48000, 0.0, 0.0, 0.0, 2.0, room, nullptr,
         SyncOutcome::NoAudio},
        {"other.mov", TestAudioCodec::Pcm, 48000, 300.0, 0.0, 0.0, 5.0, room, &other,
         SyncOutcome::NoMatch},
        {"take.mkv", TestAudioCodec::Flac, 44100, 300.0, 0.0, 0.0, 5.0, room, &take,
         SyncOutcome::NoMatch},
    };
    test::TempDir dir;
    ASSERT_TRUE(test::WriteSongWave(dir.File("song.wav"), song.Render(44100), 44100));
    std::vector<SyncCamera> inputs;
    for (const Camera& c : cameras) {
        CameraFile file;
        file.codec = c.codec;
        file.rate = c.rate;
        file.audioStart = c.audioStart;
        file.videoStart = c.videoStart;
        file.videoSeconds = c.seconds;
        if (c.codec != TestAudioCodec::None) {
            file.samples = test::CameraSound(c.heard ? *c.heard : song,
                                             c.videoStart + c.truthMs / 1000.0, c.audioStart,
                                             c.rate, c.seconds, c.room);
        }
        std::string error;
        ASSERT_TRUE(test::WriteCameraFile(dir.File(c.name), file, &error)) << c.name << error;
        inputs.push_back({c.name, dir.File(c.name)});
    }
    LogCollector log;
    AudioSync sync;
    ASSERT_TRUE(sync.LoadSong(dir.File("song.wav")));
    const std::vector<SyncResult> results = sync.Match(inputs, nullptr);
    ASSERT_EQ(results.size(), cameras.size());
    for (size_t i = 0; i < cameras.size(); ++i) {
        const Camera& c = cameras[i];
        const SyncResult& r = results[i];
        EXPECT_EQ(r.id, c.name);
        EXPECT_EQ(r.outcome, c.outcome) << c.name << ": " << DescribeOutcome(r);
        if (c.outcome == SyncOutcome::Matched) {
            EXPECT_NEAR(r.offsetMs, c.truthMs, 1.0) << c.name << ": " << DescribeOutcome(r);
        }
    }
}

}  // namespace
}  // namespace zorvo
