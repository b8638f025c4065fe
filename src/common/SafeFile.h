#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <string>

// Writing a file without harm to what is there: every writer (the render's partial files, stills,
// storyboards, the script rewrite) goes through here, and no other code opens an output path
// for writing.
namespace zorvo {

// Whether a written file may take `path`'s place: nothing is there, or a regular file. A
// symbolic link is judged by what it points to (a dangling one may go) and is itself replaced,
// never written through. A device, FIFO, socket or folder may not.
bool IsReplaceable(const std::string& path);
// The same, posting "Error (Project): The output '…' is not a regular file; choose a file
// path." when it is not.
bool CheckReplaceable(const std::string& path);

// Renames `from` to `to` when `to` is replaceable (otherwise posts the line above and fails
// with errno EEXIST). Where nothing is at `to`, nothing that appears there meanwhile is
// replaced. False with errno set.
bool RenameOver(const std::string& from, const std::string& to);

// `name` (a file name, no folder) cut so that `extra` more bytes still fit in a file name:
// unchanged when it fits, else its head, a '~' and a hash of the whole name, so two long names
// stay apart and the same name always gives the same result.
std::string ShortName(const std::string& name, std::size_t extra);

// One file being written. Created, never opened: nothing already at its name (an earlier file,
// a link to a camera) is written through. It ends in one of three ways: Publish syncs it and
// renames it over its destination; Close syncs it and leaves it under its name to the caller;
// anything else (Discard, the destructor) removes it.
class SafeFile {
  public:
    SafeFile() = default;
    ~SafeFile();
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;

    // Creates the file `path` for writing (O_CREAT | O_EXCL | O_NOFOLLOW): fails with EEXIST
    // when anything is there already. `flags` adds to O_WRONLY | O_CLOEXEC.
    bool Create(const std::string& path, int flags = 0, mode_t mode = 0666);
    // Creates a file without a name in `destination`'s folder (O_TMPFILE), or where the file
    // system has none, one of a fresh name beside it ("NAME" `tag` "XXXXXX"). It gets that
    // name at Publish, just before the rename.
    bool CreateBeside(const std::string& destination, const std::string& tag = ".zorvo-");

    int Fd() const { return m_fd; }
    // The file's name; empty while it has none.
    const std::string& Path() const { return m_path; }
    // The system's error number of the last failure.
    int Error() const { return m_error; }

    // Writes all of `size` bytes at the end.
    bool Write(const void* data, std::size_t size);
    // Syncs the file to disk and closes it; it stays under its name, the caller's from now on.
    bool Close();
    // Instead of Close: syncs, closes and renames the file over `destination` (RenameOver). On
    // failure the file is removed and the destination left as it was.
    bool Publish(const std::string& destination);
    // Closes and removes the file.
    void Discard();

  private:
    bool Fail();

    int m_fd = -1;
    std::string m_path;
    // CreateBeside: the destination's folder, and the name the file takes before its rename.
    std::string m_folder;
    std::string m_linkName;
    std::string m_tag;
    int m_error = 0;
};

// Writes `size` bytes as the whole content of the existing file `path` itself, for a file
// whose other names (hard links) must stay: not atomic, so only after every check. Room is taken
// first, so a full disk leaves the file as it was. Fails (errno ESTALE) when `path` is no longer
// the file `expected` describes. False with errno set.
bool WriteInPlace(const std::string& path, const struct stat& expected, const void* data,
                  std::size_t size);

// Removes the files that writers killed between naming and renaming left beside `destination`
// ("NAME" `tag` "XXXXXX"): regular files of ours that no live writer holds.
void RemoveStaleTemporaries(const std::string& destination, const std::string& tag);

}  // namespace zorvo
