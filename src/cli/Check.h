#pragma once

#include <string>

#include "check/ScriptCheck.h"

namespace zorvo {

// Parses and validates a script as a build would, posting the same texts; writes nothing.
// Returns the process exit status: 0 valid, 1 not.
int RunCheck(const std::string& scriptPath);

}  // namespace zorvo
