#include "check/ScriptCheck.h"

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
    std::vector<Message> found;
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
    for (Message& line : found) {
        Post(std::move(line));
    }
    return true;
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

std::vector<ScriptProblem> ProblemsFromMessages(const std::vector<Message>& messages) {
    std::vector<ScriptProblem> problems;
    size_t chain = std::string::npos;  // the first problem of the failure told now
    bool afterProblem = false;         // the message before was an error or warning
    bool afterError = false;           // the message before was an error
    for (const Message& message : messages) {
        if (message.severity == Severity::Info) {
            if (!message.file.empty()) {
                // Not a problem: what the check found in a camera's file.
                std::string line = message.text;
                if (line.ends_with('\n')) {
                    line.pop_back();
                }
                problems.push_back({false, 0, 0, line, line, true});
            }
            chain = std::string::npos;
            afterProblem = afterError = false;
            continue;
        }
        const bool warning = message.severity == Severity::Warning;
        std::string line = LogText(message);
        line.pop_back();  // the line feed
        if (chain != std::string::npos && problems[chain].warning != warning) {
            chain = std::string::npos;
        }
        const bool joins =
            (message.context && afterProblem && problems.back().warning == warning) ||
            (afterError && !warning && message.sequel);
        afterProblem = true;
        afterError = !warning;
        const auto join = [&](ScriptProblem& problem) {
            problem.detail += "\n" + line;
            problem.marker = problem.marker != 0 ? problem.marker : message.marker;
            problem.file = problem.file.empty() ? message.file : problem.file;
        };
        if (message.line > 0 && message.context && chain != std::string::npos) {
            // The place ends a failure: its lines, from the first, are one problem.
            ScriptProblem& first = problems[chain];
            for (size_t i = chain + 1; i < problems.size(); ++i) {
                first.detail += "\n" + problems[i].detail;
                first.marker = first.marker != 0 ? first.marker : problems[i].marker;
                first.file = first.file.empty() ? problems[i].file : first.file;
            }
            problems.resize(chain + 1);
            first.line = message.line;
            first.column = message.column;
            join(first);
            chain = std::string::npos;
        } else if (joins && message.line == 0) {
            join(problems.back());
        } else {
            problems.push_back({warning, message.line, message.column, line, line, false,
                                message.marker, message.file});
            const bool placed = message.line > 0;
            chain = placed                       ? std::string::npos
                    : chain == std::string::npos ? problems.size() - 1
                                                 : chain;
        }
    }
    return problems;
}

CheckReport CheckForProblems(const std::string& scriptPath) {
    CheckReport report;
    LogCollector collector(LogCollector::Scope::ThisThread);
    report.valid = CheckScriptFile(scriptPath);
    report.problems = ProblemsFromMessages(collector.Posted());
    return report;
}

}  // namespace zorvo
