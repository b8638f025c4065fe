#include "capture/ImageAdjustments.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "common/LogCollector.h"

namespace zorvo {
namespace {

struct Colour {
    double cr = 0.0, mg = 0.0, yb = 0.0, brightness = 0.0, contrast = 0.0, saturation = 1.0;
};

AdjustmentSettings SettingsOf(const Colour& c) {
    AdjustmentSettings settings;
    settings.colorBalanceCR = c.cr;
    settings.colorBalanceMG = c.mg;
    settings.colorBalanceYB = c.yb;
    settings.brightness = c.brightness;
    settings.contrast = c.contrast;
    settings.saturation = c.saturation;
    return settings;
}

BgrPixel LutEntry(const AdjustmentSettings& settings, int red, int green, int blue) {
    return LookUp(settings, static_cast<std::uint8_t>(blue), static_cast<std::uint8_t>(green),
                  static_cast<std::uint8_t>(red));
}

// The pixel rule evaluated straight from its formulas, one component at a time, with no
// tables: the oracle for both the tables and the lookup table.
int Bound(double v, int lower, int upper) {
    if (v > upper) {
        return upper;
    }
    if (v < lower) {
        return lower;
    }
    return static_cast<int>(v);
}

int DirectComponent(int level, double balance, const Colour& c) {
    int v = Bound(level + 127.0 * std::sin(level * 0.012319971190548208) * balance, 0, 255);
    v = Bound(v + (255 - v) * c.brightness, 0, 255);
    const int upper = v >= 128 ? v : 255 - v;
    const double distance = 127.0 * std::sin((upper - 128) * 0.012368475014133044) + 128 - upper;
    const double curve = v >= 128 ? distance : -distance;
    return v < 128 ? Bound(v + c.contrast * curve, 0, 127)
                   : Bound(v + c.contrast * curve, 127, 255);
}

BgrPixel DirectPixel(const Colour& c, int red, int green, int blue) {
    const int r = DirectComponent(red, c.cr, c);
    const int g = DirectComponent(green, c.mg, c);
    const int b = DirectComponent(blue, c.yb, c);
    const int grey = (r + g + b) / 3;
    auto saturate = [&](int a) {
        return static_cast<std::uint8_t>(
            Bound(grey + std::trunc((a - grey) * c.saturation), 0, 255));
    };
    return {saturate(b), saturate(g), saturate(r)};
}

// One adjustment applied to grey pixels of each level: only the named components change.
struct LevelCase {
    std::string name;
    Colour colour;
    std::string acts;  // components the adjustment acts on, of "rgb"
    std::vector<int> levels;
    std::vector<int> expected;
};

// Grey levels through one adjustment, by the tables and by the lookup table.
TEST(AdjustmentTablesTest, PerComponentAdjustmentsMapLevels) {
    const std::vector<int> contrastLevels = {0, 32, 64, 100, 127, 128, 160, 191, 224, 255};
    const std::vector<int> balance = {0, 64, 128, 192, 255};
    const std::vector<LevelCase> cases = {
        {"balance red +1", {.cr = 1}, "r", balance, {0, 154, 254, 255, 255}},
        {"balance blue -1", {.yb = -1}, "b", balance, {0, 0, 1, 103, 254}},
        {"brightness -1", {.brightness = -1}, "rgb", {127, 128, 200}, {0, 1, 145}},
        {"contrast 1",
         {.contrast = 1},
         "rgb",
         contrastLevels,
         {0, 9, 37, 85, 127, 128, 176, 217, 245, 255}},
        {"contrast -2",
         {.contrast = -2},
         "rgb",
         contrastLevels,
         {0, 76, 116, 127, 127, 128, 127, 138, 180, 255}},
    };
    for (const LevelCase& c : cases) {
        SCOPED_TRACE(c.name);
        AdjustmentSettings settings = SettingsOf(c.colour);
        const AdjustmentTables tables(settings);
        ASSERT_TRUE(BuildLut(settings));
        for (std::size_t k = 0; k < c.levels.size(); ++k) {
            const auto level = static_cast<std::uint8_t>(c.levels[k]);
            auto in = [&](char component) {
                return static_cast<std::uint8_t>(
                    c.acts.find(component) != std::string::npos ? c.expected[k] : level);
            };
            const BgrPixel want{in('b'), in('g'), in('r')};
            EXPECT_EQ(tables.Apply(level, level, level), want) << "level " << c.levels[k];
            EXPECT_EQ(LutEntry(settings, level, level, level), want) << "level " << c.levels[k];
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
        AdjustmentSettings settings = SettingsOf({.saturation = c.saturation});
        const AdjustmentTables tables(settings);
        ASSERT_TRUE(BuildLut(settings));
        EXPECT_EQ(tables.Apply(c.in.blue, c.in.green, c.in.red), c.out)
            << "saturation " << c.saturation;
        EXPECT_EQ(LutEntry(settings, c.in.red, c.in.green, c.in.blue), c.out)
            << "saturation " << c.saturation;
    }
}

TEST(BuildLutTest, MatchesTheDirectRuleAndTheTables) {
    const std::vector<Colour> colours = {
        {.cr = 0.3, .mg = -0.7, .yb = 1.0, .brightness = 0.2, .contrast = 1.5, .saturation = 1.7},
        {.brightness = -0.4, .contrast = -1.2, .saturation = 0.3},
        {.cr = -1.0, .mg = 1.0, .yb = -0.25, .saturation = 0.0},
        // saturation 1 with the other adjustments: components stay apart
        {.cr = 0.5, .yb = -0.5, .brightness = 0.1, .contrast = 2.0, .saturation = 1.0},
        // values only a hand-written script produces
        {.cr = 2.5, .mg = -3.0, .yb = 7.0, .brightness = -2.0, .contrast = 5.0, .saturation = -1.5},
        {.brightness = 1e300, .contrast = -1e300, .saturation = 1e300},
    };
    std::vector<int> levels;
    for (int v = 0; v < 256; v += 7) {
        levels.push_back(v);
    }
    for (int v : {127, 128, 254, 255}) {
        levels.push_back(v);
    }
    std::mt19937 random(1234);
    std::uniform_int_distribution<int> byte(0, 255);

    for (const Colour& c : colours) {
        SCOPED_TRACE(::testing::Message() << "cr " << c.cr << " mg " << c.mg << " yb " << c.yb
                                          << " brightness " << c.brightness << " contrast "
                                          << c.contrast << " saturation " << c.saturation);
        AdjustmentSettings settings = SettingsOf(c);
        ASSERT_TRUE(BuildLut(settings));
        const AdjustmentTables tables(settings);
        std::size_t wrong = 0;
        auto check = [&](int r, int g, int b) {
            const BgrPixel direct = DirectPixel(c, r, g, b);
            const bool same =
                LutEntry(settings, r, g, b) == direct &&
                tables.Apply(static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(g),
                             static_cast<std::uint8_t>(r)) == direct;
            if (!same && ++wrong <= 5) {
                ADD_FAILURE() << "pixel r " << r << " g " << g << " b " << b;
            }
        };
        for (int r : levels) {
            for (int g : levels) {
                for (int b : levels) {
                    check(r, g, b);
                }
            }
        }
        for (int k = 0; k < 100000; ++k) {
            check(byte(random), byte(random), byte(random));
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

}  // namespace
}  // namespace zorvo
