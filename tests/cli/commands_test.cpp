#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ProgramRun.h"
#include "support/TestPaths.h"

namespace zorvo {
namespace {

using test::ProgramRun;
using test::RunZorvo;

// Usage errors name what was wrong on standard error with status 2; help and the version go to
// standard output.
TEST(CommandLine, UsageHelpAndVersion) {
    struct Case {
        std::string arguments;
        int status;
        std::string out;  // what standard output starts with; all of it when empty
        std::string err;
    };
    const std::vector<Case> cases = {
        {"", 2, "", "zorvo: missing command (see zorvo --help)\n"},
        {"rendr x", 2, "", "zorvo: unknown command 'rendr' (see zorvo --help)\n"},
        {"--frob", 2, "", "zorvo: unknown option '--frob' (see zorvo --help)\n"},
        {"check", 2, "", "zorvo check: missing SCRIPT (see zorvo check --help)\n"},
        {"check a b", 2, "", "zorvo check: unexpected argument 'b' (see zorvo check --help)\n"},
        {"plan --jsn a", 2, "", "zorvo plan: unknown option '--jsn' (see zorvo plan --help)\n"},
        {"plan --json=yes a", 2, "", "zorvo plan: --json takes no value (see zorvo plan --help)\n"},
        {"storyboard a -o", 2, "",
         "zorvo storyboard: '-o' needs PNG (see zorvo storyboard --help)\n"},
        {"storyboard --every beat a", 2, "",
         "zorvo storyboard: --every takes span or block, not 'beat' (see zorvo storyboard "
         "--help)\n"},
        {"storyboard --width=8 a", 2, "",
         "zorvo storyboard: --width takes a number of pixels from 16 to 4096, not '8' (see zorvo "
         "storyboard --help)\n"},
        {"help rendr", 2, "", "zorvo: unknown command 'rendr' (see zorvo --help)\n"},
        {"sync --write", 2, "", "zorvo sync: missing SCRIPT (see zorvo sync --help)\n"},
        {"sync --frobnicate x", 2, "",
         "zorvo sync: unknown option '--frobnicate' (see zorvo sync --help)\n"},
        {"--help", 0, "Usage: zorvo COMMAND [OPTIONS] [SCRIPT]\n", ""},
        {"help plan", 0, "Usage: zorvo plan [--blocks] [--json] SCRIPT\n", ""},
        {"storyboard x -h", 0, "Usage: zorvo storyboard [-o PNG] [--every span|block] [--width N]",
         ""},
        {"-V", 0, "zorvo 1.0.9\n", ""},
    };
    for (const Case& c : cases) {
        const ProgramRun run = RunZorvo(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments;
        EXPECT_EQ(run.out.substr(0, c.out.empty() ? run.out.size() : c.out.size()), c.out)
            << c.arguments;
        EXPECT_EQ(run.err, c.err) << c.arguments;
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

// The plan of a render, as text and as JSON: each text must appear, in this order.
TEST(PlanCommand, ShowsTheRendersSpansAndBlocks) {
    struct Case {
        std::string name;
        std::string script;
        std::string options;
        std::vector<std::string> texts;
        std::vector<std::string> absent;
    };
    const std::string span =
        "\"tempo\":128,\"signature\":[4,4],\"layout\":\"1fullscreen\",\"separator\":0,"
        "\"effect\":\"none\",\"blockMs\":468.750,\"blockCount\":16,";
    const std::string areas =
        "\"areas\":[{\"display\":\"g\",\"cycle\":\"each_beat\",\"periodMs\":468.750,"
        "\"rect\":[0,0,64,48]}]";
    const std::vector<Case> cases = {
        {"typical",
         test::kTypicalScript,
         "--blocks ",
         {"{script}: 720x576, 3 marker(s), 00:24.000 (600 frames at 25 fps)\n",
          "markers 1 to 9: 00:00.000 to 00:16.000, 120 bpm 4/4, 1left_1right, separator 4, "
          "effect none\n",
          "  32 block(s) of 500.000 ms, frames 0 to 399 (400)\n",
          "  area 1: cam1, each_measure, every 2000.000 ms\n",
          "  area 2: all, each_beat, every 500.000 ms\n",
          "  block 1: 00:00.000, frames 0 to 11 (12): cam1 from 00:01.200, cam1 from 00:01.200\n",
          "  block 2: 00:00.500, frames 12 to 24 (13): cam1 from 00:01.700, cam2 from 00:00.500\n",
          "  block 5: 00:02.000, frames 50 to 61 (12): cam1 from 00:03.200, cam1 from 00:03.200\n",
          "  block 32: 00:15.500, frames 387 to 399 (13): cam1 from 00:16.700, cam2 from "
          "00:15.500\n",
          "markers 9 to 13: 00:16.000 to 00:24.000, 120 bpm 4/4, 1fullscreen, separator 4, "
          "effect fade_out\n",
          "  1 block(s) of 8000.000 ms, frames 400 to 599 (200)\n",
          "  area 1: cam2, none, every 8000.000 ms\n",
          "  block 1: 00:16.000, frames 400 to 599 (200): cam2 from 00:16.000\n"},
         {"  block 33"}},
        {"typical without blocks",
         test::kTypicalScript,
         "",
         {"  area 1: cam2, none, every 8000.000 ms\n"},
         {"  block "}},
        {"range at 128 bpm",
         kRange,
         "--blocks ",
         {": 64x48, 4 marker(s), 00:22.500 (562 frames at 25 fps)\n",
          "range: measures 5 to 9 (spans before it are skipped)\n",
          "markers 1 to 5 (skipped): 00:00.000 to 00:07.500, 128 bpm 4/4, 1fullscreen, "
          "separator 0, effect none\n",
          "  16 block(s) of 468.750 ms, frames 0 to 186 (187)\n",
          "markers 5 to 9: 00:07.500 to 00:15.000, 128 bpm 4/4, 1fullscreen, separator 0, "
          "effect none\n",
          "  16 block(s) of 468.750 ms, frames 187 to 374 (188)\n",
          "  area 1: g, each_beat, every 468.750 ms\n",
          "  block 1: 00:07.500, frames 187 to 198 (12): a from 00:07.500\n",
          "  block 2: 00:07.969, frames 199 to 209 (11): b from 00:07.768\n",
          "  block 16: 00:14.531, frames 363 to 374 (12): b from 00:14.331\n",
          "ends at measure 9 (range end)\n"},
         {"  block 1: 00:00.000", "markers 9 to 13"}},
        {"range as JSON",
         kRange,
         "--json ",
         {"{\"script\":\"{script}\",\"width\":64,\"height\":48,\"markers\":4,"
          "\"durationMs\":22500.000,\"frames\":562,\"range\":{\"start\":5,\"end\":9},"
          "\"spans\":[{\"from\":1,\"to\":5,\"skipped\":true,\"startMs\":0.000,"
          "\"endMs\":7500.000," +
          span + "\"firstFrame\":0,\"endFrame\":187," + areas +
          "},{\"from\":5,\"to\":9,\"skipped\":false,\"startMs\":7500.000,"
          "\"endMs\":15000.000," +
          span + "\"firstFrame\":187,\"endFrame\":375," + areas + "}]}\n"},
         {}},
        {"range blocks as JSON",
         kRange,
         "--blocks --json ",
         {"{\"index\":1,\"startMs\":7968.750,\"firstFrame\":199,\"endFrame\":210,"
          "\"areas\":[{\"input\":\"b\",\"file\":\"{dir}/b.avi\",\"fileMs\":7768,\"speed\":1,"
          "\"zoom\":100}]}"},
         {"\"index\":17"}},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        const std::string path = dir.File("script.txt");
        ASSERT_TRUE(test::WriteTextFile(path, c.script));
        const ProgramRun run = RunZorvo("plan " + c.options + path);
        EXPECT_EQ(run.status, 0) << c.name << run.err;
        size_t from = 0;
        for (std::string text : c.texts) {
            for (const auto& [key, value] :
                 {std::pair{"{script}", path}, std::pair{"{dir}", dir.Path().string()}}) {
                if (const size_t at = text.find(key); at != std::string::npos) {
                    text.replace(at, std::string(key).size(), value);
                }
            }
            const size_t at = run.out.find(text, from);
            EXPECT_NE(at, std::string::npos) << c.name << ": " << text << "\n" << run.out;
            from = at == std::string::npos ? from : at + text.size();
        }
        for (const std::string& text : c.absent) {
            EXPECT_EQ(run.out.find(text), std::string::npos) << c.name << ": " << text;
        }
    }
}

}  // namespace
}  // namespace zorvo
