#include "capture/NoiseReduction.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/LogChannel.h"

namespace zorvo {

namespace {

// Above 100 the threshold passes 255 and no change could ever pass at once; dark parts of the
// first (black) running picture would stay black for good.
constexpr int kMaxLevel = 100;

}  // namespace

bool NoiseReduction::Allocate(int width, int height) {
    const std::size_t bytes =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3u;
    m_pNoiseBuffer.reset();
    m_noiseBytes = 0;
    m_width = 0;
    m_height = 0;
    // Value-initialised: the running picture starts black.
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[bytes]());
    if (!buffer) {
        PostLog("Error (FFMPEGCapture): Failed to allocate noise buffer.\n");
        return false;
    }
    m_pNoiseBuffer = std::move(buffer);
    m_noiseBytes = bytes;
    m_width = width;
    m_height = height;
    for (std::size_t i = 0; i < m_noiseAverage.size(); ++i) {
        m_noiseAverage[i] = static_cast<std::uint8_t>(i / 3);
    }
    return true;
}

bool NoiseReduction::Apply(int level, const std::uint8_t* picture, std::uint8_t* out, int width,
                           int height) {
    if (width <= 0 || height <= 0) {
        return true;
    }
    const std::size_t bytes =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3u;
    if (level <= 0) {
        std::memcpy(out, picture, bytes);
        return true;
    }
    if (!m_pNoiseBuffer || width != m_width || height != m_height) {
        if (!Allocate(width, height)) {
            return false;
        }
    }

    const unsigned threshold = static_cast<unsigned>(std::min(level, kMaxLevel)) * 255u / 100u;
    const unsigned half = threshold / 2u;
    std::uint8_t* running = m_pNoiseBuffer.get();
    const std::uint8_t* average = m_noiseAverage.data();
    for (std::size_t k = 0; k < bytes; ++k) {
        const unsigned fresh = picture[k];
        const unsigned old = running[k];
        const unsigned d = fresh > old ? fresh - old : old - fresh;
        // Selects rather than branches: on noisy pictures the branches are unpredictable.
        const unsigned towards = average[old + 2u * fresh];
        const unsigned damped = d > half ? towards : old;
        running[k] = static_cast<std::uint8_t>(d >= threshold ? fresh : damped);
    }
    std::memcpy(out, running, bytes);
    return true;
}

}  // namespace zorvo
