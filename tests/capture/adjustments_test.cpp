// What an input's adjustment statements do to its pictures: the colour tables and the lookup
// table they fold into, and the temporal noise reduction.
#include "capture/ImageAdjustments.h"
#include "capture/NoiseReduction.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace zorvo {
namespace {

struct Colour {
    double cr = 0.0, mg = 0.0, yb = 0.0, brightness = 0.0, contrast = 0.0, saturation = 1.0;
};

std::ostream& operator<<(std::ostream& out, const Colour& c) {
    return out << "cr " << c.cr << " mg " << c.mg << " yb " << c.yb << " brightness "
               << c.brightness << " contrast " << c.contrast << " saturation " << c.saturation;
}

void SetColour(AdjustmentSettings& settings, const Colour& c) {
    settings.colorBalanceCR = c.cr;
    settings.colorBalanceMG = c.mg;
    settings.colorBalanceYB = c.yb;
    settings.brightness = c.brightness;
    settings.contrast = c.contrast;
    settings.saturation = c.saturation;
}

// Grey levels through the tables: only the components the adjustments act on change.
TEST(AdjustmentTablesTest, PerComponentAdjustmentsMapLevels) {
    struct Case {
        Colour colour;
        std::string acts;  // of "rgb"
        std::vector<int> levels;
        std::vector<int> expected;
    };
    const std::vector<int> contrastLevels = {0, 32, 64, 100, 127, 128, 160, 191, 224, 255};
    const std::vector<int> balance = {0, 64, 128, 192, 255};
    const std::vector<Case> cases = {
        {{.cr = 1}, "r", balance, {0, 154, 254, 255, 255}},
        {{.yb = -1}, "b", balance, {0, 0, 1, 103, 254}},
        {{.brightness = -1}, "rgb", {127, 128, 200}, {0, 1, 145}},
        {{.contrast = 1}, "rgb", contrastLevels, {0, 9, 37, 85, 127, 128, 176, 217, 245, 255}},
        {{.contrast = -2}, "rgb", contrastLevels, {0, 76, 116, 127, 127, 128, 127, 138, 180, 255}},
        // Balance, then brightness, then contrast.
        {{.cr = 0.5, .mg = 0.5, .yb = 0.5, .brightness = -0.25, .contrast = 1.5},
         "rgb",
         {0, 40, 100, 160, 220, 255},
         {0, 0, 140, 247, 255, 255}},
        {{.brightness = 1e300}, "rgb", {0, 255}, {255, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.colour);
        AdjustmentSettings settings;
        SetColour(settings, c.colour);
        const AdjustmentTables tables(settings);
        for (std::size_t k = 0; k < c.levels.size(); ++k) {
            const auto level = static_cast<std::uint8_t>(c.levels[k]);
            auto in = [&](char component) {
                return static_cast<std::uint8_t>(
                    c.acts.find(component) != std::string::npos ? c.expected[k] : level);
            };
            const BgrPixel want{in('b'), in('g'), in('r')};
            EXPECT_EQ(tables.Apply(level, level, level), want) << "level " << c.levels[k];
        }
    }
}

TEST(AdjustmentTablesTest, SaturationActsAroundTheGreyOfThePixel) {
    struct Case {
        double saturation;
        BgrPixel in, out;
    };
    const std::vector<Case> cases = {
        // grey (99 + 0 + 201) / 3 = 100; -0.5 truncates to 0, not -1
        {0.5, {99, 0, 201}, {100, 50, 150}},     {0.0, {10, 200, 61}, {90, 90, 90}},
        {0.0, {255, 255, 254}, {254, 254, 254}}, {2.0, {10, 90, 200}, {0, 80, 255}},
        {1.0, {3, 250, 77}, {3, 250, 77}},
    };
    for (const Case& c : cases) {
        const AdjustmentTables tables(0, 0, 0, 0, 0, c.saturation);
        EXPECT_EQ(tables.Apply(c.in.blue, c.in.green, c.in.red), c.out)
            << "saturation " << c.saturation;
    }
}

// The tables' arithmetic is pinned above; the lookup table must give every colour the pixel
// the tables give it, whichever kind of table the settings need.
TEST(BuildLutTest, AgreesWithTheTablesForEveryKindOfTable) {
    const std::vector<Colour> colours = {
        {.cr = 0.3, .mg = -0.7, .yb = 1.0, .brightness = 0.2, .contrast = 1.5, .saturation = 1.7},
        {.brightness = -0.4, .contrast = -1.2, .saturation = 0.3},
        {.cr = -1.0, .mg = 1.0, .yb = -0.25, .saturation = 0.0},
        // saturation 1 with the other adjustments: components stay apart
        {.cr = 0.5, .yb = -0.5, .brightness = 0.1, .contrast = 2.0, .saturation = 1.0},
        {},
        // values only a hand-written script produces
        {.cr = 2.5, .mg = -3.0, .yb = 7.0, .brightness = -2.0, .contrast = 5.0, .saturation = -1.5},
    };
    std::mt19937 random(1234);
    std::uniform_int_distribution<int> byte(0, 255);
    AdjustmentSettings settings;  // one table, rebuilt in place for each colour
    for (const Colour& c : colours) {
        SCOPED_TRACE(::testing::Message() << c);
        SetColour(settings, c);
        ASSERT_TRUE(BuildLut(settings));
        const AdjustmentTables tables(settings);
        std::size_t wrong = 0;
        for (int k = 0; k < 200000; ++k) {
            // Every eighth pixel from the corners of the cube.
            const auto component = [&](int corner) {
                return static_cast<std::uint8_t>(k % 8 ? byte(random) : 255 * (k / corner % 2));
            };
            const std::uint8_t r = component(8), g = component(16), b = component(32);
            if (LookUp(settings, b, g, r) != tables.Apply(b, g, r) && ++wrong <= 5) {
                ADD_FAILURE() << "pixel r " << +r << " g " << +g << " b " << +b;
            }
        }
        EXPECT_EQ(wrong, 0u);
    }
}

TEST(BuildLutTest, NotANumberGivesTheLowerBoundInsteadOfGarbage) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const AdjustmentTables brightness(0, 0, 0, nan, 0, 1.0);
    const AdjustmentTables saturation(0, 0, 0, 0, 0, nan);
    const AdjustmentTables contrast(0, 0, 0, 0, nan, 1.0);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(brightness.brightnessTable[i], 0) << i;
        EXPECT_EQ(saturation.saturationTable[i][i / 2], 0) << i;
        EXPECT_EQ(contrast.contrastTable[i], i < 128 ? 0 : 127) << i;
    }
}

// Each step filters a plain picture of one value and expects a plain result.
TEST(NoiseReductionTest, FreezesDampsOrPassesEachChange) {
    struct Step {
        int level, width, height, value, out;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    // Level 20: changes of 51 and more pass, 26 to 50 are damped to (old + 2 x new) / 3, smaller
    // ones are frozen.
    const std::vector<Case> cases = {
        {"around the threshold",
         {{20, 37, 23, 200, 200},
          {20, 37, 23, 149, 149},
          {20, 37, 23, 124, 149},
          {20, 37, 23, 123, 131},
          {20, 37, 23, 181, 164}}},
        // 2 x 3 has the byte count of 3 x 2: carried over, 190 would stay frozen at 200.
        {"a new size starts from black",
         {{20, 2, 3, 200, 200}, {20, 3, 2, 190, 190}, {20, 3, 2, 150, 163}, {20, 1, 1, 30, 20}}},
        {"level 0 copies and keeps the running picture",
         {{20, 4, 4, 100, 100}, {0, 4, 4, 90, 90}, {20, 4, 4, 90, 100}}},
        // At 100 a change must be 255 to pass; no more, or dark parts would stay black for good.
        {"levels above 100 act as 100", {{500, 5, 1, 254, 169}, {500, 5, 1, 0, 56}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NoiseReduction filter;
        for (const Step& step : c.steps) {
            const std::size_t bytes = static_cast<std::size_t>(step.width) * step.height * 3;
            const std::vector<std::uint8_t> picture(bytes, static_cast<std::uint8_t>(step.value));
            std::vector<std::uint8_t> out(bytes, 0);
            ASSERT_TRUE(
                filter.Apply(step.level, picture.data(), out.data(), step.width, step.height));
            EXPECT_EQ(out, std::vector<std::uint8_t>(bytes, static_cast<std::uint8_t>(step.out)))
                << "value " << step.value << " at level " << step.level;
        }
    }
}

}  // namespace
}  // namespace zorvo
