#include "common/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zorvo {

RegularFile::~RegularFile() {
    Close();
}

void RegularFile::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool RegularFile::Open(const std::string& path) {
    Close();
    m_notRegular = false;
    m_size = 0;
    m_modifiedNs = 0;
    m_reason.clear();
    // Without O_NONBLOCK the open of a FIFO waits for a writer, and some devices wait too.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        m_reason = std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        m_reason = std::strerror(errno);
        ::close(fd);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        m_notRegular = true;
        m_reason = kNotRegularReason;
        ::close(fd);
        return false;
    }
    // Reads of a regular file never wait on a writer; plain blocking reads from here on.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        m_reason = std::strerror(errno);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_size = static_cast<std::uint64_t>(info.st_size);
    m_modifiedNs = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 +
                   static_cast<std::int64_t>(info.st_mtim.tv_nsec);
    return true;
}

bool RegularFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t count, std::size_t& got,
                         std::string& reason) const {
    got = 0;
    auto* bytes = static_cast<char*>(buffer);
    while (got < count) {
        const ssize_t n = ::pread(m_fd, bytes + got, count - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            reason = std::strerror(errno);
            return false;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

bool IsReadableRegularFile(const std::string& path, std::string& reason) {
    RegularFile file;
    if (!file.Open(path)) {
        reason = file.Reason();
        return false;
    }
    return true;
}

}  // namespace zorvo
