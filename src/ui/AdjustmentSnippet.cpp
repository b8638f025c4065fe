#include "ui/AdjustmentSnippet.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "script/Extract.h"

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

// The first argument of a call, when there is one (a missing one is logged).
std::optional<std::string> FirstArgument(const std::string& arguments) {
    size_t cursor = 0;
    std::string argument;
    if (!CExtract::NextArgument(arguments, cursor, argument)) {
        return std::nullopt;
    }
    return argument;
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
    const size_t slash = path.find_last_of('/');
    std::string id = path.substr(slash == std::string::npos ? 0 : slash + 1);
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
    PastedAdjustments pasted;
    std::string arguments;

    size_t cursor = 0;
    if (CExtract::ExtractCall(text, "color_balance", cursor, arguments)) {
        // Only the first statement counts; a missing value leaves its slider alone.
        size_t at = 0;
        std::string argument;
        for (auto& slider : pasted.colorBalance) {
            if (!CExtract::NextArgument(arguments, at, argument)) {
                break;
            }
            slider = SliderPosition(CExtract::ToDouble(argument) * 50 + 50);
        }
    }

    // For the single-value statements the last one decides. True when one was found.
    const auto readEach = [&](const char* keyword, auto&& apply) {
        bool found = false;
        size_t from = 0;
        while (CExtract::ExtractCall(text, keyword, from, arguments)) {
            found = true;
            if (const auto argument = FirstArgument(arguments)) {
                apply(*argument);
            }
        }
        return found;
    };
    readEach("brightness", [&](const std::string& a) {
        pasted.brightness = SliderPosition(CExtract::ToDouble(a) * 50 + 50);
    });
    readEach("contrast", [&](const std::string& a) {
        pasted.contrast = SliderPosition(CExtract::ToDouble(a) * 25 + 50);
    });
    readEach("saturation", [&](const std::string& a) {
        pasted.saturation = SliderPosition(CExtract::ToDouble(a) * 50);
    });
    pasted.noiseFound = readEach(
        "noise_reduction", [&](const std::string& a) { pasted.noiseLevel = CExtract::ToInt(a); });
    pasted.flipFound = readEach("vertical_flip", [&](const std::string& a) {
        for (int item = 0; item < 3; ++item) {
            if (a == kFlipItems[item]) {
                pasted.flipItem = item;
            }
        }
    });
    return pasted;
}

}  // namespace zorvo
