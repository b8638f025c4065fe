#pragma once

#include <vector>

namespace zorvo::test {

// A drum pattern and a bass line: hi-hat on every pulse (and between pulses in quarter time,
// late when swung), kick on the first and middle pulse of a measure, snare on the odd ones, a
// new bass note on every downbeat. The tempo (quarter notes a minute) may ramp linearly.
struct DrumSong {
    double tempo;
    double ramp = 0;  // tempo change from the first beat to the last
    int beatCount = 4;
    int beatUnit = 4;
    double leadMs = 0;  // silence before the first downbeat
    bool swing = false;
    int measures = 30;
};

// Seconds of each pulse into the song, the pulse after the last measure included.
std::vector<double> PulseTimes(const DrumSong& song);

// The song at `rate`, one second of its last sounds after the last measure.
std::vector<float> RenderDrums(const DrumSong& song, int rate);

// The demo session's song (examples/demo/make-media.sh): a kick every beat at 120 bpm, a
// click on every measure's first beat, over a quiet chord; 32 s.
std::vector<float> DemoSong(int rate);

}  // namespace zorvo::test
