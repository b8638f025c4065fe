#include "script/Script.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "common/LogChannel.h"
#include "script/Interpolation.h"

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
    long length = -1;
    if (std::fseek(file.get(), 0, SEEK_END) == 0) {
        length = std::ftell(file.get());
    }
    if (length < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) {
        // A directory or a stream without a length.
        PostLog("Error (Script): Failed to read script file.\n");
        PostContext("Script", Format("file '%s': %s", path.c_str(), std::strerror(errno)));
        return false;
    }
    std::string bytes(static_cast<size_t>(length), '\0');
    const size_t read = length > 0 ? std::fread(bytes.data(), 1, bytes.size(), file.get()) : 0;
    if (read != bytes.size()) {
        PostLog("Error (Script): Failed to read script file.\n");
        PostContext("Script",
                    Format("file '%s': %zu of %zu bytes read", path.c_str(), read, bytes.size()));
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
    RemoveComments(text);
    // A failed step's lines are followed by the place of the statement that failed.
    StatementTracker places(text);
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
    if (!ParseMarkers(text)) {
        return failed("Error (Script): Failed to parse 'markers'.\n", places.Last());
    }
    if (!ParseOverlay(text)) {
        return failed("Error (Script): Failed to parse 'overlay'.\n", places.Last());
    }
    if (!ParseRange(text)) {
        return failed("Error (Script): Failed to parse 'range'.\n", places.Last());
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
        overlay.inputId = id;
        overlay.loopFrames = ToInt(frames);
        if (!overlay.Parse(body)) {
            return false;
        }
    }
    return true;
}

}  // namespace zorvo
