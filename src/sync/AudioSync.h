#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sync/AudioTrack.h"
#include "sync/Correlation.h"

namespace zorvo {

struct SyncCamera {
    std::string id;
    std::string file;
};

enum class SyncOutcome {
    Matched,
    NoMatch,       // the sound is not the song (or too little of it)
    NoAudio,       // nothing to match
    NoVideo,       // sound without pictures: nothing to time it against
    OpenFailed,    // the file cannot be read as media
    DecodeFailed,  // its sound cannot be decoded
};

struct SyncResult {
    std::string id;
    SyncOutcome outcome = SyncOutcome::NoMatch;
    // Camera time, in ms from the camera's first picture, at which it heard the song's start.
    double offsetMs = 0.0;
    double confidence = 0.0;
};

// Finds, from their own sound, when each camera heard the song: a coarse phase-weighted
// correlation over the whole overlap at a low rate, then a fine one at the full rate around
// the coarse peak, from windows spread over the stretch of the camera that heard the song.
// Nothing of the song is held whole: its transform for the coarse search is made as it is
// decoded, and the fine search's windows are read from the files, the song's for all cameras in
// one pass, so memory does not grow with the song's length.
class AudioSync {
  public:
    static constexpr int kFineRate = 48000;
    static constexpr int kCoarseRate = 4000;
    // A camera too long for a coarse transform of this many points at kCoarseRate is matched
    // at half the rate (down to kLowestCoarseRate), so an hour of sound takes 64 MiB a
    // transform instead of 128 MiB.
    static constexpr size_t kLongestCoarse = size_t{1} << 23;
    static constexpr int kLowestCoarseRate = 500;
    // Below this the peak is not trusted. The figure is the coarse peak's confidence times the
    // share of the overlap's quarters whose own fine peak agrees with the whole's.
    static constexpr double kMinConfidence = 0.5;

    // Measures the song at the full rate and the coarse ones. False with a log line when it
    // cannot be read.
    bool LoadSong(const std::string& path);

    // Matches every camera, several at once. `finished` is called once per camera as it
    // completes, from the thread that matched it.
    std::vector<SyncResult> Match(const std::vector<SyncCamera>& cameras,
                                  const std::function<void(const SyncResult&)>& finished);

  private:
    // A camera between the coarse search and the fine one.
    struct Candidate {
        bool coarseMatched = false;
        double lag = 0.0;  // at kFineRate, in samples of the whole sound
        int reach = 0;
        double start = 0.0;      // of the camera's sound, as AudioTrack::start
        std::int64_t first = 0;  // the camera sample the fine windows are counted from
        FineWindows windows;
        std::vector<float> song;  // the song's windows, one after the other
    };
    // The first pass: the whole sound at the coarse rate only, and the fine windows placed.
    SyncResult MatchCoarseOnly(const SyncCamera& camera, Candidate& candidate);
    // Reads the song's windows of every candidate in one pass over the song.
    bool ReadSongWindows(std::vector<Candidate>& candidates);
    // The second pass: the camera's windows at the full rate, and the fine search.
    void MatchFine(const SyncCamera& camera, Candidate& candidate, SyncResult& result);
    // The coarse search: true and the lag in samples at kFineRate when the peak is trusted.
    bool MatchCoarse(AudioTrack& coarse, SyncResult& result, double& lag, int& reach);
    // The song's length at a coarse rate, 0 when it has not been measured at that rate.
    size_t SongCount(int rate) const;
    // Decodes the song and hands it to `take` piece by piece at `rate` (kCoarseRate or a
    // lower coarse rate), false when it cannot be read again as it was measured. Rate 0 hands
    // over every coarse rate and measures the song's length at the full rate.
    bool ReadSongAt(int rate, const std::function<bool(int rate, const float*, size_t)>& take);
    std::shared_ptr<const Spectrum> SongSpectrum(int rate, size_t length);

    std::string m_songPath;
    AudioTrack m_song;  // its length and start at kFineRate, without its samples
    std::mutex m_mutex;
    std::map<int, size_t> m_songCounts;  // the song's length at each coarse rate
    std::map<std::pair<int, size_t>, std::shared_ptr<const Spectrum>> m_songSpectra;
};

// How a result reads in a report: "no audio stream", "no match: confidence 0.08", ...
std::string DescribeOutcome(const SyncResult& result);

}  // namespace zorvo
