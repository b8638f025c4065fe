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

// Every "{dir}" in `text` becomes the folder.
std::string InFolder(std::string text, const std::string& folder) {
    for (size_t at = text.find("{dir}"); at != std::string::npos; at = text.find("{dir}", at)) {
        text.replace(at, 5, folder);
    }
    return text;
}

// What the commands print for a script, and how they end, in a folder with a 100-frame camera
// (4 s at 25 fps) and a song. Paths are relative to the script; every missing file is listed,
// and each problem of the media is one line that stops check and render alike.
TEST(CheckCommand, PrintsWhatTheBuildWouldPost) {
    struct Case {
        std::string name;
        std::string arguments;  // "{dir}/script.txt" holds the script
        std::string script;
        int status;
        std::string out;
        std::string err = "";
    };
    const std::string head = "* Parsing script...\n";
    const std::string out = "output( out.avi, 96, 144 )\n";
    const std::string cam = "input( cam, cam.avi ) { }\n";
    const std::string span =
        "marker( 1, 1fullscreen ) { tempo( 120 ) signature( 4, 4 ) display( cam ) }\n"
        "marker( 2 ) { }\n";
    const std::string check = "check {dir}/script.txt";
    const auto media = [&](const std::string& name, const std::string& script,
                           const std::string& line, bool render = false) {
        return Case{name, render ? "render {dir}/script.txt" : check, script, 1,
                    head + "Error (Project): " + line +
                        ".\nError (Project): Failed to check media.\n" +
                        (render ? "Error (Project): Failed to build project.\n" : "")};
    };
    const std::string parseFailure = head +
                                     "Error (Script): Malformed script.\n"
                                     "Error (Script): Failed to parse 'output'.\n"
                                     "Error (Script): at line 1, column 1: 'output( a, 64 )'.\n"
                                     "Error (Project): Failed to parse script.\n";
    const std::vector<Case> cases = {
        {"typical without its media", check, test::kTypicalScript, 1,
         head + "Error (Project): Wave file cannot be used: No such file or directory (file "
                "{dir}/C:\\clips\\song.wav).\n"
                "Error (Project): Input 'cam1' does not open: No such file or directory (file "
                "{dir}/C:\\clips\\cam1.mov).\n"
                "Error (Project): Input 'cam2' does not open: No such file or directory (file "
                "{dir}/C:\\clips\\cam2.mov).\n"
                "Error (Project): Failed to check media.\n"},
        {"warning only", check,
         "output( a, 64, 48, Bicubic ) input( c, cam.avi ) { }\n"
         "marker( 1, 1fullscreen ) { tempo( 90 ) signature( 3, 4 ) display( c ) }\nmarker( 2 ) { }",
         0,
         head + "Warning (Script): Unknown interpolation type 'Bicubic'. defaulting on "
                "'fast_bilinear'\n"
                "Script is valid: 1 input(s), 0 group(s), 2 marker(s), 2000 ms (50 frames at 25 "
                "fps).\n"},
        {"parse failure", check, "output( a, 64 )", 1, parseFailure},
        {"render parse failure", "render {dir}/script.txt", "output( a, 64 )", 1,
         parseFailure + "Error (Project): Failed to build project.\n"},
        // The log of a plan goes to standard error: standard output is for the plan alone.
        {"plan parse failure", "plan --json {dir}/script.txt", "output( a, 64 )", 1, "",
         parseFailure.substr(head.size())},
        {"mended: output size", check,
         "output( a, 0, 48 ) input( c, f ) { }\n"
         "marker( 1, 1fullscreen ) { tempo( 90 ) signature( 3, 4 ) display( c ) }\nmarker( 2 ) { }",
         1,
         head + "Error (Script): Failed to validate script: 'output' size must be between 1 and "
                "16384 pixels.\n"
                "Error (Project): Failed to validate script.\n"},
        {"missing script", "check /nonexistent/script.txt", "", 1,
         head + "Error (Script): Failed to open script file.\n"
                "Error (Script): file '/nonexistent/script.txt': No such file or directory.\n"
                "Error (Project): Failed to parse script.\n",
         "zorvo: cannot read '/nonexistent/script.txt': No such file or directory\n"},
        // A folder given as the script ends the same way instead of waiting forever.
        {"render a folder", "render {dir}/", "", 1,
         head + "Error (Script): Failed to open script file.\n"
                "Error (Script): '{dir}/' is not a regular file.\n"
                "Error (Project): Failed to parse script.\n"
                "Error (Project): Failed to build project.\n"},
        media("not a video", out + "input( cam, song.wav ) { }\n" + span,
              "Input 'cam' has no video stream (file {dir}/song.wav)"),
        media("song not a WAVE", "output( out.avi, 96, 144, point, cam.avi )\n" + cam + span,
              "Wave file cannot be used: no RIFF/WAVE header (file {dir}/cam.avi)"),
        media("display count",
              out + cam +
                  "marker( 1, 1left_1right ) { tempo( 120 ) signature( 4, 4 ) display( cam ) }\n"
                  "marker( 2 ) { }\n",
              "Marker 1 has 1 display(s) but its layout has 2 area(s)"),
        // Two 7/8 measures at 93 bpm are 4516 ms: 112 frames, the last one source frame 111.
        // The render stops there as the check does, and creates no file.
        media("render: camera ends early",
              out + cam +
                  "marker( 1, 1fullscreen ) { tempo( 93 ) signature( 7, 8 ) display( cam ) }\n"
                  "marker( 3 ) { }\n",
              "Input 'cam' ends at 00:04.00 but marker 1 needs it until 00:04.48, 0.48 s more "
              "(block at 00:00.00 of the song; file {dir}/cam.avi)",
              true),
        media("negative start", out + "input( cam, cam.avi, center, 0, 1000 ) { }\n" + span,
              "Input 'cam' starts before its beginning: marker 1 needs it from 1.00 s before "
              "(block at 00:00.00 of the song; file {dir}/cam.avi)"),
        media("no output folder", "output( none/out.avi, 96, 144 )\n" + cam + span,
              "Output folder '{dir}/none' does not exist (file {dir}/none/out.avi)"),
    };
    test::TempDir dir;
    test::TestVideo video;
    video.frameCount = 100;
    std::string error;
    ASSERT_TRUE(test::WriteTestVideo(dir.File("cam.avi"), video, &error)) << error;
    ASSERT_TRUE(test::WriteWaveFile(dir.File("song.wav"), test::WaveFormat{},
                                    test::PatternBytes(7056 * 10)));
    const std::string folder = dir.Path().string();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(test::WriteTextFile(dir.File("script.txt"), c.script));
        const test::ProgramRun run = test::RunZorvo(InFolder(c.arguments, folder));
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, InFolder(c.out, folder));
        EXPECT_EQ(run.err, InFolder(c.err, folder));
        EXPECT_FALSE(std::filesystem::exists(dir.File("out.avi")));
    }
}

}  // namespace
}  // namespace zorvo
