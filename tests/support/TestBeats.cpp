#include "support/TestBeats.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace zorvo::test {

std::vector<double> PulseTimes(const DrumSong& s) {
    const int pulses = s.measures * s.beatCount + 1;
    std::vector<double> times;
    double t = s.leadMs / 1000;
    for (int p = 0; p < pulses; ++p) {
        times.push_back(t);
        const double tempo = s.tempo + s.ramp * (p + 0.5) / (pulses - 1) - s.ramp / 2;
        t += 60.0 / (tempo * s.beatUnit / 4);
    }
    return times;
}

std::vector<float> RenderDrums(const DrumSong& s, int kRate) {
    const std::vector<double> pulses = PulseTimes(s);
    std::vector<float> out(static_cast<size_t>((pulses.back() + 1.0) * kRate));
    std::uint32_t noise = 12345;
    auto hit = [&](double at, double seconds, auto&& voice) {
        const auto first = static_cast<size_t>(std::ceil(at * kRate));
        for (size_t i = first; i < out.size() && i < first + seconds * kRate; ++i) {
            out[i] += static_cast<float>(voice(i / double(kRate) - at));
        }
    };
    auto white = [&] {
        noise = noise * 1664525u + 1013904223u;
        return static_cast<double>(noise >> 8) / (1 << 23) - 1.0;
    };
    auto kick = [](double t) {
        return 0.8 * std::sin(2 * M_PI * (50 * t + 3 * (1 - std::exp(-30 * t)))) * std::exp(-8 * t);
    };
    auto snare = [&](double t) { return 0.4 * white() * std::exp(-20 * t); };
    double last = 0;
    auto hat = [&](double t) {
        const double n = white();
        const double high = n - last;  // the hiss above a few kHz
        last = n;
        return 0.15 * high * std::exp(-60 * t);
    };
    for (size_t p = 0; p + 1 < pulses.size(); ++p) {
        const int i = static_cast<int>(p % s.beatCount);
        const double at = pulses[p];
        const double length = pulses[p + 1] - at;
        hit(at, 0.2, hat);
        if (s.beatUnit == 4) {
            hit(at + length * (s.swing ? 2.0 / 3 : 0.5), 0.2, hat);
        }
        if (i == 0 || i == s.beatCount / 2) {
            hit(at, 0.5, kick);
        } else if (i % 2 == 1) {
            hit(at, 0.3, snare);
        }
        if (i == 0) {
            const double pitch = 55 * std::pow(2.0, ((p / s.beatCount) % 4) * 5 / 12.0);
            hit(at, 1.5,
                [&](double t) { return 0.3 * std::sin(2 * M_PI * pitch * t) * std::exp(-2 * t); });
        }
    }
    return out;
}

std::vector<float> DemoSong(int kRate) {
    std::vector<float> out(32 * kRate);
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double b = std::fmod(t, 0.5);
        out[i] = static_cast<float>(
            0.7 * std::sin(2 * M_PI * (60 + 90 * std::exp(-25 * b)) * b) * std::exp(-9 * b) +
            0.35 * (std::fmod(t, 2) < 0.05) * std::sin(2 * M_PI * 1760 * t) +
            0.05 * (std::sin(2 * M_PI * 220 * t) + std::sin(2 * M_PI * 277.2 * t) +
                    std::sin(2 * M_PI * 329.6 * t)));
    }
    return out;
}

}  // namespace zorvo::test
