#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "script/Extract.h"

namespace zorvo {

// Part of the source picture that stays when the capture crops it. 0 is an unknown name.
enum class InputFocus : std::int32_t {
    Unknown = 0,
    Center = 1,
    Left = 2,
    Right = 3,
    Top = 4,
    Bottom = 5,
    TopLeft = 6,
    BottomLeft = 7,
    TopRight = 8,
    BottomRight = 9,
};

enum class FlipMode : std::int32_t {
    Unknown = 0,
    Auto = 1,  // flip unless the decoder delivers full-range planar YUV 4:2:2
    True = 2,
    False = 3,
};

// Size of an input's colour lookup table: 2^24 entries of blue, green, red.
inline constexpr std::size_t kLutBytes = 256u * 256u * 256u * 3u;

struct AdjustmentTables;

// The colour table BuildLut made for an input: none yet, none needed (the adjustments change
// nothing), one 256-entry table per component (they act on each component alone), the full
// table indexed by the whole colour, or, for a few pictures only, the small tables the full one
// is made of, applied pixel by pixel (the same bytes, without building 2^24 entries).
enum class LutKind : std::uint8_t { None, Identity, PerChannel, Full, Direct };

struct AdjustmentSettings {
    double colorBalanceCR = 0.0;
    double colorBalanceMG = 0.0;
    double colorBalanceYB = 0.0;
    double brightness = 0.0;
    double contrast = 0.0;
    double saturation = 1.0;
    // Built on first use by BuildLut. Full: kLutBytes bytes indexed by 0xRRGGBB.
    LutKind lutKind = LutKind::None;
    std::unique_ptr<std::uint8_t[]> lut;
    // PerChannel: the adjusted blue, green and red of every level.
    std::array<std::array<std::uint8_t, 256>, 3> channelLut{};
    // Direct: the tables applied to every pixel.
    std::shared_ptr<const AdjustmentTables> direct;
    std::int32_t noiseReduction = 0;
    FlipMode verticalFlip = FlipMode::Auto;
    // A clockwise turn of 0, 90, 180 or 270 degrees instead of the file's own; -1: the file's.
    std::int32_t rotation = -1;
};

class CSIAdjustment {
  public:
    virtual ~CSIAdjustment() = default;
    // Assigns (does not add) this statement's values.
    virtual void Apply(AdjustmentSettings& settings) const = 0;
};

class CSIAColorBalance : public CSIAdjustment {
  public:
    CSIAColorBalance(double cr_, double mg_, double yb_) : cr(cr_), mg(mg_), yb(yb_) {}
    void Apply(AdjustmentSettings& settings) const override;
    double cr, mg, yb;
};

class CSIABrightness : public CSIAdjustment {
  public:
    explicit CSIABrightness(double v) : value(v) {}
    void Apply(AdjustmentSettings& settings) const override;
    double value;
};

class CSIAContrast : public CSIAdjustment {
  public:
    explicit CSIAContrast(double v) : value(v) {}
    void Apply(AdjustmentSettings& settings) const override;
    double value;
};

class CSIASaturation : public CSIAdjustment {
  public:
    explicit CSIASaturation(double v) : value(v) {}
    void Apply(AdjustmentSettings& settings) const override;
    double value;
};

class CSIADNR : public CSIAdjustment {
  public:
    explicit CSIADNR(std::int32_t v) : value(v) {}
    void Apply(AdjustmentSettings& settings) const override;
    std::int32_t value;
};

class CSIAVerticalFlip : public CSIAdjustment {
  public:
    explicit CSIAVerticalFlip(FlipMode m) : mode(m) {}
    void Apply(AdjustmentSettings& settings) const override;
    FlipMode mode;
};

class CSIARotate : public CSIAdjustment {
  public:
    explicit CSIARotate(std::int32_t d) : degrees(d) {}
    void Apply(AdjustmentSettings& settings) const override;
    std::int32_t degrees;
};

// One source video: a camera's recording of the take.
class CSInput : public CExtract {
  public:
    CSInput(std::string id, std::string file, InputFocus focus = InputFocus::Center,
            std::int32_t videoSyncMs = 0, std::int32_t timelineSyncMs = 0);

    // Reads the adjustment statements of the body into `adjustments`, then `settings`.
    bool ParseBody(const std::string& body);

    std::string id;
    std::string file;
    InputFocus focus;
    std::int32_t videoSyncMs;
    std::int32_t timelineSyncMs;
    std::vector<std::unique_ptr<CSIAdjustment>> adjustments;
    AdjustmentSettings settings;
};

struct FocusXY {
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    bool operator==(const FocusXY&) const = default;
};

// The point on the thirds of a w x h picture around which the crop window is centred.
FocusXY FocusPoint(std::uint32_t w, std::uint32_t h, InputFocus focus);

InputFocus ParseFocus(const std::string& name);   // Unknown when not a focus name
FlipMode ParseFlipMode(const std::string& name);  // Unknown when not a flip name

// Reads every `input` statement of the script text into the map; a later id replaces an
// earlier one. False after a logged failure; the inputs read so far stay.
bool ParseInputStatements(const std::string& text,
                          std::map<std::string, std::unique_ptr<CSInput>>& inputs);

}  // namespace zorvo
