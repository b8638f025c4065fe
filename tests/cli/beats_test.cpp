#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/ProgramRun.h"
#include "support/TestBeats.h"
#include "support/TestPaths.h"
#include "support/TestSound.h"
#include "support/TestVideo.h"

namespace zorvo {
namespace {

namespace fs = std::filesystem;

// 16 measures at 120 bpm half a second into the WAVE file; the 4 s camera, at a twentieth of its
// speed, covers each half of the song.
std::string Script(const std::string& head, const std::string& secondTempo) {
    return "output( out.avi, 64, 48, point, song.wav )\ninput( cam, cam.avi ) { }\n"
           "input( late, cam.avi, center, 0, 15000 ) { }\n" +
           head +
           "marker( 1, 1fullscreen ) { tempo( 120 ) signature( 4, 4 ) display( cam ) speed( cam, "
           "0.05 ) }\n"
           "marker( 9, 1fullscreen ) { tempo( " +
           secondTempo +
           " ) // the chorus\n display( late ) speed( late, 0.05 ) }\nmarker( 17 ) { }\n";
}

// What beats, beats --write and check say about scripts right and wrong for the song, and what
// --write leaves in the file: only the values changed, and a script that then reads right.
TEST(BeatsCommand, ReportsWritesAndWarns) {
    test::TempDir dir;
    ASSERT_EQ(setenv("XDG_CACHE_HOME", dir.File("cache").c_str(), 1), 0);
    test::TestVideo video;
    video.frameCount = 100;
    ASSERT_TRUE(test::WriteTestVideo(dir.File("cam.avi"), video));
    const int rate = 22050;
    ASSERT_TRUE(test::WriteSongWave(dir.File("song.wav"),
                                    test::RenderDrums({120, 0, 4, 4, 500, false, 16}, rate), rate));
    const std::string right = Script("song_start( 500 )\n", "120");
    const std::string warning =
        "Warning (Beats): marker 9 (measure 9): the script says 120.4 bpm, the song plays 120 bpm "
        "here; by measure 17 the cuts are 0.05 s early. Try tempo( 120 ).\n";
    struct Case {
        std::string name;
        std::string command;
        std::string script;
        int status;
        std::string last;     // the last line of standard output
        std::string written;  // the script afterwards; empty: unchanged
    };
    const Case cases[] = {
        {"right", "beats", right, 0, "", ""},
        {"0.4 bpm off", "beats", Script("song_start( 500 )\n", "120.4"), 1, warning, ""},
        {"0.4 bpm off, written", "beats --write", Script("song_start( 500 )\n", "120.4"), 0,
         "Wrote 1 tempo(s) into the script.\n", right},
        {"no song_start, written", "beats --write", Script("", "120"), 0,
         "Wrote song_start into the script.\n", ""},
        // A beat off by the end of the span: the check warns and still passes.
        {"check: a beat off", "check", Script("song_start( 500 )\n", "124"), 0,
         "Warning (Beats): marker 9 (measure 9): the script says 124 bpm, the song plays 120 bpm "
         "here; by measure 17 the cuts are 0.52 s early. Try tempo( 120 ).\n",
         ""},
        // The cameras' lines come last.
        {"check: within a beat", "check", Script("song_start( 500 )\n", "120.4"), 0,
         "Input 'late': mpeg4, 96x144, 25 fps, BT.601 limited (file " + dir.File("cam.avi") +
             ").\n",
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(test::WriteTextFile(dir.File("s.zorvo"), c.script));
        const test::ProgramRun run = test::RunZorvo(c.command + " " + dir.File("s.zorvo"));
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        const std::string out = run.out;
        const size_t last = out.rfind('\n', out.size() - 2);
        EXPECT_EQ(c.last.empty() ? "" : out.substr(last + 1), c.last) << out;
        const std::string now = test::ReadTextFile(dir.File("s.zorvo"));
        if (c.name == "no song_start, written") {
            // Where the first downbeat was heard, to a frame.
            ASSERT_EQ(now.rfind("song_start( ", 0), 0u) << now;
            EXPECT_NEAR(std::stoi(now.substr(12)), 500, 40);
            EXPECT_EQ(now.substr(now.find('\n') + 1), c.script);
        } else {
            EXPECT_EQ(now, c.written.empty() ? c.script : c.written);
        }
        if (c.status == 0 && c.command == "beats --write") {
            EXPECT_EQ(test::RunZorvo("beats " + dir.File("s.zorvo")).status, 0);
        }
    }
    // The plan of the corrected script is the plan of the right one.
    ASSERT_TRUE(test::WriteTextFile(dir.File("r.zorvo"), right));
    ASSERT_TRUE(test::WriteTextFile(dir.File("s.zorvo"), Script("song_start( 500 )\n", "120.4")));
    ASSERT_EQ(test::RunZorvo("beats --write " + dir.File("s.zorvo")).status, 0);
    const std::string written = test::RunZorvo("plan " + dir.File("s.zorvo")).out;
    const std::string wanted = test::RunZorvo("plan " + dir.File("r.zorvo")).out;
    EXPECT_EQ(written.substr(written.find('\n')), wanted.substr(wanted.find('\n')));
    // The analysis is kept in the cache folder, nothing beside the session's files.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.File("cache/zorvo")), {}), 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 5);
}

}  // namespace
}  // namespace zorvo
