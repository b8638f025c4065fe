// What a capture's pictures hold: the crop window, the orientation, the noise filter.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CaptureConsumer.h"
#include "capture/FFMPEGCapture.h"
#include "capture/FrameScaler.h"
#include "capture/NoiseReduction.h"
#include "common/LogCollector.h"
#include "support/TestPaths.h"
#include "support/TestVideo.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace zorvo::test {
namespace {

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

TEST(FlipTest, AutoFlipsEverythingButFullRangeYuv422) {
    struct Case {
        FlipMode mode;
        AVPixelFormat format;
        bool flips;
    };
    const Case cases[] = {
        {FlipMode::Auto, AV_PIX_FMT_YUV420P, true},
        {FlipMode::Auto, AV_PIX_FMT_YUVJ420P, true},
        {FlipMode::Auto, AV_PIX_FMT_YUV422P, true},
        {FlipMode::Auto, AV_PIX_FMT_YUVJ422P, false},
        {FlipMode::True, AV_PIX_FMT_YUVJ422P, true},
        {FlipMode::True, AV_PIX_FMT_YUV420P, true},
        {FlipMode::False, AV_PIX_FMT_YUV420P, false},
        {FlipMode::Unknown, AV_PIX_FMT_YUV420P, false},
        {static_cast<FlipMode>(7), AV_PIX_FMT_YUV420P, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FlipsPicture(c.mode, c.format), c.flips)
            << static_cast<int>(c.mode) << " " << c.format;
    }
}

// Red and green of the source pixel that shows at displayed line `line`, column `column`.
struct Position {
    int x;
    int y;
};

Position SourceOf(const FrameBitmap& bitmap, int line, int column) {
    const std::uint8_t* pixel = bitmap.Row(bitmap.Height() - 1 - line) + 3 * column;
    return Position{pixel[2] / 4, pixel[1] / 4};
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
        TestVideo video;
        video.codec = c.codec;
        video.pattern = TestPattern::Coordinates;
        video.width = 64;
        video.height = 64;
        video.frameCount = 4;
        const std::string path = dir.File(std::string(c.name).substr(0, 6) + ".avi");
        ASSERT_TRUE(WriteTestVideo(path, video));
        const CSInput input("cam", path);
        for (const bool flip : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (flip ? " flipped" : " not flipped"));
            CFFMPEGCapture capture(&input, 0, 1, rect.Width(), rect.Height(), 0, 0,
                                   flip ? FlipMode::True : FlipMode::False);
            capture.m_sourceRect = rect;
            ASSERT_TRUE(capture.Start());
            const FrameBitmap* bitmap = WaitForBitmap(capture, 0);
            ASSERT_NE(bitmap, nullptr);
            const int tolerance = c.lossless ? 0 : 2;
            int wrong = 0;
            for (int line = 0; line < rect.Height(); ++line) {
                for (int column = 0; column < rect.Width(); ++column) {
                    const Position source = SourceOf(*bitmap, line, column);
                    // Flipped, the bitmap shows the picture upright; otherwise upside down, and
                    // the rectangle is measured on what it shows.
                    const int expectedY =
                        flip ? rect.top + line : video.height - 1 - (rect.top + line);
                    const int expectedX = rect.left + column;
                    if (std::abs(source.x - expectedX) > tolerance ||
                        std::abs(source.y - expectedY) > tolerance) {
                        ++wrong;
                    }
                }
            }
            EXPECT_EQ(wrong, 0);
        }
    }
}

}  // namespace
}  // namespace zorvo::test
