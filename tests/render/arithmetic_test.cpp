#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "compose/Compose.h"
#include "compose/LabelText.h"
#include "preview/FrameEngine.h"
#include "script/Marker.h"
#include "script/SpanTiming.h"
#include "timeline/Layout.h"

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

// A label's text is UTF-8: "\xc3\xa9" is the one character U+00E9, drawn as the lone byte 0xe9
// is (not well-formed UTF-8, so taken as the character of its value).
TEST(LabelFont, DrawsCharactersNotBytes) {
    LabelFont font;
    ASSERT_TRUE(font.Load());
    const auto drawn = [&](const std::string& text) {
        FrameBitmap frame = Filled(120, 40, 90);
        font.DrawLabel(frame, {0, 0, 120, 40}, text, LabelPlacement::Center);
        return std::vector<std::uint8_t>(frame.Bits(), frame.Bits() + frame.SizeBytes());
    };
    EXPECT_TRUE(drawn("Cam \xc3\xa9") == drawn("Cam \xe9"));
    EXPECT_FALSE(drawn("Cam \xc3\xa9") == drawn("Cam e"));
    EXPECT_EQ(font.TextWidth("\xc3\xa9"), font.TextWidth("\xe9"));
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

using Rects = std::vector<Rect>;

// At any size the displays of every layout stay inside the picture and cover it, and the
// separators are straight lines. Rectangles count rows from the bottom, so the upper area has
// the larger top. At 720 x 576: halves at 360 and 288, thirds at 240 and 480, and each third but
// the last takes one column more, over its neighbour's edge.
TEST(Layout, DisplaysCoverThePicture) {
    struct Case {
        LayoutType layout;
        Rects displays;
        Rects separators;
    };
    const std::vector<Case> at720x576 = {
        {LayoutType::Top1Bottom1, {{0, 288, 720, 576}, {0, 0, 720, 288}}, {{0, 288, 720, 288}}},
        {LayoutType::Left1Right2,
         {{0, 0, 360, 576}, {360, 288, 720, 576}, {360, 0, 720, 288}},
         {{360, 0, 360, 576}, {360, 288, 720, 288}}},
        {LayoutType::Top1Bottom3,
         {{0, 288, 720, 576}, {0, 0, 241, 288}, {240, 0, 481, 288}, {480, 0, 720, 288}},
         {{240, 0, 240, 288}, {480, 0, 480, 288}, {0, 288, 720, 288}}},
        {LayoutType::Top3Bottom1,
         {{0, 288, 241, 576}, {240, 288, 481, 576}, {480, 288, 720, 576}, {0, 0, 720, 288}},
         {{0, 288, 720, 288}, {240, 288, 240, 576}, {480, 288, 480, 576}}},
        {LayoutType::Top3Bottom3,
         {{0, 288, 241, 576},
          {240, 288, 481, 576},
          {480, 288, 720, 576},
          {0, 0, 241, 288},
          {240, 0, 481, 288},
          {480, 0, 720, 288}},
         {{240, 0, 240, 576}, {480, 0, 480, 576}, {0, 288, 720, 288}}},
    };
    for (const Case& c : at720x576) {
        Rects displays{{9, 9, 9, 9}};
        Rects separators{{9, 9, 9, 9}};
        ASSERT_TRUE(GetLayoutRects(720, 576, c.layout, displays, separators));
        EXPECT_EQ(displays, c.displays) << "layout " << static_cast<int>(c.layout);
        EXPECT_EQ(separators, c.separators) << "layout " << static_cast<int>(c.layout);
    }
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{
             {720, 576}, {641, 481}, {1, 1}, {2, 3}, {3, 2}, {1920, 1080}, {7, 5}}) {
        for (int code = 2; code <= 14; ++code) {
            Rects displays;
            Rects separators;
            ASSERT_TRUE(GetLayoutRects(w, h, static_cast<LayoutType>(code), displays, separators));
            std::vector<int> covered(static_cast<size_t>(w * h), 0);
            for (const Rect& r : displays) {
                ASSERT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= w && r.bottom <= h)
                    << w << "x" << h << " layout " << code;
                for (int y = r.top; y < r.bottom; ++y) {
                    std::fill_n(covered.begin() + y * w + r.left, r.right - r.left, 1);
                }
            }
            EXPECT_EQ(std::count(covered.begin(), covered.end(), 0), 0)
                << w << "x" << h << " layout " << code;
            for (const Rect& s : separators) {
                EXPECT_TRUE(s.left == s.right || s.top == s.bottom);
            }
        }
    }
}

SpanTiming Timing(int tempo, int count, int unit, std::uint32_t measures) {
    CarriedValues carried;
    carried.tempo = tempo;
    carried.beatCount = count;
    carried.beatUnit = unit;
    return SpanTiming::Compute(carried, 1, 1 + measures);
}

// Checked against exact fractions: at T bpm over unit u a cycle of n/d beats lasts
// 240000 n / (T u d) ms, so picture i (at 40 i ms) is the first of a period when
// floor(i T u d / 6000 n) steps. Beats that are not whole frames leave no rounding slack.
TEST(SpanTiming, CyclePeriodsAndTheStrobesFlashes) {
    struct Cycle {
        DisplayCycle cycle;
        std::int64_t n, d;
    };
    const std::vector<Cycle> cycles = {
        {DisplayCycle::EachMeasure, 7, 1},     {DisplayCycle::EachBeat, 1, 1},
        {DisplayCycle::Every2Beats, 2, 1},     {DisplayCycle::Every3Beats, 3, 1},
        {DisplayCycle::EveryHalfBeat, 1, 2},   {DisplayCycle::EveryQuarterBeat, 1, 4},
        {DisplayCycle::EveryEighthBeat, 1, 8},
    };
    for (const std::int64_t unit : {2, 4, 8, 16}) {
        for (std::int64_t tempo = 40; tempo <= 240; ++tempo) {
            const SpanTiming timing = Timing(static_cast<int>(tempo), 7, static_cast<int>(unit), 1);
            for (const Cycle& c : cycles) {
                const double period = timing.CyclePeriod(c.cycle);
                const std::int64_t step = tempo * unit * c.d;
                const std::int64_t per = 6000 * c.n;
                ASSERT_NEAR(period, 240000.0 * c.n / static_cast<double>(step), 1e-9)
                    << tempo << "/" << unit << " cycle " << static_cast<int>(c.cycle);
                for (std::int64_t i = 1; i < 200; ++i) {
                    ASSERT_EQ(StrobeFlashes(static_cast<std::uint32_t>(i), period),
                              i * step / per > (i - 1) * step / per)
                        << tempo << "/" << unit << " period " << period << " picture " << i;
                }
            }
        }
    }
    // Without a period every picture flashes.
    EXPECT_TRUE(StrobeFlashes(5, 0));
    EXPECT_EQ(Timing(120, 4, 4, 1).CyclePeriod(DisplayCycle::None), 0);
}

TEST(SpanTiming, BlockLengthDependsOnEntryOrder) {
    using C = DisplayCycle;
    struct Case {
        std::uint32_t measures;
        std::vector<C> cycles;
        double block;
        std::vector<double> periods;
    };
    const std::vector<Case> cases = {
        {1, {C::EachBeat}, 500, {500}},
        {1, {C::Every2Beats, C::Every3Beats}, 1000, {1000, 1500}},
        {1, {C::Every3Beats, C::Every2Beats}, 500, {1500, 1000}},
        {3, {C::Every3Beats}, 1500, {1500}},
        {8, {C::EachMeasure, C::EachBeat}, 500, {2000, 500}},
        {2, {C::None, C::EachBeat}, 500, {4000, 500}},
        {2, {C::EachBeat, C::None}, 500, {500, 500}},
        {0, {C::EachBeat}, 0, {500}},
    };
    for (const Case& c : cases) {
        std::vector<CSMDisplay> displays;
        for (C cycle : c.cycles) {
            displays.push_back({"x", cycle});
        }
        std::vector<double> periods;
        const SpanTiming t = Timing(120, 4, 4, c.measures);
        EXPECT_DOUBLE_EQ(BlockLength(t, displays, &periods), c.block) << c.measures;
        EXPECT_EQ(periods, c.periods) << c.measures;
    }
    // The last block runs to the span's end, also when the blocks do not fill it exactly (a
    // quotient rounded down): nothing of the span is left unrendered.
    for (const double block : {500.0, 1500.0, 1999.0}) {
        const SpanBlocks blocks(0, Timing(120, 4, 4, 1), block);
        ASSERT_GT(blocks.count, 0u) << block;
        EXPECT_EQ(blocks.BlockEnd(blocks.count - 1, (blocks.count - 1) * block), 50) << block;
    }
}

TEST(SpanTiming, SongFramesAndCaptureLengths) {
    struct FrameCase {
        double ms;
        std::int64_t frame;
    };
    for (const FrameCase& c : std::vector<FrameCase>{{0, 0},
                                                     {39.999, 0},
                                                     {500, 12},
                                                     {479.99999999, 12},  // rounding of sums
                                                     {15000, 375},
                                                     {std::nan(""), 0}}) {
        EXPECT_EQ(SongFrame(c.ms), c.frame) << c.ms;
    }
    // A capture covers the highest source picture its frames show or mix in.
    struct CountCase {
        std::uint32_t frames;
        double speed;
        std::uint32_t count;
    };
    for (const CountCase& c : std::vector<CountCase>{
             {13, 1, 13}, {12, 0.5, 7}, {13, 0.5, 7}, {12, 2, 23}, {12, 0.3, 5}}) {
        EXPECT_EQ(CaptureFrameCount(c.frames, c.speed), c.count) << c.frames << " at " << c.speed;
    }
}

// The moments a user writes: a time, seconds, or MEASURE.BEAT; anything else is refused.
TEST(SongMoment, TimesSecondsAndBeats) {
    struct Case {
        std::string text;
        bool valid, musical;
        double ms;
        int measure, beat;
    };
    for (const Case& c : std::vector<Case>{{"9.1", true, true, 0, 9, 1},
                                           {"01:05.250", true, false, 65250, 0, 0},
                                           {"0:07", true, false, 7000, 0, 0},
                                           {"12.5s", true, false, 12500, 0, 0},
                                           {"42", true, false, 42000, 0, 0},
                                           {"7.5", true, true, 0, 7, 5},
                                           {"7.5s", true, false, 7500, 0, 0},
                                           {"0:07.5", true, false, 7500, 0, 0},
                                           {"0.1", true, true, 0, 0, 1},
                                           {"7.05", false, false, 0, 0, 0},
                                           {"12.0", false, false, 0, 0, 0},
                                           {"7.05s", true, false, 7050, 0, 0},
                                           {"1:75", false, false, 0, 0, 0},
                                           {"9.", false, false, 0, 0, 0},
                                           {"9.1.2", false, false, 0, 0, 0},
                                           {"-3", false, false, 0, 0, 0},
                                           {"1e3", false, false, 0, 0, 0},
                                           {"s", false, false, 0, 0, 0},
                                           {"", false, false, 0, 0, 0}}) {
        SongMoment moment;
        ASSERT_EQ(ParseSongMoment(c.text, moment), c.valid) << c.text;
        if (c.valid) {
            EXPECT_EQ(moment.musical, c.musical) << c.text;
            EXPECT_DOUBLE_EQ(moment.ms, c.ms) << c.text;
            EXPECT_EQ(moment.measure, c.measure) << c.text;
            EXPECT_EQ(moment.beat, c.beat) << c.text;
        }
    }
}

}  // namespace
}  // namespace zorvo
