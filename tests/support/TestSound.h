#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zorvo::test {

// A synthetic piece that never repeats itself: notes of random pitch, length and loudness at
// random times, and noise bursts. A pure function of time, so a recording of it can be made at
// any rate and any fractional delay exactly.
class SyntheticSong {
  public:
    // A `take` other than 0 plays the same notes again, each a little early or late (up to
    // 40 ms) and never with the same waveform, as from one take to the next.
    SyntheticSong(std::uint32_t seed, double seconds, std::uint32_t take = 0);
    double Seconds() const { return m_seconds; }
    // The sound at time t (seconds); silence outside [0, Seconds()).
    double At(double t) const;
    // Samples [0, Seconds()) at `rate`.
    std::vector<float> Render(int rate) const;

  private:
    struct Partial {
        double frequency;
        double phase;
        double amplitude;
    };
    struct Event {
        double onset;
        double length;
        double attack;
        std::vector<Partial> partials;
    };
    double m_seconds;
    double m_longest = 0.0;
    std::vector<Event> m_events;  // by onset
};

// What a camera's microphone makes of the song in the room.
struct Room {
    double gain = 0.5;
    std::vector<std::pair<double, double>> echoes;  // (delay in seconds, relative level)
    double highPassHz = 0.0;                        // 0: none
    double lowPassHz = 0.0;                         // 0: none
    double noise = 0.0;                             // white noise level
    double talk = 0.0;  // level of an unrelated sound (chatter between takes)
    std::uint32_t seed = 7;
};

// `seconds` of camera sound at `rate`, whose sample k is heard at camera time audioStart +
// k / rate and which heard the song's start at camera time songAt (both in seconds).
std::vector<float> CameraSound(const SyntheticSong& song, double songAt, double audioStart,
                               int rate, double seconds, const Room& room);

enum class TestAudioCodec { None, Aac, Pcm, Flac };

// A small camera file: a tiny MPEG-4 picture stream and a mono sound stream. The container
// comes from the file name. Times in seconds on the file's clock.
struct CameraFile {
    TestAudioCodec codec = TestAudioCodec::Pcm;
    int rate = 48000;
    std::vector<float> samples;
    double audioStart = 0.0;
    double videoStart = 0.0;
    double videoSeconds = 1.0;
    int channels = 1;  // the samples are copied to each
};

bool WriteCameraFile(const std::string& path, const CameraFile& file, std::string* error = nullptr);

// A 16-bit mono WAVE file.
bool WriteSongWave(const std::string& path, const std::vector<float>& samples, int rate);

}  // namespace zorvo::test
