#pragma once

#include <string>

namespace zorvo {

class CScript;

// Loads and validates the script, posting the build's line when either fails.
bool LoadValidScript(CScript& script);

// Parses and validates a script as a build would, posting the same texts; writes nothing.
// Returns the process exit status: 0 valid, 1 not.
int RunCheck(const std::string& scriptPath);

}  // namespace zorvo
