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
const std::vector<Camera> kCameras = {
    {"before.mp4", TestAudioCodec::Aac, 48000, 1234.56, 0.0, 0.0, 5.0, Heard::Song,
     SyncOutcome::Matched},
    {"inside.mov", TestAudioCodec::Pcm, 44100, -2345.67, 0.4, 0.0, 5.0, Heard::Song,
     SyncOutcome::Matched},
    {"late.mkv", TestAudioCodec::Flac, 48000, 517.3, 0.0, 0.25, 4.0, Heard::Song,
     SyncOutcome::Matched},
    {"mute.mp4", TestAudioCodec::None, 48000, 0.0, 0.0, 0.0, 2.0, Heard::Song,
     SyncOutcome::NoAudio},
    {"other.mov", TestAudioCodec::Pcm, 48000, 300.0, 0.0, 0.0, 5.0, Heard::OtherPiece,
     SyncOutcome::NoMatch},
    {"take.mkv", TestAudioCodec::Flac, 44100, 300.0, 0.0, 0.0, 5.0, Heard::OtherTake,
     SyncOutcome::NoMatch},
};

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
            CameraFile file{c.codec, c.rate, {}, c.audioStart, c.videoStart, c.seconds};
            if (c.codec != TestAudioCodec::None) {
                const test::SyntheticSong& heard = c.heard == Heard::Song         ? song
                                                   : c.heard == Heard::OtherPiece ? other
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
        if (c.outcome == SyncOutcome::Matched) {
            EXPECT_NEAR(r.offsetMs, c.truthMs, 1.0) << c.name << ": " << DescribeOutcome(r);
        }
    }
    EXPECT_EQ(results.back().outcome, SyncOutcome::OpenFailed);
    EXPECT_FALSE(sync.LoadSong(File("missing.wav")));
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

TEST_F(AudioSyncTest, CommandReportsAndWritesTheScript) {
    // 93 bpm in 7/8; inputs written with 2, 4 and 5 arguments, CRLF, comments, bodies. One
    // measure, so that the synced cameras still hold what the check asks of them.
    const std::string head = "// session\r\noutput( " + File("out.avi") + ", 64, 48, bicubic, " +
                             File("song.wav") + " )\r\n";
    const std::string tail =
        "marker( 1, 1fullscreen ) { tempo( 93 ); signature( 7, 8 ); display( a ); }\r\n"
        "marker( 2 ) { }\r\n";
    struct Case {
        std::string name;
        std::string inputs;
        std::string arguments;
        int status;
        std::string out;
        std::string written;  // the inputs after the run
    };
    const std::vector<Case> cases = {
        {"report only", "input( a, " + File("before.mp4") + " ) { brightness( 0.1 ); }\r\n", "sync",
         0, "a: offset 1234.6",
         "input( a, " + File("before.mp4") + " ) { brightness( 0.1 ); }\r\n"},
        {"write",
         "input( a, " + File("before.mp4") +
             " ) { brightness( 0.1 ); }\r\n"
             "// between\r\ninput( b, " +
             File("inside.mov") +
             ", top, \"100\" ) { }\r\n"
             "input( c, " +
             File("mute.mp4") + ", center, 5, 7 ) { }\r\n",
         "sync --write", 0, "a: offset 1234.6",
         "input( a, " + File("before.mp4") +
             ", center, 1235, 0 ) { brightness( 0.1 ); }\r\n"
             "// between\r\ninput( b, " +
             File("inside.mov") +
             ", top, \"0\", 2346 ) { }\r\n"
             "input( c, " +
             File("mute.mp4") + ", center, 5, 7 ) { }\r\n"},
        {"another piece is left alone",
         "input( a, " + File("late.mkv") +
             ", left, 1, 2 ) { }\r\n"
             "input( o, " +
             File("other.mov") + ", left, 1, 2 ) { }\r\n",
         "sync --write", 1, "a: offset 517.",
         "input( a, " + File("late.mkv") +
             ", left, 517, 0 ) { }\r\n"
             "input( o, " +
             File("other.mov") + ", left, 1, 2 ) { }\r\n"},
    };
    for (const Case& c : cases) {
        const std::string script = File("script.zorvo");
        ASSERT_TRUE(test::WriteTextFile(script, head + c.inputs + tail));
        const test::ProgramRun run = test::RunZorvo(c.arguments + " " + script);
        EXPECT_EQ(run.status, c.status) << c.name << "\n" << run.out;
        EXPECT_NE(run.out.find(c.out), std::string::npos) << c.name << "\n" << run.out;
        EXPECT_EQ(ReadFile(script), head + c.written + tail) << c.name;
        EXPECT_EQ(test::RunZorvo("check " + script).status, 0) << c.name;
    }
    EXPECT_EQ(test::RunZorvo("sync --frobnicate x").status, 2);
}

}  // namespace
}  // namespace zorvo
