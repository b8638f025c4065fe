#include "script/Marker.h"

#include <algorithm>

#include "common/LogChannel.h"
#include "script/Script.h"

namespace zorvo {

namespace {

// Finds the first statement of a keyword from the start of the body; false when absent.
bool FirstCall(const std::string& body, const char* keyword, std::string& arguments) {
    size_t cursor = 0;
    return CExtract::ExtractCall(body, keyword, cursor, arguments);
}

bool Required(const std::string& arguments, size_t& at, std::string& value, const char* failure) {
    if (!CExtract::NextArgument(arguments, at, value)) {
        PostLog(failure);
        return false;
    }
    return true;
}

}  // namespace

bool CSMarker::Parse(const std::string& body) {
    std::string arguments;
    std::string value;
    size_t at = 0;

    if (FirstCall(body, "tempo", arguments)) {
        at = 0;
        if (!Required(arguments, at, value, "Error (SMarker): Failed to extract tempo.\n")) {
            return false;
        }
        tempo = ToTempo(value);
    }
    if (FirstCall(body, "signature", arguments)) {
        at = 0;
        std::string unit;
        if (!Required(arguments, at, value, "Error (SMarker): Failed to extract beat count.\n") ||
            !Required(arguments, at, unit, "Error (SMarker): Failed to extract beat unit.\n")) {
            return false;
        }
        beatCount = ToInt(value);
        beatUnit = ToInt(unit);
    }
    if (FirstCall(body, "effect", arguments)) {
        at = 0;
        if (!Required(arguments, at, value, "Error (SMarker): Failed to extract effect.\n")) {
            return false;
        }
        const MarkerEffect code = ParseEffect(value);
        if (code == MarkerEffect::Unknown) {
            return false;
        }
        effect = code;
        if (code == MarkerEffect::Strobe) {
            if (!Required(arguments, at, value,
                          "Error (SMarker): Failed to extract strobe effect cycle.\n")) {
                return false;
            }
            const DisplayCycle cycle = ParseDisplayCycle(value);
            if (cycle == DisplayCycle::Unknown) {
                return false;
            }
            strobeCycle = cycle;
        }
    }
    if (FirstCall(body, "separator", arguments)) {
        at = 0;
        if (!Required(arguments, at, value,
                      "Error (SMarker): Failed to extract separator size.\n")) {
            return false;
        }
        separatorSize = ToInt(value);
    }

    size_t cursor = 0;
    while (ExtractCall(body, "display", cursor, arguments)) {
        at = 0;
        std::string id;
        if (!Required(arguments, at, id, "Error (SMarker): Failed to extract display refid.\n")) {
            return false;
        }
        std::string cycleName = "none";
        NextArgument(arguments, at, cycleName, true);
        const DisplayCycle cycle = ParseDisplayCycle(cycleName);
        if (cycle == DisplayCycle::Unknown) {
            return false;
        }
        displays.push_back(CSMDisplay{TrimId(id), cycle});
    }
    cursor = 0;
    while (ExtractCall(body, "resize", cursor, arguments)) {
        at = 0;
        std::string id;
        if (!Required(arguments, at, id, "Error (SMarker): Failed to extract resize refid.\n") ||
            !Required(arguments, at, value, "Error (SMarker): Failed to extract resize size.\n")) {
            return false;
        }
        resizeById[TrimId(id)] = static_cast<std::uint32_t>(ToInt(value));
    }
    cursor = 0;
    while (ExtractCall(body, "speed", cursor, arguments)) {
        at = 0;
        std::string id;
        if (!Required(arguments, at, id, "Error (SMarker): Failed to extract speed refid.\n") ||
            !Required(arguments, at, value, "Error (SMarker): Failed to extract speed value.\n")) {
            return false;
        }
        speedById[TrimId(id)] = ToDouble(value);
    }
    return true;
}

bool CSMarker::Validate() const {
    const char* failure = nullptr;
    if (measure == 1 && tempo == 0) {
        failure =
            "Error (SMarker): Failed to validate script: marker tempo can't be 0 if this is the "
            "marker #1.\n";
    } else if (measure == 1 && (beatCount == 0 || beatUnit == 0)) {
        failure =
            "Error (SMarker): Failed to validate script: time signature can't be 0 if we're on the "
            "marker #1.\n";
    } else if (!isLast && displays.empty()) {
        failure =
            "Error (SMarker): Failed to validate script: display list can only be empty if it's "
            "the last element.\n";
    } else if (isLast && HasContent()) {
        failure =
            "Error (SMarker): Failed to validate script: the content of the last marker element "
            "must be empty.\n";
    } else if (!isLast && layout == LayoutType::None) {
        failure =
            "Error (SMarker): Failed to validate script: layout was 'none' on a non terminal "
            "marker.\n";
    } else if (isLast && layout != LayoutType::None) {
        failure =
            "Error (SMarker): Failed to validate script: layout must be 'none' on a the terminal "
            "marker.\n";
    }
    if (failure) {
        PostLog(failure);
        return false;
    }
    return true;
}

void CSMarker::CollectReferencedIds(std::vector<std::string>& ids) const {
    ids.clear();
    for (const CSMDisplay& display : displays) {
        ids.push_back(display.refId);
    }
    for (const auto& [id, value] : resizeByInput) {
        ids.push_back(id);
    }
    for (const auto& [id, value] : speedByInput) {
        ids.push_back(id);
    }
}

namespace {

template <class Value>
bool ExpandMap(const CScript& script, const std::map<std::string, Value>& byId,
               std::map<std::string, Value>& byInput) {
    for (const auto& [id, value] : byId) {
        InputList list;
        if (!script.BuildInputList(id, list)) {
            PostLog("Error (SMarker): Failed to build input list.\n");
            return false;
        }
        for (const CSInput* input : list) {
            byInput[input->id] = value;
        }
    }
    return true;
}

}  // namespace

bool CSMarker::BuildResizeInputMap() {
    return ExpandMap(script, resizeById, resizeByInput);
}

bool CSMarker::BuildSpeedInputMap() {
    return ExpandMap(script, speedById, speedByInput);
}

std::uint32_t CSMarker::GetResize(const std::string& inputId) const {
    auto it = resizeByInput.find(inputId);
    return it == resizeByInput.end() ? 100u : it->second;
}

double CSMarker::GetSpeed(const std::string& inputId) const {
    auto it = speedByInput.find(inputId);
    return it == speedByInput.end() ? 1.0 : it->second;
}

bool CScript::ParseMarkers(const std::string& text) {
    size_t cursor = 0;
    std::string arguments;
    std::string body;
    // Lines are counted on from one marker to the next: markers are found in text order.
    size_t counted = 0;
    int line = 1;
    size_t lineStart = 0;
    const std::string& lines = StatementTracker::LinesOf(text);
    while (ExtractBlock(text, "marker", cursor, arguments, body)) {
        const size_t statementAt = LastStatementFound();
        std::string place;
        if (statementAt < text.size() && statementAt >= counted) {
            for (; counted < statementAt; ++counted) {
                if (lines[counted] == '\n') {
                    ++line;
                    lineStart = counted + 1;
                }
            }
            place = StatementTracker::Describe(text, statementAt, lineStart, line);
        }
        size_t at = 0;
        std::string measureText;
        if (!NextArgument(arguments, at, measureText)) {
            return false;
        }
        std::string layoutName = "none";
        NextArgument(arguments, at, layoutName, true);
        const LayoutType layout = ParseLayout(layoutName);
        if (layout == LayoutType::Unknown) {
            return false;
        }
        auto marker = std::make_unique<CSMarker>(*this, layout,
                                                 static_cast<std::uint32_t>(ToInt(measureText)));
        marker->statementAt = statementAt;
        marker->place = std::move(place);
        if (!marker->Parse(body)) {
            return false;
        }
        markers.push_back(std::move(marker));
    }
    std::stable_sort(markers.begin(), markers.end(),
                     [](const auto& a, const auto& b) { return a->measure < b->measure; });
    if (!markers.empty()) {
        markers.back()->isLast = true;
    }
    return true;
}

}  // namespace zorvo
