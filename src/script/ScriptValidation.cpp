#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <unordered_set>

#include "common/LogChannel.h"
#include "script/Script.h"
#include "script/SpanTiming.h"

namespace zorvo {

namespace {

// Source frame indices and counts are 32-bit; keep clear of the top.
constexpr double kMaxFrameIndex = 2147483647.0;

void PostTooLarge(const std::string& id) {
    PostLog(
        Format("Error (Script): Failed to build input list: group '%s' stands for too many "
               "inputs (more than %zu, or more than %zu in all groups).\n",
               id.c_str(), CScript::kMaxGroupInputs, CScript::kMaxResolvedInputs));
}

// Says which marker a validation failure is about, and where it is written.
void PostMarkerPlace(const CSMarker& marker) {
    if (!marker.place.empty()) {
        PostContext("Script", Format("marker #%u %s", marker.measure, marker.place.c_str()));
    }
}

}  // namespace

void CScript::ResolveGroups() {
    using R = CSGroup::Resolution;
    // Depth-first without recursion: nesting may be as deep as the script is long.
    struct Frame {
        CSGroup* group;
        size_t next;
    };
    std::vector<Frame> stack;
    size_t total = 0;
    // A failure deep down fails every group being resolved on the way to it.
    auto failAll = [&](R resolution) {
        for (Frame& frame : stack) {
            frame.group->resolution = resolution;
            InputList().swap(frame.group->resolved);
        }
        stack.clear();
    };
    auto append = [&](const InputList& more) {
        InputList& list = stack.back().group->resolved;
        if (list.size() + more.size() > kMaxGroupInputs ||
            total + more.size() > kMaxResolvedInputs) {
            failAll(R::TooLarge);
            return;
        }
        total += more.size();
        list.insert(list.end(), more.begin(), more.end());
    };
    for (auto& [rootId, root] : groups) {
        if (root->resolution != R::Pending) {
            continue;
        }
        root->resolution = R::Resolving;
        stack.push_back({root.get(), 0});
        while (!stack.empty()) {
            CSGroup& group = *stack.back().group;
            if (stack.back().next == group.members.size()) {
                group.resolution = R::Resolved;
                stack.pop_back();
                if (!stack.empty()) {
                    append(group.resolved);
                }
                continue;
            }
            const std::string& member = group.members[stack.back().next++];
            if (auto input = inputs.find(member); input != inputs.end()) {
                append({input->second.get()});
                continue;
            }
            auto found = groups.find(member);
            if (found == groups.end()) {
                failAll(R::Failed);
                break;
            }
            CSGroup& sub = *found->second;
            switch (sub.resolution) {
                case R::Resolved:
                    append(sub.resolved);
                    break;
                case R::Pending:
                    sub.resolution = R::Resolving;
                    stack.push_back({&sub, 0});
                    break;
                case R::TooLarge:
                    failAll(R::TooLarge);
                    break;
                case R::Resolving:  // contains itself
                case R::Failed:
                    failAll(R::Failed);
                    break;
            }
        }
    }
}

CScript::Resolve CScript::Expand(const std::string& id, InputList& list) const {
    using R = CSGroup::Resolution;
    if (auto input = inputs.find(id); input != inputs.end()) {
        list.push_back(input->second.get());
        return Resolve::Ok;
    }
    auto root = groups.find(id);
    if (root == groups.end()) {
        return Resolve::Unknown;
    }
    // Resolved groups are copied whole; only a failing group is walked member by member, to
    // append what comes before the failure and to name the member that fails at each level.
    struct Frame {
        const CSGroup* group;
        size_t next;
    };
    std::vector<Frame> stack{{root->second.get(), 0}};
    std::unordered_set<const CSGroup*> open{root->second.get()};
    auto unknownUpwards = [&](const std::string& innermost) {
        PostLog(Format("Error (Script): Failed to build input list: Unknown ID '%s'.\n",
                       innermost.c_str()));
        for (size_t level = stack.size() - 1; level > 0; --level) {
            PostLog(Format("Error (Script): Failed to build input list: Unknown ID '%s'.\n",
                           stack[level].group->id.c_str()));
        }
        return Resolve::Unknown;
    };
    while (!stack.empty()) {
        Frame& frame = stack.back();
        const CSGroup& group = *frame.group;
        if (group.resolution == R::Resolved) {
            list.insert(list.end(), group.resolved.begin(), group.resolved.end());
            frame.next = group.members.size();
        } else if (group.resolution == R::TooLarge) {
            PostTooLarge(group.id);
            return Resolve::TooLarge;
        }
        if (frame.next == group.members.size()) {
            open.erase(&group);
            stack.pop_back();
            continue;
        }
        const std::string& member = group.members[frame.next++];
        if (auto input = inputs.find(member); input != inputs.end()) {
            list.push_back(input->second.get());
            continue;
        }
        auto found = groups.find(member);
        if (found == groups.end()) {
            return unknownUpwards(member);
        }
        const CSGroup* sub = found->second.get();
        if (open.count(sub) != 0) {
            PostLog(
                Format("Error (Script): Failed to build input list: group '%s' contains "
                       "itself.\n",
                       member.c_str()));
            return Resolve::Cycle;
        }
        open.insert(sub);
        stack.push_back({sub, 0});
    }
    return Resolve::Ok;
}

bool CScript::BuildInputList(const std::string& id, InputList& list) const {
    return Expand(id, list) == Resolve::Ok;
}

bool CScript::Validate() const {
    if (inputs.empty()) {
        PostLog("Error (Script): Failed to validate script: 'input' list is empty.\n");
        return false;
    }
    if (markers.size() < 2) {
        PostLog(
            "Error (Script): Failed to validate script: 'markers' list must have at least two "
            "elements.\n");
        return false;
    }
    if (markers.front()->measure != 1) {
        PostLog(
            "Error (Script): Failed to validate script: first marker must be at measure '1'.\n");
        return false;
    }
    if (songStartMs < 0) {
        PostLog("Error (Script): Failed to validate script: 'song_start' must be 0 ms or later.\n");
        return false;
    }
    for (const auto& [id, group] : groups) {
        if (group->members.empty()) {
            PostLog(
                "Error (SGroup): Failed to validate script: list of input or group ID references "
                "must have at least one element.\n");
            PostLog("Error (Script): Failed to validate script: 'group' validation failed.\n");
            return false;
        }
        InputList scratch;
        const Resolve result = Expand(id, scratch);
        if (result == Resolve::Unknown) {
            PostLog(
                Format("Error (Script): Failed to validate script: 'group' ('%s') contains "
                       "unknown ids.\n",
                       id.c_str()));
            return false;
        }
        if (result == Resolve::TooLarge) {
            PostLog(
                Format("Error (Script): Failed to validate script: 'group' ('%s') stands for "
                       "too many inputs.\n",
                       id.c_str()));
            return false;
        }
        if (result == Resolve::Cycle) {
            PostLog(
                Format("Error (Script): Failed to validate script: 'group' ('%s') contains "
                       "itself.\n",
                       id.c_str()));
            return false;
        }
    }
    std::vector<std::string> ids;
    for (const auto& marker : markers) {
        if (!marker->Validate()) {
            if (marker->isLast && marker->HasContent() && markers.size() >= 2) {
                // Usually the terminal marker was forgotten: one a span as long as the last
                // one later ends the video there.
                const std::uint32_t last = marker->measure;
                const std::uint32_t before = markers[markers.size() - 2]->measure;
                PostLog(
                    Format("Error (SMarker): the last marker must be an empty terminal marker "
                           "such as 'marker( %u ) { }'.\n",
                           last + std::max(last - before, 1u)));
            }
            PostLog("Error (Script): Failed to validate script: 'marker' validation failed.\n");
            PostMarkerPlace(*marker);
            return false;
        }
        marker->CollectReferencedIds(ids);
        for (const std::string& id : ids) {
            InputList scratch;
            if (!BuildInputList(id, scratch)) {
                PostLog(
                    Format("Error (Script): Failed to validate script: 'marker' (#%i) contains "
                           "a reference to unknown id '%s'.\n",
                           static_cast<int>(marker->measure), id.c_str()));
                PostMarkerPlace(*marker);
                return false;
            }
        }
    }
    if (!overlay.Validate()) {
        PostLog("Error (Script): Failed to validate script: 'overlay' validation failed.\n");
        return false;
    }

    // Sizes and timings that would otherwise crash the render or divide by zero.
    if (width < 1 || width > kMaxOutputSize || height < 1 || height > kMaxOutputSize) {
        PostLog(
            "Error (Script): Failed to validate script: 'output' size must be between 1 and 16384 "
            "pixels.\n");
        return false;
    }
    return ValidateMarkerTiming() && ValidateStarts() && ValidateRange();
}

bool CScript::ValidateRange() const {
    if (rangeStart == 0 && rangeEnd == 0) {
        return true;
    }
    // The timeline's own walk: it stops at the marker of the range end and skips the spans
    // that start before the range start.
    for (size_t i = 0; i + 1 < markers.size(); ++i) {
        const std::uint32_t measure = markers[i]->measure;
        if (rangeEnd != 0 && measure == static_cast<std::uint32_t>(rangeEnd)) {
            break;
        }
        const bool skipped = rangeStart != 0 && measure < static_cast<std::uint32_t>(rangeStart);
        if (!skipped && markers[i + 1]->measure > measure) {
            return true;
        }
        if (markers[i + 1]->isLast) {
            break;
        }
    }
    PostLog(
        Format("Error (Script): Failed to validate script: 'range' from measure %i to %i "
               "selects no frame.\n",
               rangeStart, rangeEnd));
    return false;
}

bool CScript::ValidateMarkerTiming() const {
    CarriedValues carried;
    for (size_t i = 0; i + 1 < markers.size(); ++i) {
        const CSMarker* marker = markers[i].get();
        carried.Carry(*marker);
        if (carried.tempo <= 0 || carried.beatCount <= 0 || carried.beatUnit <= 0) {
            PostLog(
                Format("Error (SMarker): Failed to validate script: tempo and time signature "
                       "must be positive on marker #%u.\n",
                       marker->measure));
            PostLog("Error (Script): Failed to validate script: 'marker' validation failed.\n");
            PostMarkerPlace(*marker);
            return false;
        }
        // The timing multiplies in 32 bits; a product that wraps gives a wrong or infinite length.
        constexpr std::uint64_t kU32 = std::numeric_limits<std::uint32_t>::max();
        const std::uint64_t measureUnits = std::uint64_t{60000} * carried.beatCount;
        if (static_cast<double>(carried.beatUnit) * carried.tempo > static_cast<double>(kU32) ||
            measureUnits * (markers[i + 1]->measure - marker->measure) > kU32) {
            PostLog(
                Format("Error (SMarker): Failed to validate script: tempo, time signature and "
                       "length of marker #%u are too large to be timed.\n",
                       marker->measure));
            PostLog("Error (Script): Failed to validate script: 'marker' validation failed.\n");
            PostMarkerPlace(*marker);
            return false;
        }
        const std::int32_t largestSide = std::max(width, height);
        if (carried.separatorSize > largestSide) {
            PostLog(
                Format("Error (SMarker): Failed to validate script: separator size %i on marker "
                       "#%u is larger than the output (%i pixels).\n",
                       carried.separatorSize, marker->measure, largestSide));
            PostLog("Error (Script): Failed to validate script: 'marker' validation failed.\n");
            PostMarkerPlace(*marker);
            return false;
        }
        // Blocks shorter than a frame would have no frame to show.
        const SpanTiming timing =
            SpanTiming::Compute(carried, marker->measure, markers[i + 1]->measure);
        const double block = BlockLength(timing, marker->displays);
        if (timing.span > 0 && !(MsToFrames(block) >= 1)) {
            PostLog(
                Format("Error (SMarker): Failed to validate script: blocks of marker #%u last "
                       "%.3f ms, less than one frame (40 ms).\n",
                       marker->measure, block));
            PostLog("Error (Script): Failed to validate script: 'marker' validation failed.\n");
            PostMarkerPlace(*marker);
            return false;
        }
        // A speed of 0 or below has no source frame to show; source frame counts and the
        // steps between source frames are counted in 32 bits.
        const double blockFrames = block * 25 / 1000 + 1;  // a block may take one frame more
        for (const auto& [id, speed] : marker->speedByInput) {
            if (!(speed > 0) || !std::isfinite(speed)) {
                PostLog(
                    Format("Error (SMarker): Failed to validate script: speed of '%s' must be "
                           "positive on marker #%u.\n",
                           id.c_str(), marker->measure));
                PostLog("Error (Script): Failed to validate script: 'marker' validation failed.\n");
                PostMarkerPlace(*marker);
                return false;
            }
            if (!(speed * blockFrames < kMaxFrameIndex) || !(1 / speed < kMaxFrameIndex)) {
                PostLog(
                    Format("Error (SMarker): Failed to validate script: speed %g of '%s' on marker "
                           "#%u is out of range.\n",
                           speed, id.c_str(), marker->measure));
                PostLog("Error (Script): Failed to validate script: 'marker' validation failed.\n");
                PostMarkerPlace(*marker);
                return false;
            }
        }
    }
    return true;
}

bool CScript::ValidateStarts() const {
    // Segment starts are milliseconds into the video: the sync difference plus the timeline
    // position, which must stay within 32 bits.
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    const double timelineMs = EstimateTimelineMs(markers);
    for (const auto& [id, input] : inputs) {
        const std::int64_t difference =
            std::int64_t{input->videoSyncMs} - std::int64_t{input->timelineSyncMs};
        if (difference > kMax || difference < -kMax - 1 ||
            !(static_cast<double>(difference) + timelineMs <= static_cast<double>(kMax))) {
            PostLog(
                Format("Error (SInput): Failed to validate script: sync of input '%s' puts its "
                       "video outside 32-bit milliseconds.\n",
                       id.c_str()));
            PostLog("Error (Script): Failed to validate script: 'input' validation failed.\n");
            return false;
        }
    }
    return true;
}

}  // namespace zorvo
