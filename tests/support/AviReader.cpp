#include "support/AviReader.h"

#include <fstream>
#include <iterator>

#include "support/ProgramRun.h"

namespace zorvo::test {
namespace {

bool WalkChunks(const std::vector<std::uint8_t>& file, std::uint64_t begin, std::uint64_t end,
                const std::string& parent, std::vector<RiffChunk>& chunks, std::string& error) {
    std::uint64_t at = begin;
    while (at + 8 <= end) {
        RiffChunk chunk{FourCCAt(file, at), "", parent, at, U32At(file, at + 4), {}};
        const std::uint64_t bodyEnd = at + 8 + chunk.size;
        if (bodyEnd > end) {
            error = "chunk '" + chunk.id + "' at " + std::to_string(at) + " runs past its list";
            return false;
        }
        const bool list = chunk.id == "RIFF" || chunk.id == "LIST";
        if (list) {
            chunk.listType = FourCCAt(file, at + 8);
        } else {
            chunk.body.assign(file.begin() + static_cast<std::ptrdiff_t>(at + 8),
                              file.begin() + static_cast<std::ptrdiff_t>(bodyEnd));
        }
        const std::string type = chunk.listType;
        chunks.push_back(std::move(chunk));
        if (list && !WalkChunks(file, at + 12, bodyEnd, type, chunks, error)) {
            return false;
        }
        at = bodyEnd + (bodyEnd % 2 != 0 ? 1 : 0);
    }
    if (at < end) {
        error = "stray bytes at " + std::to_string(at) + " in list '" + parent + "'";
        return false;
    }
    return true;
}

}  // namespace

bool ReadRiffChunks(const std::string& path, std::vector<RiffChunk>& chunks, std::string& error) {
    chunks.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
    return WalkChunks(file, 0, file.size(), "", chunks, error);
}

std::uint32_t U32At(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return bytes.at(at) | bytes.at(at + 1) << 8 | bytes.at(at + 2) << 16 |
           static_cast<std::uint32_t>(bytes.at(at + 3)) << 24;
}

std::string FourCCAt(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    static_cast<void>(bytes.at(at + 3));  // throws past the end, like U32At
    const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(at);
    return std::string(begin, begin + 4);
}

std::string FfmpegToolWarnings(const std::string& path) {
    // A PCM wave format has no channel mask; without -guess_layout_max 0 ffmpeg would note the
    // layout it assumes for every such input, which says nothing about the file.
    std::vector<std::string> decode = Words("ffmpeg -nostdin -v warning -guess_layout_max 0 -i");
    decode.insert(decode.end(), {path, "-f", "null", "-"});
    std::string warnings;
    for (const ProgramRun& run :
         {RunProgram({"ffprobe", "-v", "warning", path}), RunProgram(decode)}) {
        warnings += run.err + run.out;
        if (run.status != 0) {
            warnings += "[exit status " + std::to_string(run.status) + "]\n";
        }
    }
    return warnings;
}

}  // namespace zorvo::test
