#include "capture/NoiseReduction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

namespace zorvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(NoiseReductionTest, MatchesAPlainFilterOverWholePictures) {
    constexpr int kWidth = 37, kHeight = 23;
    constexpr std::size_t kBytes = kWidth * kHeight * 3;
    std::mt19937 random(99);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int level : {7, 20, 64}) {
        SCOPED_TRACE(level);
        const int threshold = level * 255 / 100;
        NoiseReduction filter;
        Bytes running(kBytes, 0);
        Bytes picture(kBytes);
        for (int frame = 0; frame < 6; ++frame) {
            // Small jitter around a moving base, so every branch is taken often.
            for (std::size_t k = 0; k < kBytes; ++k) {
                const int base = static_cast<int>((k * 13 + frame * 40) % 256);
                picture[k] =
                    static_cast<std::uint8_t>(std::clamp(base + byte(random) % 61 - 30, 0, 255));
            }
            for (std::size_t k = 0; k < kBytes; ++k) {
                const int d = std::abs(picture[k] - running[k]);
                if (d >= threshold) {
                    running[k] = picture[k];
                } else if (d > threshold / 2) {
                    running[k] = static_cast<std::uint8_t>((running[k] + 2 * picture[k]) / 3);
                }
            }
            Bytes out(kBytes, 0);
            ASSERT_TRUE(filter.Apply(level, picture.data(), out.data(), kWidth, kHeight));
            ASSERT_EQ(out, running) << "frame " << frame;
        }
    }
}

TEST(NoiseReductionTest, ANewSizeStartsFromBlack) {
    struct Case {
        int width, height;
    };
    // 2 x 3 has the byte count of 3 x 2 but another shape.
    for (const Case& next : {Case{3, 2}, Case{4, 4}, Case{1, 1}}) {
        SCOPED_TRACE(::testing::Message() << next.width << " x " << next.height);
        NoiseReduction filter;
        const Bytes bright(2 * 3 * 3, 200);
        Bytes out(bright.size());
        ASSERT_TRUE(filter.Apply(20, bright.data(), out.data(), 2, 3));
        ASSERT_EQ(out, bright);

        // Carried over, 190 would stay frozen at 200; from black it passes at once.
        const std::size_t bytes = static_cast<std::size_t>(next.width) * next.height * 3;
        const Bytes dimmer(bytes, 190);
        Bytes resized(bytes, 0);
        ASSERT_TRUE(filter.Apply(20, dimmer.data(), resized.data(), next.width, next.height));
        EXPECT_EQ(resized, dimmer);
        const Bytes darker(bytes, 150);
        ASSERT_TRUE(filter.Apply(20, darker.data(), resized.data(), next.width, next.height));
        EXPECT_EQ(resized, Bytes(bytes, 163));  // (190 + 2 x 150) / 3, damped
    }
}

}  // namespace
}  // namespace zorvo
