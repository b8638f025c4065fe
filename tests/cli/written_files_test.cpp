#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/ProgramRun.h"
#include "support/TestPaths.h"
#include "support/TestVideo.h"
#include "support/WaveFile.h"

namespace zorvo {
namespace {

namespace fs = std::filesystem;

std::string InFolder(std::string text, const std::string& folder) {
    for (size_t at = text.find("{dir}"); at != std::string::npos; at = text.find("{dir}", at)) {
        text.replace(at, 5, folder);
    }
    return text;
}

// Every writer (render, its split parts, still, storyboard) facing what is not a regular file
// at its output, or a link or someone's file where it writes first: it refuses before any work
// with one line, or writes its file without touching anything else. The session's files and
// every file prepared keep their bytes.
TEST(WrittenFiles, NothingButTheOutputIsWritten) {
    struct Case {
        std::string name;
        std::function<void(const std::string& dir)> prepare;
        std::string arguments;  // and {dir}/script.txt, unless they end in a script (*.txt, .song)
        int status;
        std::string out;      // failed: all of standard output; else a text in it
        std::string written;  // a file the run writes; empty: none
    };
    const std::string head = "* Parsing script...\n";
    const auto refused = [&](const std::string& output, const std::string& command = "render") {
        return head + "Error (Project): The output '" + output +
               "' is not a regular file; choose a file path.\n"
               "Error (Project): Failed to check media.\n" +
               (command == "check" ? "" : "Error (Project): Failed to build project.\n");
    };
    const auto fifo = [](const std::string& name) {
        return [name](const std::string& dir) { mkfifo((dir + "/" + name).c_str(), 0644); };
    };
    const auto folder = [](const std::string& dir) { fs::create_directory(dir + "/od"); };
    const auto hardLink = [](const std::string& name) {
        return [name](const std::string& dir) {
            link((dir + "/cam.avi").c_str(), (dir + "/" + name).c_str());
        };
    };
    const auto symbolicLink = [](const std::string& target, const std::string& name) {
        return [=](const std::string& dir) { symlink(target.c_str(), (dir + "/" + name).c_str()); };
    };
    const std::string stillLine =
        "Error (Project): The output '{dir}/fifo' is not a regular file; choose a file path.\n";
    const std::string busyPartial =
        head +
        "Error (AVIWriter): Failed to create AVIWriter: Failed to create AVI file.\n"
        "Error (AVIWriter): file '{dir}/out.zorvo-partial.avi': File exists.\n"
        "Error (Project): Failed to create AVI Writer.\n"
        "Error (Project): Failed to build project.\n";
    const std::vector<Case> cases = {
        {"render to a FIFO", fifo("fifo"), "render --output {dir}/fifo", 1, refused("{dir}/fifo"),
         ""},
        {"render to a device", [](const std::string&) {}, "render --output /dev/null", 1,
         refused("/dev/null"), ""},
        {"render to a folder", folder, "render --output {dir}/od", 1, refused("{dir}/od"), ""},
        {"render to .", [](const std::string&) {}, "render --output {dir}/.", 1, refused("{dir}/."),
         ""},
        {"check of a folder",
         [](const std::string& dir) { fs::create_directory(dir + "/out.avi"); }, "check", 1,
         refused("{dir}/out.avi", "check"), ""},
        {"split part a FIFO", fifo("take.01.avi"), "render --output {dir}/take.avi", 1,
         refused("{dir}/take.01.avi"), ""},
        {"partial a hard link", hardLink("out.zorvo-partial.avi"), "render", 1,
         head + "Error (Project): The output part '{dir}/out.zorvo-partial.avi' is the input "
                "'cam' ('{dir}/cam.avi'); choose another output path.\n"
                "Error (Project): Failed to check media.\n"
                "Error (Project): Failed to build project.\n",
         ""},
        {"partial links elsewhere", symbolicLink("notes.txt", "out.zorvo-partial.avi"), "render", 1,
         busyPartial, ""},
        {"partial someone's file",
         [](const std::string& dir) {
             test::WriteTextFile(dir + "/out.zorvo-partial.avi", "mine");
         },
         "render", 1, busyPartial, ""},
        {"still to a FIFO", fifo("fifo"), "still --at 1 -o {dir}/fifo", 1, stillLine, ""},
        {"still beside links", hardLink("shot.png.zorvo-partial.part"),
         "still --at 1 -o {dir}/shot.png", 0, "written to {dir}/shot.png (96x144).\n", "shot.png"},
        {"storyboard to a folder", folder, "storyboard -o {dir}/od", 1, refused("{dir}/od"), ""},
        {"still to no folder", [](const std::string&) {}, "still --at 1 -o {dir}/none/shot.png", 1,
         "Error (Project): Output folder '{dir}/none' does not exist (file "
         "{dir}/none/shot.png).\n",
         ""},
        // Beyond one PNG file (2 GiB of rows): 32 stills of 6144 rows, their captions and gaps,
        // one header. Refused before a picture is decoded.
        {"sheet too large", [](const std::string&) {},
         "storyboard --width 4096 -o {dir}/sheet.png {dir}/many.txt", 1,
         head + "Error (Storyboard): A sheet of 32 stills would be 4112x198308 pixels, more than "
                "one PNG file holds; choose a smaller width or fewer stills.\n"
                "Error (Project): Failed to build project.\n",
         ""},
        {"storyboard beside a link", symbolicLink("cam.avi", "sheet.zorvo-partial.png"),
         "storyboard -o {dir}/sheet.png", 0, "written to {dir}/sheet.png", "sheet.png"},
        // A hidden name has no extension: the default sheet keeps it whole.
        {"storyboard of a hidden script", symbolicLink("script.txt", ".song"),
         "storyboard {dir}/.song", 0, "written to {dir}/.song.storyboard.png",
         ".song.storyboard.png"},
    };
    test::TempDir dir;
    const std::string where = dir.Path().string();
    test::TestVideo video;
    video.frameCount = 200;
    std::string error;
    ASSERT_TRUE(test::WriteTestVideo(dir.File("cam.avi"), video, &error)) << error;
    ASSERT_TRUE(test::WriteWaveFile(dir.File("song.wav"), test::WaveFormat{},
                                    test::PatternBytes(7056 * 50)));
    const std::string script =
        "output( out.avi, 96, 144, point, song.wav )\ninput( cam, cam.avi ) { }\n"
        "marker( 1, 1fullscreen ) { tempo( 120 ) signature( 4, 4 ) display( cam ) }\n"
        "marker( 2 ) { }\n";
    const std::string manyBlocks =
        "output( out.avi, 96, 144 )\ninput( cam, cam.avi ) { }\n"
        "marker( 1, 1fullscreen ) { tempo( 240 ) signature( 4, 4 ) display( cam, each_beat ) }\n"
        "marker( 9 ) { }\n";
    ASSERT_TRUE(test::WriteTextFile(dir.File("script.txt"), script));
    ASSERT_TRUE(test::WriteTextFile(dir.File("many.txt"), manyBlocks));
    ASSERT_TRUE(test::WriteTextFile(dir.File("notes.txt"), "notes"));
    const auto snapshot = [&] {
        std::vector<std::pair<std::string, std::string>> files;
        for (const auto& entry : fs::directory_iterator(dir.Path())) {
            if (entry.is_regular_file()) {
                files.emplace_back(entry.path().string(), test::ReadTextFile(entry.path()));
            }
        }
        std::sort(files.begin(), files.end());
        return files;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.prepare(where);
        const auto before = snapshot();
        const bool namesScript = c.arguments.ends_with(".txt") || c.arguments.ends_with("/.song");
        const test::ProgramRun run = test::RunZorvo(
            InFolder(namesScript ? c.arguments : c.arguments + " {dir}/script.txt", where));
        EXPECT_EQ(run.status, c.status);
        const std::string out = InFolder(c.out, where);
        if (c.status != 0) {
            EXPECT_EQ(run.out, out);
        } else {
            EXPECT_NE(run.out.find(out), std::string::npos) << run.out;
        }
        auto after = snapshot();
        if (!c.written.empty()) {
            EXPECT_EQ(std::erase_if(after,
                                    [&](const auto& file) {
                                        return file.first == dir.File(c.written) &&
                                               file.second.starts_with("\x89PNG");
                                    }),
                      1u);
        }
        EXPECT_TRUE(after == before) << "a file changed or appeared";
        for (const auto& entry : fs::directory_iterator(dir.Path())) {
            const std::string name = entry.path().filename().string();
            if (!entry.is_regular_file() ||
                !(name == "cam.avi" || name == "song.wav" || name == "script.txt" ||
                  name == "notes.txt" || name == "many.txt")) {
                fs::remove_all(entry.path());
            }
        }
    }
}

}  // namespace
}  // namespace zorvo
