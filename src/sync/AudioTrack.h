#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct SwrContext;

namespace zorvo {

// One file's sound, mixed to mono and resampled to one rate, placed on the file's own clock.
// It may hold only a stretch of the whole sound.
struct AudioTrack {
    std::vector<float> samples;
    int rate = 0;
    // Time of the whole sound's first sample in seconds, counted from the file's first video
    // picture (the moment a capture calls frame 0), or from the file's start when it has no
    // video.
    double start = 0.0;
    // Index of samples[0] in the whole sound, and the whole sound's length in samples.
    std::int64_t first = 0;
    std::int64_t length = 0;
};

enum class AudioStatus {
    Ok,
    OpenFailed,    // not a media file, or missing
    NoAudio,       // no audio stream
    NoVideo,       // the sound has no picture to be timed against
    DecodeFailed,  // the decoder or resampler refused
};

// What one pass over a file's sound keeps.
struct AudioRequest {
    int rate = 48000;
    // The file must have a video stream, whose first picture is then the zero of `start`.
    bool needVideo = false;
    // The stretch [keepFrom, keepTo) of the sound at `rate` that the track holds.
    std::int64_t keepFrom = 0;
    std::int64_t keepTo = std::numeric_limits<std::int64_t>::max();
    // When not empty, the track holds these stretches [from, to) instead, each whole, one after
    // the other in this order (they may overlap), so a search reads a few windows of a long
    // sound without holding all of it; `first` is then 0.
    std::vector<std::pair<std::int64_t, std::int64_t>> stretches;
    // When set, every sample at `rate` (gaps filled with silence) is handed to it in order as
    // it is decoded, whatever the track keeps.
    std::function<void(const float* samples, std::int64_t count)> consume;
    // When not 0, the whole sound is also given at this lower rate, made from the samples at
    // `rate` as `Resample` would make it.
    int coarseRate = 0;
};

// Decodes the first audio stream of `path` to mono float samples. A change of sample rate,
// format or channel layout in the stream starts a new piece, placed at its own time.
AudioStatus DecodeAudio(const std::string& path, const AudioRequest& request, AudioTrack& track,
                        AudioTrack* coarse = nullptr);

// The same sound at another rate, aligned sample for sample at time 0. False when the
// resampler refuses.
bool Resample(const AudioTrack& in, int rate, AudioTrack& out);

// Mono sound to another rate piece by piece: the pieces together come out sample for sample as
// `Resample` makes the whole, so a long sound need not be held to be resampled.
class MonoResampler {
  public:
    MonoResampler();
    ~MonoResampler();
    MonoResampler(MonoResampler&&) noexcept;
    MonoResampler& operator=(MonoResampler&&) noexcept;

    bool Open(int inRate, int outRate);
    // Appends to `out` what `count` more samples give.
    bool Put(const float* samples, std::int64_t count, std::vector<float>& out);
    // Appends what the resampler still holds.
    bool Finish(std::vector<float>& out);

  private:
    struct Free {
        void operator()(SwrContext* context) const;
    };
    std::unique_ptr<SwrContext, Free> m_context;
};

}  // namespace zorvo
