#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/LogCollector.h"
#include "output/Proxy.h"
#include "preview/FrameEngine.h"
#include "preview/Proxies.h"
#include "support/MediaReader.h"
#include "support/ProgramRun.h"
#include "support/TestPaths.h"
#include "support/TestSound.h"
#include "support/TestVideo.h"

namespace zorvo {
namespace {

using namespace zorvo::test;
namespace fs = std::filesystem;

// The cache of one test: proxies go to its folder.
class ProxyTest : public ::testing::Test {
  protected:
    void SetUp() override { setenv("XDG_CACHE_HOME", m_dir.File("cache").c_str(), 1); }
    std::vector<std::string> CacheFiles() const {
        std::vector<std::string> names;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(m_dir.File("cache/zorvo/proxies"), error)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }
    TempDir m_dir;
};

// A proxy keeps the camera's frames at their times, its flip rule and its sound: the preview
// composes from it the same source frame as from the camera, at most 640 pixels wide, with a key
// frame at least every ten pictures.
TEST_F(ProxyTest, ShowsEveryFrameOfTheCameraAtItsTime) {
    struct Case {
        std::string file;
        TestVideo video;
        std::string picture;  // the proxy's width, height, pixel format and frame rate
    };
    const std::vector<Case> cases = {
        {"h264.mp4",
         {TestCodec::H264, TestPattern::FrameNumber, 960, 540, 30000, 1001, 90, 30},
         "640,360,yuv420p,30000/1001"},
        {"mjpeg422.avi",
         {TestCodec::MjpegYuvj422p, TestPattern::FrameNumber, 400, 300, 25, 1, 70, 1},
         "400,300,yuvj422p,25/1"},
        {"gaps.mkv",
         {TestCodec::Mpeg4, TestPattern::FrameNumber, 320, 240, 24, 1, 70, 12, 0, 5},
         "320,240,yuv420p,24/1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string camera = m_dir.File(c.file);
        ASSERT_TRUE(WriteTestVideo(camera, c.video));
        const std::string script = m_dir.File("s.zorvo");
        ASSERT_TRUE(WriteTextFile(
            script, "output( out.avi, 640, 480 )\ninput( cam, " + camera +
                        " ) { }\nmarker( 1, 1fullscreen ) { tempo( 120 ); signature( 4, 4 ); "
                        "display( cam ); }\nmarker( 2 ) { }\n"));
        LogCollector log;
        const auto original = FrameEngine::Open(script);
        const auto proxied = FrameEngine::Open(script);
        ASSERT_TRUE(original && proxied) << log.Joined();
        EXPECT_TRUE(ProxiesOf(proxied->Script()).empty());
        std::atomic<bool> stop{false};
        ASSERT_TRUE(MakeSessionProxies(proxied->Script(), stop)) << log.Joined();
        const auto proxies = ProxiesOf(proxied->Script());
        ASSERT_EQ(proxies.size(), 1u);
        const std::string proxy = proxies.begin()->second;
        proxied->ReadInstead(proxies);

        const auto probe = [&](const char* entries) {
            return RunProgram({"ffprobe", "-v", "error", "-select_streams", "v", "-show_entries",
                               entries, "-of", "csv=p=0", proxy})
                .out;
        };
        EXPECT_EQ(probe("stream=width,height,pix_fmt,r_frame_rate"), c.picture + "\n");
        const std::string packets = probe("packet=flags");
        // Packets in order: never more than ten pictures from one key frame to the next.
        int sinceKey = 0;
        int worst = 0;
        for (size_t at = 0; at < packets.size(); at = packets.find('\n', at) + 1) {
            sinceKey = packets[at] == 'K' ? 0 : sinceKey + 1;
            worst = std::max(worst, sinceKey);
        }
        EXPECT_LT(worst, kProxyKeyInterval);

        FrameBitmap a;
        FrameBitmap b;
        for (const std::int64_t frame : {0, 1, 7, 23, 24, 31, 49, 36, 2}) {
            ASSERT_TRUE(original->Compose(frame, a)) << frame << log.Joined();
            ASSERT_TRUE(proxied->Compose(frame, b)) << frame << log.Joined();
            const auto want = ReadFrameMark(a);
            const auto got = ReadFrameMark(b);
            ASSERT_TRUE(want && got) << frame;
            EXPECT_EQ(got->number, want->number) << frame;
            EXPECT_EQ(got->upright, want->upright) << frame;
        }
    }
    // The camera's own sound, as it was.
    const std::string sounding = m_dir.File("sound.mov");
    CameraFile camera;
    camera.codec = TestAudioCodec::Aac;
    camera.samples.assign(48000, 0.25f);
    ASSERT_TRUE(WriteCameraFile(sounding, camera));
    std::atomic<bool> stop{false};
    const std::string proxy = ProxyPathFor(sounding);
    ASSERT_TRUE(MakeProxy(sounding, proxy, stop));
    MediaContents contents;
    std::string error;
    ASSERT_TRUE(ReadMedia(proxy, contents, error)) << error;
    EXPECT_EQ(contents.audio.codec, "aac");
}

// Stopped or killed while it writes, a run leaves no file in the cache; one that is done
// leaves the proxy alone.
TEST_F(ProxyTest, AnInterruptedRunLeavesNothing) {
    const std::string camera = m_dir.File("cam.mp4");
    ASSERT_TRUE(WriteTestVideo(
        camera, {TestCodec::H264, TestPattern::FrameNumber, 320, 240, 25, 1, 100, 25}));
    const std::string proxy = ProxyPathFor(camera);
    std::atomic<bool> stop{false};
    int calls = 0;
    EXPECT_FALSE(MakeProxy(camera, proxy, stop, [&](double) { stop = ++calls == 2; }));
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(CacheFiles(), std::vector<std::string>{});

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::atomic<bool> never{false};
        MakeProxy(camera, proxy, never, [](double share) {
            if (share > 0.2) {
                raise(SIGKILL);
            }
        });
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_EQ(CacheFiles(), std::vector<std::string>{});

    stop = false;
    ASSERT_TRUE(MakeProxy(camera, proxy, stop));
    EXPECT_EQ(CacheFiles(), std::vector<std::string>{fs::path(proxy).filename().string()});
}

// The key follows the file: another path, another size or another modification time is
// another proxy; --clean removes the proxies and nothing else.
TEST_F(ProxyTest, TheKeyChangesWithTheCameraFile) {
    const std::string camera = m_dir.File("cam.avi");
    ASSERT_TRUE(WriteTestVideo(camera, {}));
    const std::string first = ProxyPathFor(camera);
    EXPECT_EQ(first.rfind(m_dir.File("cache/zorvo/proxies/cam-"), 0), 0u) << first;
    EXPECT_EQ(ProxyPathFor(camera), first);
    EXPECT_EQ(ProxyPathFor(m_dir.File("nothere.avi")), "");

    fs::copy_file(camera, m_dir.File("copy.avi"));
    EXPECT_NE(ProxyPathFor(m_dir.File("copy.avi")), first);
    const timespec times[2] = {{0, UTIME_OMIT}, {1'000'000'000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, camera.c_str(), times, 0), 0);
    const std::string touched = ProxyPathFor(camera);
    EXPECT_NE(touched, first);
    fs::resize_file(camera, fs::file_size(camera) + 1);
    ASSERT_EQ(utimensat(AT_FDCWD, camera.c_str(), times, 0), 0);
    EXPECT_NE(ProxyPathFor(camera), touched);

    std::atomic<bool> stop{false};
    ASSERT_TRUE(MakeProxy(m_dir.File("copy.avi"), ProxyPathFor(m_dir.File("copy.avi")), stop));
    ASSERT_TRUE(WriteTextFile(m_dir.File("cache/zorvo/proxies/notes.txt"), "mine"));
    const ProgramRun clean = RunZorvo("proxy --clean");
    EXPECT_EQ(clean.status, 0);
    EXPECT_EQ(clean.out.rfind("Removed 1 proxy file(s), ", 0), 0u) << clean.out;
    EXPECT_EQ(CacheFiles(), std::vector<std::string>{"notes.txt"});
}

}  // namespace
}  // namespace zorvo
