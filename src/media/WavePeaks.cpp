#include "media/WavePeaks.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "media/WaveFile.h"

namespace zorvo {

namespace {

// One sample of any integer PCM layout the writer accepts, as -1..1.
float Sample(const std::uint8_t* p, int bytes) {
    switch (bytes) {
        case 1:
            return (static_cast<float>(p[0]) - 128.0f) / 128.0f;
        case 2:
            return static_cast<float>(static_cast<std::int16_t>(p[0] | p[1] << 8)) / 32768.0f;
        case 3:
            return static_cast<float>(static_cast<std::int32_t>(
                       static_cast<std::uint32_t>(p[0] << 8 | p[1] << 16 | p[2] << 24))) /
                   2147483648.0f;
        default: {
            std::int32_t v;
            std::memcpy(&v, p, 4);
            return static_cast<float>(v) / 2147483648.0f;
        }
    }
}

}  // namespace

bool WavePeaks::Load(const std::string& path, std::int32_t songStartMs) {
    low.clear();
    high.clear();
    WaveFile wave;
    if (!wave.Inspect(path) || wave.blockAlign == 0 || wave.channels == 0 ||
        wave.samplesPerSecond == 0) {
        return false;
    }
    const int bytes = wave.blockAlign / wave.channels;
    if (bytes < 1 || bytes > 4) {
        return false;
    }
    const std::uint64_t frames = wave.FrameCount();
    const std::uint64_t lead = std::min<std::uint64_t>(
        static_cast<std::uint64_t>(std::max(0, songStartMs)) * wave.samplesPerSecond / 1000,
        frames);
    const auto perSlice = std::max<std::uint64_t>(
        1, static_cast<std::uint64_t>(wave.samplesPerSecond * sliceMs / 1000.0));
    // Read in pieces of whole slices, about 1 MiB, so memory does not grow with the song.
    const std::uint64_t perPiece =
        perSlice *
        std::max<std::uint64_t>(1, (std::uint64_t{1} << 20) / wave.blockAlign / perSlice);
    std::vector<std::uint8_t> piece;
    const std::size_t slices = static_cast<std::size_t>((frames - lead + perSlice - 1) / perSlice);
    low.reserve(slices);
    high.reserve(slices);
    std::string reason;
    for (std::uint64_t from = lead; from < frames; from += perPiece) {
        const auto count = static_cast<std::size_t>(std::min(perPiece, frames - from));
        piece.resize(count * wave.blockAlign);
        if (!wave.ReadFrames(from, count, piece.data(), reason)) {
            low.clear();
            high.clear();
            return false;
        }
        for (std::size_t first = 0; first < count; first += perSlice) {
            float lo = 0, hi = 0;
            const std::size_t end = std::min<std::size_t>(count, first + perSlice);
            for (std::size_t f = first; f < end; ++f) {
                for (int c = 0; c < wave.channels; ++c) {
                    const float v = Sample(piece.data() + f * wave.blockAlign + c * bytes, bytes);
                    lo = std::min(lo, v);
                    hi = std::max(hi, v);
                }
            }
            low.push_back(lo);
            high.push_back(hi);
        }
    }
    return true;
}

}  // namespace zorvo
