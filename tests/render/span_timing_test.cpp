#include <gtest/gtest.h>

#include <cmath>

#include "render/Compose.h"
#include "script/Marker.h"
#include "script/SpanTiming.h"

namespace zorvo {
namespace {

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

}  // namespace
}  // namespace zorvo
