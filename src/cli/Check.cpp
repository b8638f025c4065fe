#include "cli/Check.h"

#include "check/ScriptCheck.h"

namespace zorvo {

int RunCheck(const std::string& scriptPath) {
    return CheckScriptFile(scriptPath) ? 0 : 1;
}

}  // namespace zorvo
