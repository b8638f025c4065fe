#pragma once

#include <optional>
#include <string>

#include "common/FrameBitmap.h"

namespace zorvo::test {

// Codec and decoded pixel format of a test video. The container comes from the file name
// (.avi, .mp4, .mov, .mpg, .mkv).
enum class TestCodec {
    Mpeg4,          // MPEG-4 Visual (mpeg4 encoder), yuv420p, no B-frames
    MjpegYuvj420p,  // Motion JPEG, full-range 4:2:0
    MjpegYuvj422p,  // Motion JPEG, full-range 4:2:2
    H264,           // libx264, yuv420p, two B-frames between references
    Mpeg2,          // MPEG-2, yuv420p, two B-frames between references
    Ffv1,           // FFV1, lossless yuv420p
    Ffv1Bgr0,       // FFV1, lossless packed 32-bit RGB (decodes to bgr0)
};

enum class TestPattern {
    // Horizontal black and white bands across the full width that spell the frame's number
    // (see ReadFrameMark). Survives cropping, scaling and flipping.
    FrameNumber,
    // Every pixel tells its own position: red = 4 x column, green = 4 x row (both modulo
    // 256), blue = 128. For checking which source pixels a crop took.
    Coordinates,
};

struct TestVideo {
    TestCodec codec = TestCodec::Mpeg4;
    TestPattern pattern = TestPattern::FrameNumber;
    int width = 96;
    int height = 144;
    int rateNum = 25;  // frames per second = rateNum / rateDen
    int rateDen = 1;
    int frameCount = 50;
    int keyFrameInterval = 12;
    int firstNumber = 0;  // number shown by frame 0
    // Above 1: frames 1, 1 + dropEvery, 1 + 2 x dropEvery ... are left out and the others keep
    // their times, a source whose frames have gaps.
    int dropEvery = 0;
};

// Encodes the video at `path`. False, with the reason in `error`, when FFmpeg refuses.
bool WriteTestVideo(const std::string& path, const TestVideo& video, std::string* error = nullptr);

// Band layout, counted in units from the top of the source picture, repeating every
// kBandCycle units: a black guard, three white and three black sync units, a white guard, then
// kNumberBits bits, most significant first, each as two units (white, black for 1; black,
// white for 0). Numbers wrap at 2^kNumberBits. A unit is height / 68 rows, at least 3, so
// any window of half the height (from 204 rows up) shows a whole code.
inline constexpr int kNumberBits = 11;
inline constexpr int kBandCycle = 8 + 2 * kNumberBits;

struct FrameMark {
    int number = -1;
    // True when the bitmap shows the source as it was recorded (its top row is the source's
    // top); false when it shows it upside down.
    bool upright = true;
};

// Reads the frame number back from a captured picture: cropped, scaled (down to about three
// rows per band unit) and possibly flipped. It needs kBandCycle + 4 consecutive units in view.
// Nothing when no complete code is visible.
std::optional<FrameMark> ReadFrameMark(const FrameBitmap& bitmap);

}  // namespace zorvo::test
