#pragma once

#include <functional>
#include <string>
#include <vector>

#include "sync/AudioSync.h"

namespace zorvo {

// Reads the script as a check does (posting the same lines), then matches the sound of every
// input's file against the song of its output statement. False after a logged failure of the
// script or the song. `finished` as for AudioSync::Match. `scriptText` receives the file's
// bytes as they were read, for WriteOffsets.
bool FindScriptOffsets(const std::string& scriptPath,
                       const std::function<void(const SyncResult&)>& finished,
                       std::vector<SyncResult>& results, std::string& scriptText);

// One line of the report: the id, what was found and what is (or would be) written.
std::string ReportLine(const SyncResult& result);

// Every input with sound matched: inputs without sound do not count.
bool EveryCameraMatched(const std::vector<SyncResult>& results);

// Writes the offsets of the matched inputs into the script read as `scriptText`; refuses when
// the file no longer holds that text. Posts its own lines.
bool WriteOffsets(const std::string& scriptPath, const std::string& scriptText,
                  const std::vector<SyncResult>& results);

}  // namespace zorvo
