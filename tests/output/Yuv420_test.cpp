#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "output/Yuv420.h"

namespace zorvo::test {
namespace {

struct Planes {
    std::vector<std::uint8_t> bytes[3];
    Yuv420Planes view{};
    // Rows wider than the picture, so that a write past a row's end shows.
    Planes(int width, int height) {
        const int strides[3] = {width + 32, width / 2 + 16, width / 2 + 16};
        for (int p = 0; p < 3; ++p) {
            bytes[p].assign(static_cast<std::size_t>(strides[p]) * (p == 0 ? height : height / 2),
                            0xA5);
            view.data[p] = bytes[p].data();
            view.stride[p] = strides[p];
        }
    }
};

// Known colours give their limited-range values in both matrices, and the vector path gives
// the plain path's very bytes at every width (its 16-pixel steps and the columns left after
// them), for noise and for the extremes.
TEST(Yuv420, ColoursAndEveryWidth) {
    struct Colour {
        bool hd;
        std::uint8_t b, g, r;
        std::array<int, 3> yuv;
    };
    const Colour colours[] = {
        {false, 255, 255, 255, {235, 128, 128}}, {false, 0, 0, 0, {16, 128, 128}},
        {false, 0, 0, 255, {81, 90, 240}},       {false, 0, 255, 0, {145, 54, 34}},
        {false, 255, 0, 0, {41, 240, 110}},      {true, 0, 0, 255, {63, 102, 240}},
        {true, 0, 255, 0, {173, 42, 26}},        {true, 255, 0, 0, {32, 240, 118}},
    };
    for (const Colour& c : colours) {
        FrameBitmap picture;
        ASSERT_TRUE(picture.Allocate(20, 2));
        for (std::size_t i = 0; i < picture.SizeBytes(); i += 3) {
            picture.Bits()[i] = c.b;
            picture.Bits()[i + 1] = c.g;
            picture.Bits()[i + 2] = c.r;
        }
        Planes out(20, 2);
        BgrToYuv420(picture, YuvFactorsFor(c.hd), out.view);
        for (int p = 0; p < 3; ++p) {
            EXPECT_EQ(out.bytes[p][0], c.yuv[p])
                << c.hd << " " << +c.r << "," << +c.g << "," << +c.b << " plane " << p;
        }
    }

    std::mt19937 random(7);
    for (const int width : {2, 16, 18, 20, 34, 36, 50, 720}) {
        for (const int fill : {-1, 0, 255}) {
            for (const bool hd : {false, true}) {
                const int height = 6;
                FrameBitmap picture;
                ASSERT_TRUE(picture.Allocate(width, height));
                for (std::size_t i = 0; i < picture.SizeBytes(); ++i) {
                    picture.Bits()[i] = static_cast<std::uint8_t>(fill < 0 ? random() : fill);
                }
                Planes fast(width, height), plain(width, height);
                BgrToYuv420(picture, YuvFactorsFor(hd), fast.view);
                BgrToYuv420Plain(picture, YuvFactorsFor(hd), plain.view);
                for (int p = 0; p < 3; ++p) {
                    EXPECT_TRUE(fast.bytes[p] == plain.bytes[p])
                        << "width " << width << ", fill " << fill << ", hd " << hd << ", plane "
                        << p;
                }
                // Past each row's end nothing was written.
                EXPECT_EQ(plain.bytes[0][width], 0xA5);
                EXPECT_EQ(plain.bytes[1][width / 2], 0xA5);
            }
        }
    }
}

}  // namespace
}  // namespace zorvo::test
