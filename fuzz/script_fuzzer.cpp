// Arbitrary bytes as a script: reading, every statement, group resolution and validation must
// end with a result, never crash, hang or touch memory they do not own.
#include <cstddef>
#include <cstdint>
#include <string>

#include "script/Script.h"
#include "script/SpanTiming.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zorvo::CScript script("fuzz.zorvo");
    if (!script.LoadText(std::string(reinterpret_cast<const char*>(data), size))) {
        return 0;
    }
    for (const auto& [id, group] : script.groups) {
        zorvo::InputList list;
        script.BuildInputList(id, list);
    }
    if (script.Validate()) {
        // What `zorvo check` prints for a valid script.
        zorvo::MsToFrames(zorvo::EstimateTimelineMs(script.markers));
    }
    return 0;
}
