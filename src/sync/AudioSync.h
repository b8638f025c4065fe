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
// the coarse peak, over the stretch of the camera that heard the song.
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

    // Decodes the song. False with a log line when it cannot be read.
    bool LoadSong(const std::string& path);

    // Matches every camera, several at once. `finished` is called once per camera as it
    // completes, from the thread that matched it.
    std::vector<SyncResult> Match(const std::vector<SyncCamera>& cameras,
                                  const std::function<void(const SyncResult&)>& finished);

  private:
    SyncResult MatchCamera(const SyncCamera& camera);
    // The coarse search: true and the lag in samples at kFineRate when the peak is trusted.
    bool MatchCoarse(AudioTrack& coarse, SyncResult& result, double& lag, int& reach);
    std::shared_ptr<const AudioTrack> SongAt(int rate);
    std::shared_ptr<const Spectrum> SongSpectrum(int rate, size_t length);

    AudioTrack m_song;
    std::mutex m_mutex;
    std::map<int, std::shared_ptr<const AudioTrack>> m_songCoarse;
    std::map<std::pair<int, size_t>, std::shared_ptr<const Spectrum>> m_songSpectra;
};

// How a result reads in a report: "no audio stream", "no match: confidence 0.08", ...
std::string DescribeOutcome(const SyncResult& result);

}  // namespace zorvo
