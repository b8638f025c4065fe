#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>

#include "output/OutputFiles.h"
#include "support/AviReader.h"
#include "support/MediaReader.h"
#include "support/ProgramRun.h"
#include "support/TestPaths.h"
#include "support/TestVideo.h"

namespace zorvo {
namespace {

namespace fs = std::filesystem;

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
    EXPECT_NE(run.out.find("Done without error.\nWritten: " + dir.File("out.avi") + " ("),
              std::string::npos)
        << run.out;
    // One 7/8 measure at 140 bpm lasts 7 x 60 / 280 s = 1.5 s: 37 whole frames, not 37.5
    // rounded up.
    test::MediaContents contents;
    std::string error;
    ASSERT_TRUE(test::ReadMedia(dir.File("out.avi"), contents, error)) << error;
    EXPECT_EQ(contents.pictures.size(), 37u);
}

// Stopped (SIGINT), a render's file that plays to its last frame replaces the previous output;
// ended by SIGTERM or SIGHUP, killed, or failed at the file size limit, it leaves that as it was
// and the next render clears its partial file. A second render to the same output meanwhile is
// refused.
TEST_F(RenderCommand, StopKillAndSecondRender) {
    const std::string script = Script("tempo( 60 ) signature( 4, 4 )", 20);  // 1900 frames
    struct Case {
        const char* name;
        int signal;        // 0: none, the render fails by itself
        rlim_t fileLimit;  // bytes; 0: none
        int status;
    };
    for (const Case& c : {Case{"other.mkv", SIGINT, 0, 130}, Case{"other.mp4", SIGINT, 0, 130},
                          Case{"other.avi", SIGKILL, 0, -1}, Case{"term.mkv", SIGTERM, 0, 1},
                          Case{"hup.avi", SIGHUP, 0, 1}, Case{"limit.avi", 0, 1 << 20, 1}}) {
        SCOPED_TRACE(c.name);
        const std::string output = dir.File(c.name);
        const std::string log = output + ".out";
        ASSERT_TRUE(test::WriteTextFile(output, "previous"));
        const pid_t pid = fork();
        if (pid == 0) {
            const std::string program = test::BinDir() + "/zorvo";
            const rlimit limit{c.fileLimit, c.fileLimit};
            if (std::freopen(log.c_str(), "w", stdout) &&
                (c.fileLimit == 0 || setrlimit(RLIMIT_FSIZE, &limit) == 0)) {
                execl(program.c_str(), program.c_str(), "render", "--output", output.c_str(),
                      script.c_str(), nullptr);
            }
            _exit(98);
        }
        // Wait until the first block has started and frames have reached the partial file, which
        // has grown past the headers it was opened with (a loaded machine may take a while; an
        // encoded file grows by whole buffers).
        std::uintmax_t opened = 0;
        const auto writing = [&] {
            std::error_code error;
            const std::uintmax_t size = fs::file_size(PartialName(output), error);
            if (error || test::ReadTextFile(log).find("[Block 1/1]") == std::string::npos) {
                return false;
            }
            opened = opened == 0 ? size : opened;
            return size > opened;
        };
        for (int i = 0; i < 30000 && !writing(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (c.signal != 0) {
            // Held still (and its lock with it) while a second render tries the same output.
            kill(pid, SIGSTOP);
            const test::ProgramRun second =
                test::RunZorvo("render --output " + output + " " + script);
            EXPECT_TRUE(second.status == 1 &&
                        second.out.ends_with("Error (Project): The output '" + output +
                                             "' is being written by another render.\n"
                                             "Error (Project): Failed to build project.\n"))
                << second.out;
            kill(pid, c.signal);
            kill(pid, SIGCONT);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.status);
        const std::string out = test::ReadTextFile(log);
        test::MediaContents contents;
        std::string error;
        if (c.signal == SIGINT) {
            ASSERT_TRUE(test::ReadMedia(output, contents, error)) << error << out;
            EXPECT_NE(out.find("Done without error.\nRender stopped before its end: the output "
                               "holds " +
                               std::to_string(contents.pictures.size()) +
                               " frames.\nWritten: " + output + " ("),
                      std::string::npos)
                << out;
            EXPECT_LT(contents.pictures.size(), 1900u);
            EXPECT_EQ(test::FfmpegToolWarnings(output), "");
            continue;
        }
        EXPECT_EQ(test::ReadTextFile(output), "previous") << out;
        const std::string partial = dir.File("limit.zorvo-partial.avi");
        for (const std::string& line :
             {"Error (AVIWriter): file '" + partial + "': File too large.",
              "Error (Project): files left: '" + partial + "'."}) {
            EXPECT_EQ(c.fileLimit == 0, out.find(line) == std::string::npos) << out;
        }
        const std::string ended =
            "Error (Project): Render ended by a signal before its end; the previous output is "
            "left as it was.\nError (Project): files left: '" +
            PartialName(output) + "'.\nError (Project): Failed to build project.\n";
        EXPECT_EQ(c.status == 1 && c.fileLimit == 0, out.ends_with(ended)) << out;
        const test::ProgramRun next = test::RunZorvo("render --output " + output + " " +
                                                     Script("tempo( 240 ) signature( 4, 4 )", 2));
        ASSERT_TRUE(test::ReadMedia(output, contents, error)) << error << next.out;
        EXPECT_EQ(contents.pictures.size(), 25u);
        Script("tempo( 60 ) signature( 4, 4 )", 20);
    }
    // No partial file and no lock is left.
    for (const auto& entry : fs::directory_iterator(dir.Path())) {
        EXPECT_EQ(entry.path().filename().string().find("zorvo-"), std::string::npos)
            << entry.path();
    }
}

}  // namespace
}  // namespace zorvo
