#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "script/Cycles.h"
#include "script/Extract.h"
#include "script/LayoutType.h"

namespace zorvo {

class CScript;

// One display entry: which input or group fills one area of the layout, and how often the
// picture there cycles.
struct CSMDisplay {
    std::string refId;
    DisplayCycle cycle = DisplayCycle::None;
};

// A point on the musical timeline from which one set of presentation settings holds until
// the next marker. The last marker in measure order only marks the end.
class CSMarker : public CExtract {
  public:
    CSMarker(const CScript& script_, LayoutType layout_, std::uint32_t measure_)
        : script(script_), layout(layout_), measure(measure_) {}

    bool Parse(const std::string& body);
    bool Validate() const;
    // Whether it displays something or sets a tempo or signature: a terminal marker must not.
    bool HasContent() const {
        return !displays.empty() || tempo != 0 || beatCount != 0 || beatUnit != 0;
    }
    void CollectReferencedIds(std::vector<std::string>& ids) const;

    // Expand the maps by written id into maps by input id (groups resolved).
    bool BuildResizeInputMap();
    bool BuildSpeedInputMap();
    std::uint32_t GetResize(const std::string& inputId) const;  // 100 when not named
    double GetSpeed(const std::string& inputId) const;          // 1.0 when not named

    const CScript& script;
    LayoutType layout;
    std::uint32_t measure;
    bool isLast = false;
    size_t statementAt = static_cast<size_t>(-1);  // where the statement begins in the script
    std::string place;  // "at line L, column C: 'marker( …'", empty when not read from a text
    double tempo = 0;   // quarter notes a minute; 0 keeps the tempo in force
    std::int32_t beatCount = 0;  // 0 keeps the signature in force
    std::int32_t beatUnit = 0;
    MarkerEffect effect = MarkerEffect::None;
    DisplayCycle strobeCycle = DisplayCycle::Unknown;
    std::int32_t separatorSize = -1;  // -1 keeps the size in force
    std::vector<CSMDisplay> displays;
    std::map<std::string, std::uint32_t> resizeById;
    std::map<std::string, std::uint32_t> resizeByInput;
    std::map<std::string, double> speedById;
    std::map<std::string, double> speedByInput;
};

}  // namespace zorvo
