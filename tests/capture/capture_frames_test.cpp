// Frame accuracy: every produced frame shows the source frame S + floor(n x fps / 25), for each
// codec, container and rate, from the file's start, inside the pre-roll and after a seek.
#include <cstdint>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "CaptureConsumer.h"
#include "capture/FFMPEGCapture.h"
#include "common/LogCollector.h"
#include "support/TestPaths.h"
#include "support/TestVideo.h"

namespace zorvo::test {
namespace {

struct Format {
    const char* name;
    TestCodec codec;
    const char* extension;
    bool upright;  // how the default flip mode (auto) shows this format
};

struct Rate {
    int num;
    int den;
};

void PrintTo(const Format& format, std::ostream* out) {
    *out << format.name;
}

class CaptureFramesTest : public ::testing::TestWithParam<Format> {};

TEST_P(CaptureFramesTest, EveryFrameShowsItsSourceFrame) {
    const Format format = GetParam();
    const Rate rates[] = {{25, 1}, {50, 1}, {30000, 1001}};
    // From the start; inside the pre-roll of 75 frames (no seek); well past it (a seek).
    const std::int64_t startsMs[] = {0, 1000, 5000};
    constexpr std::uint32_t kFrameCount = 12;
    TempDir dir;
    LogCollector log;
    for (const Rate& rate : rates) {
        TestVideo video;
        video.codec = format.codec;
        video.rateNum = rate.num;
        video.rateDen = rate.den;
        // Enough for the last start plus the segment's kFrameCount + 1 frames at 50 fps.
        video.frameCount =
            static_cast<int>((5000 + 40 * (kFrameCount + 2)) * rate.num / (1000LL * rate.den)) + 2;
        const std::string path =
            dir.File(std::to_string(rate.num) + "." + std::string(format.extension));
        std::string error;
        ASSERT_TRUE(WriteTestVideo(path, video, &error)) << error;
        const CSInput input("cam", path);
        for (const std::int64_t startMs : startsMs) {
            SCOPED_TRACE(std::string(format.name) + " at " + std::to_string(rate.num) + "/" +
                         std::to_string(rate.den) + " from " + std::to_string(startMs) + " ms");
            CFFMPEGCapture capture(&input, startMs, kFrameCount, video.width, video.height, 0, 0,
                                   FlipMode::Auto);
            ASSERT_TRUE(capture.Start());
            const std::vector<FrameMark> marks = ReadMarks(capture, kFrameCount);
            ASSERT_EQ(marks.size(), kFrameCount);
            const std::int64_t first = startMs * rate.num / (1000LL * rate.den);
            for (std::uint32_t n = 0; n < kFrameCount; ++n) {
                const std::int64_t expected = first + n * rate.num / (25LL * rate.den);
                EXPECT_EQ(marks[n].number, expected) << "output frame " << n;
                EXPECT_EQ(marks[n].upright, format.upright) << "output frame " << n;
            }
            ASSERT_TRUE(WaitForProduced(capture, kFrameCount + 1));
            EXPECT_FALSE(capture.m_bFailed.load());
        }
    }
    EXPECT_EQ(log.Joined(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, CaptureFramesTest,
    ::testing::Values(Format{"Mpeg4Avi", TestCodec::Mpeg4, "avi", true},
                      Format{"MjpegYuvj422pAvi", TestCodec::MjpegYuvj422p, "avi", false},
                      Format{"H264Mp4", TestCodec::H264, "mp4", true},
                      Format{"Ffv1Bgr0Avi", TestCodec::Ffv1Bgr0, "avi", true}),
    [](const ::testing::TestParamInfo<Format>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zorvo::test
