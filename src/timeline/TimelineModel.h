#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zorvo {

class CScript;

// One block of a span as the render cuts it: song frames [firstFrame, endFrame) and the input
// id each area shows (empty when the area has none).
struct TimelineModelBlock {
    double startMs = 0;  // from the first marker
    std::int64_t firstFrame = 0;
    std::int64_t endFrame = 0;
    std::vector<std::string> inputs;  // per area
};

// One span between two markers with the values in force over it.
struct TimelineModelSpan {
    std::uint32_t fromMeasure = 0;
    std::uint32_t toMeasure = 0;
    double startMs = 0;
    double endMs = 0;
    std::int64_t firstFrame = 0;
    std::int64_t endFrame = 0;
    double tempo = 0;
    std::int32_t beatCount = 0;
    std::int32_t beatUnit = 0;
    double beatMs = 0;
    double measureMs = 0;
    std::string layout;
    std::string effect;         // "none", "fade_in", "fade_out", "strobe"
    double strobePeriodMs = 0;  // strobe only
    std::int32_t separator = 0;
    bool skipped = false;             // before the range start
    bool afterRange = false;          // at or past the range end: never rendered
    std::vector<std::string> areas;   // the display entries' ids
    std::vector<std::string> cycles;  // and their cycles
    std::vector<TimelineModelBlock> blocks;
};

// Where a moment of the song lies on the musical grid.
struct MusicalPosition {
    std::int64_t measure = 0;
    std::int64_t beat = 1;  // 1-based within the measure
};

// The song as the render walks it, in plain values for drawing and navigating. Built only from
// the render's own walk over spans and blocks, so what is drawn is what is rendered.
struct TimelineModel {
    std::vector<TimelineModelSpan> spans;
    std::vector<std::string> inputs;  // every input some block shows, in order of first use
    std::string overlay;              // the overlay's input id, empty without one
    std::int32_t rangeStart = 0;
    std::int32_t rangeEnd = 0;
    double durationMs = 0;
    std::int64_t frames = 0;

    // Walks the loaded, validated script, past its range end too (those spans are marked, and
    // the range end is restored); false (with the walk's line posted) when the walk fails.
    bool Build(CScript& script);

    // The start of the song's last frame: the song's end itself has no frame.
    double LastFrameMs() const { return frames > 0 ? static_cast<double>(frames - 1) * 40 : 0; }
    // The span that holds `ms`, the last one for moments past the end; null without spans.
    const TimelineModelSpan* SpanAt(double ms) const;
    MusicalPosition PositionAt(double ms) const;
    // The moment of the first beat of `measure` (1-based) plus `beat` - 1 beats; -1 when the
    // measure lies outside the timeline.
    double MomentOf(std::int64_t measure, double beat) const;
    // The nearest beat or marker strictly after (`direction` > 0) or before `ms`, clamped to the
    // song's ends.
    double StepBeat(double ms, int direction) const;
    double StepMarker(double ms, int direction) const;
};

}  // namespace zorvo
