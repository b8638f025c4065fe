#include "common/SafeFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>

#include "common/LogChannel.h"
#include "common/PathName.h"

namespace zorvo {
namespace {

constexpr std::size_t kRandomLetters = 6;

char RandomLetter(std::uint8_t byte) {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    return kLetters[byte % (sizeof kLetters - 1)];
}

std::string RandomLetters() {
    std::uint8_t bytes[kRandomLetters] = {};
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        // No entropy yet: the time and the process still make a name unlikely to be taken.
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        std::uint64_t seed =
            static_cast<std::uint64_t>(now.tv_nsec) ^ static_cast<std::uint64_t>(::getpid()) << 32;
        for (std::uint8_t& byte : bytes) {
            seed = seed * 6364136223846793005u + 1442695040888963407u;
            byte = static_cast<std::uint8_t>(seed >> 56);
        }
    }
    std::string letters;
    for (const std::uint8_t byte : bytes) {
        letters += RandomLetter(byte);
    }
    return letters;
}

// The name of a temporary beside `destination`, made of letters not yet chosen.
std::string TemporaryName(const std::string& destination, const std::string& tag) {
    return Beside(destination, ShortName(FileName(destination), tag.size() + kRandomLetters) + tag +
                                   RandomLetters());
}

bool IsTemporaryName(const std::string& name, const std::string& head) {
    if (name.size() != head.size() + kRandomLetters || !name.starts_with(head)) {
        return false;
    }
    for (std::size_t i = head.size(); i < name.size(); ++i) {
        const char c = name[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) {
            return false;
        }
    }
    return true;
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

bool IsReplaceable(const std::string& path) {
    struct stat status {};
    // Nothing there (or a dangling link): the write itself will say what else is in the way.
    if (::stat(path.c_str(), &status) != 0) {
        return true;
    }
    return S_ISREG(status.st_mode);
}

bool CheckReplaceable(const std::string& path) {
    if (IsReplaceable(path)) {
        return true;
    }
    PostQuoted("Error (Project): The output '", path,
               "' is not a regular file; choose a file path.\n");
    return false;
}

bool RenameOver(const std::string& from, const std::string& to) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        struct stat status {};
        if (::lstat(to.c_str(), &status) != 0) {
            if (errno != ENOENT) {
                return false;
            }
            // Only into the empty place: whatever appeared there since is looked at first.
            if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
                return true;
            }
            if (errno == EEXIST) {
                continue;
            }
            if (errno != EINVAL && errno != ENOSYS) {
                return false;
            }
        } else if (!CheckReplaceable(to)) {
            errno = EEXIST;
            return false;
        }
        return std::rename(from.c_str(), to.c_str()) == 0;
    }
    errno = EEXIST;
    return false;
}

std::string ShortName(const std::string& name, std::size_t extra) {
    if (name.size() + extra <= NAME_MAX) {
        return name;
    }
    // FNV-1a: the same name gives the same short form in every run.
    std::uint64_t hash = 14695981039346656037u;
    for (const char c : name) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
    }
    const std::string tail = Format("~%08x", static_cast<unsigned>(hash ^ hash >> 32));
    const std::size_t room = NAME_MAX > extra + tail.size() ? NAME_MAX - extra - tail.size() : 0;
    return name.substr(0, room) + tail;
}

SafeFile::~SafeFile() {
    Discard();
}

bool SafeFile::Fail() {
    m_error = errno;
    return false;
}

bool SafeFile::Create(const std::string& path, int flags, mode_t mode) {
    Discard();
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | flags, mode);
    if (m_fd < 0) {
        return Fail();
    }
    m_path = path;
    return true;
}

bool SafeFile::CreateBeside(const std::string& destination, const std::string& tag) {
    Discard();
    m_folder = FolderOf(destination);
    m_tag = tag;
    m_linkName.clear();
    m_fd = ::open(m_folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (m_fd < 0) {
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            return Fail();
        }
        // A file system without unnamed files: a fresh name, never one that is there.
        for (int attempt = 0; attempt < 64 && m_fd < 0; ++attempt) {
            const std::string name = TemporaryName(destination, tag);
            m_fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (m_fd >= 0) {
                m_path = name;
            } else if (errno != EEXIST) {
                return Fail();
            }
        }
        if (m_fd < 0) {
            return Fail();
        }
    }
    m_linkName = destination;
    // Held until the rename, so that RemoveStaleTemporaries tells it from a killed writer's.
    ::flock(m_fd, LOCK_EX);
    return true;
}

bool SafeFile::Write(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    for (std::size_t done = 0; done < size;) {
        const ssize_t written = ::write(m_fd, bytes + done, size - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            errno = written < 0 ? errno : EIO;
            return Fail();
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

bool SafeFile::Close() {
    if (m_fd < 0) {
        return true;
    }
    bool closed = ::fsync(m_fd) == 0 || errno == EINVAL;  // EINVAL: a file that cannot sync
    if (!closed) {
        Fail();
    }
    if (::close(m_fd) != 0 && closed) {
        closed = Fail();
    }
    m_fd = -1;
    m_path.clear();
    return closed;
}

bool SafeFile::Publish(const std::string& destination) {
    if (m_fd < 0) {
        errno = EBADF;
        return Fail();
    }
    bool published = ::fsync(m_fd) == 0 || errno == EINVAL;
    if (!published) {
        Fail();
    }
    if (published && m_path.empty()) {
        // Named only now, under a fresh name beside its place: a kill before leaves nothing.
        const std::string self = Format("/proc/self/fd/%d", m_fd);
        for (int attempt = 0; attempt < 64 && m_path.empty(); ++attempt) {
            const std::string name = TemporaryName(m_linkName, m_tag);
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                m_path = name;
            } else if (errno != EEXIST) {
                break;
            }
        }
        if (m_path.empty()) {
            published = Fail();
        }
    }
    published = published && (RenameOver(m_path, destination) || Fail());
    if (!published && !m_path.empty()) {
        ::unlink(m_path.c_str());
    }
    m_path.clear();
    if (::close(m_fd) != 0 && published) {
        published = Fail();
    }
    m_fd = -1;
    return published;
}

void SafeFile::Discard() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_path.empty()) {
        ::unlink(m_path.c_str());
        m_path.clear();
    }
}

bool WriteInPlace(const std::string& path, const struct stat& expected, const void* data,
                  std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    struct stat opened {};
    bool written = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
                   opened.st_dev == expected.st_dev && opened.st_ino == expected.st_ino;
    if (!written) {
        errno = ESTALE;
    }
    if (written && size > static_cast<std::size_t>(opened.st_size) &&
        ::fallocate(fd, 0, 0, static_cast<off_t>(size)) != 0 && errno != EOPNOTSUPP) {
        written = false;
    }
    for (std::size_t done = 0; written && done < size;) {
        const ssize_t n = ::pwrite(fd, bytes + done, size - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        written = n > 0;
        done += written ? static_cast<std::size_t>(n) : 0;
    }
    written = written && ::ftruncate(fd, static_cast<off_t>(size)) == 0 && ::fsync(fd) == 0;
    const int reason = errno;
    written = ::close(fd) == 0 && written;
    errno = written ? 0 : reason;
    return written;
}

void RemoveStaleTemporaries(const std::string& destination, const std::string& tag) {
    const std::string head = ShortName(FileName(destination), tag.size() + kRandomLetters) + tag;
    const std::unique_ptr<DIR, DirCloser> dir(::opendir(FolderOf(destination).c_str()));
    if (!dir) {
        return;
    }
    for (const dirent* entry = ::readdir(dir.get()); entry; entry = ::readdir(dir.get())) {
        if (!IsTemporaryName(entry->d_name, head)) {
            continue;
        }
        const std::string path = Beside(destination, entry->d_name);
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        struct stat held {};
        struct stat named {};
        // Ours alone, no writer holds it, and still the file of that name.
        if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && held.st_nlink == 1 &&
            held.st_uid == ::geteuid() && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::lstat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
            named.st_ino == held.st_ino) {
            ::unlink(path.c_str());
        }
        ::close(fd);
    }
}

}  // namespace zorvo
