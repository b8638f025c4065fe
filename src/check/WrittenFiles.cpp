#include "check/WrittenFiles.h"

#include <sys/stat.h>

#include <map>
#include <utility>
#include <vector>

#include "common/LogChannel.h"
#include "common/SafeFile.h"
#include "output/FrameWriter.h"
#include "output/OutputFiles.h"

namespace zorvo {

ReadFiles FilesRead(const CScript& script) {
    ReadFiles reads{{"the script", script.scriptPath}};
    if (!script.wavePath.empty()) {
        reads.emplace_back("the WAVE file", script.wavePath);
    }
    for (const auto& [id, input] : script.inputs) {
        reads.emplace_back(
            Format(id == script.overlay.inputId ? "the overlay '%s'" : "the input '%s'",
                   id.c_str()),
            input->file);
    }
    return reads;
}

bool CheckWrittenFile(const ReadFiles& readFiles, const std::string& written, WrittenFile what) {
    // Each file read, by identity: what it is and its path.
    std::map<std::pair<dev_t, ino_t>, std::pair<std::string, std::string>> reads;
    for (const auto& [role, path] : readFiles) {
        struct stat status {};
        if (::stat(path.c_str(), &status) == 0) {
            reads.try_emplace({status.st_dev, status.st_ino}, role, path);
        }
    }

    std::vector<std::string> files{written};
    if (what == WrittenFile::Output) {
        for (const std::string& file :
             OutputFilesOnDisk(written, OutputKindOf(written) == OutputKind::Avi)) {
            if (file != written) {
                files.push_back(file);
            }
        }
    }
    bool clear = true;
    for (const std::string& file : files) {
        // A rename replaces only a regular file: never a device, FIFO, socket or folder.
        if (!CheckReplaceable(file)) {
            clear = false;
            continue;
        }
        struct stat status {};
        if (::stat(file.c_str(), &status) != 0) {
            continue;
        }
        const auto found = reads.find({status.st_dev, status.st_ino});
        if (found == reads.end()) {
            continue;
        }
        const auto& [role, path] = found->second;
        const char* kind = what == WrittenFile::Storyboard ? "storyboard"
                           : file == written               ? "output"
                                                           : "output part";
        Message message{Severity::Error, "Project",
                        Format("The %s '%s' is %s ('%s'); choose another %s path.", kind,
                               file.c_str(), role.c_str(), path.c_str(),
                               what == WrittenFile::Storyboard ? "storyboard" : "output")};
        message.file = file;
        Post(std::move(message));
        clear = false;
    }
    return clear;
}

}  // namespace zorvo
