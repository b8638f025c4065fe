#include "render/ScriptCheck.h"

#include <cstdio>
#include <new>

#include "common/LogChannel.h"
#include "common/LogCollector.h"
#include "render/MediaCheck.h"
#include "script/Script.h"
#include "script/SpanTiming.h"

namespace zorvo {

bool LoadValidScript(CScript& script) {
    if (!script.Load()) {
        PostLog("Error (Project): Failed to parse script.\n");
        return false;
    }
    if (!script.Validate()) {
        PostLog("Error (Project): Failed to validate script.\n");
        return false;
    }
    return true;
}

namespace {

bool Check(const std::string& scriptPath) {
    CScript script(scriptPath);
    if (!LoadValidScript(script)) {
        return false;
    }
    if (!CheckMedia(script)) {
        PostLog("Error (Project): Failed to check media.\n");
        return false;
    }
    const double ms = EstimateTimelineMs(script.markers);
    PostLog(
        Format("Script is valid: %zu input(s), %zu group(s), %zu marker(s), %.10g ms "
               "(%lld frames at 25 fps).\n",
               script.inputs.size(), script.groups.size(), script.markers.size(), ms,
               static_cast<long long>(SongFrame(ms))));
    return true;
}

// "Error (Script): at line 3, column 1: '…'." gives 3 and 1.
bool ReadPlace(const std::string& message, int& line, int& column) {
    return std::sscanf(message.c_str(), "at line %d, column %d", &line, &column) == 2;
}

}  // namespace

bool CheckScriptFile(const std::string& scriptPath) {
    PostLog("* Parsing script...\n");
    try {
        return Check(scriptPath);
    } catch (const std::bad_alloc&) {
        PostLog("Error (Project): Out of memory.\n");
    }
    PostLog("Error (Project): Failed to parse script.\n");
    return false;
}

std::vector<ScriptProblem> ProblemsFromLog(const std::string& log) {
    std::vector<ScriptProblem> problems;
    bool afterError = false;  // the last line that was not a place was an error line
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        end = end == std::string::npos ? log.size() : end;
        const std::string line = log.substr(start, end - start);
        start = end + 1;
        const bool warning = line.rfind("Warning (", 0) == 0;
        const size_t colon = line.find("): ");
        if ((!warning && line.rfind("Error (", 0) != 0) || colon == std::string::npos) {
            afterError = false;
            continue;
        }
        const std::string message = line.substr(colon + 3);
        ScriptProblem place;
        if (ReadPlace(message, place.line, place.column)) {
            if (!problems.empty() && problems.back().line == 0) {
                problems.back().line = place.line;
                problems.back().column = place.column;
                problems.back().detail += "\n" + line;
                continue;
            }
            place.warning = warning;
            place.text = place.detail = line;
            problems.push_back(place);
            continue;
        }
        if (afterError && !warning && message.rfind("Failed to ", 0) == 0) {
            problems.back().detail += "\n" + line;
            continue;
        }
        problems.push_back({warning, 0, 0, line, line});
        afterError = !warning;
    }
    return problems;
}

CheckReport CheckForProblems(const std::string& scriptPath) {
    CheckReport report;
    LogCollector collector(LogCollector::Scope::ThisThread);
    report.valid = CheckScriptFile(scriptPath);
    report.problems = ProblemsFromLog(collector.Joined());
    return report;
}

}  // namespace zorvo
