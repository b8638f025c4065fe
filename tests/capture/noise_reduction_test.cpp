#include "capture/NoiseReduction.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "capture/MemoryLimit.h"
#include "common/LogCollector.h"

namespace zorvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

// One call: the level, the picture and the output it must give. Pictures are 3 x 1 pixels,
// so every byte is one component followed on its own through the frames.
struct Step {
    int level;
    Bytes picture;
    Bytes expected;
};

struct SequenceCase {
    std::string name;
    std::vector<Step> steps;
};

TEST(NoiseReductionTest, FiltersComponentsFrameByFrame) {
    const std::vector<SequenceCase> cases = {
        {"level 20: T 51, h 25, starting from black",
         {
             {20, {20, 40, 60, 51, 26, 25, 255, 0, 200}, {0, 26, 60, 51, 17, 0, 255, 0, 200}},
             // the same picture again changes nothing: dark parts stay frozen
             {20, {20, 40, 60, 51, 26, 25, 255, 0, 200}, {0, 26, 60, 51, 17, 0, 255, 0, 200}},
             {20, {60, 70, 40, 0, 255, 51, 229, 51, 174}, {60, 55, 60, 0, 255, 51, 237, 51, 182}},
         }},
        {"level 100: only a full jump passes",
         {
             {100, {255, 200, 127, 128, 0, 254, 1, 2, 3}, {255, 133, 0, 85, 0, 169, 0, 0, 0}},
             {100, {0, 0, 255, 255, 255, 0, 1, 2, 3}, {0, 44, 255, 198, 255, 56, 0, 0, 0}},
         }},
        {"levels above 100 act as 100",
         {
             {250, {255, 200, 127, 128, 0, 254, 1, 2, 3}, {255, 133, 0, 85, 0, 169, 0, 0, 0}},
             {100000000, {0, 0, 255, 255, 255, 0, 1, 2, 3}, {0, 44, 255, 198, 255, 56, 0, 0, 0}},
         }},
        {"level 1: T 2, h 1",
         {
             {1, {1, 2, 3, 0, 255, 1, 1, 1, 1}, {0, 2, 3, 0, 255, 0, 0, 0, 0}},
         }},
        {"level 0 and below copy the picture and keep the running one",
         {
             {20,
              {200, 200, 200, 200, 200, 200, 200, 200, 200},
              {200, 200, 200, 200, 200, 200, 200, 200, 200}},
             {0, {0, 1, 2, 3, 4, 5, 6, 7, 8}, {0, 1, 2, 3, 4, 5, 6, 7, 8}},
             {-5, {9, 8, 7, 6, 5, 4, 3, 2, 1}, {9, 8, 7, 6, 5, 4, 3, 2, 1}},
             {20,
              {190, 190, 190, 190, 190, 190, 190, 190, 100},
              {200, 200, 200, 200, 200, 200, 200, 200, 100}},
         }},
    };
    for (const SequenceCase& c : cases) {
        SCOPED_TRACE(c.name);
        NoiseReduction filter;
        for (std::size_t frame = 0; frame < c.steps.size(); ++frame) {
            const Step& step = c.steps[frame];
            Bytes out(step.picture.size(), 0xEE);
            ASSERT_TRUE(filter.Apply(step.level, step.picture.data(), out.data(), 3, 1));
            EXPECT_EQ(out, step.expected) << "frame " << frame;
        }
    }
}

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

TEST(NoiseReductionTest, EmptySizeWritesNothing) {
    NoiseReduction filter;
    const Bytes picture(12, 100);
    for (auto [width, height] : {std::pair{0, 4}, std::pair{4, 0}, std::pair{-2, 3}}) {
        Bytes out(12, 7);
        EXPECT_TRUE(filter.Apply(20, picture.data(), out.data(), width, height));
        EXPECT_EQ(out, Bytes(12, 7));
    }
}

TEST(NoiseReductionTest, FailsWithALogLineWhenTheBufferCannotBeHad) {
    if (!test::kAddressLimitWorks) {
        GTEST_SKIP() << "address space limits do not work under this sanitizer";
    }
    constexpr int kSide = 4096;  // 48 MiB of running picture
    constexpr std::size_t kBytes = std::size_t{kSide} * kSide * 3;
    struct Pictures {
        std::unique_ptr<std::uint8_t[]> picture{new std::uint8_t[kBytes]};
        std::unique_ptr<std::uint8_t[]> out{new std::uint8_t[kBytes]};
    };
    const bool reported = test::RunWithAddressHeadroom(
        16u << 20, [] { return Pictures{}; },
        [](Pictures& p) {
            LogCollector log;
            NoiseReduction filter;
            p.out[0] = 0x5A;
            p.out[kBytes - 1] = 0x5A;
            if (filter.Apply(20, p.picture.get(), p.out.get(), kSide, kSide)) {
                return false;
            }
            const bool untouched = p.out[0] == 0x5A && p.out[kBytes - 1] == 0x5A;
            const bool logged =
                log.Texts() == std::vector<std::string>{
                                   "Error (FFMPEGCapture): Failed to allocate noise buffer.\n"};
            // Still usable with a size that fits.
            const Bytes small = {60, 40, 20};
            Bytes out(3, 0);
            const bool recovered =
                filter.Apply(20, small.data(), out.data(), 1, 1) && out == Bytes{60, 26, 0};
            return untouched && logged && recovered;
        });
    EXPECT_TRUE(reported);
}

}  // namespace
}  // namespace zorvo
