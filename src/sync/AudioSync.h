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
// the coarse peak.
class AudioSync {
  public:
    static constexpr int kFineRate = 48000;
    static constexpr int kCoarseRate = 4000;
    // Below this the peak is not trusted. The figure is the coarse peak's confidence times the
    // share of the overlap's quarters whose own fine peak agrees with the whole's.
    static constexpr double kMinConfidence = 0.5;

    // Decodes the song. False with a log line when it cannot be read.
    bool LoadSong(const std::string& path);

    // Matches every camera, several at once. `finished` is called once per camera as it
    // completes, from the thread that matched it.
    std::vector<SyncResult> Match(const std::vector<SyncCamera>& cameras,
                                  const std::function<void(const SyncResult&)>& finished);

    // One camera's sound against the song: for callers that already hold it.
    SyncResult MatchTrack(const std::string& id, const AudioTrack& camera);

  private:
    SyncResult MatchCamera(const SyncCamera& camera);
    std::shared_ptr<const Spectrum> SongSpectrum(size_t length);

    AudioTrack m_song;
    AudioTrack m_songCoarse;
    std::mutex m_mutex;
    std::map<size_t, std::shared_ptr<const Spectrum>> m_songSpectra;
};

// How a result reads in a report: "no audio stream", "no match: confidence 0.08", ...
std::string DescribeOutcome(const SyncResult& result);

}  // namespace zorvo
