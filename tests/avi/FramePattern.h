#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "avi/AVIWriter.h"
#include "common/FrameBitmap.h"
#include "support/AviReader.h"

namespace zorvo::test {

// Paints picture number n. Every component depends on x, y and n, so a flipped, shifted,
// stale or misplaced picture shows.
inline void PaintFrame(FrameBitmap& bitmap, std::uint32_t n) {
    for (int y = 0; y < bitmap.Height(); ++y) {
        std::uint8_t* row = bitmap.Row(y);
        for (int x = 0; x < bitmap.Width(); ++x) {
            row[3 * x + 0] = static_cast<std::uint8_t>(x * 7 + y * 3 + n * 29);
            row[3 * x + 1] = static_cast<std::uint8_t>(x * 5 + y * 11 + n * 3 + 1);
            row[3 * x + 2] = static_cast<std::uint8_t>(x + y * 17 + n * 101 + 2);
        }
    }
}

// The picture as a viewer shows it: rows from the top down.
inline std::vector<std::uint8_t> TopDown(const FrameBitmap& bitmap) {
    std::vector<std::uint8_t> picture;
    for (int y = bitmap.Height() - 1; y >= 0; --y) {
        const std::uint8_t* row = bitmap.Row(y);
        picture.insert(picture.end(), row, row + bitmap.Stride());
    }
    return picture;
}

// The picture PaintFrame draws for frame n, top-down.
inline std::vector<std::uint8_t> ExpectedPicture(int width, int height, std::uint32_t n) {
    FrameBitmap bitmap;
    if (!bitmap.Allocate(width, height)) {
        return {};
    }
    PaintFrame(bitmap, n);
    return TopDown(bitmap);
}

// Paints and inserts the song frames first .. first + count - 1.
inline bool InsertFrames(FrameWriter& writer, std::uint32_t first, std::uint32_t count) {
    for (std::uint32_t n = first; n < first + count; ++n) {
        PaintFrame(writer.frameBitmap, n);
        if (!writer.InsertFrame(n)) {
            return false;
        }
    }
    return true;
}

// ffprobe and a full ffmpeg decode must have nothing to say about the file.
inline void ExpectToolsQuiet(const std::string& path) {
    if (FfmpegToolsAvailable()) {
        EXPECT_EQ(FfmpegToolWarnings(path), "") << path;
    }
}

}  // namespace zorvo::test
