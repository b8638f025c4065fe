#include "support/WaveFile.h"

#include "support/TestPaths.h"

#include <fstream>

namespace zorvo::test {
namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

void PutChunk(std::vector<std::uint8_t>& out, const std::string& id,
              const std::vector<std::uint8_t>& body) {
    out.insert(out.end(), id.begin(), id.begin() + 4);
    Put32(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() % 2 != 0) {
        out.push_back(0);
    }
}

}  // namespace

std::uint16_t BlockAlignOf(const WaveFormat& format) {
    return format.blockAlign.value_or(format.channels * ((format.bitsPerSample + 7) / 8));
}

WaveChunk ListInfoChunk() {
    // One ISFT entry of 11 bytes, "zorvo test" and its NUL: an odd size.
    const std::string body("INFOISFT\x0b\0\0\0zorvo test\0", 23);
    return {"LIST", {body.begin(), body.end()}};
}

std::vector<std::uint8_t> WaveBytes(const WaveFormat& format,
                                    const std::vector<std::uint8_t>& samples) {
    const std::uint16_t blockAlign = BlockAlignOf(format);
    std::vector<std::uint8_t> fmt;
    Put16(fmt, format.extensibleSubFormat ? 0xFFFE : 1);
    Put16(fmt, format.channels);
    Put32(fmt, format.sampleRate);
    Put32(fmt, format.sampleRate * blockAlign);
    Put16(fmt, blockAlign);
    Put16(fmt, format.bitsPerSample);
    if (format.extensibleSubFormat) {
        Put16(fmt, 22);
        Put16(fmt, format.bitsPerSample);               // valid bits
        Put32(fmt, format.channels == 2 ? 0x3 : 0x3F);  // speaker mask
        Put16(fmt, *format.extensibleSubFormat);
        for (std::uint8_t b :
             {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}) {
            fmt.push_back(b);
        }
    } else if (format.extendedFormat) {
        Put16(fmt, 0);
    }

    std::vector<std::uint8_t> out = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    PutChunk(out, "fmt ", fmt);
    for (const WaveChunk& chunk : format.chunksBeforeData) {
        PutChunk(out, chunk.id, chunk.body);
    }
    PutChunk(out, "data", samples);
    for (const WaveChunk& chunk : format.chunksAfterData) {
        PutChunk(out, chunk.id, chunk.body);
    }
    const auto riffSize = static_cast<std::uint32_t>(out.size() - 8);
    for (int i = 0; i < 4; ++i) {
        out[4 + i] = static_cast<std::uint8_t>(riffSize >> (8 * i));
    }
    return out;
}

bool WriteWaveFile(const std::string& path, const WaveFormat& format,
                   const std::vector<std::uint8_t>& samples) {
    return WriteBinaryFile(path, WaveBytes(format, samples));
}

bool WriteBinaryFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    return WriteTextFile(path, std::string(bytes.begin(), bytes.end()));
}

std::vector<std::uint8_t> PatternBytes(std::size_t count, std::uint32_t seed) {
    // xorshift32: a long period, and every byte depends on the position.
    std::vector<std::uint8_t> bytes(count);
    std::uint32_t state = seed * 2654435761u + 1;
    for (std::uint8_t& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

bool WriteLongSong(const std::string& path, int seconds) {
    const std::vector<std::uint8_t> second = PatternBytes(176400);
    std::vector<std::uint8_t> header = WaveBytes(WaveFormat{}, {});
    const std::uint32_t data = 176400u * static_cast<std::uint32_t>(seconds);
    const std::uint32_t riff = data + static_cast<std::uint32_t>(header.size()) - 8;
    for (int i = 0; i < 4; ++i) {
        header[4 + i] = static_cast<std::uint8_t>(riff >> (8 * i));
        header[header.size() - 4 + i] = static_cast<std::uint8_t>(data >> (8 * i));
    }
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(header.data()),
              static_cast<std::streamsize>(header.size()));
    for (int s = 0; s < seconds; ++s) {
        out.write(reinterpret_cast<const char*>(second.data()),
                  static_cast<std::streamsize>(second.size()));
    }
    return static_cast<bool>(out);
}

}  // namespace zorvo::test
