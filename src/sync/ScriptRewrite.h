#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zorvo {

// New sync arguments for the input of one id.
struct SyncEdit {
    std::string id;
    std::int32_t videoSyncMs = 0;
    std::int32_t timelineSyncMs = 0;
};

// The edit that makes the input's video play `offsetMs` (rounded to whole ms) ahead of the
// timeline: videoSyncMs - timelineSyncMs = offset, the other one 0.
SyncEdit EditForOffset(const std::string& id, double offsetMs);

// Writes the sync arguments into the input statements that reading takes for the edited ids
// (the last definition of an id), adding missing arguments (the focus as `center`). Every
// other byte stays as it was, and an argument that swallowed the text after a tab or line break
// keeps it. False, with a line, when an id has no input statement or when reading the result
// would find anything but the edited values changed.
bool RewriteSyncArguments(const std::string& text, const std::vector<SyncEdit>& edits,
                          std::string& rewritten);

// The whole file, also the bytes after a NUL. False for anything but a regular file of at most
// the size a script may have.
bool ReadScriptBytes(const std::string& path, std::string& bytes);

// Replaces the file's content through a temporary file beside it and a rename, so a reader
// never sees half of it, keeping its mode, owner, group and extended attributes; a file of
// several names (hard links) is written in place instead, once its content is checked. Refuses
// what is not a regular file, a read-only file and one whose content is no longer
// `readContent`, and removes the temporary files of runs killed at their rename. False, with a
// log line, when it cannot.
bool ReplaceFileContent(const std::string& path, const std::string& content,
                        const std::string& readContent);

}  // namespace zorvo
