#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/SafeFile.h"

struct AVIOContext;

namespace zorvo {

// The encoded output's file, written through FFmpeg's I/O. It keeps disk room allocated ahead
// of the packets for the index that the container writes on close, so that a full disk or a
// file size limit stops the render at a packet boundary with room left to finish the file:
// what was written then plays, MP4 and QuickTime included.
class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the file, which must not exist (SafeFile::Create); 0 or an AVERROR code.
    int Open(const std::string& path);
    AVIOContext* Io() const { return m_io.get(); }
    // Call once the container's header is written: room is counted from there.
    void StartPackets();
    // Makes sure the file can take a packet of `bytes` and still its index; 0, or an AVERROR
    // code when the disk or the file size limit has no room (nothing is written then).
    int Reserve(std::int64_t bytes);
    // Flushes, frees the room not used and closes; 0 or an AVERROR code.
    int Close();

  private:
    struct IoFreer {
        void operator()(AVIOContext* io) const;
    };
    static int WritePacket(void* opaque, std::uint8_t* data, int size);
    static std::int64_t Seek(void* opaque, std::int64_t offset, int whence);

    std::unique_ptr<AVIOContext, IoFreer> m_io;
    SafeFile m_file;
    int m_fd = -1;  // m_file's while it is open
    int m_writeError = 0;
    bool m_canAllocate = true;
    std::int64_t m_base = 0;      // end of the header
    std::int64_t m_promised = 0;  // packets accepted, with their framing and index entries
    std::int64_t m_room = 0;      // allocated up to here
};

}  // namespace zorvo
