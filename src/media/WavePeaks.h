#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zorvo {

// The song's loudness, reduced once to the highest and lowest sample per slice of time: about
// 3 MB an hour at 10 ms. The file is read in pieces of about 1 MiB, so reading it takes no more
// memory for a long song than for a short one.
struct WavePeaks {
    double sliceMs = 10;
    std::vector<float> low, high;  // -1..1 per slice, all channels together

    // False (and no peaks) when the file is not a WAVE file the writer takes, or cannot be read.
    // `songStartMs`: where measure 1 begins in the file; the peaks start there.
    bool Load(const std::string& path, std::int32_t songStartMs = 0);
};

}  // namespace zorvo
