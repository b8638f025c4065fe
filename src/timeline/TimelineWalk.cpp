#include "timeline/TimelineWalk.h"

#include <cmath>

#include "common/LogChannel.h"
#include "timeline/Layout.h"

namespace zorvo {

size_t SelectInputIndex(double t, double period, size_t count) {
    if (count == 0) {
        return 0;
    }
    // The tolerance absorbs the rounding of accumulated block starts: 5.9999999 periods are
    // six, or the cut would come one block late.
    const double k = period > 0 ? std::trunc(t / period + 1e-6) : 0;
    const auto index = static_cast<std::uint64_t>(k >= 0 && k < 1e18 ? k : 0);
    return static_cast<size_t>(index % count);
}

std::int64_t CaptureStartMs(const CSInput& input, double position, double blockStart) {
    const double ms = static_cast<double>(std::int64_t{input.videoSyncMs} - input.timelineSyncMs) +
                      position + blockStart;
    // Block starts that add up to 1999.9999999 ms are 2000 ms (as for the song's frame
    // numbers), or the picture would trail its sound by a frame.
    const double whole = std::round(ms);
    return static_cast<std::int64_t>(std::abs(ms - whole) < 1e-6 ? whole : std::trunc(ms));
}

namespace {

bool Walk(const CScript& script, int width, int height, bool postProgress,
          const std::function<WalkStep(const TimelineSpan&)>& visit,
          const std::atomic<bool>* stop) {
    const auto& markers = script.markers;
    if (markers.empty()) {
        return true;
    }
    CarriedValues carried;
    double position = 0;
    const int endMeasure =
        script.rangeEnd != 0 ? script.rangeEnd : static_cast<int>(markers.back()->measure);

    for (size_t mi = 0; mi + 1 < markers.size(); ++mi) {
        const CSMarker& m = *markers[mi];
        const CSMarker& n = *markers[mi + 1];
        if (stop && stop->load()) {
            return true;
        }
        carried.Carry(m);
        if (script.rangeEnd != 0 && m.measure == static_cast<std::uint32_t>(script.rangeEnd)) {
            return true;
        }
        if (postProgress) {
            PostLog(Format("* Building timeline markers %i to %i (end@%i) - %i/%i @ %sbpm\n",
                           static_cast<int>(m.measure), static_cast<int>(n.measure), endMeasure,
                           carried.beatCount, carried.beatUnit, TempoText(carried.tempo).c_str()));
        }
        TimelineSpan span;
        span.marker = &m;
        span.next = &n;
        span.carried = carried;
        span.endMeasure = endMeasure;
        if (!GetLayoutRects(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                            m.layout, span.rects, span.separators)) {
            PostLog("Error (Project): Failed to get layout.\n");
            return false;
        }
        if (m.displays.size() != span.rects.size()) {
            // The media check's line, which names the marker; `plan` comes here without it.
            PostLog(
                Format("Error (Project): Marker %u has %zu display(s) but its layout has %zu "
                       "area(s).\n",
                       m.measure, m.displays.size(), span.rects.size()));
            PostLog(
                "Error (Project): Display list count does not correspound to the layout rectangles "
                "count.\n");
            return false;
        }
        span.timing = SpanTiming::Compute(carried, m.measure, n.measure);
        span.blockLength = BlockLength(span.timing, m.displays, &span.periods);
        span.inputs.resize(m.displays.size());
        for (size_t d = 0; d < m.displays.size(); ++d) {
            if (!script.BuildInputList(m.displays[d].refId, span.inputs[d])) {
                PostLog("Error (Project): Failed to build input list.\n");
                return false;
            }
        }
        span.blocks = SpanBlocks(position, span.timing, span.blockLength);
        const double frames = span.blocks.framesExact;
        // Validation keeps counts far below 2^32; saturate rather than cast out of range.
        const std::uint32_t framesPerBlock = !(frames > 0) ? 0
                                             : frames < 4294967295.0
                                                 ? static_cast<std::uint32_t>(frames)
                                                 : 4294967295u;
        if (postProgress) {
            PostLog(Format("%i block(s) of %ims (%i frames) to compute\n",
                           static_cast<int>(span.blocks.count), static_cast<int>(span.blockLength),
                           static_cast<int>(framesPerBlock)));
        }
        if (span.blocks.count > 0 && framesPerBlock == 0) {
            // Validation refuses such scripts; never render blocks without frames.
            PostLog("Error (Project): Blocks shorter than one frame cannot be rendered.\n");
            return false;
        }
        span.skipped =
            script.rangeStart != 0 && m.measure < static_cast<std::uint32_t>(script.rangeStart);

        switch (visit(span)) {
            case WalkStep::Fail:
                return false;
            case WalkStep::End:
                return true;
            case WalkStep::Next:
                break;
        }
        position += span.timing.span;
        if (n.isLast) {
            return true;
        }
    }
    return true;
}

}  // namespace

bool WalkTimeline(const CScript& script, bool postProgress,
                  const std::function<WalkStep(const TimelineSpan&)>& visit,
                  const std::atomic<bool>* stop) {
    return Walk(script, script.width, script.height, postProgress, visit, stop);
}

bool WalkTimelineAt(const CScript& script, int width, int height,
                    const std::function<WalkStep(const TimelineSpan&)>& visit,
                    const std::atomic<bool>* stop) {
    return Walk(script, width, height, false, visit, stop);
}

bool ForEachBlock(const TimelineSpan& span,
                  const std::function<bool(const TimelineBlock&)>& visit) {
    const CSMarker& m = *span.marker;
    TimelineBlock block;
    block.areas.resize(span.inputs.size());
    double blockStart = 0;
    for (std::uint32_t b = 0; b < span.blocks.count; ++b, blockStart += span.blockLength) {
        block.index = b;
        block.start = blockStart;
        block.firstFrame = span.blocks.BlockFirst(blockStart);
        block.endFrame = span.blocks.BlockEnd(b, blockStart);
        for (size_t d = 0; d < span.inputs.size(); ++d) {
            BlockArea& area = block.areas[d];
            const InputList& inputs = span.inputs[d];
            area.inputIndex = SelectInputIndex(blockStart, span.periods[d], inputs.size());
            area.input = inputs.empty() ? nullptr : inputs[area.inputIndex];
            if (area.input) {
                area.captureStartMs = CaptureStartMs(*area.input, span.blocks.position, blockStart);
                area.speed = m.GetSpeed(area.input->id);
                area.zoom = m.GetResize(area.input->id);
            }
        }
        if (!visit(block)) {
            return false;
        }
    }
    return true;
}

}  // namespace zorvo
