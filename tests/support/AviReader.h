#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zorvo::test {

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

// Everything `ffprobe -v warning` and `ffmpeg -v warning -i FILE -f null -` print about the
// file; empty for a clean file.
std::string FfmpegToolWarnings(const std::string& path);

}  // namespace zorvo::test
