#include <gtest/gtest.h>

#include <cmath>

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

TEST(SpanTiming, DurationsAndCyclePeriods) {
    const SpanTiming common = Timing(120, 4, 4, 8);
    EXPECT_DOUBLE_EQ(common.beat, 500);
    EXPECT_DOUBLE_EQ(common.measure, 2000);
    EXPECT_DOUBLE_EQ(common.span, 16000);
    EXPECT_DOUBLE_EQ(common.CyclePeriod(DisplayCycle::Every3Beats), 1500);

    const SpanTiming sixEight = Timing(120, 6, 8, 1);
    struct Case {
        DisplayCycle cycle;
        double ms;
    };
    for (const Case& c : std::vector<Case>{{DisplayCycle::EachBeat, 250},
                                           {DisplayCycle::EachMeasure, 1500},
                                           {DisplayCycle::Every2Beats, 500},
                                           {DisplayCycle::Every3Beats, 750},
                                           {DisplayCycle::EveryHalfBeat, 125},
                                           {DisplayCycle::EveryQuarterBeat, 62.5},
                                           {DisplayCycle::EveryEighthBeat, 31.25},
                                           {DisplayCycle::None, 0}}) {
        EXPECT_DOUBLE_EQ(sixEight.CyclePeriod(c.cycle), c.ms) << static_cast<int>(c.cycle);
    }
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
