#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "common/Rect.h"
#include "script/Script.h"
#include "script/SpanTiming.h"

namespace zorvo {

// One span of the timeline as the render follows it: from `marker` to `next`, with the
// layout's rectangles, each display entry's inputs and period, and the span's blocks.
struct TimelineSpan {
    const CSMarker* marker = nullptr;
    const CSMarker* next = nullptr;
    CarriedValues carried;  // after carrying `marker`
    int endMeasure = 0;     // the range end, or the last marker's measure
    SpanTiming timing;
    double blockLength = 0;
    std::vector<double> periods;  // per display entry
    std::vector<Rect> rects;      // per display entry
    std::vector<Rect> separators;
    std::vector<InputList> inputs;  // per display entry
    SpanBlocks blocks{0, SpanTiming{}, 0};
    bool skipped = false;  // before the range start: counted, never composed
};

// What one area shows in one block.
struct BlockArea {
    size_t inputIndex = 0;
    CSInput* input = nullptr;
    std::int64_t captureStartMs = 0;  // where the block's capture starts in the input's file
    double speed = 1.0;
    std::uint32_t zoom = 100;
};

// One block of a span.
struct TimelineBlock {
    std::uint32_t index = 0;
    double start = 0;  // ms into the span, accumulated as the render does
    std::int64_t firstFrame = 0;
    std::int64_t endFrame = 0;
    std::vector<BlockArea> areas;  // per display entry
};

// The input an area with cycle period `period` shows in the block that starts t ms into the
// span, as an index into its `count` inputs.
size_t SelectInputIndex(double t, double period, size_t count);

// The millisecond of the input's file at which a block starting `blockStart` ms into a span
// at `position` ms of the song begins.
std::int64_t CaptureStartMs(const CSInput& input, double position, double blockStart);

enum class WalkStep { Next, End, Fail };

// Walks the spans of a loaded and validated script in the render's order and arithmetic,
// calling `visit` for each; ends after the terminal marker, at the range end, when `stop` is
// set at a marker, or when `visit` says End. With `postProgress` the render's per-span lines
// are posted. False after a failure, whose line has been posted (or when `visit` says Fail).
bool WalkTimeline(const CScript& script, bool postProgress,
                  const std::function<WalkStep(const TimelineSpan&)>& visit,
                  const std::atomic<bool>* stop = nullptr);
// The same walk, silent, for an output of width x height: the layouts' rectangles are those of
// that size (a preview).
bool WalkTimelineAt(const CScript& script, int width, int height,
                    const std::function<WalkStep(const TimelineSpan&)>& visit,
                    const std::atomic<bool>* stop = nullptr);

// Calls `visit` for each block of the span in order until it returns false; false then.
bool ForEachBlock(const TimelineSpan& span, const std::function<bool(const TimelineBlock&)>& visit);

}  // namespace zorvo
