#pragma once

#include <string>
#include <vector>

namespace zorvo {

// One file's sound, mixed to mono and resampled to one rate, placed on the file's own clock.
struct AudioTrack {
    std::vector<float> samples;
    int rate = 0;
    // Time of samples[0] in seconds, counted from the file's first video picture (the moment a
    // capture calls frame 0), or from the file's start when it has no video.
    double start = 0.0;
};

enum class AudioStatus {
    Ok,
    OpenFailed,    // not a media file, or missing
    NoAudio,       // no audio stream
    NoVideo,       // the sound has no picture to be timed against
    DecodeFailed,  // the decoder or resampler refused
};

// Decodes the first audio stream of `path` to mono float samples at `rate`. With `needVideo`
// the file must have a video stream, whose first picture is then the zero of `start`.
AudioStatus DecodeAudio(const std::string& path, int rate, bool needVideo, AudioTrack& track);

// The same sound at another rate, aligned sample for sample at time 0. False when the
// resampler refuses.
bool Resample(const AudioTrack& in, int rate, AudioTrack& out);

}  // namespace zorvo
