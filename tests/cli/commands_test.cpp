#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/CommandLine.h"
#include "common/LogChannel.h"
#include "media/VideoProbe.h"
#include "support/MediaReader.h"
#include "support/ProgramRun.h"
#include "support/TestPaths.h"
#include "support/TestVideo.h"
#include "support/WaveFile.h"

namespace zorvo {
namespace {

using test::ProgramRun;
using test::RunProgram;
using test::RunZorvo;

// Runs the command table in this process, both output streams caught in files: the program's
// own parsing and commands without a process start (not for a render or storyboard that starts
// its job: that takes the process's signals).
ProgramRun RunCommand(const std::string& arguments) {
    QuietLibraryLog();
    std::vector<std::string> words = test::Words("zorvo " + arguments);
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    test::TempDir dir;
    ProgramRun run;
    std::fflush(stdout);
    std::fflush(stderr);
    const int saved[2] = {::dup(1), ::dup(2)};
    for (const int fd : {1, 2}) {
        const int file = ::open(dir.File(std::to_string(fd)).c_str(), O_WRONLY | O_CREAT, 0600);
        ::dup2(file, fd);
        ::close(file);
    }
    run.status = RunCommandLine(static_cast<int>(words.size()), argv.data());
    std::fflush(stdout);
    std::fflush(stderr);
    for (const int fd : {1, 2}) {
        ::dup2(saved[fd - 1], fd);
        ::close(saved[fd - 1]);
    }
    run.out = test::ReadTextFile(dir.File("1"));
    run.err = test::ReadTextFile(dir.File("2"));
    return run;
}

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
        {"still a", 2, "", "zorvo still: missing --at WHEN (see zorvo still --help)\n"},
        {"still --at 9.x a", 2, "",
         "zorvo still: --at takes a time as mm:ss.mmm (0:07.500) or as seconds with s (7.5s), or "
         "MEASURE.BEAT (7.1: measure 7, beat 1), not '9.x' (see zorvo still "
         "--help)\n"},
        {"help rendr", 2, "", "zorvo: unknown command 'rendr' (see zorvo --help)\n"},
        {"sync --write", 2, "", "zorvo sync: missing SCRIPT (see zorvo sync --help)\n"},
        {"sync --frobnicate x", 2, "",
         "zorvo sync: unknown option '--frobnicate' (see zorvo sync --help)\n"},
        {"proxy", 2, "", "zorvo proxy: missing SCRIPT (see zorvo proxy --help)\n"},
        {"proxy --clean a", 2, "",
         "zorvo proxy: --clean removes every proxy and takes no SCRIPT (see zorvo proxy --help)\n"},
        {"--help", 0, "Usage: zorvo COMMAND [OPTIONS] [SCRIPT]\n", ""},
        {"help plan", 0, "Usage: zorvo plan [--blocks] [--json] SCRIPT\n", ""},
        {"storyboard x -h", 0, "Usage: zorvo storyboard [-o PNG] [--every span|block] [--width N]",
         ""},
        {"-V", 0, "zorvo 1.0.9\n", ""},
    };
    for (const Case& c : cases) {
        const ProgramRun run = RunCommand(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments;
        EXPECT_EQ(run.out.substr(0, c.out.empty() ? run.out.size() : c.out.size()), c.out)
            << c.arguments;
        EXPECT_EQ(run.err, c.err) << c.arguments;
    }
    // Every command of the table is listed in the overview.
    const std::string overview = RunCommand("help").out;
    for (const char* command : {"check", "plan", "storyboard", "still", "render", "sync", "help"}) {
        EXPECT_NE(overview.find(std::string("\n  ") + command + " "), std::string::npos) << command;
    }
}

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
TEST(CommandLine, PrintsWhatTheBuildWouldPost) {
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
                           const std::string& line, const std::string& command = "check") {
        return Case{name, command + " {dir}/script.txt", script, 1,
                    head + "Error (Project): " + line +
                        ".\nError (Project): Failed to check media.\n" +
                        (command != "check" ? "Error (Project): Failed to build project.\n" : "")};
    };
    const std::string valid =
        "Script is valid: 1 input(s), 0 group(s), 2 marker(s), 2000 ms (50 frames at 25 fps).\n";
    const std::string found =
        "Input 'cam': mpeg4, 96x144, 25 fps, BT.601 limited (file {dir}/cam.avi).\n";
    const std::string advice =
        ".\nError (Project): Add fill( hold ) or fill( black ) to the input's block to show its "
        "first or last picture, or black, where the recording does not reach";
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
                "Warning (Script): Did you mean 'bicubic'?\n"
                "Script is valid: 1 input(s), 0 group(s), 2 marker(s), 2000 ms (50 frames at 25 "
                "fps).\n"
                "Input 'c': mpeg4, 96x144, 25 fps, BT.601 limited (file {dir}/cam.avi).\n"},
        {"decimal sync", check, out + "input( cam, cam.avi, center, 1.2, 0 ) { }\n" + span, 0,
         head +
             "Warning (Script): Argument 4 of 'input' takes a whole number: '1.2' reads as 1.\n"
             "Warning (Script): at line 2, column 1: 'input( cam, cam.avi, center, 1.2, 0 ) "
             "{'.\n" +
             valid + found},
        {"fill at a late start", check,
         out + "input( cam, cam.avi, center, 0, 1000 ) { fill( hold ) }\n" + span, 0,
         head + valid + found},
        {"no terminal marker", check,
         out + cam +
             "marker( 1, 1fullscreen ) { tempo( 120 ) signature( 4, 4 ) display( cam ) }\n"
             "marker( 3, 1fullscreen ) { display( cam ) }\n",
         1,
         head +
             "Error (SMarker): Failed to validate script: the content of the last marker element "
             "must be empty.\n"
             "Error (SMarker): the last marker must be an empty terminal marker such as "
             "'marker( 5 ) { }'.\n"
             "Error (Script): Failed to validate script: 'marker' validation failed.\n"
             "Error (Script): marker #3 at line 4, column 1: 'marker( 3, 1fullscreen ) { "
             "display( cam'.\n"
             "Error (Project): Failed to validate script.\n"},
        {"plan: display count", "plan {dir}/script.txt",
         out + cam +
             "marker( 1, 1left_1right ) { tempo( 120 ) signature( 4, 4 ) display( cam ) }\n"
             "marker( 2 ) { }\n",
         1,
         "Error (Project): Marker 1 has 1 display(s) but its layout has 2 area(s).\n"
         "Error (Project): Display list count does not correspound to the layout rectangles "
         "count.\n"},
        {"parse failure", check, "output( a, 64 )", 1, parseFailure},
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
                "Error (Project): Failed to parse script.\n"},
        // A folder given as the script ends the same way instead of waiting forever.
        {"render a folder", "render {dir}/", "", 1,
         head + "Error (Script): Failed to open script file.\n"
                "Error (Script): '{dir}/' is not a regular file.\n"
                "Error (Project): Failed to parse script.\n"
                "Error (Project): Failed to build project.\n"},
        media("not a video", out + "input( cam, song.wav ) { }\n" + span,
              "Input 'cam' has no video stream (file {dir}/song.wav)"),
        // The song's header may claim more than the file holds: what is there is measured.
        {"song shorter than the timeline", check,
         "output( out.avi, 96, 144, point, song.wav )\n" + cam + span, 0,
         head +
             "Warning (Project): Wave file is shorter than the timeline: the song ends at "
             "00:00.400, the timeline at 00:02.000; the rest is silent (file {dir}/song.wav).\n" +
             valid + found},
        // The sound before song_start is left out of the video, so the song ends earlier.
        {"count-in left out", check,
         "song_start( 300 ) output( out.avi, 96, 144, point, song.wav )\n" + cam + span, 0,
         head +
             "Warning (Project): Wave file is shorter than the timeline: the song ends at "
             "00:00.100, the timeline at 00:02.000; the rest is silent (file {dir}/song.wav).\n" +
             valid + found},
        media("song not a WAVE", "output( out.avi, 96, 144, point, cam.avi )\n" + cam + span,
              "Wave file cannot be used: no RIFF/WAVE header (file {dir}/cam.avi)"),
        media("display count",
              out + cam +
                  "marker( 1, 1left_1right ) { tempo( 120 ) signature( 4, 4 ) display( cam ) }\n"
                  "marker( 2 ) { }\n",
              "Marker 1 has 1 display(s) but its layout has 2 area(s)"),
        // Two 7/8 measures at 93 bpm are 4516 ms: 112 frames, the last one source frame 111,
        // shown until its end. The second block, which runs out, starts at 2258.06 ms, shown
        // rounded down. The render stops there as the check does, and creates no file.
        media("render: camera ends early",
              out + cam +
                  "marker( 1, 1fullscreen ) { tempo( 93 ) signature( 7, 8 ) display( cam, "
                  "each_measure ) }\nmarker( 3 ) { }\n",
              "Input 'cam' ends at 00:04.00 but marker 1 needs it until 00:04.48, 0.48 s more "
              "(block at 00:02.25 of the song; file {dir}/cam.avi)" +
                  advice,
              "render"),
        media("negative start", out + "input( cam, cam.avi, center, 0, 1000 ) { }\n" + span,
              "Input 'cam' starts before its beginning: marker 1 needs it from 1.00 s before "
              "(block at 00:00.00 of the song; file {dir}/cam.avi)" +
                  advice),
        // An overlay of no input stops the render before it creates anything.
        {"render: unknown overlay", "render {dir}/script.txt",
         out + cam + "overlay( vgn, 50 ) { }\n" + span, 1,
         head + "Error (Project): Overlay 'vgn' is not an input or a group.\n"
                "Error (Project): Failed to check media.\n"
                "Error (Project): Failed to build project.\n"},
        media("resize leaves no pixel",
              out + cam +
                  "marker( 1, 1fullscreen ) { tempo( 120 ) signature( 4, 4 ) display( cam ) "
                  "resize( cam, 1 ) }\nmarker( 2 ) { }\n",
              "Input 'cam' cannot be scaled: resize 1 of its 96x144 picture leaves 0x0 pixels "
              "for an area of 96x144 on marker 1 (file {dir}/cam.avi)"),
        media("no output folder", "output( none/out.avi, 96, 144 )\n" + cam + span,
              "Output folder '{dir}/none' does not exist (file {dir}/none/out.avi)"),
        media("H.264 odd size", "output( out.mp4, 97, 144 )\n" + cam + span,
              "Output size 97x144 cannot be written as H.264, which needs an even width and "
              "height (file {dir}/out.mp4)"),
        media("H.264 too large", "output( out.mp4, 16000, 16000 )\n" + cam + span,
              "Output size 16000x16000 is too large for H.264: 1000000 macroblocks a frame, at "
              "most 139264 (file {dir}/out.mp4)"),
        // link.avi and link.png are symbolic links to cam.avi, take.00.avi a hard link.
        media("output is the input", out + cam + span,
              "The output '{dir}/cam.avi' is the input 'cam' ('{dir}/cam.avi'); choose another "
              "output path",
              "render --output {dir}/cam.avi"),
        media("output is the script", out + cam + span,
              "The output '{dir}/script.txt' is the script ('{dir}/script.txt'); choose another "
              "output path",
              "render --output {dir}/script.txt"),
        media("output is the song", "output( song.wav, 96, 144, point, song.wav )\n" + cam + span,
              "The output '{dir}/song.wav' is the WAVE file ('{dir}/song.wav'); choose another "
              "output path"),
        media("output links to the overlay",
              "output( link.avi, 96, 144 )\n" + cam + "overlay( cam, 10 ) { }\n" + span,
              "The output '{dir}/link.avi' is the overlay 'cam' ('{dir}/cam.avi'); choose another "
              "output path"),
        media("a part is the input", "output( take.avi, 96, 144 )\n" + cam + span,
              "The output part '{dir}/take.00.avi' is the input 'cam' ('{dir}/cam.avi'); choose "
              "another output path"),
        media("storyboard is the input", out + cam + span,
              "The storyboard '{dir}/link.png' is the input 'cam' ('{dir}/cam.avi'); choose "
              "another storyboard path",
              "storyboard -o {dir}/link.png"),
    };
    test::TempDir dir;
    test::TestVideo video;
    video.frameCount = 100;
    std::string error;
    ASSERT_TRUE(test::WriteTestVideo(dir.File("cam.avi"), video, &error)) << error;
    ASSERT_TRUE(test::WriteWaveFile(dir.File("song.wav"), test::WaveFormat{},
                                    test::PatternBytes(7056 * 10)));
    namespace fs = std::filesystem;
    fs::create_symlink("cam.avi", dir.File("link.avi"));
    fs::create_symlink("cam.avi", dir.File("link.png"));
    fs::create_hard_link(dir.File("cam.avi"), dir.File("take.00.avi"));
    const std::string camera = test::ReadTextFile(dir.File("cam.avi"));
    const std::string song = test::ReadTextFile(dir.File("song.wav"));
    const std::string folder = dir.Path().string();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(test::WriteTextFile(dir.File("script.txt"), c.script));
        const std::string arguments = InFolder(c.arguments, folder);
        const bool job = arguments.starts_with("render") || arguments.starts_with("storyboard");
        const ProgramRun run = job ? RunZorvo(arguments) : RunCommand(arguments);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, InFolder(c.out, folder));
        EXPECT_EQ(run.err, InFolder(c.err, folder));
        EXPECT_FALSE(std::filesystem::exists(dir.File("out.avi")));
        EXPECT_EQ(test::ReadTextFile(dir.File("script.txt")), c.script);
    }
    EXPECT_TRUE(test::ReadTextFile(dir.File("cam.avi")) == camera);
    EXPECT_TRUE(test::ReadTextFile(dir.File("song.wav")) == song);
}

// A FIFO or a device where a file is read (the script, a camera, the song, the overlay) is
// refused at once with a line by every command that reads it: none waits for a writer that never
// comes. The watchdog only keeps a regression from hanging the suite.
TEST(CommandLine, RefusesWhatIsNotAFileWithoutWaiting) {
    struct Case {
        std::string command;  // before the script's path
        std::string script;   // empty: the FIFO is the script
        std::string out;
    };
    const std::string head = "* Parsing script...\n";
    const auto script = [](const std::string& camera, const std::string& song,
                           const std::string& extra = "") {
        return "output( out.avi, 96, 144, point, " + song + " )\ninput( cam, " + camera +
               " ) { }\n" + extra +
               "marker( 1, 1fullscreen ) { tempo( 120 ) signature( 4, 4 ) display( cam ) }\n"
               "marker( 2 ) { }\n";
    };
    const std::string notScript =
        "Error (Script): Failed to open script file.\n"
        "Error (Script): '{dir}/fifo' is not a regular file.\n";
    const std::string parse = "Error (Project): Failed to parse script.\n";
    const std::string media = "Error (Project): Failed to check media.\n";
    const std::string build = "Error (Project): Failed to build project.\n";
    const std::string camera =
        "Error (Project): Input 'cam' does not open: not a regular file (file {dir}/fifo).\n";
    const std::string song =
        "Error (Project): Wave file cannot be used: not a regular file (file {dir}/fifo).\n";
    const std::string syncing = "* Syncing 1 input(s) to the song...\n";
    const std::vector<Case> cases = {
        {"check", "", head + notScript + parse},
        {"render", "", head + notScript + parse + build},
        {"still --at 0", "", notScript + "Error (FrameEngine): Failed to parse script.\n"},
        {"sync --write", "", head + notScript + parse},
        {"check", script("fifo", "song.wav"), head + camera + media},
        {"render", script("fifo", "song.wav"), head + camera + media + build},
        {"storyboard", script("fifo", "song.wav"), head + camera + media + build},
        {"still --at 0", script("fifo", "song.wav"),
         camera + "Error (FrameEngine): Failed to check media.\n"},
        {"sync", script("fifo", "song.wav"),
         head + syncing + "cam: cannot open the file; left unchanged\n"},
        {"check", script("cam.avi", "fifo"), head + song + media},
        {"render", script("cam.avi", "fifo"), head + song + media + build},
        {"sync", script("cam.avi", "fifo"),
         head + syncing + "Error (Sync): Failed to read the song '{dir}/fifo'.\n" +
             "Error (Sync): file '{dir}/fifo': not a regular file.\n"},
        {"check", script("cam.avi", "/dev/zero"),
         head +
             "Error (Project): Wave file cannot be used: not a regular file (file /dev/zero).\n" +
             media},
        {"render", script("cam.avi", "song.wav", "input( ov, fifo ) { }\noverlay( ov, 10 ) { }\n"),
         head +
             "Error (Project): Input 'ov' does not open: not a regular file (file {dir}/fifo).\n" +
             media + build},
    };
    test::TempDir dir;
    test::TestVideo video;
    std::string error;
    ASSERT_TRUE(test::WriteTestVideo(dir.File("cam.avi"), video, &error)) << error;
    ASSERT_TRUE(test::WriteWaveFile(dir.File("song.wav"), test::WaveFormat{},
                                    test::PatternBytes(7056 * 50)));
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    const std::string folder = dir.Path().string();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command + ": " + c.script);
        const std::string path = dir.File(c.script.empty() ? "fifo" : "script.txt");
        if (!c.script.empty()) {
            ASSERT_TRUE(test::WriteTextFile(path, c.script));
        }
        const test::ProgramRun run = test::RunZorvo(c.command + " " + path, "zorvo", 120);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, InFolder(c.out, folder));
        EXPECT_FALSE(std::filesystem::exists(dir.File("out.avi")));
    }
    EXPECT_TRUE(std::filesystem::is_fifo(dir.File("fifo")));
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
        "\"effect\":\"none\",\"blockMs\":468.75,\"blockCount\":16,";
    const std::string areas =
        "\"areas\":[{\"display\":\"g\",\"cycle\":\"each_beat\",\"periodMs\":468.75,"
        "\"rect\":[0,0,64,48]}]";
    const std::vector<Case> cases = {
        {"typical",
         test::kTypicalScript,
         "--blocks ",
         {"{dir}/script.txt: 720x576, 3 marker(s), 00:24.000 (600 frames at 25 fps)\n",
          "measures 1 to 9: 00:00.000 to 00:16.000, 120 bpm 4/4, 1left_1right, separator 4, "
          "effect none\n",
          "  32 block(s) of 500.000 ms, frames 0 to 399 (400)\n",
          "  area 1: cam1, each_measure, every 2000.000 ms\n",
          "  area 2: all, each_beat, every 500.000 ms\n",
          "  block 1: 00:00.000, frames 0 to 11 (12): cam1 from 00:01.200, cam1 from 00:01.200\n",
          "  block 2: 00:00.500, frames 12 to 24 (13): cam1 from 00:01.700, cam2 from 00:00.500\n",
          "  block 5: 00:02.000, frames 50 to 61 (12): cam1 from 00:03.200, cam1 from 00:03.200\n",
          "  block 32: 00:15.500, frames 387 to 399 (13): cam1 from 00:16.700, cam2 from "
          "00:15.500\n",
          "measures 9 to 13: 00:16.000 to 00:24.000, 120 bpm 4/4, 1fullscreen, separator 4, "
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
          "measures 1 to 5 (skipped): 00:00.000 to 00:07.500, 128 bpm 4/4, 1fullscreen, "
          "separator 0, effect none\n",
          "  16 block(s) of 468.750 ms, frames 0 to 186 (187)\n",
          "measures 5 to 9: 00:07.500 to 00:15.000, 128 bpm 4/4, 1fullscreen, separator 0, "
          "effect none\n",
          "  16 block(s) of 468.750 ms, frames 187 to 374 (188)\n",
          "  area 1: g, each_beat, every 468.750 ms\n",
          "  block 1: 00:07.500, frames 187 to 198 (12): a from 00:07.500\n",
          "  block 2: 00:07.969, frames 199 to 209 (11): b from 00:07.768\n",
          "  block 16: 00:14.531, frames 363 to 374 (12): b from 00:14.331\n",
          "ends at measure 9 (range end)\n"},
         {"  block 1: 00:00.000", "measures 9 to 13"}},
        {"range as JSON",
         kRange,
         "--json ",
         {"{\"script\":\"{dir}/script.txt\",\"width\":64,\"height\":48,\"markers\":4,"
          "\"durationMs\":22500.0,\"frames\":562,\"range\":{\"start\":5,\"end\":9},"
          "\"spans\":[{\"from\":1,\"to\":5,\"skipped\":true,\"startMs\":0.0,"
          "\"endMs\":7500.0," +
          span + "\"firstFrame\":0,\"endFrame\":187," + areas +
          "},{\"from\":5,\"to\":9,\"skipped\":false,\"startMs\":7500.0,"
          "\"endMs\":15000.0," +
          span + "\"firstFrame\":187,\"endFrame\":375," + areas + "}]}\n"},
         {}},
        {"range blocks as JSON",
         kRange,
         "--blocks --json ",
         {"{\"index\":1,\"startMs\":7968.75,\"firstFrame\":199,\"endFrame\":210,"
          "\"areas\":[{\"input\":\"b\",\"file\":\"{dir}/b.avi\",\"fileMs\":7768,\"speed\":1.0,"
          "\"zoom\":100}]}"},
         {"\"index\":17"}},
        // An id's bytes outside well-formed UTF-8 stand for the characters of their values.
        {"any bytes as JSON",
         "output( o.avi, 64, 48 ) input( a\xe9\xc3\xa9, a.avi ) { }\nmarker( 1, 1fullscreen ) "
         "{ tempo( 120 ) signature( 4, 4 ) display( a\xe9\xc3\xa9 ) }\nmarker( 2 ) { }",
         "--json ",
         {"\"display\":\"a\xc3\xa9\xc3\xa9\""},
         {}},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        const std::string path = dir.File("script.txt");
        ASSERT_TRUE(test::WriteTextFile(path, c.script));
        const ProgramRun run = RunCommand("plan " + c.options + path);
        EXPECT_EQ(run.status, 0) << c.name << run.err;
        size_t from = 0;
        for (const std::string& line : c.texts) {
            const std::string text = InFolder(line, dir.Path().string());
            const size_t at = run.out.find(text, from);
            EXPECT_NE(at, std::string::npos) << c.name << ": " << text << "\n" << run.out;
            from = at == std::string::npos ? from : at + text.size();
        }
        for (const std::string& text : c.absent) {
            EXPECT_EQ(run.out.find(text), std::string::npos) << c.name << ": " << text;
        }
    }
}

// Each area of every layout shows its own colour: the plan's rectangles (rows from the top), in
// area order, must be where the render puts them, and read top row first, left to right.
TEST(PlanCommand, AreaRectanglesAreWhereTheRenderDrawsThem) {
    const unsigned colours[6] = {0xff0000, 0x00ff00, 0x0000ff, 0xffff00, 0xff00ff, 0x00ffff};
    test::TempDir dir;
    std::string script = "output( out.avi, 101, 61 )\n";
    for (int i = 0; i < 6; ++i) {
        const std::string file = dir.File(Format("c%i.mkv", i));
        const std::string colour = Format("color=c=0x%06x:s=32x24:r=25:d=4 ", colours[i]);
        ASSERT_EQ(
            RunProgram(test::Words("ffmpeg -v error -f lavfi -i " + colour + "-c:v ffv1 " + file))
                .status,
            0);
        script += Format("input( c%i, %s ) { }\n", i, file.c_str());
    }
    // Every layout with as many areas as it has, for a measure of one beat: 250 ms each.
    std::istringstream layouts(
        "1fullscreen 1 1left_1right 2 1top_1bottom 2 1left_2right 3 2left_1right 3 1top_2bottom 3 "
        "2top_1bottom 3 2top_2bottom 4 1top_3bottom 4 3top_1bottom 4 2top_3bottom 5 3top_2bottom 5 "
        "3top_3bottom 6");
    std::string name;
    for (int measure = 1, areas = 0; layouts >> name >> areas; ++measure) {
        script +=
            Format("marker( %i, %s ) { tempo( 240 ) signature( 1, 4 )", measure, name.c_str());
        for (int d = 0; d < areas; ++d) {
            script += Format(" display( c%i )", d);
        }
        script += " }\n";
    }
    ASSERT_TRUE(test::WriteTextFile(dir.File("s.zorvo"), script + "marker( 14 ) { }\n"));
    const ProgramRun plan = RunCommand("plan --json " + dir.File("s.zorvo"));
    ASSERT_EQ(RunZorvo("render " + dir.File("s.zorvo")).status, 0);
    test::MediaContents video;
    std::string error;
    ASSERT_TRUE(test::ReadMedia(dir.File("out.avi"), video, error)) << error;
    const auto document = nlohmann::json::parse(plan.out, nullptr, false);
    ASSERT_TRUE(document.is_object()) << plan.out;
    size_t spans = 0;
    for (const auto& span : document["spans"]) {
        ++spans;
        const std::string layout = span["layout"];
        const auto& picture = video.pictures.at(span["firstFrame"].get<size_t>());
        std::array<int, 4> last = {0, 0, 0, 0};  // left, top, right, bottom
        for (size_t i = 0; i < span["areas"].size(); ++i) {
            const std::array<int, 4> a = span["areas"][i]["rect"];
            // Reading order: each area right of or below the one before.
            EXPECT_TRUE(i == 0 || a[0] >= last[2] - 1 || a[1] >= last[3]) << layout << i;
            last = a;
            const size_t middle = size_t((a[1] + a[3]) / 2 * 101 + (a[0] + a[2]) / 2) * 3;
            for (int c = 0; c < 3; ++c) {  // blue, green, red
                EXPECT_NEAR(picture[middle + c], int(colours[i] >> (8 * c) & 0xff), 40) << layout;
            }
        }
    }
    EXPECT_EQ(spans, 13u);
}

}  // namespace
}  // namespace zorvo
