#include "sync/TempoRewrite.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "common/LogChannel.h"
#include "common/LogCollector.h"
#include "script/Script.h"
#include "script/SpanTiming.h"
#include "sync/ScriptRewrite.h"

namespace zorvo {

namespace {

constexpr double kFrameMs = 40;

struct Replacement {
    size_t start;
    size_t length;
    std::string text;
};

// Where the first argument of the call `keyword( … )` in visible[from, to) stands, when it is
// a plain number (sign, digits, a decimal part): nothing else is rewritten.
bool NumberArgument(const std::string& visible, size_t from, size_t to, std::string_view keyword,
                    size_t& start, size_t& length) {
    const std::string part = visible.substr(from, to - from);
    const size_t at = CExtract::FindKeyword(part, keyword, 0);
    const size_t open = at == std::string::npos ? at : part.find('(', at + keyword.size());
    const size_t close = open == std::string::npos ? open : part.find(')', open + 1);
    if (close == std::string::npos) {
        return false;
    }
    const size_t first = part.find_first_not_of(CExtract::kArgumentSeparators, open + 1);
    if (first == std::string::npos || first >= close) {
        return false;
    }
    const size_t end = std::min(part.find_first_of(" ,\t\r\n", first), close);
    const std::string token = part.substr(first, end - first);
    const size_t sign = !token.empty() && (token[0] == '+' || token[0] == '-') ? 1 : 0;
    if (token.find_first_of("0123456789", sign) == std::string::npos ||
        token.find_first_not_of("0123456789.", sign) != std::string::npos ||
        std::count(token.begin(), token.end(), '.') > 1) {
        return false;
    }
    start = from + first;
    length = end - first;
    return true;
}

// Reading the rewritten text finds the same script but for the edited values.
bool ReadsAsEdited(const CScript& before, const std::string& after,
                   const std::map<size_t, double>& tempos, std::int64_t songStartMs) {
    LogCollector quiet(LogCollector::Scope::ThisThread);
    CScript script(before.scriptPath);
    if (!script.LoadText(after) || !script.Validate() ||
        script.markers.size() != before.markers.size() ||
        script.inputs.size() != before.inputs.size() || script.outputPath != before.outputPath ||
        script.wavePath != before.wavePath ||
        script.songStartMs != (songStartMs < 0 ? before.songStartMs : songStartMs)) {
        return false;
    }
    for (size_t i = 0; i < script.markers.size(); ++i) {
        const CSMarker& was = *before.markers[i];
        const CSMarker& is = *script.markers[i];
        const auto edit = tempos.find(i);
        if (is.measure != was.measure || is.layout != was.layout || is.beatCount != was.beatCount ||
            is.beatUnit != was.beatUnit || is.displays.size() != was.displays.size() ||
            is.tempo != (edit == tempos.end() ? was.tempo : edit->second)) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<TempoEdit> TemposToWrite(const BeatReport& report) {
    std::vector<TempoEdit> edits;
    for (const TempoReach& reach : TempoReaches(report)) {
        if (reach.heard && std::fabs(reach.driftMs) > kFrameMs) {
            edits.push_back({report.spans[reach.firstSpan].tempoMarker, reach.suggested});
        }
    }
    return edits;
}

bool WriteTempos(const std::string& scriptPath, const std::string& text, const CScript& script,
                 const std::vector<TempoEdit>& edits, std::int64_t songStartMs) {
    // Reading sees the text up to its first NUL, with comments blanked; positions stay.
    std::string visible = text.substr(0, text.find('\0'));
    CExtract::RemoveComments(visible);
    std::vector<Replacement> replacements;
    std::map<size_t, double> tempos;
    for (const TempoEdit& edit : edits) {
        const CSMarker& marker = *script.markers.at(edit.marker);
        size_t cursor = marker.statementAt;
        BlockPlace place;
        size_t start = 0;
        size_t length = 0;
        if (!CExtract::FindBlock(visible, "marker", cursor, place) ||
            place.keyword != marker.statementAt ||
            !NumberArgument(visible, place.bodyOpen + 1, place.bodyClose, "tempo", start, length)) {
            PostLog(
                Format("Error (Beats): The tempo of marker %u cannot be rewritten safely; the "
                       "script is left unchanged.\n",
                       marker.measure));
            return false;
        }
        replacements.push_back({start, length, edit.tempo});
        tempos[edit.marker] = CExtract::ToTempo(edit.tempo);
    }
    if (songStartMs >= 0) {
        size_t start = 0;
        size_t length = 0;
        const std::string value = std::to_string(songStartMs);
        if (CExtract::FindKeyword(visible, "song_start", 0) == std::string::npos) {
            // A byte-order mark stays the first thing in the file.
            const size_t top = visible.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
            replacements.push_back({top, 0, "song_start( " + value + " )\n"});
        } else if (NumberArgument(visible, 0, visible.size(), "song_start", start, length)) {
            replacements.push_back({start, length, value});
        } else {
            PostLog(
                "Error (Beats): The song_start statement cannot be rewritten safely; the script "
                "is left unchanged.\n");
            return false;
        }
    }
    std::sort(replacements.begin(), replacements.end(),
              [](const Replacement& a, const Replacement& b) { return a.start > b.start; });
    std::string rewritten = text;
    for (const Replacement& r : replacements) {
        rewritten.replace(r.start, r.length, r.text);
    }
    if (!ReadsAsEdited(script, rewritten, tempos, songStartMs)) {
        PostLog(
            "Error (Beats): The tempos cannot be written safely; the script is left unchanged.\n");
        return false;
    }
    if (rewritten != text && !ReplaceFileContent(scriptPath, rewritten, text)) {
        PostLog("Error (Beats): Failed to write the tempos.\n");
        return false;
    }
    const std::string tempoCount = Format("%zu tempo(s)", edits.size());
    PostLog(
        "Wrote " +
        (edits.empty() ? "song_start" : tempoCount + (songStartMs >= 0 ? " and song_start" : "")) +
        " into the script.\n");
    return true;
}

}  // namespace zorvo
