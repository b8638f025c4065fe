#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zorvo::test {

struct WaveChunk {
    std::string id;  // four characters
    std::vector<std::uint8_t> body;
};

// A PCM WAVE file to write. Left alone, it is the canonical 44-byte-header file.
struct WaveFormat {
    std::uint32_t sampleRate = 44100;
    std::uint16_t channels = 2;
    std::uint16_t bitsPerSample = 16;
    // Derived from the fields above unless set (to make broken files).
    std::optional<std::uint16_t> blockAlign;
    // An 18-byte 'fmt ' chunk (with an extra-size field of 0) instead of 16 bytes.
    bool extendedFormat = false;
    // A 40-byte extensible 'fmt ' chunk (tag 0xFFFE) whose sub-format GUID starts with this
    // code (1 integer PCM, 3 float) instead of an integer PCM tag.
    std::optional<std::uint16_t> extensibleSubFormat;
    std::vector<WaveChunk> chunksBeforeData;
    std::vector<WaveChunk> chunksAfterData;
};

std::uint16_t BlockAlignOf(const WaveFormat& format);

// A LIST/INFO chunk of odd size, the kind editors put before 'data'.
WaveChunk ListInfoChunk();

// The whole file: RIFF header, 'fmt ', the extra chunks and 'data' holding samples.
std::vector<std::uint8_t> WaveBytes(const WaveFormat& format,
                                    const std::vector<std::uint8_t>& samples);
bool WriteWaveFile(const std::string& path, const WaveFormat& format,
                   const std::vector<std::uint8_t>& samples);
bool WriteBinaryFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

// A 44.1 kHz stereo 16-bit song of `seconds` of pattern bytes, written a second at a time, so
// that hours of it never lie in memory.
bool WriteLongSong(const std::string& path, int seconds);

// Sample bytes in which no short run repeats, so a slice taken from the wrong place shows.
std::vector<std::uint8_t> PatternBytes(std::size_t count, std::uint32_t seed = 1);

}  // namespace zorvo::test
