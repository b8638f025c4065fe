#include "capture/ImageAdjustments.h"

#include <cmath>
#include <new>

#include "common/LogChannel.h"

namespace zorvo {

namespace {

constexpr double kPiBy255 = 0.012319971190548208;
constexpr double kPiBy254 = 0.012368475014133044;

// Bounds first, then truncation toward zero. NaN (a script may write "nan") takes the lower
// bound instead of an undefined conversion.
std::uint8_t ToByte(double v, int lower, int upper) {
    if (v > upper) {
        return static_cast<std::uint8_t>(upper);
    }
    if (v < lower || std::isnan(v)) {
        return static_cast<std::uint8_t>(lower);
    }
    return static_cast<std::uint8_t>(static_cast<int>(v));
}

}  // namespace

AdjustmentTables::AdjustmentTables(double colorBalanceCR, double colorBalanceMG,
                                   double colorBalanceYB, double brightness, double contrast,
                                   double saturation) {
    for (int i = 0; i < 256; ++i) {
        const double s = 127.0 * std::sin(i * kPiBy255);
        balanceR[i] = ToByte(i + s * colorBalanceCR, 0, 255);
        balanceG[i] = ToByte(i + s * colorBalanceMG, 0, 255);
        balanceB[i] = ToByte(i + s * colorBalanceYB, 0, 255);
        brightnessTable[i] = ToByte(i + (255 - i) * brightness, 0, 255);
    }
    // The distance from the identity to an S-curve through the middle, odd around 127.5.
    for (int i = 128; i < 256; ++i) {
        contrastCurve[i] = 127.0 * std::sin((i - 128) * kPiBy254) + 128 - i;
        contrastCurve[255 - i] = -contrastCurve[i];
    }
    // Contrast never moves a level across the middle.
    for (int i = 0; i < 256; ++i) {
        const double v = i + contrast * contrastCurve[i];
        contrastTable[i] = i < 128 ? ToByte(v, 0, 127) : ToByte(v, 127, 255);
    }
    for (int a = 0; a < 256; ++a) {
        for (int g = 0; g < 256; ++g) {
            saturationTable[a][g] = ToByte(g + std::trunc((a - g) * saturation), 0, 255);
        }
    }
}

AdjustmentTables::AdjustmentTables(const AdjustmentSettings& settings)
    : AdjustmentTables(settings.colorBalanceCR, settings.colorBalanceMG, settings.colorBalanceYB,
                       settings.brightness, settings.contrast, settings.saturation) {}

BgrPixel AdjustmentTables::Apply(std::uint8_t blue, std::uint8_t green, std::uint8_t red) const {
    const int r = contrastTable[brightnessTable[balanceR[red]]];
    const int g = contrastTable[brightnessTable[balanceG[green]]];
    const int b = contrastTable[brightnessTable[balanceB[blue]]];
    const int grey = (r + g + b) / 3;
    return {saturationTable[b][grey], saturationTable[g][grey], saturationTable[r][grey]};
}

bool BuildLut(AdjustmentSettings& settings, bool fullTable) {
    const AdjustmentTables tables(settings);
    settings.direct.reset();
    // Balance, brightness and contrast act on each component alone; only saturation mixes them.
    AdjustmentTables::ByteTable red, green, blue;
    for (int i = 0; i < 256; ++i) {
        red[i] = tables.contrastTable[tables.brightnessTable[tables.balanceR[i]]];
        green[i] = tables.contrastTable[tables.brightnessTable[tables.balanceG[i]]];
        blue[i] = tables.contrastTable[tables.brightnessTable[tables.balanceB[i]]];
    }
    bool keepsComponents = true;
    for (int a = 0; a < 256 && keepsComponents; ++a) {
        for (int g = 0; g < 256; ++g) {
            if (tables.saturationTable[a][g] != a) {
                keepsComponents = false;
                break;
            }
        }
    }

    if (keepsComponents) {
        bool identity = true;
        for (int i = 0; i < 256; ++i) {
            identity = identity && red[i] == i && green[i] == i && blue[i] == i;
        }
        settings.lut.reset();
        settings.lutKind = identity ? LutKind::Identity : LutKind::PerChannel;
        settings.channelLut = {blue, green, red};
        return true;
    }

    settings.lutKind = LutKind::None;
    if (!fullTable) {
        settings.lut.reset();
        settings.direct = std::make_shared<const AdjustmentTables>(tables);
        settings.lutKind = LutKind::Direct;
        return true;
    }
    if (!settings.lut) {
        settings.lut.reset(new (std::nothrow) std::uint8_t[kLutBytes]);
        if (!settings.lut) {
            PostLog("Error (SInput): Failed to allocate lookup table.\n");
            return false;
        }
    }
    settings.lutKind = LutKind::Full;

    std::uint8_t* entry = settings.lut.get();
    for (int R = 0; R < 256; ++R) {
        const int r = red[R];
        const AdjustmentTables::ByteTable& saturatedR = tables.saturationTable[r];
        for (int G = 0; G < 256; ++G) {
            const int g = green[G];
            const AdjustmentTables::ByteTable& saturatedG = tables.saturationTable[g];
            const int redGreen = r + g;
            for (int B = 0; B < 256; ++B) {
                const int b = blue[B];
                const int grey = (redGreen + b) / 3;
                entry[0] = tables.saturationTable[b][grey];
                entry[1] = saturatedG[grey];
                entry[2] = saturatedR[grey];
                entry += 3;
            }
        }
    }
    return true;
}

}  // namespace zorvo
