#include "output/OutputFile.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace zorvo {
namespace {

constexpr int kBufferBytes = 256 * 1024;
// Room for what the container writes on close beyond its per-packet index entries (track
// headers, edit lists, cues, tags): a few kilobytes in practice.
constexpr std::int64_t kIndexBase = 256 * 1024;
// Container framing plus index entries per packet: MP4 spends about 20 bytes (size, chunk
// offset, composition offset, sync flag), Matroska a block header and a cue point.
constexpr std::int64_t kPacketOverhead = 64;
// Allocated at a time, so that a render asks the file system for room about once a second.
constexpr std::int64_t kRoomStep = 8 * 1024 * 1024;

}  // namespace

void OutputFile::IoFreer::operator()(AVIOContext* io) const {
    if (io) {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
}

OutputFile::~OutputFile() {
    Close();
}

int OutputFile::Open(const std::string& path) {
    Close();
    // Created afresh: whatever is at the name (a link to a camera) is not written through.
    if (!m_file.Create(path)) {
        return AVERROR(m_file.Error());
    }
    m_fd = m_file.Fd();
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
    m_io.reset(buffer ? avio_alloc_context(buffer, kBufferBytes, 1, this, nullptr,
                                           &OutputFile::WritePacket, &OutputFile::Seek)
                      : nullptr);
    if (!m_io) {
        av_free(buffer);
        Close();
        return AVERROR(ENOMEM);
    }
    m_writeError = 0;
    m_canAllocate = true;
    m_base = m_promised = m_room = 0;
    return 0;
}

void OutputFile::StartPackets() {
    m_base = avio_tell(m_io.get());
}

int OutputFile::Reserve(std::int64_t bytes) {
    const std::int64_t promised = m_promised + bytes + kPacketOverhead;
    const std::int64_t needed = m_base + promised + kIndexBase;
    if (needed <= m_room) {
        m_promised = promised;
        return 0;
    }
    std::int64_t target = needed + kRoomStep;
    // Room past the limit would be of no use: the index has to fit below it.
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        const auto most = static_cast<std::int64_t>(limit.rlim_cur);
        if (needed > most) {
            return AVERROR(EFBIG);
        }
        target = std::min(target, most);
    }
    if (m_canAllocate) {
        // Allocated beyond the end without growing the file, which keeps its size honest.
        int result = ::fallocate(m_fd, FALLOC_FL_KEEP_SIZE, m_room, target - m_room);
        if (result != 0 && errno == ENOSPC) {
            target = needed;
            result = ::fallocate(m_fd, FALLOC_FL_KEEP_SIZE, m_room, target - m_room);
        }
        if (result != 0) {
            if (errno != EOPNOTSUPP && errno != ENOSYS) {
                return AVERROR(errno);
            }
            // A file system without allocation: the limit above is all that can be kept.
            m_canAllocate = false;
        }
    }
    m_room = target;
    m_promised = promised;
    return 0;
}

int OutputFile::Close() {
    int result = 0;
    if (m_io) {
        avio_flush(m_io.get());
        result = m_writeError;
        m_io.reset();
    }
    if (m_fd >= 0) {
        struct stat status {};
        if (m_canAllocate && m_room > 0 && ::fstat(m_fd, &status) == 0 && m_room > status.st_size) {
            // Give back what the index did not use; failing that, it goes with the file.
            ::fallocate(m_fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, status.st_size,
                        m_room - status.st_size);
        }
        // On disk before it is renamed into place; kept under its name either way.
        if (!m_file.Close() && result == 0) {
            result = AVERROR(m_file.Error());
        }
        m_fd = -1;
    }
    return result;
}

int OutputFile::WritePacket(void* opaque, std::uint8_t* data, int size) {
    auto& file = *static_cast<OutputFile*>(opaque);
    int done = 0;
    while (done < size) {
        const ssize_t written =
            ::write(file.m_fd, data + done, static_cast<std::size_t>(size - done));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            file.m_writeError = AVERROR(written < 0 ? errno : EIO);
            return file.m_writeError;
        }
        done += static_cast<int>(written);
    }
    return size;
}

std::int64_t OutputFile::Seek(void* opaque, std::int64_t offset, int whence) {
    const auto& file = *static_cast<const OutputFile*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat status {};
        return ::fstat(file.m_fd, &status) == 0 ? status.st_size : AVERROR(errno);
    }
    const off_t position = ::lseek(file.m_fd, offset, whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : position;
}

}  // namespace zorvo
