#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zorvo {

// A file the session reads (the script, the song, a camera), opened without ever waiting on it:
// the open does not block (a FIFO without a writer would wait forever), and anything but a
// regular file (a FIFO, a device, a folder, a socket) is refused before a byte is read. The
// descriptor is closed with the object.
class RegularFile {
  public:
    RegularFile() = default;
    ~RegularFile();
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    // Opens `path` for reading. False when it cannot be opened (Reason() gives the system's
    // words) or is not a regular file (NotRegular(); Reason() says "not a regular file").
    bool Open(const std::string& path);
    void Close();

    bool IsOpen() const { return m_fd >= 0; }
    int Descriptor() const { return m_fd; }
    bool NotRegular() const { return m_notRegular; }
    const std::string& Reason() const { return m_reason; }
    // Size and modification time when it was opened.
    std::uint64_t Size() const { return m_size; }
    std::int64_t ModifiedNs() const { return m_modifiedNs; }

    // Reads up to `count` bytes at `offset` into `buffer`; `got` is short only at the end of the
    // file. False on a read error, with the system's words in `reason`. Any thread may read.
    bool ReadAt(std::uint64_t offset, void* buffer, std::size_t count, std::size_t& got,
                std::string& reason) const;

    static constexpr const char* kNotRegularReason = "not a regular file";

  private:
    int m_fd = -1;
    bool m_notRegular = false;
    std::uint64_t m_size = 0;
    std::int64_t m_modifiedNs = 0;
    std::string m_reason;
};

// For readers that open a path themselves (the FFmpeg library): whether `path` is a regular file
// that opens for reading, looked at as RegularFile does, so a FIFO or a device that they would
// wait on is refused first. `reason` receives the system's words or "not a regular file".
bool IsReadableRegularFile(const std::string& path, std::string& reason);

}  // namespace zorvo
