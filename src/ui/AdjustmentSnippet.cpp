#include "ui/AdjustmentSnippet.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <map>

#include "common/PathName.h"
#include "script/Input.h"

namespace zorvo {

namespace {

constexpr const char* kFlipItems[] = {"auto", "true", "false"};

// Two decimals whatever the C library's locale says.
std::string Fixed2(float value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(value),
                                      std::chars_format::fixed, 2);
    return std::string(buffer, result.ptr);
}

}  // namespace

AdjustmentValues ValuesOf(const AdjustmentPositions& p) {
    AdjustmentValues v;
    v.colorBalanceCR = static_cast<float>(p.colorBalanceCR - 50) / 50.0f;
    v.colorBalanceMG = static_cast<float>(p.colorBalanceMG - 50) / 50.0f;
    v.colorBalanceYB = static_cast<float>(p.colorBalanceYB - 50) / 50.0f;
    v.brightness = static_cast<float>(p.brightness - 50) / 50.0f;
    v.contrast = static_cast<float>(p.contrast - 50) / 25.0f;
    v.saturation = static_cast<float>(p.saturation) / 50.0f;
    v.noiseLevel = p.noiseReduction / 5;
    return v;
}

const char* FlipItemText(int item) {
    return item >= 0 && item < 3 ? kFlipItems[item] : kFlipItems[0];
}

std::string SnippetId(const std::string& path) {
    // Up to the first dot: "cam1.take2.mov" is camera cam1.
    std::string id = FileName(path);
    id = id.substr(0, id.find('.'));
    for (char& c : id) {
        const bool word =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        c = word ? c : '_';
    }
    return id.empty() ? "cam" : id;
}

std::string FormatAdjustmentSnippet(const std::string& path, const AdjustmentPositions& positions) {
    const AdjustmentValues v = ValuesOf(positions);
    std::string text = "input( \"" + SnippetId(path) + "\", \"" + path + "\" ) {\n";
    text += "\tcolor_balance( " + Fixed2(v.colorBalanceCR) + ", " + Fixed2(v.colorBalanceMG) +
            ", " + Fixed2(v.colorBalanceYB) + " );\n";
    text += "\tbrightness( " + Fixed2(v.brightness) + " );\n";
    text += "\tcontrast( " + Fixed2(v.contrast) + " );\n";
    text += "\tsaturation( " + Fixed2(v.saturation) + " );\n";
    text += "\tnoise_reduction( " + std::to_string(v.noiseLevel) + " );\n";
    text += "\tvertical_flip( " + std::string(FlipItemText(positions.flipItem)) + " );\n";
    text += "}";
    return text;
}

std::string SliderValueText(const AdjustmentPositions& positions, int slider) {
    const AdjustmentValues v = ValuesOf(positions);
    const float values[] = {v.colorBalanceCR, v.colorBalanceMG, v.colorBalanceYB,
                            v.brightness,     v.contrast,       v.saturation};
    return slider >= 0 && slider < 6 ? Fixed2(values[slider]) : std::to_string(v.noiseLevel);
}

int SliderPosition(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    return static_cast<int>(std::clamp(std::trunc(value), 0.0, 100.0));
}

PastedAdjustments ReadAdjustmentSnippet(const std::string& text) {
    // The script's own reader: the last statement of each kind decides.
    AdjustmentSettings settings;
    std::map<std::string, StatementRead> reads;
    ReadAdjustments(text, settings, &reads);
    PastedAdjustments pasted;
    if (reads["color_balance"].set) {
        pasted.colorBalance = {SliderPosition(settings.colorBalanceCR * 50 + 50),
                               SliderPosition(settings.colorBalanceMG * 50 + 50),
                               SliderPosition(settings.colorBalanceYB * 50 + 50)};
    }
    if (reads["brightness"].set) {
        pasted.brightness = SliderPosition(settings.brightness * 50 + 50);
    }
    if (reads["contrast"].set) {
        pasted.contrast = SliderPosition(settings.contrast * 25 + 50);
    }
    if (reads["saturation"].set) {
        pasted.saturation = SliderPosition(settings.saturation * 50);
    }
    pasted.noiseFound = reads["noise_reduction"].found;
    if (reads["noise_reduction"].set) {
        pasted.noiseLevel = settings.noiseReduction;
    }
    pasted.flipFound = reads["vertical_flip"].found;
    if (reads["vertical_flip"].set) {
        // The items are FlipMode's names in its order.
        pasted.flipItem = static_cast<int>(settings.verticalFlip) - 1;
    }
    return pasted;
}

}  // namespace zorvo
