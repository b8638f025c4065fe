#include "cli/Check.h"

#include <new>

#include "common/LogChannel.h"
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

int Check(const std::string& scriptPath) {
    CScript script(scriptPath);
    if (!LoadValidScript(script)) {
        return 1;
    }
    if (!CheckMedia(script)) {
        PostLog("Error (Project): Failed to check media.\n");
        return 1;
    }
    const double ms = EstimateTimelineMs(script.markers);
    PostLog(
        Format("Script is valid: %zu input(s), %zu group(s), %zu marker(s), %.10g ms "
               "(%lld frames at 25 fps).\n",
               script.inputs.size(), script.groups.size(), script.markers.size(), ms,
               static_cast<long long>(SongFrame(ms))));
    return 0;
}

}  // namespace

int RunCheck(const std::string& scriptPath) {
    PostLog("* Parsing script...\n");
    try {
        return Check(scriptPath);
    } catch (const std::bad_alloc&) {
        PostLog("Error (Project): Out of memory.\n");
    }
    PostLog("Error (Project): Failed to parse script.\n");
    return 1;
}

}  // namespace zorvo
