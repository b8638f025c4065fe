#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zorvo::test {

struct AviStreamInfo {
    std::string type;   // "video", "audio" or "other"
    std::string codec;  // libavcodec's name, e.g. "rawvideo", "pcm_s16le"
    int width = 0;
    int height = 0;
    int sampleRate = 0;
    int channels = 0;
};

// An AVI file (or a PNG picture) as libavformat and libavcodec read it.
struct AviContents {
    std::vector<AviStreamInfo> streams;
    // Decoded pictures in file order; each holds the rows from the top of the picture down,
    // 3 x width bytes of blue, green, red.
    std::vector<std::vector<std::uint8_t>> pictures;
    // The audio payload of every packet, in file order.
    std::vector<std::uint8_t> audio;
};

// False with a reason when libavformat cannot open or read the file.
bool ReadAvi(const std::string& path, AviContents& contents, std::string& error);

// One chunk of a RIFF file, lists included, in file order (depth first).
struct RiffChunk {
    std::string id;                  // "RIFF", "LIST", "avih", ...
    std::string listType;            // the form or list type of RIFF and LIST chunks
    std::string parent;              // list type of the enclosing list
    std::uint64_t offset = 0;        // of the chunk header in the file
    std::uint32_t size = 0;          // as written in the chunk header
    std::vector<std::uint8_t> body;  // empty for lists
};

// Walks the chunk tree; false with a reason when a size runs past its parent.
bool ReadRiffChunks(const std::string& path, std::vector<RiffChunk>& chunks, std::string& error);

// Little-endian fields of a chunk body.
std::uint32_t U32At(const std::vector<std::uint8_t>& bytes, std::size_t at);
std::string FourCCAt(const std::vector<std::uint8_t>& bytes, std::size_t at);

// Whether the ffmpeg and ffprobe programs are installed.
bool FfmpegToolsAvailable();
// Everything `ffprobe -v warning` and `ffmpeg -v warning -i FILE -f null -` print about the
// file; empty for a clean file.
std::string FfmpegToolWarnings(const std::string& path);

}  // namespace zorvo::test
