#include <algorithm>
#include <cmath>

#include "common/LogChannel.h"
#include "script/SpanTiming.h"
#include "script/Script.h"

namespace zorvo {

CScript::Resolve CScript::Expand(const std::string& id, InputList& list,
                                 std::vector<const std::string*>& open) const {
    if (auto input = inputs.find(id); input != inputs.end()) {
        list.push_back(input->second.get());
        return Resolve::Ok;
    }
    auto group = groups.find(id);
    if (group == groups.end()) {
        return Resolve::Unknown;
    }
    // A group met again while it is being expanded has no finite input list.
    if (std::any_of(open.begin(), open.end(), [&](const std::string* g) { return *g == id; })) {
        PostLog(Format("Error (Script): Failed to build input list: group '%s' contains itself.\n",
                       id.c_str()));
        return Resolve::Cycle;
    }
    open.push_back(&group->second->id);
    for (const std::string& member : group->second->members) {
        const Resolve result = Expand(member, list, open);
        if (result == Resolve::Cycle) {
            open.pop_back();
            return Resolve::Cycle;
        }
        if (result == Resolve::Unknown) {
            PostLog(Format("Error (Script): Failed to build input list: Unknown ID '%s'.\n",
                           member.c_str()));
            open.pop_back();
            return Resolve::Unknown;
        }
    }
    open.pop_back();
    return Resolve::Ok;
}

bool CScript::BuildInputList(const std::string& id, InputList& list) const {
    std::vector<const std::string*> open;
    return Expand(id, list, open) == Resolve::Ok;
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
    for (const auto& [id, group] : groups) {
        if (group->members.empty()) {
            PostLog(
                "Error (SGroup): Failed to validate script: list of input or group ID references "
                "must have at least one element.\n");
            PostLog("Error (Script): Failed to validate script: 'group' validation failed.\n");
            return false;
        }
        InputList scratch;
        std::vector<const std::string*> open;
        const Resolve result = Expand(id, scratch, open);
        if (result == Resolve::Unknown) {
            PostLog(
                Format("Error (Script): Failed to validate script: 'group' ('%s') contains "
                       "unknown ids.\n",
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
            PostLog("Error (Script): Failed to validate script: 'marker' validation failed.\n");
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
    return ValidateMarkerTiming();
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
            return false;
        }
        // A speed of 0 or below has no source frame to show.
        for (const auto& [id, speed] : marker->speedByInput) {
            if (!(speed > 0) || !std::isfinite(speed)) {
                PostLog(
                    Format("Error (SMarker): Failed to validate script: speed of '%s' must be "
                           "positive on marker #%u.\n",
                           id.c_str(), marker->measure));
                PostLog("Error (Script): Failed to validate script: 'marker' validation failed.\n");
                return false;
            }
        }
    }
    return true;
}

}  // namespace zorvo
