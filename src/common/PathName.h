#pragma once

#include <string>

namespace zorvo {

// A path taken apart by its text alone, as std::filesystem::path does; nothing on disk is looked
// at and nothing throws. The file name is what follows the last '/' ("" after a trailing '/').
// Its extension is its last '.' and what follows, unless that dot starts the name: ".hidden" and
// ".." have none, "out." has ".", and a dot in a folder name is never one.
std::string FileName(const std::string& path);
// The folder to open for the files beside `path`: "dir/out.avi" -> "dir", "out.avi" -> ".".
std::string FolderOf(const std::string& path);
// The file `name` beside `path`: its file name replaced, the folder kept as written
// ("./out.avi" -> "./name", "dir//out.avi" -> "dir//name").
std::string Beside(const std::string& path, const std::string& name);
// The extension with its dot: "a.b.avi" -> ".avi"; "" when there is none.
std::string Extension(const std::string& path);
// `path` with its extension (if any) replaced by `extension`, which starts with its dot:
// "song.zorvo" -> "song.still-7.png", "song" -> "song.still-7.png".
std::string ReplaceExtension(const std::string& path, const std::string& extension);
// `text` put before the extension: "take.avi" -> "take.01.avi", "take" -> "take.01".
std::string InsertBeforeExtension(const std::string& path, const std::string& text);

}  // namespace zorvo
