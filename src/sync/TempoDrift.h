#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/LogChannel.h"
#include "sync/SongBeats.h"

namespace zorvo {

class CScript;

// How one span of the script lies against the song's beats.
struct SpanDrift {
    std::uint32_t fromMeasure = 0;
    std::uint32_t toMeasure = 0;
    int line = 0;  // where the span's marker is written; 0 when not read from a text
    int column = 0;
    size_t tempoMarker = 0;  // index of the marker whose tempo statement is in force
    std::int32_t beatUnit = 4;
    double beatMs = 0;
    double scriptTempo = 0;
    double songTempo = 0;  // the constant tempo that lands the span's end on its beat; 0: unheard
    double startMs = 0;    // the script's span, from measure 1
    double endMs = 0;
    // The script's span length minus the song's: > 0, the cuts come late by the span's end.
    double driftMs = 0;
    double totalDriftMs = 0;  // the same from measure 1 to the span's end
    // The farthest a heard beat lies from the song's constant tempo over the span, and a measure
    // at which two tempos would fit (0: none needed or none helps).
    double wanderMs = 0;
    std::uint32_t splitAt = 0;
    int beats = 0;
    int beatsHeard = 0;
    bool heard = false;  // enough beats heard to judge
};

struct BeatReport {
    double songStartMs = 0;       // where the script puts measure 1 in the WAVE
    double firstDownbeatMs = -1;  // where the song's first downbeat is; < 0 none found
    std::vector<double> downbeatsMs;
    std::vector<SpanDrift> spans;
};

// Follows the script's beats through the song from its first downbeat: each beat is looked for
// near where the beats heard before it put it, and each span's tempo is read from its heard
// beats. The script must be valid.
BeatReport MeasureDrift(const CScript& script, const SongAnalysis& song);

// The same for a script file, read quietly (a check has said what is wrong with the script or
// its song), with the song's beats in seconds. False when there is nothing to hold against.
bool MeasureScriptDrift(const std::string& scriptPath, BeatReport& report,
                        std::vector<double>* beats = nullptr);

// The spans that take their tempo from one statement, which a wrong tempo puts off together:
// the drift by the end of the last of them, and the constant tempo that lands that end on its
// beat, with the fewest decimals (up to three) that keep it within 5 ms.
struct TempoReach {
    size_t firstSpan = 0;
    size_t lastSpan = 0;
    double scriptTempo = 0;
    double songTempo = 0;
    double driftMs = 0;
    std::string suggested;
    bool heard = false;  // any of its spans
};
std::vector<TempoReach> TempoReaches(const BeatReport& report);

// How far a cut may lie from its beat before it is worth a warning.
enum class DriftLimit {
    Frame,  // 40 ms: what `zorvo beats` holds a script to
    Beat,   // one beat of the span: what `zorvo check` warns about
};

// One warning line per tempo statement whose spans drift past the limit by their end, and one
// per span among several of one statement that does so on its own (the song changes its tempo
// where the script does not); with a frame's limit also one per span where no constant tempo
// keeps the cuts within it, and one for the first downbeat when it lies farther than a frame
// from measure 1.
// Each warning names its span's marker and where it is written.
std::vector<Message> DriftMessages(const BeatReport& report, DriftLimit limit);
// Their log texts.
std::vector<std::string> DriftWarnings(const BeatReport& report, DriftLimit limit);

}  // namespace zorvo
