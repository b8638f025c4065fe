#pragma once

#include <array>
#include <cstdint>

#include "script/Input.h"

namespace zorvo {

// One adjusted pixel, in the byte order of a frame bitmap.
struct BgrPixel {
    std::uint8_t blue = 0;
    std::uint8_t green = 0;
    std::uint8_t red = 0;
    bool operator==(const BgrPixel&) const = default;
};

// The small tables that the colour adjustments of one parameter set fold into. The build
// folds them further into an input's 48 MiB lookup table (BuildLut); the Adjustments preview
// rebuilds only these for every painted frame and applies them pixel by pixel.
struct AdjustmentTables {
    using ByteTable = std::array<std::uint8_t, 256>;

    // Balance on the cyan-red, magenta-green and yellow-blue axes, brightness, contrast and
    // saturation; the defaults leave every pixel as it is.
    AdjustmentTables(double colorBalanceCR, double colorBalanceMG, double colorBalanceYB,
                     double brightness, double contrast, double saturation);
    explicit AdjustmentTables(const AdjustmentSettings& settings);

    // Balance, brightness and contrast of one component, then saturation around the grey of
    // the three results.
    BgrPixel Apply(std::uint8_t blue, std::uint8_t green, std::uint8_t red) const;

    ByteTable balanceR{};
    ByteTable balanceG{};
    ByteTable balanceB{};
    ByteTable brightnessTable{};
    std::array<double, 256> contrastCurve{};
    ByteTable contrastTable{};
    // [channel value][grey value]
    std::array<ByteTable, 256> saturationTable{};
};

// Fills `settings.lut` (kLutBytes, indexed by 0xRRGGBB, entries blue, green, red) with the
// adjusted pixel of every colour. A table already present is rebuilt in place. False, with a
// log line and no table, when the memory cannot be had.
bool BuildLut(AdjustmentSettings& settings);

}  // namespace zorvo
