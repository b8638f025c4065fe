#include "output/RiffWriter.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace zorvo {
namespace {

constexpr std::uint32_t kHasIndex = 0x10;
constexpr std::uint32_t kIsInterleaved = 0x100;
constexpr std::size_t kMainHeaderSize = 56;
constexpr std::size_t kStreamHeaderSize = 56;
// RIFF sizes are 32-bit; a file must stay below this, index included.
constexpr std::uint64_t kLargestFile = std::numeric_limits<std::uint32_t>::max();
// The disk space reserved ahead of the chunks at a time (see Reserve).
constexpr std::uint64_t kReserveBytes = std::uint64_t{32} << 20;
constexpr std::size_t kHugePage = std::size_t{2} << 20;

class ByteWriter {
  public:
    explicit ByteWriter(std::vector<std::uint8_t>& bytes) : m_bytes(bytes) {}

    void FourCC(const char* id) {
        for (int i = 0; i < 4; ++i) {
            m_bytes.push_back(static_cast<std::uint8_t>(id[i]));
        }
    }
    void U16(std::uint16_t v) {
        m_bytes.push_back(static_cast<std::uint8_t>(v));
        m_bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void U32(std::uint32_t v) {
        U16(static_cast<std::uint16_t>(v));
        U16(static_cast<std::uint16_t>(v >> 16));
    }
    void Bytes(const std::vector<std::uint8_t>& bytes) {
        m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    }
    void Pad() {
        if (m_bytes.size() % 2 != 0) {
            m_bytes.push_back(0);
        }
    }
    // Fills in a size field written earlier as a placeholder.
    void PatchU32(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            m_bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        }
    }
    std::size_t Size() const { return m_bytes.size(); }

  private:
    std::vector<std::uint8_t>& m_bytes;
};

// Writes every byte of the pieces at `offset`, resuming after short writes and interruptions;
// `done` counts the bytes written, also when it fails.
bool WriteAll(int fd, iovec* pieces, int count, std::uint64_t offset,
              std::uint64_t* done = nullptr) {
    std::uint64_t total = 0;
    while (count > 0) {
        const ssize_t written = ::pwritev(fd, pieces, count, static_cast<off_t>(offset + total));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (done != nullptr) {
                *done = total;
            }
            return false;
        }
        auto left = static_cast<std::size_t>(written);
        total += left;
        while (count > 0 && left >= pieces->iov_len) {
            left -= pieces->iov_len;
            ++pieces;
            --count;
        }
        if (count > 0) {
            pieces->iov_base = static_cast<std::uint8_t*>(pieces->iov_base) + left;
            pieces->iov_len -= left;
        }
    }
    if (done != nullptr) {
        *done = total;
    }
    return true;
}

}  // namespace

RiffWriter::~RiffWriter() {
    CloseFile();
}

bool RiffWriter::Open(const std::string& path, std::size_t stagingBytes) {
    CloseFile();
    // Created afresh: whatever is at the name (a link to a camera) is not written through.
    m_fd = m_file.Create(path) ? m_file.Fd() : -1;
    m_lastError = m_fd < 0 ? m_file.Error() : 0;
    m_reserved = 0;
    m_allocated = 0;
    m_stagingBytes = stagingBytes - stagingBytes % kBlockBytes;
    return m_fd >= 0;
}

int RiffWriter::AddStream(const AviStreamHeader& header, std::vector<std::uint8_t> format) {
    // The header block is rewritten in place at the end, so its size is fixed once written.
    if (m_moviStart != 0) {
        return -1;
    }
    Stream stream;
    stream.header = header;
    stream.format = std::move(format);
    const int number = static_cast<int>(m_streams.size());
    const bool audio = std::memcmp(header.type, "auds", 4) == 0;
    const char* kind = audio ? "wb" : "db";
    stream.chunkId[0] = static_cast<char>('0' + number / 10);
    stream.chunkId[1] = static_cast<char>('0' + number % 10);
    stream.chunkId[2] = kind[0];
    stream.chunkId[3] = kind[1];
    m_streams.push_back(std::move(stream));
    return number;
}

std::vector<std::uint8_t> RiffWriter::BuildHeaders(std::uint64_t moviEnd, std::uint64_t fileEnd,
                                                   bool indexed) const {
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);

    std::uint32_t videoChunks = 0;
    std::uint32_t microSecondsPerFrame = 0;
    std::uint64_t bytesPerSecond = 0;
    std::uint32_t largestChunk = 0;
    for (const Stream& s : m_streams) {
        largestChunk = std::max({largestChunk, s.largestChunk, s.header.suggestedBufferSize});
        if (s.header.scale == 0) {
            continue;
        }
        if (s.header.sampleSize != 0) {
            bytesPerSecond += std::uint64_t{s.header.rate} * s.header.sampleSize / s.header.scale;
        } else {
            bytesPerSecond += std::uint64_t{s.header.rate} *
                              std::max(s.largestChunk, s.header.suggestedBufferSize) /
                              s.header.scale;
        }
        if (std::memcmp(s.header.type, "vids", 4) == 0 && microSecondsPerFrame == 0 &&
            s.header.rate != 0) {
            videoChunks = s.chunks;
            microSecondsPerFrame =
                static_cast<std::uint32_t>(std::uint64_t{1000000} * s.header.scale / s.header.rate);
        }
    }

    out.FourCC("RIFF");
    const std::size_t riffSize = out.Size();
    out.U32(0);
    out.FourCC("AVI ");

    out.FourCC("LIST");
    const std::size_t hdrlSize = out.Size();
    out.U32(0);
    out.FourCC("hdrl");

    out.FourCC("avih");
    out.U32(kMainHeaderSize);
    out.U32(microSecondsPerFrame);
    out.U32(static_cast<std::uint32_t>(std::min<std::uint64_t>(bytesPerSecond, kLargestFile)));
    out.U32(0);  // padding granularity
    out.U32(indexed ? kHasIndex | kIsInterleaved : kIsInterleaved);
    out.U32(videoChunks);
    out.U32(0);  // initial frames
    out.U32(static_cast<std::uint32_t>(m_streams.size()));
    out.U32(largestChunk);
    out.U32(static_cast<std::uint32_t>(m_width));
    out.U32(static_cast<std::uint32_t>(m_height));
    for (int i = 0; i < 4; ++i) {
        out.U32(0);
    }

    for (const Stream& s : m_streams) {
        const AviStreamHeader& h = s.header;
        out.FourCC("LIST");
        const std::size_t strlSize = out.Size();
        out.U32(0);
        out.FourCC("strl");

        out.FourCC("strh");
        out.U32(kStreamHeaderSize);
        out.FourCC(h.type);
        out.FourCC(h.handler);
        out.U32(h.flags);
        out.U16(h.priority);
        out.U16(h.language);
        out.U32(h.initialFrames);
        out.U32(h.scale);
        out.U32(h.rate);
        out.U32(h.start);
        if (h.sampleSize != 0) {
            out.U32(static_cast<std::uint32_t>(s.bytes / h.sampleSize));
        } else {
            out.U32(s.chunks);
        }
        out.U32(h.suggestedBufferSize);
        out.U32(static_cast<std::uint32_t>(h.quality));
        out.U32(h.sampleSize);
        out.U16(static_cast<std::uint16_t>(h.left));
        out.U16(static_cast<std::uint16_t>(h.top));
        out.U16(static_cast<std::uint16_t>(h.right));
        out.U16(static_cast<std::uint16_t>(h.bottom));

        out.FourCC("strf");
        out.U32(static_cast<std::uint32_t>(s.format.size()));
        out.Bytes(s.format);
        out.Pad();
        out.PatchU32(strlSize, static_cast<std::uint32_t>(out.Size() - strlSize - 4));
    }
    out.PatchU32(hdrlSize, static_cast<std::uint32_t>(out.Size() - hdrlSize - 4));

    out.FourCC("LIST");
    const std::size_t moviSize = out.Size();
    out.U32(0);
    out.FourCC("movi");
    moviEnd = std::max<std::uint64_t>(moviEnd, out.Size());
    fileEnd = std::max(fileEnd, moviEnd);
    out.PatchU32(moviSize, static_cast<std::uint32_t>(moviEnd - (moviSize + 4)));
    out.PatchU32(riffSize, static_cast<std::uint32_t>(fileEnd - 8));
    return bytes;
}

bool RiffWriter::WriteHeaders(std::int32_t width, std::int32_t height) {
    if (m_fd < 0) {
        return false;
    }
    m_width = width;
    m_height = height;
    const std::vector<std::uint8_t> headers = BuildHeaders(0, 0);
    // Through the page cache even when the chunks go directly: a file that cannot take them
    // fails here, as it always did.
    iovec piece{const_cast<std::uint8_t*>(headers.data()), headers.size()};
    if (!WriteAll(m_fd, &piece, 1, 0)) {
        return false;
    }
    m_end = headers.size();
    m_moviStart = m_end - 4;
    StartDirect(headers);
    return true;
}

bool RiffWriter::StartDirect(const std::vector<std::uint8_t>& headers) {
    rlimit limit{};
    if (m_stagingBytes < headers.size() || ::getrlimit(RLIMIT_FSIZE, &limit) != 0) {
        return false;
    }
    m_sizeLimit = limit.rlim_cur == RLIM_INFINITY
                      ? kLargestFile
                      : std::min<std::uint64_t>(limit.rlim_cur, kLargestFile);
    // On huge pages a direct write pins the buffer 2 MiB at a time, not 4 KiB.
    const std::size_t alignment = m_stagingBytes % kHugePage == 0 ? kHugePage : kBlockBytes;
    m_staging.reset(static_cast<std::uint8_t*>(std::aligned_alloc(alignment, m_stagingBytes)));
    if (m_staging && alignment == kHugePage) {
        ::madvise(m_staging.get(), m_stagingBytes, MADV_HUGEPAGE);
    }
    const int flags = ::fcntl(m_fd, F_GETFL);
    // EINVAL: a file system without direct I/O.
    if (!m_staging || flags < 0 || ::fcntl(m_fd, F_SETFL, flags | O_DIRECT) != 0) {
        m_staging.reset();
        return false;
    }
    // The first block is written again with the chunks after the headers.
    std::memcpy(m_staging.get(), headers.data(), headers.size());
    m_staged = headers.size();
    m_flushed = 0;
    m_direct = true;
    return true;
}

bool RiffWriter::WriteChunk(int stream, const std::uint8_t* data, std::size_t size, bool keyFrame) {
    if (m_fd < 0 || m_moviStart == 0 || stream < 0 ||
        stream >= static_cast<int>(m_streams.size())) {
        return false;
    }
    Stream& s = m_streams[static_cast<std::size_t>(stream)];
    const std::uint64_t padded = size + (size % 2);
    // Room for this chunk, its index entry and every one before it.
    const std::uint64_t indexBytes = 8 + 16 * (std::uint64_t{m_index.size()} + 1);
    if (m_end + 8 + padded + indexBytes > kLargestFile) {
        return false;
    }
    std::uint8_t header[8];
    std::memcpy(header, s.chunkId, 4);
    for (int i = 0; i < 4; ++i) {
        header[4 + i] = static_cast<std::uint8_t>(size >> (8 * i));
    }
    const std::uint64_t chunkEnd = m_end + 8 + padded;
    Reserve(chunkEnd);
    std::uint8_t pad = 0;
    iovec pieces[3] = {{header, sizeof header},
                       {const_cast<std::uint8_t*>(data), size},
                       {&pad, static_cast<std::size_t>(padded - size)}};
    const int count = padded != size ? 3 : 2;
    // Gathered only into blocks the file system has allocated, below the size limit: a full
    // disk or the limit then fails the very chunk, with the error, that it fails through the
    // page cache, and the bytes that fit are on disk as they would be.
    bool written =
        m_direct && chunkEnd <= std::min(m_allocated, m_sizeLimit) && StageChunk(pieces, count);
    if (!written) {
        written = (!m_direct || LeaveDirect()) && WriteAll(m_fd, pieces, count, m_end);
    }
    if (!written) {
        m_lastError = errno;
        return false;
    }
    IndexEntry entry{};
    std::memcpy(entry.chunkId, s.chunkId, 4);
    entry.flags = keyFrame ? kKeyFrame : 0;
    entry.offset = static_cast<std::uint32_t>(m_end - m_moviStart);
    entry.size = static_cast<std::uint32_t>(size);
    m_index.push_back(entry);
    m_end += 8 + padded;
    s.chunks += 1;
    s.bytes += size;
    s.largestChunk = std::max(s.largestChunk, static_cast<std::uint32_t>(size));
    return true;
}

bool RiffWriter::Finish() {
    if (m_fd < 0) {
        return false;
    }
    // A direct write that failed here loses chunks the render counted as written: the file
    // ends before them, without an index, and Finish says it failed.
    const bool kept = !m_direct || LeaveDirect();
    bool ok = m_moviStart != 0;
    if (ok) {
        std::vector<std::uint8_t> index;
        ByteWriter out(index);
        out.FourCC("idx1");
        out.U32(static_cast<std::uint32_t>(m_index.size() * 16));
        for (const IndexEntry& e : m_index) {
            out.FourCC(e.chunkId);
            out.U32(e.flags);
            out.U32(e.offset);
            out.U32(e.size);
        }
        const bool indexed = kept && WriteAt(m_end, index);
        if (!indexed) {
            // No room for the index (disk full, size limit): the file still plays from the
            // start when the headers say what is there and nothing of the index is left.
            while (::ftruncate(m_fd, static_cast<off_t>(m_end)) != 0 && errno == EINTR) {
            }
        }
        // The headers only overwrite bytes already on disk, so they go in even then.
        m_headersFinal =
            WriteAt(0, BuildHeaders(m_end, indexed ? m_end + index.size() : m_end, indexed));
        ok = kept && indexed && m_headersFinal;
    }
    TrimReserve();
    // On disk before it is renamed into place.
    if (!m_file.Close()) {
        ok = false;
    }
    m_fd = -1;
    return ok;
}

std::uint32_t RiffWriter::ChunkCount(int stream) const {
    if (stream < 0 || stream >= static_cast<int>(m_streams.size())) {
        return 0;
    }
    return m_streams[static_cast<std::size_t>(stream)].chunks;
}

bool RiffWriter::StageChunk(const iovec* pieces, int count) {
    for (int i = 0; i < count; ++i) {
        const auto* bytes = static_cast<const std::uint8_t*>(pieces[i].iov_base);
        std::size_t left = pieces[i].iov_len;
        while (left > 0) {
            const std::size_t n = std::min(left, m_stagingBytes - m_staged);
            std::memcpy(m_staging.get() + m_staged, bytes, n);
            m_staged += n;
            bytes += n;
            left -= n;
            if (m_staged == m_stagingBytes && !WriteStaged(m_staged)) {
                // The chunk is written again whole after the bytes gathered before it.
                m_staged = m_flushed < m_end ? static_cast<std::size_t>(std::min<std::uint64_t>(
                                                   m_staged, m_end - m_flushed))
                                             : 0;
                return false;
            }
        }
    }
    return true;
}

bool RiffWriter::WriteStaged(std::size_t bytes) {
    iovec piece{m_staging.get(), bytes};
    if (!WriteAll(m_fd, &piece, 1, m_flushed)) {
        return false;
    }
    m_staged -= bytes;
    std::memmove(m_staging.get(), m_staging.get() + bytes, m_staged);
    m_flushed += bytes;
    return true;
}

bool RiffWriter::LeaveDirect() {
    m_direct = false;
    // The whole blocks go directly (if that fails they are written with the rest).
    const std::size_t whole = m_staged - m_staged % kBlockBytes;
    if (whole != 0) {
        WriteStaged(whole);
    }
    const int flags = ::fcntl(m_fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(m_fd, F_SETFL, flags & ~O_DIRECT);
    }
    // The kernel writes out and drops cached pages a direct write covers, and reads back the
    // blocks written directly that a cached write only partly covers: the file stays whole.
    iovec piece{m_staging.get(), m_staged};
    std::uint64_t done = 0;
    const bool written = m_staged == 0 || WriteAll(m_fd, &piece, 1, m_flushed, &done);
    const int error = errno;
    if (!written) {
        DropChunksPast(m_flushed + done);
    }
    m_staging.reset();
    m_staged = 0;
    errno = error;
    return written;
}

void RiffWriter::DropChunksPast(std::uint64_t end) {
    // Chunks are in file order: the ones that reached the disk whole stay.
    std::size_t kept = 0;
    while (kept < m_index.size()) {
        const IndexEntry& e = m_index[kept];
        if (m_moviStart + e.offset + 8 + e.size + e.size % 2 > end) {
            break;
        }
        ++kept;
    }
    if (kept == m_index.size()) {
        return;
    }
    m_end = m_moviStart + m_index[kept].offset;
    m_index.resize(kept);
    for (Stream& s : m_streams) {
        s.chunks = 0;
        s.bytes = 0;
        s.largestChunk = 0;
    }
    for (const IndexEntry& e : m_index) {
        const auto number =
            static_cast<std::size_t>((e.chunkId[0] - '0') * 10 + e.chunkId[1] - '0');
        Stream& s = m_streams[number];
        s.chunks += 1;
        s.bytes += e.size;
        s.largestChunk = std::max(s.largestChunk, e.size);
    }
}

bool RiffWriter::WriteAt(std::uint64_t offset, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::pwrite(m_fd, bytes.data() + done, bytes.size() - done,
                                         static_cast<off_t>(offset + done));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

void RiffWriter::Reserve(std::uint64_t end) {
    if (end <= m_reserved || m_reserved == kLargestFile) {
        return;
    }
    // Blocks allocated before the pages that fill them are written leave nothing for the file
    // system to allocate when the finished file is renamed over a previous render's (ext4 then
    // writes out every delayed page: half a second for a 750 MB render, at the very end). The
    // size stays that of the bytes written, so a file size limit acts as before.
    const std::uint64_t to = std::min(std::max(end, m_reserved + kReserveBytes), kLargestFile);
    if (::fallocate(m_fd, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(m_reserved),
                    static_cast<off_t>(to - m_reserved)) != 0) {
        m_reserved = kLargestFile;  // not supported, or no room: the writes say what is wrong
        return;
    }
    m_reserved = to;
    m_allocated = to;
}

void RiffWriter::TrimReserve() {
    // Gives back the blocks reserved past the end of the file (also after a failed write).
    struct stat status {};
    if (m_reserved == 0 || ::fstat(m_fd, &status) != 0) {
        return;
    }
    while (::ftruncate(m_fd, status.st_size) != 0 && errno == EINTR) {
    }
}

void RiffWriter::CloseFile() {
    m_staging.reset();
    m_staged = 0;
    m_direct = false;
    if (m_fd >= 0) {
        TrimReserve();
        m_file.Close();  // kept under its name: the render that failed names it
        m_fd = -1;
    }
}

}  // namespace zorvo
