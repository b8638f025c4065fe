#include "cli/Check.h"

#include "check/ScriptCheck.h"
#include "common/LogChannel.h"
#include "sync/TempoDrift.h"

namespace zorvo {

int RunCheck(const std::string& scriptPath) {
    if (!CheckScriptFile(scriptPath)) {
        return 1;
    }
    // A tempo off by more than a beat is seen before the render; it does not fail the check.
    BeatReport report;
    if (MeasureScriptDrift(scriptPath, report)) {
        for (Message& message : DriftMessages(report, DriftLimit::Beat)) {
            Post(std::move(message));
        }
    }
    return 0;
}

}  // namespace zorvo
