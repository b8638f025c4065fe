// Arbitrary bytes as the song's WAVE file: the reader accepts or refuses them, and what it
// accepts describes samples that lie inside the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "media/WaveFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zorvo::WaveFile wave;
    if (!wave.LoadBytes(data, size)) {
        return 0;
    }
    const bool inside =
        wave.dataOffset <= wave.FileSize() && wave.dataSize <= wave.FileSize() - wave.dataOffset;
    const bool consistent =
        wave.blockAlign != 0 && wave.channels != 0 &&
        wave.averageBytesPerSecond == std::uint64_t{wave.samplesPerSecond} * wave.blockAlign;
    if (!inside || !consistent) {
        std::abort();
    }
    return 0;
}
