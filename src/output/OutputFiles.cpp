#include "output/OutputFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/LogChannel.h"
#include "output/AVIWriter.h"

namespace zorvo {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPartial = ".zorvo-partial";

// The file name of `path` cut before its extension's dot (none: the whole name).
std::pair<std::string, std::string> SplitExtension(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) {
        return {name, ""};
    }
    return {name.substr(0, dot), name.substr(dot)};
}

std::string FileName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Folder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

// `name` is `base` numbered as a split part: "NAME.NN.EXT", two digits or more.
bool IsNumbered(const std::string& name, const std::string& base) {
    const std::string numbered = FileName(AVIWriter::NumberedName(base, 0));
    const std::size_t digits = numbered.size() - SplitExtension(base).second.size() - 2;
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

}  // namespace

std::string PartialName(const std::string& path) {
    const std::string folder = path.substr(0, path.size() - FileName(path).size());
    const auto [stem, extension] = SplitExtension(FileName(path));
    return folder + stem + kPartial + extension;
}

std::string LockName(const std::string& path) {
    const std::string folder = path.substr(0, path.size() - FileName(path).size());
    return folder + "." + FileName(path) + ".zorvo-lock";
}

bool IsOutputFile(const std::string& output, const std::string& file, bool numbered) {
    const std::string name = FileName(file);
    const std::string own = FileName(output);
    return name == own || name == FileName(LockName(output)) || IsPartial(output, file, numbered) ||
           (numbered && IsNumbered(name, own));
}

std::vector<std::string> OutputFilesOnDisk(const std::string& output, bool numbered) {
    std::vector<std::string> files;
    const std::string folder = Folder(output);
    const std::string prefix = output.substr(0, output.size() - FileName(output).size());
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (IsOutputFile(output, name, numbered)) {
            files.push_back(prefix + name);
        }
    }
    std::sort(files.begin(), files.end());
    const auto own = std::find(files.begin(), files.end(), output);
    if (own != files.end()) {
        std::rotate(files.begin(), own, own + 1);
    }
    return files;
}

bool IsOwnAvi(const std::string& path) {
    // Only regular files: a part name may be a link to anything.
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return false;
    }
    char head[2048] = {};
    std::ifstream file(path, std::ios::binary);
    file.read(head, sizeof head);
    const std::size_t size = static_cast<std::size_t>(file.gcount());
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

OutputLock::~OutputLock() {
    Release();
}

bool OutputLock::Acquire(const std::string& output, bool numbered) {
    Release();
    const std::string path = LockName(output);
    // A render that ends removes its lock file; one that opened it just before must not hold a
    // lock nobody else can see, so the lock counts only while it is still the named file.
    for (int attempt = 0; attempt < 16 && m_fd < 0; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
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
        if (IsPartial(output, file, numbered)) {
            ::unlink(file.c_str());
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
