#pragma once

#include <string>
#include <vector>

namespace zorvo {

// The names a render uses beside its output. The files are written under a partial name in the
// output's folder and take the output's name only once the render has finished (or was
// stopped), so a failed or killed render never costs the previous video; a split AVI's numbered
// parts are numbered partials until then. A lock file keeps a second render away.

// "take.avi" -> "take.zorvo-partial.avi"; numbered: "take.zorvo-partial.00.avi". A name too long
// for that gets a short partial name derived from it (ShortName).
std::string PartialName(const std::string& path);
// "dir/take.avi" -> "dir/.take.avi.zorvo-lock", also shortened when too long.
std::string LockName(const std::string& path);

// Whether `file` (a path in the output's folder) is one of the files a render to `output` may
// write, rename or remove: the output itself, its partial file, its lock and, when `numbered`
// (AVI output), the numbered parts of both.
bool IsOutputFile(const std::string& output, const std::string& file, bool numbered);

// The files of the output's folder that IsOutputFile names, the output itself first when it
// exists.
std::vector<std::string> OutputFilesOnDisk(const std::string& output, bool numbered);

// Whether the file starts as the AVI files this program writes: a RIFF AVI whose video is
// uncompressed bitmaps at 25 frames a second. A camera's own AVI (compressed) is not.
bool IsOwnAvi(const std::string& path);
// Whether a file at a partial name is one a render of this program left: empty (killed before
// its header), an own AVI, or the Matroska, MP4 or QuickTime header the encoder writes. Only
// those are removed or replaced; anything else there makes the writer's creation fail.
bool IsOwnPartial(const std::string& path);

// Holds the lock of one output for a render: a second render to the same output is refused
// while this one runs. The lock is the kernel's (flock), so a killed render leaves no lock
// behind, only its file, which the next render takes over.
class OutputLock {
  public:
    OutputLock() = default;
    ~OutputLock();
    OutputLock(const OutputLock&) = delete;
    OutputLock& operator=(const OutputLock&) = delete;

    // Takes the lock of `output`, then clears the partial files an earlier render left
    // (IsOwnPartial). False, with a line, when another render holds it, the lock file cannot be
    // made, or a file that is not an empty lock file has its name.
    bool Acquire(const std::string& output, bool numbered);
    // Removes the lock file and lets go.
    void Release();

  private:
    int m_fd = -1;
    std::string m_path;
};

}  // namespace zorvo
