#include "script/Script.h"

#include <cstdint>
#include <filesystem>
#include <memory>

#include "common/LogChannel.h"
#include "common/RegularFile.h"
#include "script/Interpolation.h"
#include "script/ScriptLint.h"

namespace zorvo {

bool ReadScriptFile(const std::string& path, std::string& text) {
    // Opened without waiting: a FIFO or a device is refused, not waited on.
    RegularFile file;
    if (!file.Open(path)) {
        PostLog("Error (Script): Failed to open script file.\n");
        if (file.NotRegular()) {
            PostLog(Format("Error (Script): '%s' is not a regular file.\n", path.c_str()));
        } else {
            PostContext("Script", Format("file '%s': %s", path.c_str(), file.Reason().c_str()));
        }
        return false;
    }
    if (file.Size() > CScript::kMaxScriptBytes) {
        PostLog("Error (Script): Failed to open script file.\n");
        PostLog(Format("Error (Script): '%s' is larger than %zu MiB.\n", path.c_str(),
                       CScript::kMaxScriptBytes >> 20));
        return false;
    }
    // Read to the end rather than trust the size: the file may change meanwhile.
    std::string bytes;
    char chunk[65536];
    std::size_t got = 0;
    std::string reason;
    while (file.ReadAt(bytes.size(), chunk, sizeof chunk, got, reason) && got > 0) {
        if (bytes.size() + got > CScript::kMaxScriptBytes) {
            PostLog("Error (Script): Failed to read script file.\n");
            return false;
        }
        bytes.append(chunk, got);
    }
    if (!reason.empty()) {
        PostLog("Error (Script): Failed to read script file.\n");
        PostContext("Script", Format("file '%s': %s", path.c_str(), reason.c_str()));
        return false;
    }
    const size_t nul = bytes.find('\0');
    if (nul != std::string::npos) {
        bytes.resize(nul);
    }
    text = std::move(bytes);
    return true;
}

CScript::~CScript() {
    // Inputs, then groups, then markers, then the overlay.
    inputs.clear();
    groups.clear();
    markers.clear();
}

bool CScript::Load() {
    std::string text;
    if (!ReadScriptFile(scriptPath, text)) {
        return false;
    }
    return LoadText(std::move(text));
}

bool CScript::LoadText(std::string text) {
    const size_t nul = text.find('\0');
    if (nul != std::string::npos) {
        text.resize(nul);
    }
    // Editors that save UTF-8 with a byte-order mark put it first; its bytes would otherwise
    // count as letters and hide the first statement from the whole-word search.
    if (text.starts_with(kUtf8Bom)) {
        text.erase(0, kUtf8Bom.size());
    }
    const std::string source = text;
    RemoveComments(text);
    // A failed step's lines are followed by the place of the statement that failed.
    StatementTracker places(text, &source);
    const auto failed = [&](const char* line, size_t at) {
        PostLog(line);
        StatementTracker::PostPlace(text, at);
        return false;
    };

    if (!ParseOutput(text)) {
        return failed("Error (Script): Failed to parse 'output'.\n", places.Last());
    }
    if (!ParseInputStatements(text, inputs)) {
        return failed("Error (Script): Failed to parse 'inputs'.\n", places.Last());
    }
    if (!ParseGroupStatements(text, groups)) {
        return failed("Error (Script): Failed to parse 'groups'.\n", places.Last());
    }
    ResolveGroups();
    if (!ParseMarkers(text)) {
        return failed("Error (Script): Failed to parse 'markers'.\n", places.Last());
    }
    if (!ParseOverlay(text)) {
        return failed("Error (Script): Failed to parse 'overlay'.\n", places.Last());
    }
    if (!ParseRange(text)) {
        return failed("Error (Script): Failed to parse 'range'.\n", places.Last());
    }
    if (!ParseSongStart(text)) {
        return failed("Error (Script): Failed to parse 'song_start'.\n", places.Last());
    }
    ParseDebug(text);
    for (auto& marker : markers) {
        if (!marker->BuildResizeInputMap()) {
            return failed("Error (Script): Failed to build resize maps.\n", marker->statementAt);
        }
    }
    for (auto& marker : markers) {
        if (!marker->BuildSpeedInputMap()) {
            return failed("Error (Script): Failed to build speed maps.\n", marker->statementAt);
        }
    }
    ResolvePaths();
    PostTypoWarnings(text, places.Found());
    return true;
}

void CScript::ResolvePaths() {
    // A session folder (script, media, output) then works wherever it is and from wherever
    // it is rendered.
    const std::filesystem::path folder = std::filesystem::path(scriptPath).parent_path();
    if (folder.empty()) {
        return;
    }
    const auto resolve = [&folder](std::string& path) {
        if (!path.empty() && std::filesystem::path(path).is_relative()) {
            path = (folder / path).string();
        }
    };
    resolve(outputPath);
    resolve(wavePath);
    for (auto& [id, input] : inputs) {
        resolve(input->file);
    }
}

bool CScript::ParseOutput(const std::string& text) {
    size_t cursor = 0;
    std::string arguments;
    if (!ExtractCall(text, "output", cursor, arguments)) {
        return false;
    }
    size_t at = 0;
    std::string path;
    std::string widthText;
    std::string heightText;
    if (!NextArgument(arguments, at, path)) {
        return false;
    }
    outputPath = path;
    if (!NextArgument(arguments, at, widthText) || !NextArgument(arguments, at, heightText)) {
        return false;
    }
    std::string interpolation = "fast_bilinear";
    NextArgument(arguments, at, interpolation, true);
    NextArgument(arguments, at, wavePath, true);
    width = ToInt(widthText);
    height = ToInt(heightText);
    this->interpolation = ParseInterpolation(interpolation);
    return true;
}

bool CScript::ParseRange(const std::string& text) {
    size_t cursor = 0;
    std::string arguments;
    if (!ExtractCall(text, "range", cursor, arguments)) {
        return true;
    }
    size_t at = 0;
    std::string first;
    std::string last;
    if (!NextArgument(arguments, at, first) || !NextArgument(arguments, at, last)) {
        return false;
    }
    rangeStart = ToInt(first);
    rangeEnd = ToInt(last);
    return true;
}

bool CScript::ParseSongStart(const std::string& text) {
    size_t cursor = 0;
    std::string arguments;
    if (!ExtractCall(text, "song_start", cursor, arguments)) {
        return true;
    }
    size_t at = 0;
    std::string ms;
    if (!NextArgument(arguments, at, ms)) {
        return false;
    }
    songStartMs = ToInt(ms);
    return true;
}

void CScript::ParseDebug(const std::string& text) {
    size_t cursor = 0;
    std::string arguments;
    if (ExtractCall(text, "debug", cursor, arguments)) {
        debug = true;
    }
}

bool CScript::ParseOverlay(const std::string& text) {
    size_t cursor = 0;
    std::string arguments;
    std::string body;
    while (ExtractBlock(text, "overlay", cursor, arguments, body)) {
        size_t at = 0;
        std::string id;
        std::string frames;
        if (!NextArgument(arguments, at, id) || !NextArgument(arguments, at, frames)) {
            return false;
        }
        overlay.inputId = TrimId(id);
        overlay.loopFrames = ToInt(frames);
        if (!overlay.Parse(body)) {
            return false;
        }
    }
    return true;
}

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

}  // namespace zorvo
