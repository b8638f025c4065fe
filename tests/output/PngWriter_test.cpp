// The PNG writer: what it writes decodes (with libavcodec, not the library that wrote it) to the
// picture it was given.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "output/PngWriter.h"
#include "support/MediaReader.h"
#include "support/TestPaths.h"

namespace zorvo::test {
namespace {

TEST(PngWriter, HoldsThePictureExactly) {
    const TempDir dir;
    for (const auto& [width, height] : {std::pair{1, 1}, {97, 3}, {1200, 1000}}) {
        FrameBitmap picture;
        ASSERT_TRUE(picture.Allocate(width, height));
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width * 3; ++x) {
                picture.Row(y)[x] = static_cast<std::uint8_t>(x * 7 + y * 13 + (x * y) / 5);
            }
        }
        const std::string path = dir.File("picture.png");
        ASSERT_TRUE(WritePng(picture, path)) << width;
        MediaContents png;
        std::string error;
        ASSERT_TRUE(ReadMedia(path, png, error)) << error;
        ASSERT_EQ(png.pictures.size(), 1u) << width;
        ASSERT_EQ(png.pictures[0].size(), picture.SizeBytes()) << width;
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* line = picture.Row(height - 1 - y);
            ASSERT_TRUE(std::equal(line, line + picture.Stride(),
                                   png.pictures[0].begin() + y * picture.Stride()))
                << width << " x " << height << ", row " << y;
        }
    }
}

}  // namespace
}  // namespace zorvo::test
