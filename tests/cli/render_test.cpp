#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "support/AviReader.h"
#include "support/MediaReader.h"
#include "support/ProgramRun.h"
#include "support/TestPaths.h"
#include "support/TestVideo.h"

namespace zorvo {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

class RenderCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        test::TestVideo video;
        video.width = 96;
        video.height = 144;
        video.frameCount = 2000;
        std::string error;
        fs::create_directories(dir.File("cams"));
        ASSERT_TRUE(test::WriteTestVideo(dir.File("cams/cam.avi"), video, &error)) << error;
    }
    // A script beside the cameras' folder, its files named relative to it.
    std::string Script(const std::string& tempo, int lastMeasure) {
        const std::string path = dir.File("song.txt");
        test::WriteTextFile(path,
                            "output( out.avi, 96, 144 )\ninput( cam, cams/cam.avi ) { }\n"
                            "marker( 1, 1fullscreen ) { " +
                                tempo + " display( cam ) }\nmarker( " +
                                std::to_string(lastMeasure) + " ) { }\n");
        return path;
    }
    test::TempDir dir;
};

// Files are named relative to the script, so a render started in another folder finds them.
TEST_F(RenderCommand, RendersBesideTheScriptFromAnyFolder) {
    const std::string script = Script("tempo( 140 ) signature( 7, 8 )", 2);
    const fs::path start = fs::current_path();
    fs::current_path("/");
    const test::ProgramRun run = test::RunZorvo("render " + script);
    fs::current_path(start);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.out.rfind("* Parsing script...\n", 0), 0u) << run.out;
    EXPECT_TRUE(run.out.ends_with("Done without error.\n")) << run.out;
    // One 7/8 measure at 140 bpm lasts 7 x 60 / 280 s = 1.5 s: 37 whole frames, not 37.5
    // rounded up.
    test::MediaContents contents;
    std::string error;
    ASSERT_TRUE(test::ReadMedia(dir.File("out.avi"), contents, error)) << error;
    EXPECT_EQ(contents.pictures.size(), 37u);
}

// An interrupted render ends with status 130 and leaves a file that plays to its last frame;
// --output puts it elsewhere.
TEST_F(RenderCommand, InterruptStopsCleanly) {
    const std::string script = Script("tempo( 60 ) signature( 4, 4 )", 20);  // 1900 frames
    for (const char* name : {"other.mkv", "other.mp4"}) {
        const std::string output = dir.File(name);
        const std::string log = output + ".out";
        const pid_t pid = fork();
        if (pid == 0) {
            const std::string program = test::BinDir() + "/zorvo";
            if (std::freopen(log.c_str(), "w", stdout)) {
                execl(program.c_str(), program.c_str(), "render", "--output", output.c_str(),
                      script.c_str(), nullptr);
            }
            _exit(98);
        }
        // Wait until the first block has started (a loaded machine may take a while); an
        // encoded file grows by whole clusters or buffers, so give it some frames.
        for (int i = 0; i < 30000 && ReadFile(log).find("[Block 1/1]") == std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        kill(pid, SIGINT);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 130) << name;
        const std::string out = ReadFile(log);
        EXPECT_TRUE(out.ends_with("Done without error.\n")) << out;
        test::MediaContents contents;
        std::string error;
        ASSERT_TRUE(test::ReadMedia(output, contents, error)) << name << ": " << error;
        EXPECT_GT(contents.pictures.size(), 0u) << name;
        EXPECT_LT(contents.pictures.size(), 1900u) << name;
        EXPECT_EQ(test::FfmpegToolWarnings(output), "") << name;
    }
    EXPECT_FALSE(fs::exists(dir.File("out.avi")));
}

}  // namespace
}  // namespace zorvo
