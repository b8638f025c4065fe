#include "cli/Sync.h"

#include <unistd.h>

#include <cstdio>
#include <mutex>

#include "cli/ConsoleLog.h"
#include "sync/ScriptSync.h"

namespace zorvo {

int RunSync(const std::string& scriptPath, bool write) {
    ConsoleLog console(stdout, stderr, false);
    const bool terminal = isatty(STDERR_FILENO) != 0;
    std::mutex mutex;
    size_t done = 0;
    auto progress = [&](const SyncResult& result) {
        if (!terminal) {
            return;
        }
        std::lock_guard lock(mutex);
        std::fprintf(stderr, "sync: %s done (%zu)\n", result.id.c_str(), ++done);
    };
    std::vector<SyncResult> results;
    std::string scriptText;
    if (!FindScriptOffsets(scriptPath, progress, results, scriptText)) {
        return 1;
    }
    for (const SyncResult& result : results) {
        PostLog(ReportLine(result));
    }
    if (write && !WriteOffsets(scriptPath, scriptText, results)) {
        return 1;
    }
    return EveryCameraMatched(results) ? 0 : 1;
}

}  // namespace zorvo
