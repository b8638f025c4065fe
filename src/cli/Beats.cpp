#include "cli/Beats.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/ConsoleLog.h"
#include "script/Script.h"
#include "script/SpanTiming.h"
#include "sync/ScriptRewrite.h"
#include "sync/SongBeats.h"
#include "sync/TempoDrift.h"
#include "sync/TempoRewrite.h"

namespace zorvo {

namespace {

double Round(double value, double scale) {
    return std::round(value * scale) / scale;
}

std::string ReportLine(const SpanDrift& span) {
    if (!span.heard) {
        return Format("measures %u to %u: %s bpm; too few beats heard (%d of %d)\n",
                      span.fromMeasure, span.toMeasure, TempoText(span.scriptTempo).c_str(),
                      span.beatsHeard, span.beats);
    }
    return Format(
        "measures %u to %u: script %s bpm, song %.2f bpm, drift %+lld ms (%+lld ms from measure "
        "1), %d of %d beats heard\n",
        span.fromMeasure, span.toMeasure, TempoText(span.scriptTempo).c_str(), span.songTempo,
        std::llround(span.driftMs), std::llround(span.totalDriftMs), span.beatsHeard, span.beats);
}

std::string Json(const std::string& wave, const SongAnalysis& song, const BeatReport& report,
                 const std::vector<std::string>& warnings) {
    nlohmann::ordered_json doc;
    doc["wave"] = wave;
    doc["songStartMs"] = report.songStartMs;
    doc["firstDownbeatMs"] = nullptr;
    if (report.firstDownbeatMs >= 0) {
        doc["firstDownbeatMs"] = Round(report.firstDownbeatMs, 10);
    }
    doc["beatsMs"] = nlohmann::ordered_json::array();
    for (const double beat : song.beats) {
        doc["beatsMs"].push_back(Round(beat * 1000, 10));
    }
    doc["downbeatsMs"] = nlohmann::ordered_json::array();
    for (const double beat : report.downbeatsMs) {
        doc["downbeatsMs"].push_back(Round(beat, 10));
    }
    doc["spans"] = nlohmann::ordered_json::array();
    for (const SpanDrift& span : report.spans) {
        nlohmann::ordered_json s;
        s["from"] = span.fromMeasure;
        s["to"] = span.toMeasure;
        s["startMs"] = Round(span.startMs, 1000);
        s["endMs"] = Round(span.endMs, 1000);
        s["scriptTempo"] = span.scriptTempo;
        s["beats"] = span.beats;
        s["beatsHeard"] = span.beatsHeard;
        if (span.heard) {
            s["songTempo"] = Round(span.songTempo, 1000);
            s["driftMs"] = Round(span.driftMs, 10);
            s["totalDriftMs"] = Round(span.totalDriftMs, 10);
            s["wanderMs"] = Round(span.wanderMs, 10);
            s["splitAt"] = nullptr;
            if (span.splitAt != 0) {
                s["splitAt"] = span.splitAt;
            }
        }
        doc["spans"].push_back(s);
    }
    // Each tempo statement with the spans it times.
    doc["tempos"] = nlohmann::ordered_json::array();
    for (const TempoReach& reach : TempoReaches(report)) {
        nlohmann::ordered_json t;
        t["marker"] = report.spans[reach.firstSpan].fromMeasure;
        t["to"] = report.spans[reach.lastSpan].toMeasure;
        t["scriptTempo"] = reach.scriptTempo;
        if (reach.heard) {
            t["songTempo"] = Round(reach.songTempo, 1000);
            t["driftMs"] = Round(reach.driftMs, 10);
            t["suggestedTempo"] = std::stod(reach.suggested);
        }
        doc["tempos"].push_back(t);
    }
    doc["warnings"] = nlohmann::ordered_json::array();
    for (const std::string& line : warnings) {
        doc["warnings"].push_back(line.substr(0, line.size() - 1));
    }
    return doc.dump(2) + "\n";
}

}  // namespace

int RunBeats(const std::string& scriptPath, const BeatsOptions& options) {
    // With --json the standard output holds the document only; the log lines go to stderr.
    ConsoleLog console(options.json ? stderr : stdout, stderr, false);
    PostLog("* Parsing script...\n");
    // Kept from before the reading, so that a change made meanwhile refuses the rewrite.
    std::string scriptText;
    if (options.write && !ReadScriptBytes(scriptPath, scriptText)) {
        scriptText.clear();
    }
    CScript script(scriptPath);
    if (!LoadValidScript(script)) {
        return 1;
    }
    if (script.wavePath.empty()) {
        PostLog("Error (Beats): The output statement names no WAVE file to find beats in.\n");
        return 1;
    }
    const std::shared_ptr<const SongAnalysis> song = AnalyseSong(script.wavePath);
    if (!song) {
        return 1;
    }
    const BeatReport report = MeasureDrift(script, *song);
    const std::vector<std::string> warnings = DriftWarnings(report, DriftLimit::Frame);
    if (options.json) {
        std::fputs(Json(script.wavePath, *song, report, warnings).c_str(), stdout);
        return warnings.empty() ? 0 : 1;
    }
    const std::string head = Format("Song: %zu beats in %.2f s", song->beats.size(), song->seconds);
    PostLog(head + (report.firstDownbeatMs < 0
                        ? std::string("; no downbeat heard.\n")
                        : Format("; first downbeat at %.3f s, measure 1 at %.3f s (%+lld ms).\n",
                                 report.firstDownbeatMs / 1000, report.songStartMs / 1000,
                                 std::llround(report.firstDownbeatMs - report.songStartMs))));
    for (const SpanDrift& span : report.spans) {
        PostLog(ReportLine(span));
    }
    for (const std::string& line : warnings) {
        PostLog(line);
    }
    if (!options.write || warnings.empty()) {
        return warnings.empty() ? 0 : 1;
    }
    const std::vector<TempoEdit> edits = TemposToWrite(report);
    const double offset = report.firstDownbeatMs - report.songStartMs;
    const std::int64_t songStart = report.firstDownbeatMs >= 0 && std::fabs(offset) > 40
                                       ? std::llround(report.firstDownbeatMs)
                                       : -1;
    if (edits.empty() && songStart < 0) {
        PostLog("Nothing to write: no constant tempo keeps these spans within a frame.\n");
        return 1;
    }
    if (!WriteTempos(scriptPath, scriptText, script, edits, songStart)) {
        return 1;
    }
    // What a tempo cannot mend: a span to split.
    for (const SpanDrift& span : report.spans) {
        if (span.heard && span.splitAt != 0 && span.wanderMs > 40) {
            return 1;
        }
    }
    return 0;
}

}  // namespace zorvo
