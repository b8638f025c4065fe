#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "script/Cycles.h"

namespace zorvo {

class CSMarker;

// Tempo, signature and separator size in force while the markers are walked in order.
struct CarriedValues {
    double tempo = 0;
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

// Milliseconds from the first marker to the terminal one, summed span by span in the order the
// render adds them, so SongFrame of it is the render's frame count.
double EstimateTimelineMs(const std::vector<std::unique_ptr<CSMarker>>& markers);

// A tempo as scripts write it: whole tempos as before ("120"), others with up to three
// decimals ("119.6").
std::string TempoText(double tempo);

// A duration in milliseconds as 25 fps frames, truncated.
std::int64_t MsToFrames(double ms);

// The output frame in which a moment of the song lies: frame k covers [40k, 40k + 40) ms from
// the first marker. The tolerance absorbs the rounding of accumulated doubles. Frames are
// counted on this grid rather than per block so that picture and sound never drift apart.
std::int64_t SongFrame(double ms);

// The blocks of one span on the song's frame grid. Block b starts at the song frame of
// (span start + block start), the block start accumulated by adding the block length; the
// last block ends where the next span starts.
struct SpanBlocks {
    double position = 0;          // span start, ms from the first marker
    double span = 0;              // span length, ms
    double length = 0;            // block length L, ms
    double framesExact = 0;       // L as frames (Fd)
    std::uint32_t count = 0;      // blocks in the span
    std::int64_t firstFrame = 0;  // song frame of the span's start
    std::int64_t endFrame = 0;    // song frame of the next span's start

    SpanBlocks(double position, const SpanTiming& timing, double blockLength);
    // Frames of the whole span (N).
    std::int64_t Frames() const { return endFrame - firstFrame; }
    // Song frames [first, end) of block b, whose start is `blockStart` ms into the span.
    std::int64_t BlockFirst(double blockStart) const;
    std::int64_t BlockEnd(std::uint32_t b, double blockStart) const;
};

// Which source picture output frame j of a block shows at `speed`: index = trunc(j x speed)
// counted in the block's capture; `step` = trunc(1 / speed); slow inputs mix the picture with
// the next one on frames that fall between two source pictures.
struct SourcePicture {
    std::uint32_t index = 0;
    std::uint32_t step = 0;
    bool blend = false;
};
SourcePicture SourcePictureFor(std::uint32_t j, double speed);

// The source pictures a block of `frames` output frames reads at `speed`: the highest index
// that any frame shows or mixes in, plus one.
std::uint32_t CaptureFrameCount(std::uint32_t frames, double speed);

}  // namespace zorvo
