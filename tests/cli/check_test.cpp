#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/ProgramRun.h"
#include "support/TestPaths.h"
#include "support/TestVideo.h"
#include "support/WaveFile.h"

namespace zorvo {
namespace {

using test::ProgramRun;
using test::RunZorvo;

// Every "{dir}" in `text` becomes the folder.
std::string InFolder(std::string text, const std::string& folder) {
    for (size_t at = text.find("{dir}"); at != std::string::npos; at = text.find("{dir}", at)) {
        text.replace(at, 5, folder);
    }
    return text;
}

// A folder with a 100-frame camera (4 s at 25 fps) and a song.
struct Session {
    Session() {
        test::TestVideo video;
        video.frameCount = 100;
        std::string error;
        EXPECT_TRUE(test::WriteTestVideo(dir.File("cam.avi"), video, &error)) << error;
        EXPECT_TRUE(test::WriteWaveFile(dir.File("song.wav"), test::WaveFormat{},
                                        test::PatternBytes(7056 * 10)));
    }
    test::TempDir dir;
};

TEST(CheckCommand, PrintsWhatTheBuildWouldPost) {
    struct Case {
        std::string name;
        std::string script;
        int status;
        std::string out;
    };
    const std::vector<Case> cases = {
        // Paths are relative to the script; every missing file is listed.
        {"typical without its media", test::kTypicalScript, 1,
         "* Parsing script...\n"
         "Error (Project): Wave file cannot be used: No such file or directory (file "
         "{dir}/C:\\clips\\song.wav).\n"
         "Error (Project): Input 'cam1' does not open: No such file or directory (file "
         "{dir}/C:\\clips\\cam1.mov).\n"
         "Error (Project): Input 'cam2' does not open: No such file or directory (file "
         "{dir}/C:\\clips\\cam2.mov).\n"
         "Error (Project): Failed to check media.\n"},
        {"warning only",
         "output( a, 64, 48, Bicubic ) input( c, cam.avi ) { }\n"
         "marker( 1, 1fullscreen ) { tempo( 90 ) signature( 3, 4 ) display( c ) }\nmarker( 2 ) { }",
         0,
         "* Parsing script...\n"
         "Warning (Script): Unknown interpolation type 'Bicubic'. defaulting on 'fast_bilinear'\n"
         "Script is valid: 1 input(s), 0 group(s), 2 marker(s), 2000 ms (50 frames at 25 fps).\n"},
        {"parse failure", "output( a, 64 )", 1,
         "* Parsing script...\n"
         "Error (Script): Malformed script.\n"
         "Error (Script): Failed to parse 'output'.\n"
         "Error (Script): at line 1, column 1: 'output( a, 64 )'.\n"
         "Error (Project): Failed to parse script.\n"},
        {"mended: output size",
         "output( a, 0, 48 ) input( c, f ) { }\n"
         "marker( 1, 1fullscreen ) { tempo( 90 ) signature( 3, 4 ) display( c ) }\nmarker( 2 ) { }",
         1,
         "* Parsing script...\n"
         "Error (Script): Failed to validate script: 'output' size must be between 1 and 16384 "
         "pixels.\n"
         "Error (Project): Failed to validate script.\n"},
    };
    Session session;
    const std::string folder = session.dir.Path().string();
    for (const Case& c : cases) {
        const std::string path = session.dir.File("script.txt");
        ASSERT_TRUE(test::WriteTextFile(path, c.script));
        const ProgramRun run = RunZorvo("check " + path);
        EXPECT_EQ(run.status, c.status) << c.name;
        EXPECT_EQ(run.out, InFolder(c.out, folder)) << c.name;
    }
}

// Each problem of the media is one line; check and render both stop there, and the render
// creates no file.
TEST(CheckCommand, FindsEachMediaProblemBeforeRendering) {
    const std::string cam = "input( cam, cam.avi ) { }\n";
    const std::string span =
        "marker( 1, 1fullscreen ) { tempo( 120 ) signature( 4, 4 ) display( "
        "cam ) }\nmarker( 2 ) { }\n";
    struct Case {
        std::string name;
        std::string script;
        std::string line;
    };
    const std::vector<Case> cases = {
        {"missing camera", "output( out.avi, 96, 144 ) input( cam, none.avi ) { }\n" + span,
         "Input 'cam' does not open: No such file or directory (file {dir}/none.avi)"},
        {"not a video", "output( out.avi, 96, 144 ) input( cam, song.wav ) { }\n" + span,
         "Input 'cam' has no video stream (file {dir}/song.wav)"},
        {"missing song", "output( out.avi, 96, 144, point, none.wav )\n" + cam + span,
         "Wave file cannot be used: No such file or directory (file {dir}/none.wav)"},
        {"song not a WAVE", "output( out.avi, 96, 144, point, cam.avi )\n" + cam + span,
         "Wave file cannot be used: no RIFF/WAVE header (file {dir}/cam.avi)"},
        {"display count",
         "output( out.avi, 96, 144 )\n" + cam +
             "marker( 1, 1left_1right ) { tempo( 120 ) signature( 4, 4 ) display( cam ) }\n"
             "marker( 2 ) { }\n",
         "Marker 1 has 1 display(s) but its layout has 2 area(s)"},
        // Two 7/8 measures at 93 bpm are 4516 ms: 112 frames, the last one source frame 111.
        {"camera ends early",
         "output( out.avi, 96, 144 )\n" + cam +
             "marker( 1, 1fullscreen ) { tempo( 93 ) signature( 7, 8 ) display( cam ) }\n"
             "marker( 3 ) { }\n",
         "Input 'cam' ends at 00:04.00 but marker 1 needs it until 00:04.48, 0.48 s more (block "
         "at 00:00.00 of the song; file {dir}/cam.avi)"},
        {"negative start",
         "output( out.avi, 96, 144 ) input( cam, cam.avi, center, 0, 1000 ) { }\n" + span,
         "Input 'cam' starts before its beginning: marker 1 needs it from 1.00 s before (block at "
         "00:00.00 of the song; file {dir}/cam.avi)"},
        {"no output folder", "output( none/out.avi, 96, 144 )\n" + cam + span,
         "Output folder '{dir}/none' does not exist (file {dir}/none/out.avi)"},
    };
    Session session;
    const std::string folder = session.dir.Path().string();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = session.dir.File("script.txt");
        ASSERT_TRUE(test::WriteTextFile(path, c.script));
        const std::string problem = "Error (Project): " + InFolder(c.line, folder) + ".\n";
        const ProgramRun check = RunZorvo("check " + path);
        EXPECT_EQ(check.status, 1);
        EXPECT_EQ(check.out,
                  "* Parsing script...\n" + problem + "Error (Project): Failed to check media.\n");
        const ProgramRun render = RunZorvo("render " + path);
        EXPECT_EQ(render.status, 1);
        EXPECT_EQ(render.out, "* Parsing script...\n" + problem +
                                  "Error (Project): Failed to check media.\n"
                                  "Error (Project): Failed to build project.\n");
        EXPECT_FALSE(std::filesystem::exists(session.dir.File("out.avi")));
    }
}

TEST(CheckCommand, MissingFile) {
    const ProgramRun missing = RunZorvo("check /nonexistent/script.txt");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out,
              "* Parsing script...\n"
              "Error (Script): Failed to open script file.\n"
              "Error (Script): file '/nonexistent/script.txt': No such file or directory.\n"
              "Error (Project): Failed to parse script.\n");
    EXPECT_EQ(missing.err,
              "zorvo: cannot read '/nonexistent/script.txt': No such file or directory\n");
}

}  // namespace
}  // namespace zorvo
