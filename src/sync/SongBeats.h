#pragma once

#include <memory>
#include <string>
#include <vector>

namespace zorvo {

// What the song's sound says about its beats, before any script is looked at.
struct SongAnalysis {
    // The strength curves have one value a hop; value k belongs to the moment TimeOf(k).
    double hopSeconds = 0;
    double delaySeconds = 0;
    std::vector<float> onsets;  // spectral flux (aubio): how much new sound starts
    std::vector<float> lows;    // rise of the sound below about 150 Hz (kick drum, bass)
    // aubio's beat tracker, each beat moved to the onset peak it stands on; seconds into the
    // WAVE file.
    std::vector<double> beats;
    double seconds = 0;  // the song's length

    double TimeOf(double k) const { return k * hopSeconds - delaySeconds; }
    double IndexOf(double t) const { return (t + delaySeconds) / hopSeconds; }
    // The onset peak within `reach` seconds of t, moved between hops by a parabola through its
    // neighbours: its time, and its strength (0 when there is no peak there).
    double PeakNear(double t, double reach, float& strength) const;
    // The strength below which nothing counts as an onset.
    float OnsetFloor() const;
};

// The analysis of a WAVE file: from the user's cache folder when the file is unchanged (same
// path, size, modification time and first megabyte), else decoded and analysed and then cached.
// Null, with a log line, when the file cannot be read as the render would read it.
std::shared_ptr<const SongAnalysis> AnalyseSong(const std::string& wavePath);

// Analyses a song's samples (mono, `rate`) handed over in pieces, in order, so the song is never
// held whole: the result is that of all the samples at once.
class SongAnalyser {
  public:
    explicit SongAnalyser(int rate);
    ~SongAnalyser();
    SongAnalyser(const SongAnalyser&) = delete;
    SongAnalyser& operator=(const SongAnalyser&) = delete;
    void Put(const float* samples, size_t count);
    SongAnalysis Finish();

  private:
    struct State;
    std::unique_ptr<State> m_state;
};

// The analysis of samples already decoded (mono, `rate`), for tests and benchmarks.
SongAnalysis AnalyseSamples(const std::vector<float>& samples, int rate);

// Where the analyses are kept: $XDG_CACHE_HOME/zorvo, else ~/.cache/zorvo; empty when neither
// is known.
std::string BeatCacheFolder();

}  // namespace zorvo
