#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/AviReader.h"
#include "support/MediaReader.h"
#include "support/TestPaths.h"
#include "support/TestVideo.h"

namespace zorvo {
namespace {

// Starts `zorvo render SCRIPT` with stdout going to a file, in the working folder `folder` when
// one is given; returns the child's pid. With `output`, renders there instead of the script's
// output path.
pid_t StartRender(const std::string& script, const std::string& outPath,
                  const std::string& output = "", const std::string& folder = "") {
    const pid_t pid = fork();
    if (pid == 0) {
        FILE* out = std::freopen(outPath.c_str(), "w", stdout);
        if (!out || (!folder.empty() && chdir(folder.c_str()) != 0)) {
            _exit(99);
        }
        const std::string program = test::BinDir() + "/zorvo";
        if (!output.empty()) {
            execl(program.c_str(), program.c_str(), "render", "--output", output.c_str(),
                  script.c_str(), nullptr);
        }
        execl(program.c_str(), program.c_str(), "render", script.c_str(), nullptr);
        _exit(98);
    }
    return pid;
}

int WaitExit(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadFile(const std::string& path) {
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
            text.append(buffer, n);
        }
        std::fclose(f);
    }
    return text;
}

class RenderCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        test::TestVideo video;
        video.width = 96;
        video.height = 144;
        video.frameCount = 2000;
        std::string error;
        ASSERT_TRUE(test::WriteTestVideo(dir.File("cam.avi"), video, &error)) << error;
    }
    std::string Script(const std::string& name, int lastMeasure) {
        const std::string path = dir.File(name + ".txt");
        test::WriteTextFile(path,
                            "output( " + dir.File(name + ".avi") + ", 96, 144 )\ninput( cam, " +
                                dir.File("cam.avi") +
                                " ) { }\nmarker( 1, 1fullscreen ) { tempo( 60 ) signature( 4, 4 ) "
                                "display( cam ) }\nmarker( " +
                                std::to_string(lastMeasure) + " ) { }\n");
        return path;
    }
    test::TempDir dir;
};

TEST_F(RenderCommand, SucceedsAndFails) {
    const pid_t ok = StartRender(Script("short", 2), dir.File("short.out"));
    EXPECT_EQ(WaitExit(ok), 0);
    const std::string out = ReadFile(dir.File("short.out"));
    EXPECT_EQ(
        out.rfind("* Parsing script...\n* Building timeline markers 1 to 2 (end@2) - 4/4 @ "
                  "60bpm\n1 block(s) of 4000ms (100 frames) to compute\n[Block 1/1]\nDone in ",
                  0),
        0u)
        << out;
    EXPECT_NE(out.find(" for 100 frames.\nDone without error.\n"), std::string::npos) << out;

    test::WriteTextFile(dir.File("broken.txt"), "output( x )");
    const pid_t failed = StartRender(dir.File("broken.txt"), dir.File("broken.out"));
    EXPECT_EQ(WaitExit(failed), 1);
    EXPECT_EQ(ReadFile(dir.File("broken.out")),
              "* Parsing script...\nError (Script): Malformed script.\n"
              "Error (Script): Failed to parse 'output'.\n"
              "Error (Script): at line 1, column 1: 'output( x )'.\n"
              "Error (Project): Failed to parse script.\n"
              "Error (Project): Failed to build project.\n");

    // A folder given as the script ends the same way instead of waiting forever.
    const pid_t folder = StartRender(dir.File(""), dir.File("folder.out"));
    EXPECT_EQ(WaitExit(folder), 1);
    EXPECT_EQ(ReadFile(dir.File("folder.out")),
              "* Parsing script...\nError (Script): Failed to open script file.\n"
              "Error (Script): '" +
                  dir.File("") +
                  "' is not a regular file.\n"
                  "Error (Project): Failed to parse script.\n"
                  "Error (Project): Failed to build project.\n");
}

// A session folder names its files relative to the script and renders alike from anywhere.
TEST_F(RenderCommand, RelativePathsNameFilesBesideTheScript) {
    const std::filesystem::path session = dir.Path() / "session";
    std::filesystem::create_directories(session / "cams");
    std::filesystem::copy_file(dir.File("cam.avi"), session / "cams" / "cam.avi");
    const std::string script = (session / "song.txt").string();
    test::WriteTextFile(script,
                        "output( out.avi, 96, 144 )\ninput( cam, cams/cam.avi ) { }\n"
                        "marker( 1, 1fullscreen ) { tempo( 93 ) signature( 7, 8 ) display( cam ) "
                        "}\nmarker( 2 ) { }\n");
    std::vector<std::string> renders;
    const std::vector<std::string> folders = {"/", session.string()};
    for (const std::string& folder : folders) {
        const pid_t pid = StartRender(script, dir.File("relative.out"), "", folder);
        EXPECT_EQ(WaitExit(pid), 0) << folder << ReadFile(dir.File("relative.out"));
        renders.push_back(ReadFile((session / "out.avi").string()));
        std::filesystem::remove(session / "out.avi");
    }
    ASSERT_FALSE(renders[0].empty());
    EXPECT_EQ(renders[1], renders[0]);
}

// A stopped render leaves a file that plays to its last frame, in every container; --output
// puts it elsewhere.
TEST_F(RenderCommand, InterruptStopsCleanly) {
    const std::string script = Script("long", 20);  // 1900 frames
    for (const char* name : {"long.avi", "other.mkv", "other.mp4"}) {
        const std::string output = dir.File(name);
        const std::string log = output + ".out";
        const bool avi = name == std::string("long.avi");
        const pid_t pid = StartRender(script, log, avi ? "" : output);
        // Wait until a few frames are on disk (a loaded machine may take a while), then
        // interrupt once. An encoded file grows by whole clusters or buffers, so there the
        // first block's start has to do.
        const std::uintmax_t someFrames = 64 * 1024;
        for (int i = 0; i < 30000; ++i) {
            std::error_code error;
            if (ReadFile(log).find("[Block 1/1]") != std::string::npos &&
                (!avi || (std::filesystem::file_size(output, error) > someFrames && !error))) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (!avi) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        kill(pid, SIGINT);
        EXPECT_EQ(WaitExit(pid), 130) << name;
        const std::string out = ReadFile(log);
        EXPECT_NE(out.find("Done without error.\n"), std::string::npos) << out;
        test::MediaContents contents;
        std::string error;
        ASSERT_TRUE(test::ReadMedia(output, contents, error)) << name << ": " << error;
        EXPECT_GT(contents.pictures.size(), 0u) << name;
        EXPECT_LT(contents.pictures.size(), 1900u) << name;
        if (test::FfmpegToolsAvailable()) {
            EXPECT_EQ(test::FfmpegToolWarnings(output), "") << name;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("long.mkv")));
}

}  // namespace
}  // namespace zorvo
