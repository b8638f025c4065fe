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

// Makes the smallest colour table that gives every colour its adjusted pixel and sets
// `settings.lutKind`: no table for adjustments that change nothing, three 256-entry tables when
// saturation leaves the components apart, else `settings.lut` (kLutBytes, indexed by 0xRRGGBB,
// entries blue, green, red), rebuilt in place when present. Without `fullTable` the last case
// keeps the small tables for pixel-by-pixel use instead (LutKind::Direct), for a few pictures.
// False, with a log line and no table, when the memory cannot be had.
bool BuildLut(AdjustmentSettings& settings, bool fullTable = true);

// The adjusted pixel through the table BuildLut made.
inline BgrPixel LookUp(const AdjustmentSettings& settings, std::uint8_t blue, std::uint8_t green,
                       std::uint8_t red) {
    switch (settings.lutKind) {
        case LutKind::PerChannel:
            return {settings.channelLut[0][blue], settings.channelLut[1][green],
                    settings.channelLut[2][red]};
        case LutKind::Direct:
            return settings.direct->Apply(blue, green, red);
        case LutKind::Full: {
            const std::uint8_t* e = settings.lut.get() + 3 * ((std::size_t{red} << 16) |
                                                              (std::size_t{green} << 8) | blue);
            return {e[0], e[1], e[2]};
        }
        default:
            return {blue, green, red};
    }
}

}  // namespace zorvo
