#pragma once

#include <array>
#include <optional>
#include <string>

namespace zorvo {

// Positions of the Adjustments dialog's controls: seven sliders 0 ... 100 and the flip item
// (0 "auto", 1 "true", 2 "false").
struct AdjustmentPositions {
    int colorBalanceCR = 50;
    int colorBalanceMG = 50;
    int colorBalanceYB = 50;
    int brightness = 50;
    int contrast = 50;
    int saturation = 50;
    int noiseReduction = 0;
    int flipItem = 0;
};

// The values the positions stand for, in single precision as the dialog computes them.
struct AdjustmentValues {
    float colorBalanceCR;
    float colorBalanceMG;
    float colorBalanceYB;
    float brightness;
    float contrast;
    float saturation;
    int noiseLevel;
};
AdjustmentValues ValuesOf(const AdjustmentPositions& positions);

// The flip item's text as the script writes it.
const char* FlipItemText(int item);

// The id a snippet gives its input: the video's file name up to its first dot, every character
// that is not a letter or digit made '_' ("cam" when there is none).
std::string SnippetId(const std::string& path);

// One `input` statement with the six adjustment statements for the positions: the id above, the
// path as it is, and no line break after the closing brace.
std::string FormatAdjustmentSnippet(const std::string& path, const AdjustmentPositions& positions);

// The value a slider (0 ... 5 as in the snippet, 6 noise reduction) stands at, as the snippet
// writes it.
std::string SliderValueText(const AdjustmentPositions& positions, int slider);

// What the adjustment statements of a pasted text set. Absent parts change nothing.
struct PastedAdjustments {
    std::array<std::optional<int>, 3> colorBalance;  // slider positions
    std::optional<int> brightness;
    std::optional<int> contrast;
    std::optional<int> saturation;
    std::optional<int> noiseLevel;  // as written; its slider stands at 5 x level
    std::optional<int> flipItem;    // only for "auto", "true" and "false"
    bool noiseFound = false;        // a noise_reduction statement was there
    bool flipFound = false;         // a vertical_flip statement, whatever its word
};

// Reads the statements with the script's own reader (the last of each kind decides); malformed
// ones post their log lines and change nothing.
PastedAdjustments ReadAdjustmentSnippet(const std::string& text);

// A real number as a slider position: truncated toward zero, held to 0 ... 100.
int SliderPosition(double value);

}  // namespace zorvo
