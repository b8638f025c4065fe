#include <gtest/gtest.h>

#include <memory>
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

// Weights out of 255 as slow motion mixes a picture with the next; a flash lifts every byte by
// 64 and saturates.
TEST(Compose, BlendAndStrobeFlash) {
    struct Case {
        std::uint32_t weight;
        std::uint8_t current, next, value;
    };
    const std::vector<Case> cases = {
        {0, 0, 255, 0},     {63, 0, 255, 62},     {127, 0, 255, 126},
        {191, 0, 255, 190}, {127, 100, 200, 149},  // (127 x 200 + 128 x 100) >> 8
        {0, 255, 255, 254},  // the weights sum to 255: white with white is a shade darker
    };
    FrameBitmap scratch = Filled(3, 2, 9);
    for (const Case& c : cases) {
        BlendFrames(Filled(3, 2, c.current), Filled(3, 2, c.next), c.weight, scratch);
        const std::vector<std::uint8_t> bytes(scratch.Bits(), scratch.Bits() + scratch.SizeBytes());
        EXPECT_EQ(bytes, std::vector<std::uint8_t>(6 * 3, c.value))
            << c.weight << " of " << int(c.next) << " over " << int(c.current);
    }

    FrameBitmap picture;
    ASSERT_TRUE(picture.Allocate(2, 1));
    const std::uint8_t before[6] = {0, 100, 190, 191, 192, 255};
    std::copy(before, before + 6, picture.Bits());
    StrobeFlash(picture);
    const std::vector<std::uint8_t> after(picture.Bits(), picture.Bits() + 6);
    EXPECT_EQ(after, (std::vector<std::uint8_t>{64, 164, 254, 255, 255, 255}));
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
    for (const AdjustmentSettings* adjust : {&perChannel, &full}) {
        for (const Case& c : cases) {
            FrameBitmap output = Filled(4, 3, 77);
            const FrameBitmap overlay =
                Filled(4, 3, static_cast<std::uint8_t>(std::max(c.overlayValue, 0)));
            ComposeViewport(4, picture, *adjust, 2, 2, output.Bits(), 1, 1, c.fade,
                            c.overlayValue < 0 ? nullptr : &overlay, &identity);
            // Only the 2 x 2 rectangle at (1, 1) changes.
            for (int y = 0; y < 3; ++y) {
                for (int x = 0; x < 4; ++x) {
                    const std::uint8_t* p = output.Row(y) + x * 3;
                    const std::vector<int> expected = x >= 1 && x < 3 && y >= 1
                                                          ? std::vector<int>{c.b, c.g, c.r}
                                                          : std::vector<int>(3, 77);
                    EXPECT_EQ(std::vector<int>(p, p + 3), expected)
                        << int(c.fade) << "/" << c.overlayValue << " table "
                        << static_cast<int>(adjust->lutKind) << " at " << x << "," << y;
                }
            }
        }
    }
}

}  // namespace
}  // namespace zorvo
