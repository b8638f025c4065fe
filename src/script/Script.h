#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "script/Extract.h"
#include "script/Group.h"
#include "script/Input.h"
#include "script/Interpolation.h"
#include "script/Marker.h"
#include "script/Overlay.h"

namespace zorvo {

// The in-memory form of one script. Loaded once and validated once per build.
class CScript : public CExtract {
  public:
    explicit CScript(std::string scriptPath_) : scriptPath(std::move(scriptPath_)) {}
    ~CScript() override;

    // Reads and parses the file; on failure the partly filled document stays safe to destroy.
    // Relative paths (output, WAVE, inputs) are taken from the script file's folder.
    bool Load();
    // The same from script text already in memory (`scriptPath` is then only a name).
    bool LoadText(std::string text);
    // Cross-checks the whole document before anything is rendered.
    bool Validate() const;
    // Appends the inputs that an input or group id stands for, groups expanded depth-first.
    bool BuildInputList(const std::string& id, InputList& list) const;

    std::string scriptPath;
    std::string outputPath;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::string wavePath;  // empty: no audio
    // The output's scaler flags (libswscale values), handed to every capture of this script.
    std::int32_t interpolation = kDefaultInterpolation;
    std::int32_t rangeStart = 0;
    std::int32_t rangeEnd = 0;
    // Where measure 1 begins in the WAVE file; the sound before it is not in the video.
    std::int32_t songStartMs = 0;
    bool debug = false;
    std::map<std::string, std::unique_ptr<CSInput>> inputs;
    std::map<std::string, std::unique_ptr<CSGroup>> groups;
    std::vector<std::unique_ptr<CSMarker>> markers;  // sorted by measure after Load
    CSOverlay overlay;

    // Largest output width or height accepted.
    static constexpr std::int32_t kMaxOutputSize = 16384;
    // Largest script file read.
    static constexpr std::size_t kMaxScriptBytes = 16u << 20;
    // Most inputs one group may stand for, and all groups together.
    static constexpr std::size_t kMaxGroupInputs = 65536;
    static constexpr std::size_t kMaxResolvedInputs = 1u << 20;

  private:
    enum class Resolve { Ok, Unknown, Cycle, TooLarge };

    bool ParseOutput(const std::string& text);
    bool ParseMarkers(const std::string& text);
    bool ParseOverlay(const std::string& text);
    bool ParseRange(const std::string& text);
    bool ParseSongStart(const std::string& text);
    void ParseDebug(const std::string& text);
    void ResolveGroups();
    Resolve Expand(const std::string& id, InputList& list) const;
    bool ValidateMarkerTiming() const;
    bool ValidateStarts() const;
    bool ValidateRange() const;
    // Relative paths of the script name files beside the script, not in the working folder.
    void ResolvePaths();
};

// The UTF-8 byte-order mark, which reading skips at the start of a script.
inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Reads a whole file as script text: the bytes up to the first NUL.
bool ReadScriptFile(const std::string& path, std::string& text);

// Loads and validates the script, posting the build's line when either fails.
bool LoadValidScript(CScript& script);

}  // namespace zorvo
