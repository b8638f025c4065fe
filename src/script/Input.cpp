#include "script/Input.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "common/LogChannel.h"
#include "script/ScriptLint.h"

namespace zorvo {

void CSIAColorBalance::Apply(AdjustmentSettings& settings) const {
    settings.colorBalanceCR = cr;
    settings.colorBalanceMG = mg;
    settings.colorBalanceYB = yb;
}

void CSIABrightness::Apply(AdjustmentSettings& settings) const {
    settings.brightness = value;
}

void CSIAContrast::Apply(AdjustmentSettings& settings) const {
    settings.contrast = value;
}

void CSIASaturation::Apply(AdjustmentSettings& settings) const {
    settings.saturation = value;
}

void CSIADNR::Apply(AdjustmentSettings& settings) const {
    settings.noiseReduction = value;
}

void CSIAVerticalFlip::Apply(AdjustmentSettings& settings) const {
    settings.verticalFlip = mode;
}

void CSIARotate::Apply(AdjustmentSettings& settings) const {
    settings.rotation = degrees;
}

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
bool ReadArguments(const std::string& arguments, std::initializer_list<const char*> failures,
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

}  // namespace

bool CSInput::ParseBody(const std::string& body) {
    std::string arguments;
    std::vector<std::string> v;
    size_t cursor = 0;

    while (ExtractCall(body, "color_balance", cursor, arguments)) {
        if (!ReadArguments(arguments,
                           {"Error (SInput): Failed to get color balance CR.\n",
                            "Error (SInput): Failed to get color balance MG.\n",
                            "Error (SInput): Failed to get color balance YB.\n"},
                           v)) {
            return false;
        }
        adjustments.push_back(
            std::make_unique<CSIAColorBalance>(ToDouble(v[0]), ToDouble(v[1]), ToDouble(v[2])));
    }
    cursor = 0;
    while (ExtractCall(body, "brightness", cursor, arguments)) {
        if (!ReadArguments(arguments, {"Error (SInput): Failed to get brightness.\n"}, v)) {
            return false;
        }
        adjustments.push_back(std::make_unique<CSIABrightness>(ToDouble(v[0])));
    }
    cursor = 0;
    while (ExtractCall(body, "contrast", cursor, arguments)) {
        if (!ReadArguments(arguments, {"Error (SInput): Failed to get contrast.\n"}, v)) {
            return false;
        }
        adjustments.push_back(std::make_unique<CSIAContrast>(ToDouble(v[0])));
    }
    cursor = 0;
    while (ExtractCall(body, "saturation", cursor, arguments)) {
        if (!ReadArguments(arguments, {"Error (SInput): Failed to get saturation.\n"}, v)) {
            return false;
        }
        adjustments.push_back(std::make_unique<CSIASaturation>(ToDouble(v[0])));
    }
    cursor = 0;
    while (ExtractCall(body, "noise_reduction", cursor, arguments)) {
        if (!ReadArguments(arguments, {"Error (SInput): Failed to get DNR.\n"}, v)) {
            return false;
        }
        adjustments.push_back(std::make_unique<CSIADNR>(ToInt(v[0])));
    }
    cursor = 0;
    while (ExtractCall(body, "vertical_flip", cursor, arguments)) {
        if (!ReadArguments(arguments, {"Error (SInput): Failed to get vertical flip value.\n"},
                           v)) {
            return false;
        }
        const FlipMode mode = ParseFlipMode(v[0]);
        if (mode == FlipMode::Unknown) {
            PostQuoted("Error (SIAdjustment): Unknown flip type '", v[0], "'.\n");
            PostNameHint("Error (SIAdjustment): ", v[0], kFlipNames);
            return false;
        }
        adjustments.push_back(std::make_unique<CSIAVerticalFlip>(mode));
    }
    cursor = 0;
    while (ExtractCall(body, "rotate", cursor, arguments)) {
        if (!ReadArguments(arguments, {"Error (SInput): Failed to get rotation.\n"}, v)) {
            return false;
        }
        if (std::find(kTurnNames.begin(), kTurnNames.end(), v[0]) == kTurnNames.end()) {
            PostQuoted("Error (SIAdjustment): Unknown rotation '", v[0], "'.\n");
            PostNameHint("Error (SIAdjustment): ", v[0], kTurnNames);
            return false;
        }
        adjustments.push_back(std::make_unique<CSIARotate>(ToInt(v[0])));
    }

    for (const auto& adjustment : adjustments) {
        adjustment->Apply(settings);
    }
    return true;
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
        if (!input->ParseBody(body)) {
            return false;
        }
        inputs[id] = std::move(input);
    }
    return true;
}

}  // namespace zorvo
