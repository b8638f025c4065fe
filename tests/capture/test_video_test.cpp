#include "support/TestVideo.h"

#include <algorithm>
#include <cstdint>

#include <gtest/gtest.h>

namespace zorvo::test {
namespace {

// Paints the band pattern of `number` as a capture would deliver it: the source rows
// [top, top + sourceRows) scaled to `height` lines by nearest row, upright or flipped.
FrameBitmap PaintBands(int number, int sourceHeight, int top, int sourceRows, int height,
                       bool upright, int bandHeight = 0) {
    const int unit = bandHeight > 0 ? bandHeight : DefaultBandHeight(sourceHeight);
    FrameBitmap bitmap;
    EXPECT_TRUE(bitmap.Allocate(16, height));
    for (int line = 0; line < height; ++line) {
        const int sourceRow = top + line * sourceRows / height;
        const bool white = BandIsWhite(number, sourceRow, unit);
        // Bottom-up: an upright picture keeps its first line in the last memory row.
        const int memoryRow = upright ? height - 1 - line : line;
        std::fill(bitmap.Row(memoryRow), bitmap.Row(memoryRow) + bitmap.Stride(), white ? 230 : 20);
    }
    return bitmap;
}

struct ReadCase {
    const char* name;
    int sourceHeight;
    int top;
    int rows;
    int height;
    bool upright;
};

TEST(TestVideoTest, ReadsNumbersFromCroppedScaledAndFlippedPictures) {
    const ReadCase cases[] = {
        {"whole picture", 144, 0, 144, 144, true},
        {"flipped", 144, 0, 144, 144, false},
        {"upscaled", 144, 0, 144, 400, true},
        {"downscaled to three rows a unit", 576, 0, 576, 288, true},
        {"top half of a tall source", 576, 0, 288, 288, true},
        {"bottom half, flipped", 576, 288, 288, 240, false},
        {"middle, odd offset", 576, 137, 300, 301, true},
        {"slight crop like zoom 100", 576, 18, 540, 480, false},
    };
    const int numbers[] = {0, 1, 2, 77, 1023, 1500, (1 << kNumberBits) - 1};
    for (const ReadCase& c : cases) {
        for (int number : numbers) {
            const FrameBitmap bitmap =
                PaintBands(number, c.sourceHeight, c.top, c.rows, c.height, c.upright);
            const auto mark = ReadFrameMark(bitmap);
            ASSERT_TRUE(mark.has_value()) << c.name << " " << number;
            EXPECT_EQ(mark->number, number) << c.name;
            EXPECT_EQ(mark->upright, c.upright) << c.name << " " << number;
        }
    }
}

}  // namespace
}  // namespace zorvo::test
