#include "script/Input.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "common/LogChannel.h"
#include "script/ScriptLint.h"

namespace zorvo {

CSInput::CSInput(std::string id_, std::string file_, InputFocus focus_, std::int32_t videoSyncMs_,
                 std::int32_t timelineSyncMs_)
    : id(std::move(id_)),
      file(std::move(file_)),
      focus(focus_),
      videoSyncMs(videoSyncMs_),
      timelineSyncMs(timelineSyncMs_) {}

namespace {

constexpr std::array<std::string_view, 9> kFocusNames{"center",      "left",      "right",
                                                      "top",         "bottom",    "top_left",
                                                      "bottom_left", "top_right", "bottom_right"};
constexpr std::array<std::string_view, 3> kFlipNames{"auto", "true", "false"};
constexpr std::array<std::string_view, 4> kTurnNames{"0", "90", "180", "270"};
constexpr std::array<std::string_view, 3> kDeinterlaceNames{"auto", "on", "off"};
constexpr std::array<std::string_view, 3> kFillNames{"none", "black", "hold"};

}  // namespace

InputFocus ParseFocus(const std::string& name) {
    const auto& kNames = kFocusNames;
    for (size_t i = 0; i < kNames.size(); ++i) {
        if (name == kNames[i]) {
            return static_cast<InputFocus>(i + 1);
        }
    }
    return InputFocus::Unknown;
}

FlipMode ParseFlipMode(const std::string& name) {
    if (name == "auto") {
        return FlipMode::Auto;
    }
    if (name == "true") {
        return FlipMode::True;
    }
    if (name == "false") {
        return FlipMode::False;
    }
    return FlipMode::Unknown;
}

FocusXY FocusPoint(std::uint32_t w, std::uint32_t h, InputFocus focus) {
    const std::uint32_t third = w / 3;
    const std::uint32_t twoThirds = (2 * w) / 3;
    const std::uint32_t thirdH = h / 3;
    const std::uint32_t twoThirdsH = (2 * h) / 3;
    switch (focus) {
        case InputFocus::Left:
            return {third, h / 2};
        case InputFocus::Right:
            return {twoThirds, h / 2};
        case InputFocus::Top:
            return {w / 2, thirdH};
        case InputFocus::Bottom:
            return {w / 2, twoThirdsH};
        case InputFocus::TopLeft:
            return {third, thirdH};
        case InputFocus::BottomLeft:
            return {third, twoThirdsH};
        case InputFocus::TopRight:
            return {twoThirds, thirdH};
        case InputFocus::BottomRight:
            return {twoThirds, twoThirdsH};
        default:
            return {w / 2, h / 2};
    }
}

namespace {

// Reads the required arguments of one adjustment statement; each missing one has its own line.
bool ReadArguments(const std::string& arguments, const std::vector<const char*>& failures,
                   std::vector<std::string>& values) {
    size_t cursor = 0;
    values.clear();
    for (const char* failure : failures) {
        std::string value;
        if (!CExtract::NextArgument(arguments, cursor, value)) {
            PostLog(failure);
            return false;
        }
        values.push_back(std::move(value));
    }
    return true;
}

using Values = std::vector<std::string>;

}  // namespace

const std::vector<AdjustmentStatement>& AdjustmentStatements() {
    static const std::vector<AdjustmentStatement> statements = {
        {"color_balance",
         {"Error (SInput): Failed to get color balance CR.\n",
          "Error (SInput): Failed to get color balance MG.\n",
          "Error (SInput): Failed to get color balance YB.\n"},
         [](const Values& v, AdjustmentSettings& s) {
             s.colorBalanceCR = CExtract::ToDouble(v[0]);
             s.colorBalanceMG = CExtract::ToDouble(v[1]);
             s.colorBalanceYB = CExtract::ToDouble(v[2]);
             return true;
         }},
        {"brightness",
         {"Error (SInput): Failed to get brightness.\n"},
         [](const Values& v, AdjustmentSettings& s) {
             s.brightness = CExtract::ToDouble(v[0]);
             return true;
         }},
        {"contrast",
         {"Error (SInput): Failed to get contrast.\n"},
         [](const Values& v, AdjustmentSettings& s) {
             s.contrast = CExtract::ToDouble(v[0]);
             return true;
         }},
        {"saturation",
         {"Error (SInput): Failed to get saturation.\n"},
         [](const Values& v, AdjustmentSettings& s) {
             s.saturation = CExtract::ToDouble(v[0]);
             return true;
         }},
        {"noise_reduction",
         {"Error (SInput): Failed to get DNR.\n"},
         [](const Values& v, AdjustmentSettings& s) {
             s.noiseReduction = CExtract::ToInt(v[0]);
             return true;
         }},
        {"vertical_flip",
         {"Error (SInput): Failed to get vertical flip value.\n"},
         [](const Values& v, AdjustmentSettings& s) {
             const FlipMode mode = ParseFlipMode(v[0]);
             if (mode == FlipMode::Unknown) {
                 PostQuoted("Error (SIAdjustment): Unknown flip type '", v[0], "'.\n");
                 PostNameHint("Error (SIAdjustment): ", v[0], kFlipNames);
                 return false;
             }
             s.verticalFlip = mode;
             return true;
         }},
        {"rotate",
         {"Error (SInput): Failed to get rotation.\n"},
         [](const Values& v, AdjustmentSettings& s) {
             if (std::find(kTurnNames.begin(), kTurnNames.end(), v[0]) == kTurnNames.end()) {
                 PostQuoted("Error (SIAdjustment): Unknown rotation '", v[0], "'.\n");
                 PostNameHint("Error (SIAdjustment): ", v[0], kTurnNames);
                 return false;
             }
             s.rotation = CExtract::ToInt(v[0]);
             return true;
         }},
        {"deinterlace",
         {"Error (SInput): Failed to get deinterlace mode.\n"},
         [](const Values& v, AdjustmentSettings& s) {
             const auto found = std::find(kDeinterlaceNames.begin(), kDeinterlaceNames.end(), v[0]);
             if (found == kDeinterlaceNames.end()) {
                 PostQuoted("Error (SIAdjustment): Unknown deinterlace mode '", v[0], "'.\n");
                 PostNameHint("Error (SIAdjustment): ", v[0], kDeinterlaceNames);
                 return false;
             }
             s.deinterlace = static_cast<DeinterlaceMode>(found - kDeinterlaceNames.begin() + 1);
             return true;
         }},
        {"fill",
         {"Error (SInput): Failed to get fill mode.\n"},
         [](const Values& v, AdjustmentSettings& s) {
             const auto found = std::find(kFillNames.begin(), kFillNames.end(), v[0]);
             if (found == kFillNames.end()) {
                 PostQuoted("Error (SIAdjustment): Unknown fill mode '", v[0], "'.\n");
                 PostNameHint("Error (SIAdjustment): ", v[0], kFillNames);
                 return false;
             }
             s.fill = static_cast<FillMode>(found - kFillNames.begin() + 1);
             return true;
         }},
    };
    return statements;
}

bool ReadAdjustments(const std::string& body, AdjustmentSettings& settings,
                     std::map<std::string, StatementRead>* reads) {
    bool ok = true;
    std::string arguments;
    Values values;
    for (const AdjustmentStatement& statement : AdjustmentStatements()) {
        StatementRead read;
        size_t cursor = 0;
        while (CExtract::ExtractCall(body, statement.keyword, cursor, arguments)) {
            // Each statement assigns its values, so the last one decides.
            read.found = true;
            const bool set = ReadArguments(arguments, statement.missing, values) &&
                             statement.set(values, settings);
            read.set = read.set || set;
            ok = ok && set;
            if (!set && !reads) {
                return false;
            }
        }
        if (reads) {
            (*reads)[statement.keyword] = read;
        }
    }
    return ok;
}

bool ParseInputStatements(const std::string& text,
                          std::map<std::string, std::unique_ptr<CSInput>>& inputs) {
    size_t cursor = 0;
    std::string arguments;
    std::string body;
    while (CExtract::ExtractBlock(text, "input", cursor, arguments, body)) {
        size_t at = 0;
        std::string id;
        std::string file;
        if (!CExtract::NextArgument(arguments, at, id) ||
            !CExtract::NextArgument(arguments, at, file)) {
            return false;
        }
        id = CExtract::TrimId(id);
        std::string focusName = "center";
        std::string videoSync = "0";
        std::string timelineSync = "0";
        if (CExtract::NextArgument(arguments, at, focusName, true) &&
            CExtract::NextArgument(arguments, at, videoSync, true)) {
            CExtract::NextArgument(arguments, at, timelineSync, true);
        }
        const InputFocus focus = ParseFocus(focusName);
        if (focus == InputFocus::Unknown) {
            PostQuoted("Error (SInput): Unknown input focus type '", focusName, "'.\n");
            PostNameHint("Error (SInput): ", focusName, kFocusNames);
            return false;
        }
        auto input = std::make_unique<CSInput>(id, file, focus, CExtract::ToInt(videoSync),
                                               CExtract::ToInt(timelineSync));
        if (!ReadAdjustments(body, input->settings)) {
            return false;
        }
        inputs[id] = std::move(input);
    }
    return true;
}

}  // namespace zorvo
