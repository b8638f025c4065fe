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

// Whether a capture deinterlaces: `Auto` when the stream or its pictures say interlaced.
enum class DeinterlaceMode : std::int32_t {
    Unknown = 0,
    Auto = 1,
    On = 2,
    Off = 3,
};

// What an input shows where its recording does not reach (before its first picture, after
// its last): nothing (the media check refuses such a timeline), black, or the picture nearest
// in time.
enum class FillMode : std::int32_t {
    Unknown = 0,
    None = 1,
    Black = 2,
    Hold = 3,
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
    DeinterlaceMode deinterlace = DeinterlaceMode::Auto;
    FillMode fill = FillMode::None;
};

// One statement of an input's body that adjusts its pictures: its keyword, the line posted for
// each missing argument, and what its values set. A new statement is one entry of the table.
struct AdjustmentStatement {
    const char* keyword;
    std::vector<const char*> missing;  // one failure line per required argument
    // Assigns (does not add) the statement's values; false after its own log lines.
    bool (*set)(const std::vector<std::string>& values, AdjustmentSettings& settings);
};

// Every adjustment statement, in the order they are read.
const std::vector<AdjustmentStatement>& AdjustmentStatements();

// Whether a body held statements of one keyword, and whether one of them set its values.
struct StatementRead {
    bool found = false;
    bool set = false;
};

// Reads the adjustment statements of `body` keyword by keyword in the table's order; of each
// keyword the last statement decides. A script's input stops at the first malformed statement
// (false after its lines); with `reads` (a pasted snippet, by keyword) reading goes on past it.
bool ReadAdjustments(const std::string& body, AdjustmentSettings& settings,
                     std::map<std::string, StatementRead>* reads = nullptr);

// One source video: a camera's recording of the take.
class CSInput : public CExtract {
  public:
    CSInput(std::string id, std::string file, InputFocus focus = InputFocus::Center,
            std::int32_t videoSyncMs = 0, std::int32_t timelineSyncMs = 0);

    std::string id;
    std::string file;
    InputFocus focus;
    std::int32_t videoSyncMs;
    std::int32_t timelineSyncMs;
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
