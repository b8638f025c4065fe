#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <vector>

#include "render/Compose.h"

namespace zorvo {
namespace {

FrameBitmap Filled(int w, int h, std::uint8_t value) {
    FrameBitmap bitmap;
    EXPECT_TRUE(bitmap.Allocate(w, h));
    std::fill(bitmap.Bits(), bitmap.Bits() + bitmap.SizeBytes(), value);
    return bitmap;
}

TEST(Fade, LevelsOverASpan) {
    struct Case {
        MarkerEffect effect;
        std::uint32_t frames;
        std::vector<std::pair<std::uint32_t, int>> levels;  // frame, level
    };
    const std::vector<Case> cases = {
        {MarkerEffect::FadeIn, 50, {{0, 0}, {1, 5}, {2, 10}, {48, 249}, {49, 255}}},
        {MarkerEffect::FadeOut, 50, {{0, 255}, {1, 249}, {49, 0}}},
        {MarkerEffect::FadeIn, 101, {{0, 0}, {50, 127}, {100, 255}}},
        {MarkerEffect::FadeOut, 101, {{0, 255}, {50, 127}, {100, 0}}},
        {MarkerEffect::None, 50, {{0, 255}, {49, 255}}},
        {MarkerEffect::Strobe, 50, {{7, 255}}},
        // Too short to fade: full brightness instead of a division by zero.
        {MarkerEffect::FadeIn, 1, {{0, 255}}},
        {MarkerEffect::FadeOut, 0, {{0, 255}}},
    };
    for (const Case& c : cases) {
        for (const auto& [frame, level] : c.levels) {
            EXPECT_EQ(FadeLevel(c.effect, frame, c.frames), level)
                << static_cast<int>(c.effect) << " over " << c.frames << " at " << frame;
        }
    }
}

TEST(Strobe, FlashesOnTheFirstPictureOfEveryPeriod) {
    struct Case {
        double periodMs;
        std::vector<std::uint32_t> flashed;  // within pictures 0 to 48
    };
    std::vector<std::uint32_t> every(49);
    std::iota(every.begin(), every.end(), 0u);
    const std::vector<Case> cases = {
        {480, {0, 12, 24, 36, 48}},     // a whole number of frames: every 12th picture
        {468.75, {0, 12, 24, 36, 47}},  // 128 bpm: on the beat, never two in a row
        {500, {0, 13, 25, 38}},
        {40, every},
        {20, every},  // shorter than a frame
        {0, every},
    };
    for (const Case& c : cases) {
        std::vector<std::uint32_t> flashed;
        for (std::uint32_t i = 0; i <= 48; ++i) {
            if (StrobeFlashes(i, c.periodMs)) {
                flashed.push_back(i);
            }
        }
        EXPECT_EQ(flashed, c.flashed) << c.periodMs;
    }

    FrameBitmap picture;
    ASSERT_TRUE(picture.Allocate(2, 1));
    const std::uint8_t before[6] = {0, 100, 190, 191, 192, 255};
    std::copy(before, before + 6, picture.Bits());
    StrobeFlash(picture);
    const std::vector<std::uint8_t> after(picture.Bits(), picture.Bits() + 6);
    EXPECT_EQ(after, (std::vector<std::uint8_t>{64, 164, 254, 255, 255, 255}));
}

TEST(Blend, SlowMotionWeights) {
    // current 0, next 255: the result shows the weight itself, shifted right by 8.
    const FrameBitmap current = Filled(3, 2, 0);
    const FrameBitmap next = Filled(3, 2, 255);
    FrameBitmap scratch = Filled(3, 2, 9);
    struct Case {
        std::uint32_t step, offset;
        std::uint32_t weight;
        std::uint8_t value;
    };
    // speed 0.5: step 2; speed 0.25: step 4 (offset = j - step x srcIndex).
    const std::vector<Case> cases = {
        {2, 1, 127, 126}, {4, 1, 63, 62}, {4, 2, 127, 126}, {4, 3, 191, 190}, {4, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const std::uint32_t weight = c.offset * 255 / c.step;
        EXPECT_EQ(weight, c.weight);
        BlendFrames(current, next, weight, scratch);
        for (size_t i = 0; i < scratch.SizeBytes(); ++i) {
            ASSERT_EQ(scratch.Bits()[i], c.value) << "step " << c.step << " offset " << c.offset;
        }
    }
    // 127 x next + 128 x current, shifted: a mix of 100 and 200 gives 149.
    BlendFrames(Filled(3, 2, 100), Filled(3, 2, 200), 127, scratch);
    EXPECT_EQ(scratch.Bits()[0], (127 * 200 + 128 * 100) >> 8);
    // The weights sum to 255, so white blended with white comes out a shade darker.
    BlendFrames(Filled(3, 2, 255), Filled(3, 2, 255), 0, scratch);
    EXPECT_EQ(scratch.Bits()[0], 254);
}

TEST(ComposeViewport, LookupFadeAndOverlay) {
    // Tables that invert red only, so the entry order shows: the same adjustment as one table
    // per component and as the full table. The overlay's adjustments change nothing.
    AdjustmentSettings perChannel;
    perChannel.lutKind = LutKind::PerChannel;
    for (int i = 0; i < 256; ++i) {
        perChannel.channelLut[0][i] = perChannel.channelLut[1][i] = static_cast<std::uint8_t>(i);
        perChannel.channelLut[2][i] = static_cast<std::uint8_t>(255 - i);
    }
    AdjustmentSettings full;
    full.lutKind = LutKind::Full;
    full.lut = std::make_unique<std::uint8_t[]>(kLutBytes);
    for (std::uint32_t rgb = 0; rgb < 256u * 256u * 256u; ++rgb) {
        full.lut[rgb * 3 + 0] = static_cast<std::uint8_t>(rgb & 0xFF);         // blue
        full.lut[rgb * 3 + 1] = static_cast<std::uint8_t>((rgb >> 8) & 0xFF);  // green
        full.lut[rgb * 3 + 2] = static_cast<std::uint8_t>(255 - (rgb >> 16));  // red inverted
    }
    AdjustmentSettings identity;
    identity.lutKind = LutKind::Identity;
    FrameBitmap picture;
    ASSERT_TRUE(picture.Allocate(2, 2));
    const std::uint8_t pixel[3] = {10, 20, 30};  // blue, green, red
    for (int i = 0; i < 4; ++i) {
        std::copy(pixel, pixel + 3, picture.Bits() + i * 3);
    }
    struct Case {
        std::uint8_t fade;
        int overlayValue;  // -1: no overlay
        std::uint8_t b, g, r;
    };
    const std::vector<Case> cases = {
        {255, -1, 10, 20, 225},
        {128, -1, 10 * 128 / 255, 20 * 128 / 255, 225 * 128 / 255},
        {0, -1, 0, 0, 0},
        {255, 255, 10, 20, 225},  // white overlay keeps the picture
        {255, 0, 0, 0, 0},        // black overlay blacks it
        {255, 128, 10 * 128 / 255, 20 * 128 / 255, 225 * 128 / 255},
        {100, 128, 10 * 128 * 100 / 65025, 20 * 128 * 100 / 65025, 225 * 128 * 100 / 65025},
    };
    for (const auto& [c, adjust] : [&] {
             std::vector<std::pair<Case, const AdjustmentSettings*>> all;
             for (const AdjustmentSettings* a : {&perChannel, &full}) {
                 for (const Case& k : cases) {
                     all.emplace_back(k, a);
                 }
             }
             return all;
         }()) {
        FrameBitmap output = Filled(4, 3, 77);
        const FrameBitmap overlay =
            Filled(4, 3, static_cast<std::uint8_t>(std::max(c.overlayValue, 0)));
        ComposeViewport(4, picture, *adjust, 2, 2, output.Bits(), 1, 1, c.fade,
                        c.overlayValue < 0 ? nullptr : &overlay, &identity);
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 4; ++x) {
                const std::uint8_t* p = output.Row(y) + x * 3;
                if (x >= 1 && x < 3 && y >= 1) {
                    EXPECT_EQ(p[0], c.b) << int(c.fade) << "/" << c.overlayValue << " table "
                                         << static_cast<int>(adjust->lutKind);
                    EXPECT_EQ(p[1], c.g);
                    EXPECT_EQ(p[2], c.r);
                } else {
                    EXPECT_EQ(p[0], 77) << "outside the rectangle at " << x << "," << y;
                }
            }
        }
    }
}

}  // namespace
}  // namespace zorvo
