#include "timeline/TimelineModel.h"

#include <algorithm>
#include <cmath>

#include "script/Script.h"
#include "timeline/TimelineWalk.h"

namespace zorvo {

namespace {

// Moments closer than this are one moment: block starts are accumulated doubles.
constexpr double kSameMoment = 1e-6;

}  // namespace

bool TimelineModel::Build(CScript& script) {
    spans.clear();
    inputs.clear();
    overlay = script.overlay.inputId;
    rangeStart = script.rangeStart;
    rangeEnd = script.rangeEnd;
    // The whole song is shown; the walk stops at the range end, so lift it for the walk.
    script.rangeEnd = 0;
    const bool walked = WalkTimeline(script, false, [&](const TimelineSpan& walk) {
        const CSMarker& m = *walk.marker;
        TimelineModelSpan span;
        span.fromMeasure = m.measure;
        span.toMeasure = walk.next->measure;
        span.startMs = walk.blocks.position;
        span.endMs = walk.blocks.position + walk.blocks.span;
        span.firstFrame = walk.blocks.firstFrame;
        span.endFrame = walk.blocks.endFrame;
        span.tempo = walk.carried.tempo;
        span.beatCount = walk.carried.beatCount;
        span.beatUnit = walk.carried.beatUnit;
        span.beatMs = walk.timing.beat;
        span.measureMs = walk.timing.measure;
        span.layout = LayoutName(m.layout);
        span.effect = EffectName(m.effect);
        if (m.effect == MarkerEffect::Strobe) {
            // The composition's rule: a cycle with a period of its own, else the block length.
            const int cycle = static_cast<int>(m.strobeCycle);
            span.strobePeriodMs = cycle >= 2 && cycle <= 8 ? walk.timing.CyclePeriod(m.strobeCycle)
                                                           : walk.blockLength;
        }
        span.separator = walk.carried.separatorSize;
        span.skipped = walk.skipped;
        span.afterRange = rangeEnd != 0 && m.measure >= static_cast<std::uint32_t>(rangeEnd);
        for (const CSMDisplay& display : m.displays) {
            span.areas.push_back(display.refId);
            span.cycles.emplace_back(CycleName(display.cycle));
        }
        ForEachBlock(walk, [&](const TimelineBlock& b) {
            TimelineModelBlock block;
            block.startMs = walk.blocks.position + b.start;
            block.firstFrame = b.firstFrame;
            block.endFrame = b.endFrame;
            for (const BlockArea& area : b.areas) {
                block.inputs.push_back(area.input ? area.input->id : std::string());
                if (area.input &&
                    std::find(inputs.begin(), inputs.end(), area.input->id) == inputs.end()) {
                    inputs.push_back(area.input->id);
                }
            }
            span.blocks.push_back(std::move(block));
            return true;
        });
        spans.push_back(std::move(span));
        return WalkStep::Next;
    });
    script.rangeEnd = rangeEnd;
    durationMs = spans.empty() ? 0 : spans.back().endMs;
    frames = spans.empty() ? 0 : spans.back().endFrame;
    return walked;
}

const TimelineModelSpan* TimelineModel::SpanAt(double ms) const {
    for (const TimelineModelSpan& span : spans) {
        if (ms < span.endMs - kSameMoment) {
            return &span;
        }
    }
    return spans.empty() ? nullptr : &spans.back();
}

MusicalPosition TimelineModel::PositionAt(double ms) const {
    const TimelineModelSpan* span = SpanAt(ms);
    if (!span || !(span->measureMs > 0) || !(span->beatMs > 0)) {
        return {};
    }
    const double into = std::max(0.0, ms - span->startMs);
    const auto measures =
        static_cast<std::int64_t>(std::floor(into / span->measureMs + kSameMoment));
    const double inMeasure = std::max(0.0, into - static_cast<double>(measures) * span->measureMs);
    const auto beat = static_cast<std::int64_t>(std::floor(inMeasure / span->beatMs + kSameMoment));
    return {span->fromMeasure + measures, std::min<std::int64_t>(beat, span->beatCount - 1) + 1};
}

double TimelineModel::MomentOf(std::int64_t measure, double beat) const {
    for (const TimelineModelSpan& span : spans) {
        if (measure >= span.fromMeasure && measure < span.toMeasure) {
            return span.startMs + static_cast<double>(measure - span.fromMeasure) * span.measureMs +
                   (beat - 1) * span.beatMs;
        }
    }
    if (!spans.empty() && measure == spans.back().toMeasure && beat == 1) {
        return durationMs;
    }
    return -1;
}

double TimelineModel::StepBeat(double ms, int direction) const {
    const TimelineModelSpan* span = SpanAt(direction > 0 ? ms : ms - kSameMoment * 2);
    if (!span || !(span->beatMs > 0)) {
        return ms;
    }
    const double into = (ms - span->startMs) / span->beatMs;
    const double beats =
        direction > 0 ? std::floor(into + kSameMoment) + 1 : std::ceil(into - kSameMoment) - 1;
    return std::clamp(span->startMs + beats * span->beatMs, 0.0, durationMs);
}

double TimelineModel::StepMarker(double ms, int direction) const {
    if (direction > 0) {
        for (const TimelineModelSpan& span : spans) {
            if (span.endMs > ms + kSameMoment) {
                return span.endMs;
            }
        }
        return durationMs;
    }
    for (auto span = spans.rbegin(); span != spans.rend(); ++span) {
        if (span->startMs < ms - kSameMoment) {
            return span->startMs;
        }
    }
    return 0;
}

}  // namespace zorvo
