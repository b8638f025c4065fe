#include "support/TestSound.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>

#include "support/ProgramRun.h"
#include "support/TestPaths.h"
#include "support/WaveFile.h"

namespace zorvo::test {

SyntheticSong::SyntheticSong(std::uint32_t seed, double seconds, std::uint32_t take)
    : m_seconds(seconds) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::exponential_distribution<double> gap(1.0 / 0.12);
    for (double onset = unit(random) * 0.1; onset < seconds; onset += gap(random)) {
        Event event;
        event.onset = onset;
        if (unit(random) < 0.2) {
            // A noise burst: many unrelated partials, short.
            event.length = 0.03 + 0.09 * unit(random);
            event.attack = 0.002;
            for (int k = 0; k < 12; ++k) {
                event.partials.push_back(
                    {300.0 + 8700.0 * unit(random), 2 * M_PI * unit(random), 0.04 * unit(random)});
            }
        } else {
            // A note of random pitch on no particular scale, with a few harmonics.
            const double pitch = 110.0 * std::pow(2.0, 3.0 * unit(random));
            event.length = 0.08 + 0.5 * unit(random);
            event.attack = 0.005 + 0.015 * unit(random);
            const double loudness = 0.05 + 0.15 * unit(random);
            for (int h = 1; h <= 4; ++h) {
                event.partials.push_back(
                    {pitch * h, 2 * M_PI * unit(random), loudness * unit(random) / h});
            }
        }
        m_longest = std::max(m_longest, event.length);
        m_events.push_back(std::move(event));
    }
    if (take != 0) {
        std::mt19937 timing(take);
        for (Event& event : m_events) {
            event.onset = std::max(0.0, event.onset + 0.08 * (unit(timing) - 0.5));
            for (Partial& p : event.partials) {
                p.phase = 2 * M_PI * unit(timing);
            }
        }
        std::sort(m_events.begin(), m_events.end(),
                  [](const Event& a, const Event& b) { return a.onset < b.onset; });
    }
}

double SyntheticSong::At(double t) const {
    if (t < 0.0 || t >= m_seconds) {
        return 0.0;
    }
    auto it = std::upper_bound(m_events.begin(), m_events.end(), t,
                               [](double time, const Event& e) { return time < e.onset; });
    double sum = 0.0;
    while (it != m_events.begin()) {
        --it;
        const double age = t - it->onset;
        if (age >= m_longest) {
            break;
        }
        if (age >= it->length) {
            continue;
        }
        const double fall = 1.0 - age / it->length;
        const double envelope = std::min(1.0, age / it->attack) * fall * fall;
        for (const Partial& p : it->partials) {
            sum += envelope * p.amplitude * std::sin(2 * M_PI * p.frequency * age + p.phase);
        }
    }
    return sum;
}

std::vector<float> SyntheticSong::Render(int rate) const {
    std::vector<float> samples(static_cast<size_t>(m_seconds * rate));
    for (size_t k = 0; k < samples.size(); ++k) {
        samples[k] = static_cast<float>(At(static_cast<double>(k) / rate));
    }
    return samples;
}

namespace {

// A second-order section (the audio cookbook's high- and low-pass, Q = 0.707).
void Filter(std::vector<double>& x, double hz, int rate, bool high) {
    const double w = 2 * M_PI * hz / rate;
    const double alpha = std::sin(w) / (2 * 0.7071);
    const double c = std::cos(w);
    const double a0 = 1 + alpha;
    const double b0 = (high ? (1 + c) / 2 : (1 - c) / 2) / a0;
    const double b1 = (high ? -(1 + c) : 1 - c) / a0;
    const double b2 = b0;
    const double a1 = -2 * c / a0;
    const double a2 = (1 - alpha) / a0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (double& v : x) {
        const double y = b0 * v + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = std::exchange(x1, v);
        y2 = std::exchange(y1, y);
        v = y;
    }
}

// Little-endian 16-bit samples.
std::string Pcm16(const std::vector<float>& samples) {
    std::string bytes;
    for (const float v : samples) {
        const auto s = static_cast<std::int16_t>(std::lround(std::clamp(v, -1.0f, 1.0f) * 32767));
        bytes.append(reinterpret_cast<const char*>(&s), sizeof s);
    }
    return bytes;
}

}  // namespace

std::vector<float> CameraSound(const SyntheticSong& song, double songAt, double audioStart,
                               int rate, double seconds, const Room& room) {
    const size_t count = static_cast<size_t>(seconds * rate);
    std::vector<double> direct(count);
    const SyntheticSong chatter(room.seed + 1000, seconds + audioStart + 1.0);
    for (size_t k = 0; k < count; ++k) {
        const double t = audioStart + static_cast<double>(k) / rate;
        const double heard = t - songAt;
        direct[k] = song.At(heard);
        if (room.talk > 0.0 && (heard < 0.0 || heard >= song.Seconds())) {
            direct[k] += room.talk * chatter.At(t);
        }
    }
    // Echoes need not be fractional: they are not what is measured.
    std::vector<double> mixed = direct;
    for (const auto& [delay, level] : room.echoes) {
        const size_t shift = static_cast<size_t>(std::lround(delay * rate));
        for (size_t k = shift; k < count; ++k) {
            mixed[k] += level * direct[k - shift];
        }
    }
    if (room.highPassHz > 0.0) {
        Filter(mixed, room.highPassHz, rate, true);
    }
    if (room.lowPassHz > 0.0) {
        Filter(mixed, room.lowPassHz, rate, false);
        Filter(mixed, room.lowPassHz, rate, false);
    }
    std::mt19937 random(room.seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<float> out(count);
    for (size_t k = 0; k < count; ++k) {
        out[k] = static_cast<float>(
            std::clamp(room.gain * mixed[k] + room.noise * noise(random), -1.0, 1.0));
    }
    return out;
}

bool WriteCameraFile(const std::string& path, const CameraFile& file, std::string* error) {
    // Starts are whole pictures and whole samples, as a camera records them.
    const auto at = [](double seconds, int rate) {
        return std::to_string(std::lround(seconds * rate) / static_cast<double>(rate));
    };
    std::string command =
        "ffmpeg -nostdin -v error -y -f rawvideo -pixel_format yuv420p -video_size 16x16 "
        "-framerate 25 -itsoffset " +
        at(file.videoStart, 25) + " -i -";
    // Pictures keep their start: no frames repeated to fill the time before it.
    std::string outputs = " -map 0 -c:v mpeg4 -fps_mode passthrough";
    TempDir dir;
    const std::string sound = dir.File("sound");
    if (file.codec != TestAudioCodec::None) {
        // AAC takes the samples as they are, PCM and FLAC 16-bit ones.
        const bool aac = file.codec == TestAudioCodec::Aac;
        if (!WriteTextFile(sound,
                           aac ? std::string(reinterpret_cast<const char*>(file.samples.data()),
                                             file.samples.size() * sizeof(float))
                               : Pcm16(file.samples))) {
            return error && (*error = "cannot write " + sound, false);
        }
        command += std::string(aac ? " -f f32le" : " -f s16le") + " -ar " +
                   std::to_string(file.rate) + " -ac 1 -itsoffset " +
                   at(file.audioStart, file.rate) + " -i";
        outputs += " -ac " + std::to_string(file.channels);
        outputs += aac                                 ? " -map 1 -c:a aac -b:a 128k"
                   : file.codec == TestAudioCodec::Pcm ? " -map 1 -c:a pcm_s16le"
                                                       : " -map 1 -c:a flac";
    }
    std::vector<std::string> argv = Words(command);
    if (file.codec != TestAudioCodec::None) {
        argv.push_back(sound);
    }
    for (std::string& word : Words(outputs)) {
        argv.push_back(std::move(word));
    }
    argv.push_back(path);
    // 16 x 16 pictures whose brightness steps by 8 from one to the next.
    const long pictures = std::lround(file.videoSeconds * 25);
    long n = 0;
    const ProgramRun run = RunProgram(argv, [&](std::string& yuv) {
        yuv.assign(256, static_cast<char>((n * 8) & 0xFF));
        yuv.append(128, static_cast<char>(128));
        return n++ < pictures;
    });
    if (run.status != 0 && error) {
        *error = "ffmpeg cannot write " + path + ": " + run.err;
    }
    return run.status == 0;
}

bool WriteSongWave(const std::string& path, const std::vector<float>& samples, int rate) {
    WaveFormat format;
    format.sampleRate = static_cast<std::uint32_t>(rate);
    format.channels = 1;
    const std::string bytes = Pcm16(samples);
    return WriteWaveFile(path, format, {bytes.begin(), bytes.end()});
}

}  // namespace zorvo::test
