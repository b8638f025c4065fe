#pragma once

#include <string>
#include <vector>

#include "common/LogChannel.h"

namespace zorvo {

class CScript;

// Parses and validates a script as a build would and looks at its media, posting the same
// texts and a summary line when all is well; writes nothing. False when the script cannot build.
bool CheckScriptFile(const std::string& scriptPath);

// One thing a check found, as its messages told it.
struct ScriptProblem {
    bool warning = false;
    int line = 0;  // 1-based; 0 when no message gives a place in the script
    int column = 0;
    std::string text{};    // the first line of the failure, without its line feed
    std::string detail{};  // every line of the failure, the first one included
    // Not a problem: what the check found in a camera's file ("Input 'cam1': h264, …").
    bool information = false;
    std::uint32_t marker = 0;  // the marker concerned; 0 none
    std::string file{};        // the file concerned; empty none

    bool operator==(const ScriptProblem&) const = default;
};

// The problems in the messages of a check. Each error or warning starts one, except those that
// join the failure told before them: a context message, or an error's callers' "Failed to …"
// lines. A context message with a place in the script ends a failure: it gives its place to
// the failure's first line, and the lines between them join it. A message with a place of its
// own is a problem at that place. Info messages (progress lines) end a failure; an
// "Input '…': …" one, what the check found in a camera's file, is one more, as information.
std::vector<ScriptProblem> ProblemsFromMessages(const std::vector<Message>& messages);

// CheckScriptFile on the calling thread with its texts kept from the log channel.
struct CheckReport {
    bool valid = false;
    std::vector<ScriptProblem> problems;
};
CheckReport CheckForProblems(const std::string& scriptPath);

}  // namespace zorvo
