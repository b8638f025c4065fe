#include "output/OutputFiles.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "common/LogChannel.h"
#include "common/PathName.h"
#include "common/SafeFile.h"
#include "output/AVIWriter.h"

namespace zorvo {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPartial = ".zorvo-partial";
constexpr const char* kLock = ".zorvo-lock";
// Room left in a partial's name for its part number (".NN", more past 99 parts).
constexpr std::size_t kNumberRoom = 6;
constexpr std::size_t kLongestExtension = 16;

// `name` is `base` numbered as a split part: "NAME.NN.EXT", two digits or more.
bool IsNumbered(const std::string& name, const std::string& base) {
    const std::string numbered = FileName(AVIWriter::NumberedName(base, 0));
    const std::size_t digits = numbered.size() - Extension(base).size() - 2;
    const std::string head = numbered.substr(0, digits);
    const std::string tail = numbered.substr(digits + 2);
    if (name.size() < head.size() + 2 + tail.size() || !name.starts_with(head) ||
        !name.ends_with(tail)) {
        return false;
    }
    const std::size_t count = name.size() - head.size() - tail.size();
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(head.size()),
                       name.begin() + static_cast<std::ptrdiff_t>(head.size() + count),
                       [](char c) { return c >= '0' && c <= '9'; });
}

bool IsPartial(const std::string& output, const std::string& file, bool numbered) {
    const std::string name = FileName(file);
    const std::string partial = FileName(PartialName(output));
    return name == partial || (numbered && IsNumbered(name, partial));
}

std::uint32_t Le32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 |
           std::uint32_t{b[3]} << 24;
}

// The first bytes of a regular file (a name may be a link to anything, or a FIFO); 0 when
// there are none.
std::size_t ReadHead(const std::string& path, char* head, std::size_t size,
                     off_t* fileSize = nullptr) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    struct stat status {};
    std::size_t done = 0;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        if (fileSize) {
            *fileSize = status.st_size;
        }
        while (done < size) {
            const ssize_t n = ::read(fd, head + done, size - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            done += static_cast<std::size_t>(n);
        }
    }
    ::close(fd);
    return done;
}

}  // namespace

std::string PartialName(const std::string& path) {
    const std::string partial = InsertBeforeExtension(path, kPartial);
    if (FileName(partial).size() + kNumberRoom <= NAME_MAX) {
        return partial;
    }
    // Too long a name for a partial (and its numbered parts): a short one derived from it.
    const std::string extension = Extension(path);
    const std::string kept = extension.size() <= kLongestExtension ? extension : "";
    return Beside(path,
                  ShortName(FileName(path), std::strlen(kPartial) + kept.size() + kNumberRoom + 1) +
                      kPartial + kept);
}

std::string LockName(const std::string& path) {
    return Beside(path, "." + ShortName(FileName(path), 1 + std::strlen(kLock)) + kLock);
}

bool IsOutputFile(const std::string& output, const std::string& file, bool numbered) {
    const std::string name = FileName(file);
    const std::string own = FileName(output);
    return name == own || name == FileName(LockName(output)) || IsPartial(output, file, numbered) ||
           (numbered && IsNumbered(name, own));
}

std::vector<std::string> OutputFilesOnDisk(const std::string& output, bool numbered) {
    std::vector<std::string> files;
    std::error_code error;
    for (fs::directory_iterator it(FolderOf(output), error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (IsOutputFile(output, name, numbered)) {
            files.push_back(Beside(output, name));
        }
    }
    std::sort(files.begin(), files.end());
    const auto own = std::find(files.begin(), files.end(), output);
    if (own != files.end()) {
        std::rotate(files.begin(), own, own + 1);
    }
    return files;
}

std::vector<std::string> OwnOutputParts(const std::string& output) {
    std::vector<std::string> parts;
    for (const std::string& file : OutputFilesOnDisk(output, true)) {
        if (IsNumbered(FileName(file), FileName(output)) && IsOwnAvi(file)) {
            parts.push_back(file);
        }
    }
    // Sorted by name, "NAME.00" is the first part of any number.
    return parts;
}

bool IsOwnAvi(const std::string& path) {
    char head[2048] = {};
    const std::size_t size = ReadHead(path, head, sizeof head);
    if (size < 12 || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "AVI ", 4) != 0) {
        return false;
    }
    // The video stream header: type, handler, flags, priority, language, initial frames, then
    // scale 40 and rate 1000.
    for (std::size_t at = 12; at + 28 <= size; ++at) {
        if (std::memcmp(head + at, "vidsDIB ", 8) == 0) {
            return Le32(head + at + 20) == 40 && Le32(head + at + 24) == 1000;
        }
    }
    return false;
}

bool IsOwnPartial(const std::string& path) {
    if (IsOwnAvi(path)) {
        return true;
    }
    char head[4096] = {};
    off_t size = -1;
    const std::size_t read = ReadHead(path, head, sizeof head, &size);
    if (size == 0) {
        return true;  // killed before its header
    }
    const std::string_view bytes(head, read);
    // The encoder's containers, which name FFmpeg's muxer in their header (Matroska), or start
    // with the brands it writes and the media data (MP4, QuickTime).
    if (bytes.starts_with("\x1a\x45\xdf\xa3")) {
        return bytes.find("Lavf") != std::string_view::npos;
    }
    return read >= 12 && bytes.substr(4, 4) == "ftyp" &&
           (bytes.find("isomiso2avc1mp41") != std::string_view::npos ||
            bytes.substr(8, 4) == "qt  ") &&
           bytes.find("mdat") != std::string_view::npos;
}

OutputLock::~OutputLock() {
    Release();
}

bool OutputLock::Acquire(const std::string& output, bool numbered) {
    Release();
    const std::string path = LockName(output);
    // A render that ends removes its lock file; one that opened it just before must not hold a
    // lock nobody else can see, so the lock counts only while it is still the named file.
    for (int attempt = 0; attempt < 16 && m_fd < 0; ++attempt) {
        // Read-only, which is all a lock needs: anyone who may write the folder can take a lock
        // file another user's killed render left, and one that protected_regular keeps from
        // being opened for creation is opened as it is.
        int fd =
            ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
        if (fd < 0 && errno == EACCES) {
            fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        }
        struct stat opened {};
        if (fd >= 0 &&
            (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_size != 0)) {
            // Named like a lock, but a file of someone else's: left as it is.
            ::close(fd);
            PostLog(Format("Error (Project): Failed to lock '%s': %s.\n", path.c_str(),
                           "the file of that name is not an empty lock file"));
            return false;
        }
        if (fd >= 0 && opened.st_uid == ::geteuid()) {
            ::fchmod(fd, 0644);  // whatever the umask: readable is enough to take it
        }
        if (fd < 0) {
            PostLog(Format("Error (Project): Failed to create the lock file '%s': %s.\n",
                           path.c_str(), std::strerror(errno)));
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            if (error == EWOULDBLOCK) {
                PostLog(
                    Format("Error (Project): The output '%s' is being written by another "
                           "render.\n",
                           output.c_str()));
            } else {
                PostLog(Format("Error (Project): Failed to lock '%s': %s.\n", path.c_str(),
                               std::strerror(error)));
            }
            return false;
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            m_fd = fd;
            m_path = path;
        } else {
            ::close(fd);
        }
    }
    if (m_fd < 0) {
        PostLog(Format("Error (Project): Failed to lock '%s'.\n", path.c_str()));
        return false;
    }
    // What a failed, stopped before publishing, or killed render left under its partial names.
    for (const std::string& file : OutputFilesOnDisk(output, numbered)) {
        if (IsPartial(output, file, numbered) && IsOwnPartial(file)) {
            ::unlink(file.c_str());
        }
    }
    // Numbered files without file 00, which a split render publishes last: what a publish cut short
    // left, no whole video.
    struct stat first {};
    if (numbered && ::lstat(AVIWriter::NumberedName(output, 0).c_str(), &first) != 0) {
        for (const std::string& part : OwnOutputParts(output)) {
            ::unlink(part.c_str());
        }
    }
    return true;
}

void OutputLock::Release() {
    if (m_fd >= 0) {
        ::unlink(m_path.c_str());
        ::close(m_fd);
        m_fd = -1;
    }
}

}  // namespace zorvo
