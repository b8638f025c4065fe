#include <filesystem>

#include "RenderFixture.h"

namespace zorvo {
namespace {

using test::kNumberRange;
using test::RunBuild;
using SongSync = test::RenderSuite;

// Sessions whose beats are not whole numbers of frames. Two cameras heard the song from its
// first moment (camera frame k = song frame k); the cut alternates between them on every block,
// so each output frame tells both which block it belongs to and which moment of the camera it
// shows.
TEST_F(SongSync, EveryFrameShowsTheMomentOfItsSound) {
    struct Case {
        std::string name;
        int tempo;
        int count;
        int unit;
        int perBeat;                // blocks a beat: 1 each beat, 2 every half beat
        std::vector<int> measures;  // marker measures from 1, the last one terminal
        int rangeStart;             // 0: the whole song
        std::int64_t frames;        // frames the render writes
    };
    const std::vector<Case> cases = {
        // 32 beats of 468.75 ms: 15 s of music, 375 frames.
        {"beats128", 128, 4, 4, 1, {1, 5, 9}, 0, 375},
        {"halfbeats128", 128, 4, 4, 2, {1, 3}, 0, 93},
        {"beats93", 93, 4, 4, 1, {1, 3, 4}, 0, 193},
        {"sevenEight140", 140, 7, 8, 1, {1, 3, 6}, 0, 187},
        // The range starts in the second span at song frame 46 (1875 ms).
        {"skip128", 128, 4, 4, 1, {1, 2, 3, 4}, 2, 94},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string script = "output( {dir}/" + c.name +
                             ".avi, 160, 240, point, {dir}/song.wav )\ninput( a, {dir}/cam1.avi ) "
                             "{ }\ninput( b, {dir}/cam2.avi ) { }\ngroup( ab ) { a, b }\n";
        if (c.rangeStart != 0) {
            script += "range( " + std::to_string(c.rangeStart) + ", " +
                      std::to_string(c.measures.back()) + " )\n";
        }
        for (size_t i = 0; i + 1 < c.measures.size(); ++i) {
            script += "marker( " + std::to_string(c.measures[i]) + ", 1fullscreen ) { tempo( " +
                      std::to_string(c.tempo) + " ) signature( " + std::to_string(c.count) + ", " +
                      std::to_string(c.unit) + " ) display( ab, " +
                      (c.perBeat == 1 ? "each_beat" : "every_half_beat") + " ) }\n";
        }
        script += "marker( " + std::to_string(c.measures.back()) + " ) { }\n";
        const auto result = RunBuild(Script(c.name, script));
        ASSERT_TRUE(result.succeeded) << ::testing::PrintToString(result.texts);
        // The finish line counts the frames written, not the song frames a range skips.
        EXPECT_EQ(test::DoneLineFrames(result.texts[result.texts.size() - 2]), c.frames);

        const test::AviContents avi = test::ReadBack(Output(c.name));
        ASSERT_EQ(static_cast<std::int64_t>(avi.pictures.size()), c.frames);
        // Every span here holds whole cycles, so block b starts at the song frame of b periods:
        // a beat is 6000 / (tempo x unit) frames, counted here in exact integers.
        const std::int64_t perFrames = std::int64_t{c.tempo} * c.unit * c.perBeat;
        const auto blockStart = [&](std::int64_t b) { return b * 6000 / perFrames; };
        const std::int64_t skipped =
            blockStart(std::int64_t{std::max(c.rangeStart - 1, 0)} * c.count * c.perBeat);
        for (size_t i = 0; i < avi.pictures.size(); ++i) {
            const std::int64_t k = skipped + static_cast<std::int64_t>(i);
            std::int64_t block = 0;
            while (blockStart(block + 1) <= k) {
                ++block;
            }
            const int expected = static_cast<int>((block % 2 == 0 ? 0 : 1000) + k);
            ASSERT_EQ(test::NumberIn(avi.pictures[i], 160, 0, 160, 240), expected % kNumberRange)
                << "output frame " << i;
        }
        // Each frame carries the song's slice of its own moment.
        ASSERT_EQ(avi.audio.size(), static_cast<size_t>(c.frames) * 7056);
        EXPECT_TRUE(std::equal(avi.audio.begin(), avi.audio.end(), song.begin() + skipped * 7056));
    }
}

// A clip that holds exactly the frames a build shows is enough; one frame less fails, before any
// file exists, with the clock of the clip's end rounded down and of the need rounded up.
TEST_F(SongSync, ClipsOfExactlyTheNeededLength) {
    struct Case {
        std::string name;
        int cameraFrames;
        int overlayFrames;
        int rateDen;          // of 30000: 1200 stands for 25 fps
        int keepTenths;       // 0: the whole file; else cut, losing its index
        std::string failure;  // the media check's line; empty: the build succeeds
    };
    // One 120 bpm measure cut on every beat: the last block starts at 1500 ms (camera frame 37)
    // and shows 13 frames, so the camera must reach frame 49; the overlay loops 50 frames. At
    // 29.97 fps the last block needs source frames 44 to 58, which end at 1968.6 ms.
    const std::vector<Case> cases = {
        {"exact", 50, 50, 1200, 0, ""},
        {"cameraShort", 49, 50, 1200, 0,
         "Error (Project): Input 'cam' ends at 00:01.96 but marker 1 needs it until 00:02.00, "
         "0.04 s more (block at 00:01.50 of the song; file {dir}/cameraShort-cam.avi).\n"},
        {"overlayShort", 50, 49, 1200, 0,
         "Error (Project): Input 'ov' ends at 00:01.96 but the overlay needs it until 00:02.00, "
         "0.04 s more (file {dir}/overlayShort-ov.avi).\n"},
        {"ntsc", 50, 50, 1001, 0,
         "Error (Project): Input 'cam' ends at 00:01.66 but marker 1 needs it until 00:01.97, "
         "0.30 s more (block at 00:01.50 of the song; file {dir}/ntsc-cam.avi).\n"},
        // The last packet of a cut file tells how far it goes.
        {"cut", 100, 50, 1200, 4,
         "Error (Project): Input 'cam' ends at 00:01.60 but marker 1 needs it until 00:02.00, "
         "0.40 s more (block at 00:01.50 of the song; file {dir}/cut-cam.avi).\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string cam = test::MakeCamera(*dir, c.name + "-cam.avi", 0, c.cameraFrames, 64,
                                                 96, 30000, c.rateDen);
        if (c.keepTenths != 0) {
            std::filesystem::resize_file(cam, std::filesystem::file_size(cam) * c.keepTenths / 10);
        }
        test::MakeCamera(*dir, c.name + "-ov.avi", 500, c.overlayFrames, 64, 96);
        const auto result = RunBuild(
            Script(c.name, "output( {dir}/" + c.name + ".avi, 64, 96 )\ninput( cam, {dir}/" +
                               c.name + "-cam.avi ) { }\ninput( ov, {dir}/" + c.name +
                               "-ov.avi ) { }\noverlay( ov, 50 ) { }\n"
                               "marker( 1, 1fullscreen ) { tempo( 120 ) signature( 4, 4 ) "
                               "display( cam, each_beat ) }\nmarker( 2 ) { }\n"));
        if (c.failure.empty()) {
            EXPECT_TRUE(result.succeeded);
            EXPECT_EQ(result.texts.back(), "Done without error.\n");
            EXPECT_EQ(test::ReadBack(Output(c.name)).pictures.size(), 50u);
            continue;
        }
        EXPECT_FALSE(result.succeeded);
        std::string line = c.failure;
        line.replace(line.find("{dir}"), 5, dir->Path().string());
        EXPECT_EQ(result.texts,
                  (std::vector<std::string>{"* Parsing script...\n", line,
                                            "Error (Project): Failed to check media.\n",
                                            "Error (Project): Failed to build project.\n"}));
        EXPECT_FALSE(std::filesystem::exists(Output(c.name)));
    }
}

}  // namespace
}  // namespace zorvo
