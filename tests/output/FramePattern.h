#pragma once

#include <cstdint>
#include <vector>

#include "output/FrameWriter.h"

namespace zorvo::test {

// Byte c (blue, green, red) of pixel x of bitmap row y (counted from the bottom) of picture
// number n. Every byte depends on x, y and n, so a flipped, shifted, stale or misplaced picture
// shows.
inline std::uint8_t PatternByte(int x, int y, std::uint32_t n, int c) {
    constexpr int kX[] = {7, 5, 1};
    constexpr int kY[] = {3, 11, 17};
    constexpr std::uint32_t kN[] = {29, 3, 101};
    return static_cast<std::uint8_t>(x * kX[c] + y * kY[c] + n * kN[c] + c);
}

// The picture of frame n as a viewer shows it: rows from the top down.
inline std::vector<std::uint8_t> ExpectedPicture(int width, int height, std::uint32_t n) {
    std::vector<std::uint8_t> picture;
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < 3 * width; ++x) {
            picture.push_back(PatternByte(x / 3, y, n, x % 3));
        }
    }
    return picture;
}

// Paints and inserts the song frames first .. first + count - 1.
inline bool InsertFrames(FrameWriter& writer, std::uint32_t first, std::uint32_t count) {
    FrameBitmap& bitmap = writer.frameBitmap;
    for (std::uint32_t n = first; n < first + count; ++n) {
        for (int y = 0; y < bitmap.Height(); ++y) {
            for (int x = 0; x < 3 * bitmap.Width(); ++x) {
                bitmap.Row(y)[x] = PatternByte(x / 3, y, n, x % 3);
            }
        }
        if (!writer.InsertFrame(n)) {
            return false;
        }
    }
    return true;
}

}  // namespace zorvo::test
