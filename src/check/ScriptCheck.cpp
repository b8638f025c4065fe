#include "check/ScriptCheck.h"

#include <cstdio>
#include <new>

#include "check/MediaCheck.h"
#include "common/LogChannel.h"
#include "common/LogCollector.h"
#include "script/Script.h"
#include "script/SpanTiming.h"

namespace zorvo {

namespace {

bool Check(const std::string& scriptPath) {
    CScript script(scriptPath);
    if (!LoadValidScript(script)) {
        return false;
    }
    std::vector<std::string> found;
    if (!CheckMedia(script, true, &found)) {
        PostLog("Error (Project): Failed to check media.\n");
        return false;
    }
    const double ms = EstimateTimelineMs(script.markers);
    PostLog(
        Format("Script is valid: %zu input(s), %zu group(s), %zu marker(s), %.10g ms "
               "(%lld frames at 25 fps).\n",
               script.inputs.size(), script.groups.size(), script.markers.size(), ms,
               static_cast<long long>(SongFrame(ms))));
    // What each camera's file holds, as the render will show it.
    for (const std::string& line : found) {
        PostLog(line);
    }
    return true;
}

// "…: at line 3, column 1: '…'." or "…: marker #1 at line 3, column 1: …" gives 3 and 1.
bool ReadPlace(const std::string& message, int& line, int& column) {
    const size_t at = message.find("at line ");
    return at != std::string::npos &&
           std::sscanf(message.c_str() + at, "at line %d, column %d", &line, &column) == 2;
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
    size_t chain = std::string::npos;  // the first problem of the failure told now
    bool afterError = false;           // the line before was an error line
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        end = end == std::string::npos ? log.size() : end;
        const std::string line = log.substr(start, end - start);
        start = end + 1;
        const bool warning = line.rfind("Warning (", 0) == 0;
        const size_t colon = line.find("): ");
        if (line.rfind("Input '", 0) == 0) {
            problems.push_back({false, 0, 0, line, line, true});
        }
        if ((!warning && line.rfind("Error (", 0) != 0) || colon == std::string::npos) {
            chain = std::string::npos;
            afterError = false;
            continue;
        }
        if (chain != std::string::npos && problems[chain].warning != warning) {
            chain = std::string::npos;
        }
        const std::string message = line.substr(colon + 3);
        const bool folds =
            afterError && !warning &&
            (message.rfind("Failed to ", 0) == 0 || message.rfind("Add fill(", 0) == 0);
        afterError = !warning;
        int row = 0;
        int column = 0;
        if (ReadPlace(message, row, column)) {
            if (chain == std::string::npos) {
                problems.push_back({warning, row, column, line, line});
                continue;
            }
            // The place ends a failure: its lines, from the first, are one problem.
            ScriptProblem& first = problems[chain];
            for (size_t i = chain + 1; i < problems.size(); ++i) {
                first.detail += "\n" + problems[i].detail;
            }
            problems.resize(chain + 1);
            first.line = row;
            first.column = column;
            first.detail += "\n" + line;
            chain = std::string::npos;
        } else if (folds) {
            problems.back().detail += "\n" + line;  // its callers' lines
        } else {
            problems.push_back({warning, 0, 0, line, line});
            chain = chain == std::string::npos ? problems.size() - 1 : chain;
        }
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
