#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ProgramRun.h"
#include "support/TestPaths.h"

namespace zorvo {
namespace {

using test::ProgramRun;
using test::RunZorvo;

const std::string kTypical =
    "output( C:\\clips\\song.avi, 720, 576, bicubic, C:\\clips\\song.wav )\n"
    "input( cam1, C:\\clips\\cam1.mov, center, 1200, 0 ) { brightness( 0.1 ); }\n"
    "input( cam2, C:\\clips\\cam2.mov, top_left ) { }\n"
    "group( all ) { cam1, cam2 }\n"
    "marker( 1, 1left_1right ) { tempo( 120 ); signature( 4, 4 ); separator( 4 ); display( cam1, "
    "each_measure ); display( all, each_beat ); }\n"
    "marker( 9, 1fullscreen ) { effect( fade_out ); display( cam2 ); }\n"
    "marker( 13 ) { }\n";

TEST(CheckCommand, PrintsWhatTheBuildWouldPost) {
    struct Case {
        std::string name;
        std::string script;
        int status;
        std::string out;
    };
    const std::vector<Case> cases = {
        {"typical", kTypical, 0,
         "* Parsing script...\n"
         "Script is valid: 2 input(s), 1 group(s), 3 marker(s), 24000 ms (600 frames at 25 "
         "fps).\n"},
        {"warning only",
         "output( a, 64, 48, Bicubic ) input( c, f ) { }\n"
         "marker( 1, 1fullscreen ) { tempo( 90 ) signature( 3, 4 ) display( c ) }\nmarker( 2 ) { }",
         0,
         "* Parsing script...\n"
         "Warning (Script): Unknown interpolation type 'Bicubic'. defaulting on 'fast_bilinear'\n"
         "Script is valid: 1 input(s), 0 group(s), 2 marker(s), 2000 ms (50 frames at 25 fps).\n"},
        {"parse failure", "output( a, 64 )", 1,
         "* Parsing script...\n"
         "Error (Script): Malformed script.\n"
         "Error (Script): Failed to parse 'output'.\n"
         "Error (Project): Failed to parse script.\n"},
        {"validation failure", "output( a, 64, 48 ) input( c, f ) { }", 1,
         "* Parsing script...\n"
         "Error (Script): Failed to validate script: 'markers' list must have at least two "
         "elements.\n"
         "Error (Project): Failed to validate script.\n"},
        {"quirk: name before a line break", "output( a, 64, 48 ) input( c, f,\ntop\n) { }", 1,
         "* Parsing script...\n"
         "Error (SInput): Unknown input focus type 'top\n'.\n"
         "Error (Script): Failed to parse 'inputs'.\n"
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
    for (const Case& c : cases) {
        test::TempDir dir;
        const std::string path = dir.File("script.txt");
        ASSERT_TRUE(test::WriteTextFile(path, c.script));
        const ProgramRun run = RunZorvo("check " + path);
        EXPECT_EQ(run.status, c.status) << c.name;
        EXPECT_EQ(run.out, c.out) << c.name;
    }
}

TEST(CheckCommand, MissingFileAndUsage) {
    const ProgramRun missing = RunZorvo("check /nonexistent/script.txt");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out,
              "* Parsing script...\n"
              "Error (Script): Failed to open script file.\n"
              "Error (Project): Failed to parse script.\n");
    const ProgramRun folder = RunZorvo("check /tmp");
    EXPECT_EQ(folder.status, 1);
    EXPECT_EQ(folder.out,
              "* Parsing script...\n"
              "Error (Script): Failed to open script file.\n"
              "Error (Script): '/tmp' is not a regular file.\n"
              "Error (Project): Failed to parse script.\n");

    for (const std::string arguments : {"", "check", "frobnicate x", "check a b"}) {
        const ProgramRun usage = RunZorvo(arguments);
        EXPECT_EQ(usage.status, 2) << arguments;
        EXPECT_EQ(usage.out, "") << arguments;
    }
    const ProgramRun help = RunZorvo("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("check SCRIPT"), std::string::npos);
    const ProgramRun version = RunZorvo("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "zorvo 1.0.9\n");
}

}  // namespace
}  // namespace zorvo
