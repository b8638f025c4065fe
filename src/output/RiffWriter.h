#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/SafeFile.h"

namespace zorvo {

// One stream's header ('strh') as it is stored in the file. `length` is counted by the writer.
struct AviStreamHeader {
    char type[4] = {0, 0, 0, 0};     // "auds" or "vids"
    char handler[4] = {0, 0, 0, 0};  // "DIB " for uncompressed bitmaps, else 0
    std::uint32_t flags = 0;
    std::uint16_t priority = 0;
    std::uint16_t language = 0;
    std::uint32_t initialFrames = 0;
    std::uint32_t scale = 0;
    std::uint32_t rate = 0;
    std::uint32_t start = 0;
    std::uint32_t length = 0;
    std::uint32_t suggestedBufferSize = 0;
    std::int32_t quality = 0;
    std::uint32_t sampleSize = 0;
    std::int16_t left = 0;
    std::int16_t top = 0;
    std::int16_t right = 0;
    std::int16_t bottom = 0;
};

// Writes one RIFF AVI 1.0 file: hdrl (avih, one strl per stream), movi, idx1. The headers go to
// disk when the streams are known and every chunk is written as it comes, so the file on disk
// grows frame by frame; Finish appends the index and fills in the sizes and counts.
// Where the file system allows it, the chunks are gathered into whole blocks and written past
// the page cache (O_DIRECT): the kernel then neither copies a render's 750 MB into its cache nor
// pushes the cameras' pages out for them. The last partial block, the index and the headers
// still go through the cache at the end.
class RiffWriter {
  public:
    static constexpr std::uint32_t kKeyFrame = 0x10;
    // Direct writes start at, and are made of, whole blocks of this size.
    static constexpr std::size_t kBlockBytes = 4096;
    // The chunks gathered for one direct write.
    static constexpr std::size_t kStagingBytes = std::size_t{4} << 20;

    RiffWriter() = default;
    ~RiffWriter();
    RiffWriter(const RiffWriter&) = delete;
    RiffWriter& operator=(const RiffWriter&) = delete;

    // Creates the file, which must not exist (SafeFile::Create). stagingBytes (whole blocks)
    // gathers the chunks for direct writes; 0 writes everything through the page cache.
    bool Open(const std::string& path, std::size_t stagingBytes = kStagingBytes);
    // Streams are numbered in the order they are added; all must be added before WriteHeaders
    // (-1 afterwards).
    int AddStream(const AviStreamHeader& header, std::vector<std::uint8_t> format);
    bool WriteHeaders(std::int32_t width, std::int32_t height);
    // One chunk of stream data ("NNwb" for audio, "NNdb" for video), padded to an even size.
    bool WriteChunk(int stream, const std::uint8_t* data, std::size_t size, bool keyFrame);
    // Appends idx1, rewrites the headers with the final sizes and closes the file. False when
    // any of it failed; HeadersFinal() then tells whether the file still reads (without index).
    bool Finish();
    bool HeadersFinal() const { return m_headersFinal; }

    std::uint32_t ChunkCount(int stream) const;
    // Bytes of the file so far: its size on disk can lag behind by what is gathered.
    std::uint64_t Size() const { return m_end; }
    // The system's error number of the last chunk that could not be written; 0 when none.
    int LastError() const { return m_lastError; }

  private:
    struct Stream {
        AviStreamHeader header;
        std::vector<std::uint8_t> format;
        char chunkId[4] = {0, 0, 0, 0};
        std::uint32_t chunks = 0;
        std::uint64_t bytes = 0;
        std::uint32_t largestChunk = 0;
    };
    struct IndexEntry {
        char chunkId[4];
        std::uint32_t flags;
        std::uint32_t offset;  // from the 'movi' list type
        std::uint32_t size;
    };

    // The header block up to the 'movi' list type; an end of 0 means "right after the headers".
    std::vector<std::uint8_t> BuildHeaders(std::uint64_t moviEnd, std::uint64_t fileEnd,
                                           bool indexed = true) const;
    struct FreeBytes {
        void operator()(std::uint8_t* bytes) const { std::free(bytes); }
    };

    bool WriteAt(std::uint64_t offset, const std::vector<std::uint8_t>& bytes);
    // Direct writes from here on, the headers gathered first (false: the page cache it is).
    bool StartDirect(const std::vector<std::uint8_t>& headers);
    // Gathers a chunk's pieces, writing each staging buffer that fills.
    bool StageChunk(const iovec* pieces, int count);
    bool WriteStaged(std::size_t bytes);
    // Writes out what is gathered and turns direct writes off. False when some of it could
    // not be written: the chunks not whole on disk are then dropped.
    bool LeaveDirect();
    void DropChunksPast(std::uint64_t end);
    // Allocates disk blocks for the file up to at least `end`, some megabytes at a time.
    void Reserve(std::uint64_t end);
    void TrimReserve();
    void CloseFile();

    SafeFile m_file;
    int m_fd = -1;  // m_file's while it is open
    std::vector<Stream> m_streams;
    std::vector<IndexEntry> m_index;
    std::int32_t m_width = 0;
    std::int32_t m_height = 0;
    std::uint64_t m_moviStart = 0;  // offset of the 'movi' list type
    std::uint64_t m_end = 0;        // bytes written so far
    std::uint64_t m_reserved = 0;   // blocks allocated up to here
    std::uint64_t m_allocated = 0;  // up to here for sure (m_reserved also marks a failure)
    std::unique_ptr<std::uint8_t, FreeBytes> m_staging;
    std::size_t m_stagingBytes = 0;
    std::size_t m_staged = 0;       // bytes gathered, from m_flushed on
    std::uint64_t m_flushed = 0;    // written directly up to here (whole blocks)
    std::uint64_t m_sizeLimit = 0;  // the process's file size limit, or kLargestFile
    bool m_direct = false;
    bool m_headersFinal = false;
    int m_lastError = 0;
};

}  // namespace zorvo
