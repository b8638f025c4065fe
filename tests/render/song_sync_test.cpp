#include <cmath>
#include <filesystem>

#include "RenderFixture.h"
#include "script/SpanTiming.h"

namespace zorvo {
namespace {

using test::RunBuild;

constexpr int kNumberRange = 1 << test::kNumberBits;
constexpr int kSecond = 2000;  // the number shown by the second camera's frame 0

// Sessions whose beats are not whole numbers of frames. Two cameras heard the song from its
// first moment (camera frame k = song frame k); the cut alternates between them on every block,
// so each output frame tells both which block it belongs to and which moment of the camera it
// shows.
TEST(SongSync, EveryFrameShowsTheMomentOfItsSound) {
    struct Case {
        std::string name;
        int tempo;
        int count;
        int unit;
        std::string cycle;
        std::vector<int> measures;  // marker measures, the last one terminal
        int rangeStart;             // 0: the whole song
        std::int64_t frames;        // frames the render writes
    };
    const std::vector<Case> cases = {
        // 32 beats of 468.75 ms: 15 s of music, 375 frames.
        {"beats128", 128, 4, 4, "each_beat", {1, 5, 9}, 0, 375},
        {"halfbeats128", 128, 4, 4, "every_half_beat", {1, 3}, 0, 93},
        {"beats93", 93, 4, 4, "each_beat", {1, 3, 4}, 0, 193},
        {"sevenEight140", 140, 7, 8, "each_beat", {1, 3, 6}, 0, 187},
        // The range starts in the second span at song frame 46 (1875 ms).
        {"skip128", 128, 4, 4, "each_beat", {1, 2, 3, 4}, 2, 94},
    };
    test::TempDir dir;
    const std::string first = test::MakeCamera(dir, "first.avi", 0, 420, 96, 144);
    const std::string second = test::MakeCamera(dir, "second.avi", kSecond, 420, 96, 144);
    const auto song = test::PatternBytes(420 * 7056, 5);
    ASSERT_TRUE(test::WriteWaveFile(dir.File("song.wav"), test::WaveFormat{}, song));

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string script = "output( " + dir.File(c.name + ".avi") + ", 96, 144, point, " +
                             dir.File("song.wav") + " )\ninput( a, " + first +
                             " ) { }\ninput( b, " + second + " ) { }\ngroup( ab ) { a, b }\n";
        if (c.rangeStart != 0) {
            script += "range( " + std::to_string(c.rangeStart) + ", " +
                      std::to_string(c.measures.back()) + " )\n";
        }
        for (size_t i = 0; i + 1 < c.measures.size(); ++i) {
            script += "marker( " + std::to_string(c.measures[i]) + ", 1fullscreen ) { tempo( " +
                      std::to_string(c.tempo) + " ) signature( " + std::to_string(c.count) + ", " +
                      std::to_string(c.unit) + " ) display( ab, " + c.cycle + " ) }\n";
        }
        script += "marker( " + std::to_string(c.measures.back()) + " ) { }\n";
        ASSERT_TRUE(test::WriteTextFile(dir.File(c.name + ".txt"), script));
        const auto result = RunBuild(dir.File(c.name + ".txt"));
        ASSERT_TRUE(result.succeeded) << ::testing::PrintToString(result.texts);

        test::AviContents avi;
        std::string error;
        ASSERT_TRUE(test::ReadAvi(dir.File(c.name + ".avi"), avi, error)) << error;
        ASSERT_EQ(static_cast<std::int64_t>(avi.pictures.size()), c.frames);

        // Every span here holds whole cycles, so blocks follow each other at the cycle's period
        // from the first marker; a block starts at the song frame of its start.
        const double beat = 60000.0 / (c.unit * c.tempo * 0.25);
        const double period = c.cycle == "each_beat" ? beat : beat / 2;
        const std::int64_t skipped =
            c.rangeStart != 0 ? SongFrame((c.rangeStart - c.measures[0]) * c.count * beat) : 0;
        for (size_t i = 0; i < avi.pictures.size(); ++i) {
            const std::int64_t k = skipped + static_cast<std::int64_t>(i);
            std::int64_t block = 0;
            while (SongFrame((block + 1) * period) <= k) {
                ++block;
            }
            const int expected = static_cast<int>((block % 2 == 0 ? 0 : kSecond) + k);
            ASSERT_EQ(test::NumberIn(avi.pictures[i], 96, 0, 96, 144), expected % kNumberRange)
                << "output frame " << i;
        }
        // Each frame carries the song's slice of its own moment.
        ASSERT_EQ(avi.audio.size(), static_cast<size_t>(c.frames) * 7056);
        EXPECT_TRUE(std::equal(avi.audio.begin(), avi.audio.end(), song.begin() + skipped * 7056));
    }
}

// A clip that holds exactly the frames a build shows is enough; one frame less still fails.
TEST(SongSync, ClipsOfExactlyTheNeededLength) {
    struct Case {
        std::string name;
        int cameraFrames;
        int overlayFrames;
        std::vector<std::string> failure;  // empty: the build succeeds
    };
    // One 120 bpm measure cut on every beat: the last block starts at 1500 ms (camera frame 37)
    // and shows 13 frames, so the camera must reach frame 49; the overlay loops 50 frames. The
    // media check draws the line exactly where the capture would fail, before any file exists.
    const std::vector<Case> cases = {
        {"exact", 50, 50, {}},
        {"cameraShort",
         49,
         50,
         {"Error (Project): Input 'cam' ends at 00:01.96 but marker 1 needs it until 00:02.00, "
          "0.04 s more (block at 00:01.50 of the song; file {dir}/cameraShort-cam.avi).\n"}},
        {"overlayShort",
         50,
         49,
         {"Error (Project): Input 'ov' ends at 00:01.96 but the overlay needs it until 00:02.00, "
          "0.04 s more (file {dir}/overlayShort-ov.avi).\n"}},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string cam =
            test::MakeCamera(dir, c.name + "-cam.avi", 0, c.cameraFrames, 64, 96);
        const std::string overlay =
            test::MakeCamera(dir, c.name + "-ov.avi", 500, c.overlayFrames, 64, 96);
        const std::string script = "output( " + dir.File(c.name + ".avi") +
                                   ", 64, 96 )\ninput( cam, " + cam + " ) { }\ninput( ov, " +
                                   overlay + " ) { }\noverlay( ov, 50 ) { }\n" +
                                   "marker( 1, 1fullscreen ) { tempo( 120 ) signature( 4, 4 ) "
                                   "display( cam, each_beat ) }\n"
                                   "marker( 2 ) { }\n";
        ASSERT_TRUE(test::WriteTextFile(dir.File(c.name + ".txt"), script));
        const auto result = RunBuild(dir.File(c.name + ".txt"));
        const bool failed =
            std::any_of(result.texts.begin(), result.texts.end(),
                        [](const std::string& t) { return t.rfind("Error", 0) == 0; });
        if (c.failure.empty()) {
            EXPECT_TRUE(result.succeeded);
            EXPECT_FALSE(failed) << ::testing::PrintToString(result.texts);
            test::AviContents avi;
            std::string error;
            ASSERT_TRUE(test::ReadAvi(dir.File(c.name + ".avi"), avi, error)) << error;
            EXPECT_EQ(avi.pictures.size(), 50u);
            continue;
        }
        EXPECT_FALSE(result.succeeded);
        std::vector<std::string> expected = {"* Parsing script...\n"};
        for (std::string line : c.failure) {
            line.replace(line.find("{dir}"), 5, dir.Path().string());
            expected.push_back(line);
        }
        expected.push_back("Error (Project): Failed to check media.\n");
        expected.push_back("Error (Project): Failed to build project.\n");
        EXPECT_EQ(result.texts, expected);
        EXPECT_FALSE(std::filesystem::exists(dir.File(c.name + ".avi")));
    }
}

}  // namespace
}  // namespace zorvo
