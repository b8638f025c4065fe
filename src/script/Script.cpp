#include "script/Script.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "common/LogChannel.h"
#include "script/Interpolation.h"
#include "script/ScriptLint.h"

namespace zorvo {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

bool ReadScriptFile(const std::string& path, std::string& text) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        PostLog("Error (Script): Failed to open script file.\n");
        PostContext("Script", Format("file '%s': %s", path.c_str(), std::strerror(errno)));
        return false;
    }
    // A directory opens too, and reports a length that means nothing.
    struct stat info {};
    if (::fstat(::fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode)) {
        PostLog("Error (Script): Failed to open script file.\n");
        PostLog(Format("Error (Script): '%s' is not a regular file.\n", path.c_str()));
        return false;
    }
    if (static_cast<std::uintmax_t>(info.st_size) > CScript::kMaxScriptBytes) {
        PostLog("Error (Script): Failed to open script file.\n");
        PostLog(Format("Error (Script): '%s' is larger than %zu MiB.\n", path.c_str(),
                       CScript::kMaxScriptBytes >> 20));
        return false;
    }
    // Read to the end rather than trust the size: the file may change meanwhile.
    std::string bytes;
    char chunk[65536];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        if (bytes.size() + got > CScript::kMaxScriptBytes) {
            PostLog("Error (Script): Failed to read script file.\n");
            return false;
        }
        bytes.append(chunk, got);
    }
    if (std::ferror(file.get())) {
        PostLog("Error (Script): Failed to read script file.\n");
        PostContext("Script", Format("file '%s': %s", path.c_str(), std::strerror(errno)));
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
    interpolationFlags.store(ParseInterpolation(interpolation));
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
