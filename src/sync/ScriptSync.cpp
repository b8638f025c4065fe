#include "sync/ScriptSync.h"

#include "common/LogChannel.h"
#include "script/Script.h"
#include "sync/ScriptRewrite.h"

namespace zorvo {

bool FindScriptOffsets(const std::string& scriptPath,
                       const std::function<void(const SyncResult&)>& finished,
                       std::vector<SyncResult>& results, std::string& scriptText) {
    PostLog("* Parsing script...\n");
    // Kept from before the reading, so that a change made meanwhile refuses the rewrite.
    if (!ReadScriptBytes(scriptPath, scriptText)) {
        scriptText.clear();
    }
    CScript script(scriptPath);
    if (!LoadValidScript(script)) {
        return false;
    }
    if (script.wavePath.empty()) {
        PostLog("Error (Sync): The output statement names no WAVE file to sync to.\n");
        return false;
    }
    std::vector<SyncCamera> cameras;
    for (const auto& [id, input] : script.inputs) {
        cameras.push_back({id, input->file});
    }
    PostLog(Format("* Syncing %zu input(s) to the song...\n", cameras.size()));
    AudioSync sync;
    if (!sync.LoadSong(script.wavePath)) {
        return false;
    }
    results = sync.Match(cameras, finished);
    // Offsets count from measure 1, which song_start puts that far into the WAVE file.
    for (SyncResult& result : results) {
        result.offsetMs += result.outcome == SyncOutcome::Matched ? script.songStartMs : 0;
    }
    return true;
}

std::string ReportLine(const SyncResult& result) {
    std::string line = result.id + ": " + DescribeOutcome(result);
    if (result.outcome == SyncOutcome::Matched) {
        const SyncEdit edit = EditForOffset(result.id, result.offsetMs);
        line +=
            Format(" -> videoSyncMs %d, timelineSyncMs %d", edit.videoSyncMs, edit.timelineSyncMs);
    } else {
        line += "; left unchanged";
    }
    return line + "\n";
}

bool EveryCameraMatched(const std::vector<SyncResult>& results) {
    for (const SyncResult& result : results) {
        if (result.outcome != SyncOutcome::Matched && result.outcome != SyncOutcome::NoAudio) {
            return false;
        }
    }
    return true;
}

bool WriteOffsets(const std::string& scriptPath, const std::string& scriptText,
                  const std::vector<SyncResult>& results) {
    std::vector<SyncEdit> edits;
    for (const SyncResult& result : results) {
        if (result.outcome == SyncOutcome::Matched) {
            edits.push_back(EditForOffset(result.id, result.offsetMs));
        }
    }
    std::string rewritten;
    if (!RewriteSyncArguments(scriptText, edits, rewritten)) {
        PostLog("Error (Sync): Failed to write the offsets.\n");
        return false;
    }
    if (rewritten != scriptText && !ReplaceFileContent(scriptPath, rewritten, scriptText)) {
        PostLog("Error (Sync): Failed to write the offsets.\n");
        return false;
    }
    PostLog(Format("Wrote %zu offset(s) into the script.\n", edits.size()));
    return true;
}

}  // namespace zorvo
