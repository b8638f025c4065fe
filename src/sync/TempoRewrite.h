#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sync/TempoDrift.h"

namespace zorvo {

class CScript;

// A new value for the tempo statement of one marker (its index in CScript::markers).
struct TempoEdit {
    size_t marker = 0;
    std::string tempo;
};

// One edit per tempo statement whose spans drift by more than a frame: the constant tempo that
// lands the end of all the spans it times on their beats, with the fewest decimals that keep
// them within 5 ms.
std::vector<TempoEdit> TemposToWrite(const BeatReport& report);

// Replaces the values of the edited tempo statements, and song_start's (written as a statement
// of its own at the top when there is none; songStartMs < 0 leaves it), in the script read as
// `text`. Every other byte stays. The result is read back: when reading it would find anything
// but the edited values changed, or a value is not a plain number, nothing is written. Then the
// file is replaced as `zorvo sync --write` replaces it. Posts its own lines.
bool WriteTempos(const std::string& scriptPath, const std::string& text, const CScript& script,
                 const std::vector<TempoEdit>& edits, std::int64_t songStartMs);

}  // namespace zorvo
