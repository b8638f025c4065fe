#pragma once

#include <string>
#include <vector>

namespace zorvo {

class CScript;

// Parses and validates a script as a build would and looks at its media, posting the same
// texts and a summary line when all is well; writes nothing. False when the script cannot build.
bool CheckScriptFile(const std::string& scriptPath);

// One thing a check found, as the log told it.
struct ScriptProblem {
    bool warning = false;
    int line = 0;  // 1-based; 0 when the log gives no place in the script
    int column = 0;
    std::string text;    // the first line of the failure, without its line feed
    std::string detail;  // every line of the failure, the first one included
    // Not a problem: what the check found in a camera's file ("Input 'cam1': h264, …").
    bool information = false;

    bool operator==(const ScriptProblem&) const = default;
};

// The problems in the texts of a check. Each "Error (…): …" or "Warning (…): …" line starts
// one, except the "Failed to …" lines of an error's callers and the "Add fill( … )" advice after
// a camera that does not reach, which join it. A line with "at line N, column M" ends a failure:
// it gives its place to the failure's first line, and the lines between them join it. Each
// "Input '…': …" line of a valid script is one more, as information.
std::vector<ScriptProblem> ProblemsFromLog(const std::string& log);

// CheckScriptFile on the calling thread with its texts kept from the log channel.
struct CheckReport {
    bool valid = false;
    std::vector<ScriptProblem> problems;
};
CheckReport CheckForProblems(const std::string& scriptPath);

}  // namespace zorvo
