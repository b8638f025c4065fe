// How a capture hands out frames, throttles itself, fails and ends.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "CaptureConsumer.h"
#include "capture/FFMPEGCapture.h"
#include "common/LogCollector.h"
#include "script/Interpolation.h"
#include "support/TestPaths.h"
#include "support/TestVideo.h"
#include "support/WaveFile.h"

namespace zorvo::test {
namespace {

const std::string kPastEnd =
    "Warning (FFMPEGCapture): Wrong GetBitmap position (over the end of the segment).\n";
const std::string kDecodeFrame = "Error (FFMPEGCapture): Failed to decode frame.\n";

std::string WriteVideo(const TempDir& dir, const std::string& name, int frames, int rate = 25) {
    TestVideo video;
    video.codec = TestCodec::Mpeg4;
    video.frameCount = frames;
    video.rateNum = rate;
    const std::string path = dir.File(name);
    std::string error;
    EXPECT_TRUE(WriteTestVideo(path, video, &error)) << error;
    return path;
}

std::unique_ptr<CFFMPEGCapture> MakeCapture(const CSInput& input, std::int64_t startMs,
                                            std::uint32_t frameCount, int width = 96,
                                            int height = 144) {
    return std::make_unique<CFFMPEGCapture>(&input, startMs, frameCount, width, height, 0, 0,
                                            FlipMode::Auto);
}

void SettleWorker() {
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
}

TEST(CaptureProtocolTest, HundredFramesProduceHundredAndOneAndAnswerPastTheEnd) {
    TempDir dir;
    const CSInput input("cam", WriteVideo(dir, "clip.avi", 110));
    LogCollector log;
    auto capture = MakeCapture(input, 0, 100);
    ASSERT_TRUE(capture->Start());
    for (std::uint32_t i = 0; i < 100; ++i) {
        const FrameBitmap* bitmap = WaitForBitmap(*capture, i);
        ASSERT_NE(bitmap, nullptr) << i;
        const auto mark = ReadFrameMark(*bitmap);
        ASSERT_TRUE(mark.has_value()) << i;
        EXPECT_EQ(mark->number, static_cast<int>(i));
        if (i < 99) {
            capture->ReleaseBitmap(i);
        }
    }
    ASSERT_TRUE(WaitForProduced(*capture, 101));
    SettleWorker();
    EXPECT_EQ(capture->Produced(), 101u);
    EXPECT_FALSE(capture->m_bFailed.load());
    EXPECT_EQ(log.Texts(), std::vector<std::string>{});

    const FrameBitmap* last = capture->GetBitmap(99);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(capture->GetBitmap(100), last);
    EXPECT_EQ(capture->GetBitmap(5000), last);
    EXPECT_EQ(log.Texts(), (std::vector<std::string>{kPastEnd, kPastEnd}));
}

TEST(CaptureProtocolTest, FailureToOpenIsReportedBeforeStartReturns) {
    TempDir dir;
    const std::string video = WriteVideo(dir, "clip.avi", 10);
    // A real media file without a video stream.
    ASSERT_TRUE(
        WriteWaveFile(dir.File("sound.wav"), WaveFormat{}, std::vector<std::uint8_t>(4000)));
    struct Case {
        const char* name;
        std::string file;
        std::int64_t startMs;
        std::string line;
        std::string context;  // names the input and the file
    };
    const Case cases[] = {
        {"missing file", dir.File("missing.avi"), 0,
         "Error (FFMPEGCapture): Failed to open video file.\n",
         "Error (FFMPEGCapture): input 'cam', file '" + dir.File("missing.avi") +
             "': No such file or directory.\n"},
        {"no video stream", dir.File("sound.wav"), 0,
         "Error (FFMPEGCapture): Didn't find a video stream.\n",
         "Error (FFMPEGCapture): input 'cam', file '" + dir.File("sound.wav") +
             "': no video stream.\n"},
        {"negative start", video, -40,
         "Error (FFMPEGCapture): Segment starts before the beginning of the video file.\n",
         "Error (FFMPEGCapture): input 'cam', file '" + video + "': starts at -40 ms.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCollector log;
        const CSInput input("cam", c.file);
        auto capture = MakeCapture(input, c.startMs, 5);
        ASSERT_TRUE(capture->Start());
        EXPECT_TRUE(capture->m_bFailed.load());
        EXPECT_EQ(capture->GetBitmap(0), nullptr);
        EXPECT_EQ(capture->Produced(), 0u);
        capture.reset();
        EXPECT_EQ(log.Texts(), (std::vector<std::string>{c.line, c.context}));
    }
}

TEST(CaptureProtocolTest, FileEndingBeforeTheSegmentFailsAfterItsLastPicture) {
    TempDir dir;
    struct Case {
        int rate;
        int sourceFrames;
        std::uint32_t produced;            // frames converted before the end was found
        std::vector<std::string> missing;  // "source frame (seconds), which frame" per line
    };
    // 25 fps: frame 20 needs source frame 20, which does not exist. 50 fps: frame 21 needs
    // source 42; source 41 was read on the way, so frame 21 still shows it, and frame 22 ends.
    const Case cases[] = {
        {25, 20, 20, {"20 (0.80 s), which frame 20"}},
        {50, 42, 22, {"42 (0.84 s), which frame 21", "44 (0.88 s), which frame 22"}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        const CSInput input("cam", WriteVideo(dir, "clip" + std::to_string(c.rate) + ".avi",
                                              c.sourceFrames, c.rate));
        LogCollector log;
        auto capture = MakeCapture(input, 0, 30);
        ASSERT_TRUE(capture->Start());
        // The consumer gets frames until the failure shows; how many depends on how far ahead
        // the worker was, but each one it got is right.
        const std::vector<FrameMark> marks = ReadMarks(*capture, 30);
        ASSERT_FALSE(marks.empty());
        ASSERT_LE(marks.size(), c.produced);
        EXPECT_EQ(marks.back().number, -1);
        for (std::uint32_t n = 0; n + 1 < marks.size(); ++n) {
            EXPECT_EQ(marks[n].number, static_cast<int>(n * c.rate / 25));
        }
        EXPECT_TRUE(capture->m_bFailed.load());
        EXPECT_EQ(capture->Produced(), c.produced);
        // After a failure even cached frames are refused.
        EXPECT_EQ(capture->GetBitmap(0), nullptr);
        capture.reset();
        std::vector<std::string> lines;
        for (const std::string& missing : c.missing) {
            lines.push_back(kDecodeFrame);
            lines.push_back("Error (FFMPEGCapture): input 'cam', file '" + input.file +
                            "': the file ends before source frame " + missing +
                            " of the segment from 0 ms needs.\n");
        }
        EXPECT_EQ(log.Texts(), lines);
    }
}

TEST(CaptureProtocolTest, DestroyingEndsTheWorkerWhereverItIs) {
    TempDir dir;
    const CSInput input("cam", WriteVideo(dir, "clip.avi", 120));
    LogCollector log;
    {
        // Waiting in the throttle.
        auto capture = MakeCapture(input, 0, 100);
        ASSERT_TRUE(capture->Start());
        ASSERT_TRUE(WaitForProduced(*capture, 9));
    }
    {
        // Decoding, right after the start.
        auto capture = MakeCapture(input, 2000, 100);
        ASSERT_TRUE(capture->Start());
    }
    {
        // Never started.
        auto capture = MakeCapture(input, 0, 100);
    }
    EXPECT_EQ(log.Texts(), std::vector<std::string>{});
}

}  // namespace
}  // namespace zorvo::test
