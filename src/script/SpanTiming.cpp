#include "script/SpanTiming.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "script/Marker.h"

namespace zorvo {

void CarriedValues::Carry(const CSMarker& marker) {
    if (marker.tempo != 0) {
        tempo = marker.tempo;
    }
    if (marker.beatCount != 0) {
        beatCount = marker.beatCount;
        beatUnit = marker.beatUnit;
    }
    if (marker.separatorSize != -1) {
        separatorSize = marker.separatorSize;
    }
}

SpanTiming SpanTiming::Compute(const CarriedValues& carried, std::uint32_t fromMeasure,
                               std::uint32_t toMeasure) {
    const auto unit = static_cast<std::uint32_t>(carried.beatUnit);
    const auto count = static_cast<std::uint32_t>(carried.beatCount);
    SpanTiming t;
    // Exact for whole tempos whose product with the unit fits 32 bits, as validation demands.
    t.a = static_cast<double>(unit) * carried.tempo * 0.25;
    t.beat = 60000.0 / t.a;
    t.measure = static_cast<double>(count * 60000u) / t.a;
    t.span = static_cast<double>((toMeasure - fromMeasure) * count * 60000u) / t.a;
    return t;
}

double SpanTiming::CyclePeriod(DisplayCycle cycle) const {
    switch (cycle) {
        case DisplayCycle::EachMeasure:
            return measure;
        case DisplayCycle::EachBeat:
            return 60000.0 / a;
        case DisplayCycle::Every2Beats:
            return 120000.0 / a;
        case DisplayCycle::Every3Beats:
            return 180000.0 / a;
        case DisplayCycle::EveryHalfBeat:
            return 60000.0 / (a * 2);
        case DisplayCycle::EveryQuarterBeat:
            return 60000.0 / (a * 4);
        case DisplayCycle::EveryEighthBeat:
            return 60000.0 / (a * 8);
        default:
            return 0;
    }
}

double BlockLength(const SpanTiming& timing, const std::vector<CSMDisplay>& displays,
                   std::vector<double>* periods) {
    double length = timing.span;
    if (periods) {
        periods->clear();
    }
    for (const CSMDisplay& display : displays) {
        double period = timing.CyclePeriod(display.cycle);
        if (period == 0) {
            period = length;
        }
        if (period < length) {
            length = period;
        }
        if (length > 0) {
            double rest = timing.span - std::trunc(timing.span / length) * length;
            while (rest >= 1e-7) {
                if (rest >= length) {
                    break;  // rounding left a full block over; shortening cannot converge
                }
                length = rest;
                rest = timing.span - std::trunc(timing.span / length) * length;
            }
        }
        if (periods) {
            periods->push_back(period);
        }
    }
    return length;
}

double EstimateTimelineMs(const std::vector<std::unique_ptr<CSMarker>>& markers) {
    CarriedValues carried;
    double total = 0;
    for (size_t i = 0; i + 1 < markers.size(); ++i) {
        carried.Carry(*markers[i]);
        total += SpanTiming::Compute(carried, markers[i]->measure, markers[i + 1]->measure).span;
        if (markers[i + 1]->isLast) {
            break;
        }
    }
    return total;
}

std::string TempoText(double tempo) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, tempo, std::chars_format::fixed, 3);
    std::string s(text, end.ptr);
    s.erase(s.find_last_not_of('0') + 1);
    if (!s.empty() && s.back() == '.') {
        s.pop_back();
    }
    return s;
}

std::int64_t MsToFrames(double ms) {
    const double frames = std::trunc(ms * 25 / 1000);
    if (!std::isfinite(frames) || frames > static_cast<double>(INT64_MAX) ||
        frames < static_cast<double>(INT64_MIN)) {
        return 0;
    }
    return static_cast<std::int64_t>(frames);
}

std::int64_t SongFrame(double ms) {
    const double frame = std::floor(ms * 25 / 1000 + 1e-6);
    if (!std::isfinite(frame) || frame > static_cast<double>(INT64_MAX) ||
        frame < static_cast<double>(INT64_MIN)) {
        return 0;
    }
    return static_cast<std::int64_t>(frame);
}

SpanBlocks::SpanBlocks(double position_, const SpanTiming& timing, double blockLength)
    : position(position_), span(timing.span), length(blockLength) {
    framesExact = blockLength * 25 / 1000;
    // A span of length 0 (two markers on one measure) has no block at all.
    const double blocks =
        timing.span > 0 && blockLength > 0 ? std::trunc(timing.span / blockLength) : 0;
    count = blocks > 0 && blocks < 4e9 ? static_cast<std::uint32_t>(blocks) : 0;
    firstFrame = SongFrame(position);
    endFrame = std::max(firstFrame, SongFrame(position + span));
}

std::int64_t SpanBlocks::BlockFirst(double blockStart) const {
    return std::clamp(SongFrame(position + blockStart), firstFrame, endFrame);
}

std::int64_t SpanBlocks::BlockEnd(std::uint32_t b, double blockStart) const {
    if (b + 1 >= count) {
        return endFrame;
    }
    return std::max(BlockFirst(blockStart), BlockFirst(blockStart + length));
}

SourcePicture SourcePictureFor(std::uint32_t j, double speed) {
    const double inverse = 1 / speed;
    SourcePicture picture;
    const double index = std::trunc(j / inverse);
    picture.index = index > 0 && index < 4e9 ? static_cast<std::uint32_t>(index) : 0;
    const double step = std::trunc(inverse);
    picture.step = step > 0 && step < 4e9 ? static_cast<std::uint32_t>(step) : 0;
    picture.blend = picture.step != 0 && std::uint64_t{picture.step} * picture.index != j;
    return picture;
}

std::uint32_t CaptureFrameCount(std::uint32_t frames, double speed) {
    std::uint32_t count = 1;
    for (std::uint32_t j = 0; j < frames; ++j) {
        const SourcePicture picture = SourcePictureFor(j, speed);
        const std::uint64_t needed = std::uint64_t{picture.index} + (picture.blend ? 2 : 1);
        count = static_cast<std::uint32_t>(
            std::max<std::uint64_t>(count, std::min<std::uint64_t>(needed, UINT32_MAX)));
    }
    return count;
}

}  // namespace zorvo
