#include "cli/Check.h"

#include "render/ScriptCheck.h"

namespace zorvo {

int RunCheck(const std::string& scriptPath) {
    return CheckScriptFile(scriptPath) ? 0 : 1;
}

}  // namespace zorvo
