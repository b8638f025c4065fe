#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ProgramRun.h"
#include "support/TestPaths.h"

namespace zorvo {
namespace {

using test::ProgramRun;
using test::RunZorvo;

TEST(CommandLine, UsageErrorsNameWhatWasWrong) {
    struct Case {
        std::string arguments;
        std::string err;
    };
    const std::vector<Case> cases = {
        {"", "zorvo: missing command (see zorvo --help)\n"},
        {"rendr x", "zorvo: unknown command 'rendr' (see zorvo --help)\n"},
        {"--frob", "zorvo: unknown option '--frob' (see zorvo --help)\n"},
        {"check", "zorvo check: missing SCRIPT (see zorvo check --help)\n"},
        {"check a b", "zorvo check: unexpected argument 'b' (see zorvo check --help)\n"},
        {"plan --jsn a", "zorvo plan: unknown option '--jsn' (see zorvo plan --help)\n"},
        {"plan --json=yes a", "zorvo plan: --json takes no value (see zorvo plan --help)\n"},
        {"storyboard a -o", "zorvo storyboard: '-o' needs PNG (see zorvo storyboard --help)\n"},
        {"storyboard --every beat a",
         "zorvo storyboard: --every takes span or block, not 'beat' (see zorvo storyboard "
         "--help)\n"},
        {"storyboard --width=8 a",
         "zorvo storyboard: --width takes a number of pixels from 16 to 4096, not '8' (see zorvo "
         "storyboard --help)\n"},
        {"help rendr", "zorvo: unknown command 'rendr' (see zorvo --help)\n"},
        {"sync --write", "zorvo sync: missing SCRIPT (see zorvo sync --help)\n"},
    };
    for (const Case& c : cases) {
        const ProgramRun run = RunZorvo(c.arguments);
        EXPECT_EQ(run.status, 2) << c.arguments;
        EXPECT_EQ(run.out, "") << c.arguments;
        EXPECT_EQ(run.err, c.err) << c.arguments;
    }
}

TEST(CommandLine, HelpAndVersion) {
    struct Case {
        std::string arguments;
        std::string start;  // what standard output starts with
    };
    const std::vector<Case> cases = {
        {"--help", "Usage: zorvo COMMAND [OPTIONS] [SCRIPT]\n"},
        {"help plan", "Usage: zorvo plan [--blocks] [--json] SCRIPT\n"},
        {"storyboard x -h", "Usage: zorvo storyboard [-o PNG] [--every span|block] [--width N]"},
        {"-V", "zorvo 1.0.9\n"},
    };
    for (const Case& c : cases) {
        const ProgramRun run = RunZorvo(c.arguments);
        EXPECT_EQ(run.status, 0) << c.arguments;
        EXPECT_EQ(run.out.substr(0, c.start.size()), c.start) << c.arguments;
        EXPECT_EQ(run.err, "") << c.arguments;
    }
    // Every command of the table is listed in the overview.
    const std::string overview = RunZorvo("help").out;
    for (const char* command : {"check", "plan", "storyboard", "render", "sync", "help"}) {
        EXPECT_NE(overview.find(std::string("\n  ") + command + " "), std::string::npos) << command;
    }
}

// At 128 bpm a beat lasts 468.75 ms; the range renders only the span from 5 to 9.
const std::string kRange =
    "output( out.avi, 64, 48 )\n"
    "input( a, a.avi ) { }\ninput( b, b.avi, center, 0, 200 ) { }\ngroup( g ) { a, b }\n"
    "marker( 1, 1fullscreen ) { tempo( 128 ) signature( 4, 4 ) display( g, each_beat ) }\n"
    "marker( 5, 1fullscreen ) { display( g, each_beat ) }\n"
    "marker( 9, 1fullscreen ) { display( a ) }\nmarker( 13 ) { }\nrange( 5, 9 )\n";

TEST(PlanCommand, ShowsTheRendersSpansAndBlocks) {
    struct Case {
        std::string name;
        std::string script;
        std::string options;
        std::vector<std::string> lines;  // each must appear as a whole line, in this order
        std::vector<std::string> absent;
    };
    const std::vector<Case> cases = {
        {"typical",
         test::kTypicalScript,
         "",
         {": 720x576, 3 marker(s), 00:24.000 (600 frames at 25 fps)",
          "markers 1 to 9: 00:00.000 to 00:16.000, 120 bpm 4/4, 1left_1right, separator 4, "
          "effect none",
          "  32 block(s) of 500.000 ms, frames 0 to 399 (400)",
          "  area 1: cam1, each_measure, every 2000.000 ms",
          "  area 2: all, each_beat, every 500.000 ms",
          "markers 9 to 13: 00:16.000 to 00:24.000, 120 bpm 4/4, 1fullscreen, separator 4, "
          "effect fade_out",
          "  1 block(s) of 8000.000 ms, frames 400 to 599 (200)",
          "  area 1: cam2, none, every 8000.000 ms"},
         {"  block 1: 00:00.000, frames 0 to 11 (12): cam1 from 00:01.200, cam1 from 00:01.200"}},
        {"typical blocks",
         test::kTypicalScript,
         "--blocks ",
         {"  block 1: 00:00.000, frames 0 to 11 (12): cam1 from 00:01.200, cam1 from 00:01.200",
          "  block 2: 00:00.500, frames 12 to 24 (13): cam1 from 00:01.700, cam2 from 00:00.500",
          "  block 5: 00:02.000, frames 50 to 61 (12): cam1 from 00:03.200, cam1 from 00:03.200",
          "  block 32: 00:15.500, frames 387 to 399 (13): cam1 from 00:16.700, cam2 from "
          "00:15.500",
          "  block 1: 00:16.000, frames 400 to 599 (200): cam2 from 00:16.000"},
         {"  block 33"}},
        {"range at 128 bpm",
         kRange,
         "--blocks ",
         {": 64x48, 4 marker(s), 00:22.500 (562 frames at 25 fps)",
          "range: measures 5 to 9 (spans before it are skipped)",
          "markers 1 to 5 (skipped): 00:00.000 to 00:07.500, 128 bpm 4/4, 1fullscreen, "
          "separator 0, effect none",
          "  16 block(s) of 468.750 ms, frames 0 to 186 (187)",
          "markers 5 to 9: 00:07.500 to 00:15.000, 128 bpm 4/4, 1fullscreen, separator 0, "
          "effect none",
          "  16 block(s) of 468.750 ms, frames 187 to 374 (188)",
          "  area 1: g, each_beat, every 468.750 ms",
          "  block 1: 00:07.500, frames 187 to 198 (12): a from 00:07.500",
          "  block 2: 00:07.969, frames 199 to 209 (11): b from 00:07.768",
          "  block 16: 00:14.531, frames 363 to 374 (12): b from 00:14.331",
          "ends at measure 9 (range end)"},
         {"  block 1: 00:00.000", "markers 9 to 13"}},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        const std::string path = dir.File("script.txt");
        ASSERT_TRUE(test::WriteTextFile(path, c.script));
        const ProgramRun run = RunZorvo("plan " + c.options + path);
        EXPECT_EQ(run.status, 0) << c.name << run.err;
        EXPECT_EQ(run.out.rfind(path + ": ", 0), 0u) << c.name;
        size_t from = 0;
        for (const std::string& line : c.lines) {
            const size_t at = run.out.find(line + "\n", from);
            EXPECT_NE(at, std::string::npos) << c.name << ": " << line << "\n" << run.out;
            from = at == std::string::npos ? from : at + line.size();
        }
        for (const std::string& text : c.absent) {
            EXPECT_EQ(run.out.find(text), std::string::npos) << c.name << ": " << text;
        }
    }
}

TEST(PlanCommand, Json) {
    test::TempDir dir;
    const std::string path = dir.File("range.txt");
    ASSERT_TRUE(test::WriteTextFile(path, kRange));
    const std::string span =
        "\"tempo\":128,\"signature\":[4,4],\"layout\":\"1fullscreen\",\"separator\":0,"
        "\"effect\":\"none\",\"blockMs\":468.750,\"blockCount\":16,";
    const std::string areas =
        "\"areas\":[{\"display\":\"g\",\"cycle\":\"each_beat\",\"periodMs\":468.750,"
        "\"rect\":[0,0,64,48]}]";
    const ProgramRun plain = RunZorvo("plan --json " + path);
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out,
              "{\"script\":\"" + path +
                  "\",\"width\":64,\"height\":48,\"markers\":4,\"durationMs\":22500.000,"
                  "\"frames\":562,\"range\":{\"start\":5,\"end\":9},\"spans\":["
                  "{\"from\":1,\"to\":5,\"skipped\":true,\"startMs\":0.000,\"endMs\":7500.000," +
                  span + "\"firstFrame\":0,\"endFrame\":187," + areas +
                  "},{\"from\":5,\"to\":9,\"skipped\":false,\"startMs\":7500.000,"
                  "\"endMs\":15000.000," +
                  span + "\"firstFrame\":187,\"endFrame\":375," + areas + "}]}\n");

    const ProgramRun blocks = RunZorvo("plan --blocks --json " + path);
    EXPECT_NE(
        blocks.out.find("{\"index\":1,\"startMs\":7968.750,\"firstFrame\":199,\"endFrame\":210,"
                        "\"areas\":[{\"input\":\"b\",\"file\":\"" +
                        dir.File("b.avi") + "\",\"fileMs\":7768,\"speed\":1,\"zoom\":100}]}"),
        std::string::npos)
        << blocks.out;

    // A script that fails: log lines on standard error, nothing on standard output.
    const std::string bad = dir.File("bad.txt");
    ASSERT_TRUE(test::WriteTextFile(bad, "output( a, 64 )"));
    const ProgramRun failed = RunZorvo("plan --json " + bad);
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.out, "");
    EXPECT_NE(failed.err.find("Error (Project): Failed to parse script.\n"), std::string::npos);
}

}  // namespace
}  // namespace zorvo
