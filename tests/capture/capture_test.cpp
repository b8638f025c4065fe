// A capture's pictures (the crop window, the orientation, the source frame each one shows) and
// how it hands them out, throttles itself, fails and ends.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "capture/FFMPEGCapture.h"
#include "capture/FrameScaler.h"
#include "common/LogCollector.h"
#include "support/TestPaths.h"
#include "support/TestVideo.h"
#include "support/WaveFile.h"

namespace zorvo::test {
namespace {

const std::string kPastEnd =
    "Warning (FFMPEGCapture): Wrong GetBitmap position (over the end of the segment).\n";

// Polls like the build does: GetBitmap until a frame comes or the capture fails; gives up after
// a minute of polls (each waits 100 ms) so that a broken capture fails the test, not the run.
const FrameBitmap* WaitForBitmap(CFFMPEGCapture& capture, std::uint32_t index) {
    for (int i = 0; i < 600; ++i) {
        if (const FrameBitmap* bitmap = capture.GetBitmap(index)) {
            return bitmap;
        }
        if (capture.m_bFailed.load()) {
            return nullptr;
        }
    }
    return nullptr;
}

// Waits (bounded) until the capture has produced `count` frames, then until its worker rests
// ahead of its consumer or has ended: nothing more comes unless the consumer moves on.
bool WaitForProduced(CFFMPEGCapture& capture, std::uint32_t count) {
    for (int i = 0; i < 20000 && capture.Produced() < count; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    capture.WaitBetweenPictures();
    return capture.Produced() >= count;
}

// Reads the frame marks of frames 0 .. count - 1, releasing each but the last as the build
// does. A frame that never came or shows no readable number gives number -1.
std::vector<FrameMark> ReadMarks(CFFMPEGCapture& capture, std::uint32_t count) {
    std::vector<FrameMark> marks;
    for (std::uint32_t i = 0; i < count; ++i) {
        const FrameBitmap* bitmap = WaitForBitmap(capture, i);
        if (!bitmap) {
            marks.push_back(FrameMark{});
            break;
        }
        marks.push_back(ReadFrameMark(*bitmap).value_or(FrameMark{}));
        if (i + 1 < count) {
            capture.ReleaseBitmap(i);
        }
    }
    return marks;
}

std::string WriteVideo(const TempDir& dir, const std::string& name, TestVideo video) {
    const std::string path = dir.File(name);
    std::string error;
    EXPECT_TRUE(WriteTestVideo(path, video, &error)) << error;
    return path;
}

std::unique_ptr<CFFMPEGCapture> MakeCapture(const CSInput& input, std::int64_t startMs,
                                            std::uint32_t frameCount) {
    CaptureOptions options = InputCaptureOptions(&input);
    options.startMs = startMs;
    options.frameCount = frameCount;
    options.width = 96;
    options.height = 144;
    options.zoom = 0;
    options.noiseReduction = 0;
    options.flipMode = FlipMode::Auto;
    return std::make_unique<CFFMPEGCapture>(std::move(options));
}

TEST(SourceRectTest, ZoomAndFocusPlaceTheWindow) {
    struct Case {
        std::int32_t w, h, zoom, width, height;
        InputFocus focus;
        Rect expected;
    };
    using F = InputFocus;
    const Case cases[] = {
        // The output is wider than the source: the window spans the width.
        {720, 576, 100, 640, 480, F::Center, {0, 18, 719, 558}},
        {720, 576, 50, 640, 480, F::Center, {180, 153, 540, 423}},
        {720, 576, 50, 640, 480, F::Left, {60, 153, 420, 423}},
        {720, 576, 50, 640, 480, F::Right, {300, 153, 660, 423}},
        {720, 576, 50, 640, 480, F::Top, {180, 57, 540, 327}},
        {720, 576, 50, 640, 480, F::Bottom, {180, 249, 540, 519}},
        {720, 576, 50, 640, 480, F::TopLeft, {60, 57, 420, 327}},
        {720, 576, 50, 640, 480, F::BottomLeft, {60, 249, 420, 519}},
        {720, 576, 50, 640, 480, F::TopRight, {300, 57, 660, 327}},
        {720, 576, 50, 640, 480, F::BottomRight, {300, 249, 660, 519}},
        {720, 576, 50, 640, 480, F::Unknown, {180, 153, 540, 423}},  // the centre
        // Pushed back inside from the right edge.
        {720, 576, 100, 640, 480, F::Right, {0, 18, 719, 558}},
        // The output is narrower: the window spans the height, then comes back from the bottom.
        {720, 576, 100, 320, 480, F::Center, {168, 0, 552, 575}},
        {720, 576, 100, 320, 480, F::Left, {48, 0, 432, 575}},
        // Larger than the picture: the whole picture, less its last column and row.
        {720, 576, 200, 640, 480, F::Center, {0, 0, 719, 575}},
        {1920, 1080, 2000000000, 1920, 1080, F::TopLeft, {0, 0, 1919, 1079}},  // no wrap
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ComputeSourceRect(c.w, c.h, c.zoom, Rect{}, c.width, c.height, c.focus),
                  c.expected)
            << "zoom " << c.zoom << " into " << c.width << "x" << c.height << " focus "
            << static_cast<int>(c.focus);
    }
}

TEST(CropTest, OutputPixelsComeFromTheCropWindow) {
    TempDir dir;
    struct Case {
        const char* name;
        TestCodec codec;
        bool lossless;  // exact positions; otherwise within a pixel or two
    };
    const Case codecs[] = {
        {"packed bgr0", TestCodec::Ffv1Bgr0, true},
        {"planar 4:2:0", TestCodec::Ffv1, false},
        {"full-range 4:2:2", TestCodec::MjpegYuvj422p, false},
    };
    const Rect rect{8, 4, 40, 28};
    for (const Case& c : codecs) {
        const CSInput input("cam", WriteVideo(dir, std::string(c.name).substr(0, 6) + ".avi",
                                              {.codec = c.codec,
                                               .pattern = TestPattern::Coordinates,
                                               .width = 64,
                                               .height = 64,
                                               .frameCount = 4}));
        for (const bool flip : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (flip ? " flipped" : " not flipped"));
            CaptureOptions options = InputCaptureOptions(&input);
            options.frameCount = 1;
            options.width = rect.Width();
            options.height = rect.Height();
            options.zoom = 0;
            options.sourceRect = rect;
            options.noiseReduction = 0;
            options.flipMode = flip ? FlipMode::True : FlipMode::False;
            CFFMPEGCapture capture(std::move(options));
            ASSERT_TRUE(capture.Start());
            const FrameBitmap* bitmap = WaitForBitmap(capture, 0);
            ASSERT_NE(bitmap, nullptr);
            const int tolerance = c.lossless ? 0 : 2;
            int wrong = 0;
            for (int line = 0; line < rect.Height(); ++line) {
                // Flipped, the bitmap shows the picture upright; otherwise upside down, and the
                // rectangle is measured on what it shows.
                const int y = flip ? rect.top + line : 63 - (rect.top + line);
                for (int column = 0; column < rect.Width(); ++column) {
                    // Red and green tell the source pixel's column and row, times 4.
                    const std::uint8_t* p = bitmap->Row(bitmap->Height() - 1 - line) + 3 * column;
                    wrong += std::abs(p[2] / 4 - (rect.left + column)) > tolerance ||
                             std::abs(p[1] / 4 - y) > tolerance;
                }
            }
            EXPECT_EQ(wrong, 0);
        }
    }
}

// Every produced frame shows the source frame S + floor(n x fps / 25), for each codec,
// container and rate, from the file's start, inside the pre-roll and after a seek; the worker
// stops one look-ahead frame past the segment, and asking past its end gives its last frame.
struct Format {
    TestCodec codec;
    const char* name;  // of the file, whose extension picks the container
    bool upright;      // how the default flip mode (auto) shows it: only 4:2:2 JPEG unflipped
};

void PrintTo(const Format& format, std::ostream* out) {
    *out << format.name;
}

// One test a format, so that ctest runs them side by side.
class CaptureFramesTest : public ::testing::TestWithParam<Format> {};

TEST_P(CaptureFramesTest, EveryFrameShowsItsSourceFrame) {
    const Format& format = GetParam();
    struct Rate {
        int num, den;
    };
    const Rate rates[] = {{25, 1}, {50, 1}, {30000, 1001}};
    // From the start; inside the pre-roll of 75 frames (no seek); well past it (a seek).
    const std::int64_t startsMs[] = {0, 1000, 5000};
    constexpr std::uint32_t kFrameCount = 12;  // more than the 8 the worker runs ahead
    TempDir dir;
    for (const Rate& rate : rates) {
        // Enough for the last start plus the segment's kFrameCount + 1 frames at 50 fps.
        const int frames =
            static_cast<int>((5000 + 40 * (kFrameCount + 2)) * rate.num / (1000LL * rate.den)) + 2;
        const CSInput input("cam", WriteVideo(dir, std::to_string(rate.num) + format.name,
                                              {.codec = format.codec,
                                               .rateNum = rate.num,
                                               .rateDen = rate.den,
                                               .frameCount = frames}));
        for (const std::int64_t startMs : startsMs) {
            SCOPED_TRACE(std::string(format.name) + " at " + std::to_string(rate.num) + "/" +
                         std::to_string(rate.den) + " from " + std::to_string(startMs) + " ms");
            LogCollector log;
            const auto capture = MakeCapture(input, startMs, kFrameCount);
            ASSERT_TRUE(capture->Start());
            const std::vector<FrameMark> marks = ReadMarks(*capture, kFrameCount);
            ASSERT_EQ(marks.size(), kFrameCount);
            const std::int64_t first = startMs * rate.num / (1000LL * rate.den);
            for (std::uint32_t n = 0; n < kFrameCount; ++n) {
                const std::int64_t expected = first + n * rate.num / (25LL * rate.den);
                EXPECT_EQ(marks[n].number, expected) << "output frame " << n;
                EXPECT_EQ(marks[n].upright, format.upright) << "output frame " << n;
            }
            ASSERT_TRUE(WaitForProduced(*capture, kFrameCount + 1));
            EXPECT_EQ(capture->Produced(), kFrameCount + 1);
            EXPECT_FALSE(capture->m_bFailed.load());
            EXPECT_TRUE(log.Texts().empty());
            const FrameBitmap* last = capture->GetBitmap(kFrameCount - 1);
            EXPECT_NE(last, nullptr);
            EXPECT_EQ(capture->GetBitmap(kFrameCount + 1000), last);
            EXPECT_EQ(log.Texts(), std::vector<std::string>{kPastEnd});
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, CaptureFramesTest,
                         ::testing::Values(Format{TestCodec::Mpeg4, "mpeg4.avi", true},
                                           Format{TestCodec::MjpegYuvj420p, "mjpeg420.avi", true},
                                           Format{TestCodec::MjpegYuvj422p, "mjpeg422.avi", false},
                                           Format{TestCodec::H264, "h264.mp4", true},
                                           Format{TestCodec::Ffv1Bgr0, "bgr0.avi", true}));

TEST(CaptureProtocolTest, FailureToOpenIsReportedBeforeStartReturns) {
    TempDir dir;
    const std::string video = WriteVideo(dir, "clip.avi", {.frameCount = 10});
    // A real media file without a video stream.
    ASSERT_TRUE(
        WriteWaveFile(dir.File("sound.wav"), WaveFormat{}, std::vector<std::uint8_t>(4000)));
    // The failure, then the context: the input, the file and the reason.
    struct Case {
        std::string file;
        std::int64_t startMs;
        std::string line;
        std::string reason;
    };
    const Case cases[] = {
        {dir.File("missing.avi"), 0, "Failed to open video file.", "No such file or directory."},
        {dir.File("sound.wav"), 0, "Didn't find a video stream.", "no video stream."},
        {video, -40, "Segment starts before the beginning of the video file.", "starts at -40 ms."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        LogCollector log;
        const CSInput input("cam", c.file);
        auto capture = MakeCapture(input, c.startMs, 5);
        ASSERT_TRUE(capture->Start());
        EXPECT_TRUE(capture->m_bFailed.load());
        EXPECT_EQ(capture->GetBitmap(0), nullptr);
        EXPECT_EQ(capture->Produced(), 0u);
        capture.reset();
        const std::string kE = "Error (FFMPEGCapture): ";
        EXPECT_EQ(log.Texts(), (std::vector<std::string>{
                                   kE + c.line + "\n",
                                   kE + "input 'cam', file '" + c.file + "': " + c.reason + "\n"}));
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
                                              {.rateNum = c.rate, .frameCount = c.sourceFrames}));
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
            lines.push_back("Error (FFMPEGCapture): Failed to decode frame.\n");
            lines.push_back("Error (FFMPEGCapture): input 'cam', file '" + input.file +
                            "': the file ends before source frame " + missing +
                            " of the segment from 0 ms needs.\n");
        }
        EXPECT_EQ(log.Texts(), lines);
    }
}

TEST(CaptureProtocolTest, DestroyingEndsTheWorkerWhereverItIs) {
    TempDir dir;
    const CSInput input("cam", WriteVideo(dir, "clip.avi", {.frameCount = 120}));
    LogCollector log;
    // Waiting in the throttle; decoding, right after the start; never started.
    for (const int startMs : {0, 2000, -1}) {
        const auto capture = MakeCapture(input, std::max(startMs, 0), 100);
        if (startMs >= 0) {
            ASSERT_TRUE(capture->Start());
        }
        if (startMs == 0) {
            ASSERT_TRUE(WaitForProduced(*capture, 9));
        }
    }
    EXPECT_EQ(log.Texts(), std::vector<std::string>{});
}

}  // namespace
}  // namespace zorvo::test
