#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "script/Cycles.h"

namespace zorvo {

class CSMarker;

// Tempo, signature and separator size in force while the markers are walked in order.
struct CarriedValues {
    std::int32_t tempo = 0;
    std::int32_t beatCount = 0;
    std::int32_t beatUnit = 0;
    std::int32_t separatorSize = 0;

    void Carry(const CSMarker& marker);
};

// Durations of one span in milliseconds. The integer products wrap as unsigned 32-bit values
// before the division, as the rendering has always computed them.
struct SpanTiming {
    double a = 0;        // beat unit x tempo x 0.25
    double beat = 0;     // one beat
    double measure = 0;  // one measure
    double span = 0;     // from one marker to the next

    static SpanTiming Compute(const CarriedValues& carried, std::uint32_t fromMeasure,
                              std::uint32_t toMeasure);
    // The period of a display cycle; 0 for a cycle without a period of its own.
    double CyclePeriod(DisplayCycle cycle) const;
};

struct CSMDisplay;

// The block length of a span: the span cut by the display entries' periods, in entry order,
// then shortened until the span holds a whole number of blocks. `periods` receives each
// entry's period (an entry without a period of its own takes the block length in force).
// A span of length 0 has blocks of length 0.
double BlockLength(const SpanTiming& timing, const std::vector<CSMDisplay>& displays,
                   std::vector<double>* periods = nullptr);

// Milliseconds from the first marker to the terminal one.
double EstimateTimelineMs(const std::vector<std::unique_ptr<CSMarker>>& markers);

// A duration in milliseconds as 25 fps frames, truncated.
std::int64_t MsToFrames(double ms);

}  // namespace zorvo
