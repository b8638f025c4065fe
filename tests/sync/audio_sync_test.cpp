#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/LogCollector.h"
#include "support/ProgramRun.h"
#include "support/TestPaths.h"
#include "support/TestSound.h"
#include "sync/AudioSync.h"

namespace zorvo {
namespace {

using test::CameraFile;
using test::Room;
using test::TestAudioCodec;

enum class Heard { Song, OtherPiece, OtherTake };

struct Camera {
    std::string name;  // file name: the container
    TestAudioCodec codec;
    int rate;
    double truthMs;     // camera time, from its first picture, of the song's start
    double videoStart;  // file clock, seconds
    double audioStart;
    double seconds;
    Heard heard;
    SyncOutcome outcome;
};

// Cameras in a room with two echoes, band limits, noise and chatter before and after the song.
using enum TestAudioCodec;
using enum Heard;
using enum SyncOutcome;
const std::vector<Camera> kCameras = {
    {"before.mp4", Aac, 48000, 1234.56, 0.0, 0.0, 5.0, Song, Matched},
    {"inside.mov", Pcm, 44100, -2345.67, 0.4, 0.0, 5.0, Song, Matched},
    {"late.mkv", Flac, 48000, 517.3, 0.0, 0.25, 4.0, Song, Matched},
    {"mute.mp4", None, 48000, 0.0, 0.0, 0.0, 2.0, Song, NoAudio},
    {"other.mov", Pcm, 48000, 300.0, 0.0, 0.0, 5.0, OtherPiece, NoMatch},
    {"take.mkv", Flac, 44100, 300.0, 0.0, 0.0, 5.0, OtherTake, NoMatch},
    // Two MPEG-TS pieces, stereo at the rate and then mono at half of it: a camera whose sound
    // changes its format mid-stream.
    {"changes.ts", Aac, 44100, -1876.5, 0.0, 0.0, 6.0, Song, Matched},
};

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

class AudioSyncTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_dir = std::make_unique<test::TempDir>();
        const test::SyntheticSong song(11, 8.0);
        const test::SyntheticSong other(12, 8.0);
        const test::SyntheticSong take(11, 8.0, 5);
        const Room room{0.4, {{0.0113, 0.5}, {0.0291, 0.3}}, 120.0, 7000.0, 0.02, 0.3, 3};
        ASSERT_TRUE(test::WriteSongWave(File("song.wav"), song.Render(44100), 44100));
        for (const Camera& c : kCameras) {
            if (c.name.ends_with(".ts")) {
                std::string pieces;
                for (int piece = 0; piece < 2; ++piece) {
                    const double at = piece * c.seconds / 2;
                    CameraFile file{c.codec,           c.rate / (piece + 1), {},
                                    c.audioStart + at, c.videoStart + at,    c.seconds / 2,
                                    2 - piece};
                    file.samples =
                        test::CameraSound(song, c.videoStart + c.truthMs / 1000.0, file.audioStart,
                                          file.rate, c.seconds / 2, room);
                    ASSERT_TRUE(test::WriteCameraFile(File("piece.ts"), file));
                    pieces += ReadFile(File("piece.ts"));
                }
                ASSERT_TRUE(test::WriteTextFile(File(c.name), pieces));
                continue;
            }
            CameraFile file{c.codec, c.rate, {}, c.audioStart, c.videoStart, c.seconds};
            if (c.codec != None) {
                const test::SyntheticSong& heard = c.heard == Song         ? song
                                                   : c.heard == OtherPiece ? other
                                                                           : take;
                file.samples = test::CameraSound(heard, c.videoStart + c.truthMs / 1000.0,
                                                 c.audioStart, c.rate, c.seconds, room);
            }
            std::string error;
            ASSERT_TRUE(test::WriteCameraFile(File(c.name), file, &error)) << c.name << error;
        }
    }
    static void TearDownTestSuite() { s_dir.reset(); }
    static std::string File(const std::string& name) { return s_dir->File(name); }

    static std::unique_ptr<test::TempDir> s_dir;
};

std::unique_ptr<test::TempDir> AudioSyncTest::s_dir;

TEST_F(AudioSyncTest, FindsEachCameraWithinOneMillisecond) {
    std::vector<SyncCamera> inputs;
    for (const Camera& c : kCameras) {
        inputs.push_back({c.name, File(c.name)});
    }
    inputs.push_back({"missing", File("missing.mov")});
    LogCollector log;
    AudioSync sync;
    ASSERT_TRUE(sync.LoadSong(File("song.wav")));
    const std::vector<SyncResult> results = sync.Match(inputs, nullptr);
    ASSERT_EQ(results.size(), inputs.size());
    for (size_t i = 0; i < kCameras.size(); ++i) {
        const Camera& c = kCameras[i];
        const SyncResult& r = results[i];
        EXPECT_EQ(r.id, c.name);
        EXPECT_EQ(r.outcome, c.outcome) << c.name << ": " << DescribeOutcome(r);
        if (c.outcome == Matched) {
            EXPECT_NEAR(r.offsetMs, c.truthMs, 1.0) << c.name << ": " << DescribeOutcome(r);
        }
    }
    EXPECT_EQ(results.back().outcome, OpenFailed);
    EXPECT_FALSE(sync.LoadSong(File("missing.wav")));
}

TEST_F(AudioSyncTest, CommandReportsAndWritesTheScript) {
    // 93 bpm in 7/8; inputs written with 2, 4 and 5 arguments, CRLF, comments, bodies. One
    // measure, so that the synced cameras still hold what the check asks of them.
    const auto script = [](const std::string& inputs) {
        return "// session\r\noutput( " + File("out.avi") + ", 64, 48, bicubic, " +
               File("song.wav") + " )\r\n" + inputs +
               "marker( 1, 1fullscreen ) { tempo( 93 ); signature( 7, 8 ); display( a ); }\r\n"
               "marker( 2 ) { }\r\n";
    };
    const auto input = [](const std::string& id, const std::string& file, const std::string& rest) {
        return "input( " + id + ", " + File(file) + rest + "\r\n";
    };
    const std::string a = input("a", "before.mp4", " ) { brightness( 0.1 ); }");
    // A camera without sound and another piece are left alone; the latter fails the run.
    const std::string cd = input("c", "mute.mp4", ", center, 5, 7 ) { }") +
                           input("d", "late.mkv", ", left, 1, 2 ) { }");
    const std::string o = input("o", "other.mov", ", left, 1, 2 ) { }");
    const struct {
        std::string arguments;
        std::string before;
        int status;
        std::string out;
        std::string after;
    } cases[] = {
        {"sync", script(a), 0, "a: offset 1234.6", script(a)},
        {"sync --write",
         script(a + "// between\r\n" + input("b", "inside.mov", ", top, \"100\" ) { }") + cd + o),
         1, "d: offset 517.",
         script(input("a", "before.mp4", ", center, 1235, 0 ) { brightness( 0.1 ); }") +
                "// between\r\n" + input("b", "inside.mov", ", top, \"0\", 2346 ) { }") +
                input("c", "mute.mp4", ", center, 5, 7 ) { }") +
                input("d", "late.mkv", ", left, 517, 0 ) { }") + o)},
    };
    const std::string path = File("script.zorvo");
    for (const auto& c : cases) {
        ASSERT_TRUE(test::WriteTextFile(path, c.before));
        const test::ProgramRun run = test::RunZorvo(c.arguments + " " + path);
        EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.out;
        EXPECT_NE(run.out.find(c.out), std::string::npos) << c.arguments << "\n" << run.out;
        EXPECT_EQ(ReadFile(path), c.after) << c.arguments;
        EXPECT_EQ(test::RunZorvo("check " + path).status, 0) << c.arguments;
    }
}

}  // namespace
}  // namespace zorvo
