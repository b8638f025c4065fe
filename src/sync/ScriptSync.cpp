#include "sync/ScriptSync.h"

#include <fstream>
#include <sstream>

#include "common/LogChannel.h"
#include "script/Script.h"
#include "sync/ScriptRewrite.h"

namespace zorvo {

namespace {

// The whole file, also what follows a NUL byte: reading ignores it, rewriting keeps it.
bool ReadWholeFile(const std::string& path, std::string& text) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    if (!file || !(bytes << file.rdbuf())) {
        return false;
    }
    text = bytes.str();
    return true;
}

}  // namespace

bool FindScriptOffsets(const std::string& scriptPath,
                       const std::function<void(const SyncResult&)>& finished,
                       std::vector<SyncResult>& results) {
    PostLog("* Parsing script...\n");
    CScript script(scriptPath);
    if (!script.Load()) {
        PostLog("Error (Project): Failed to parse script.\n");
        return false;
    }
    if (!script.Validate()) {
        PostLog("Error (Project): Failed to validate script.\n");
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

bool WriteOffsets(const std::string& scriptPath, const std::vector<SyncResult>& results) {
    std::vector<SyncEdit> edits;
    for (const SyncResult& result : results) {
        if (result.outcome == SyncOutcome::Matched) {
            edits.push_back(EditForOffset(result.id, result.offsetMs));
        }
    }
    std::string text;
    std::string rewritten;
    if (!ReadWholeFile(scriptPath, text) || !RewriteSyncArguments(text, edits, rewritten)) {
        PostLog("Error (Sync): Failed to write the offsets.\n");
        return false;
    }
    if (rewritten != text && !ReplaceFileContent(scriptPath, rewritten)) {
        PostLog("Error (Sync): Failed to write the offsets.\n");
        return false;
    }
    PostLog(Format("Wrote %zu offset(s) into the script.\n", edits.size()));
    return true;
}

}  // namespace zorvo
