#include "render/WrittenFiles.h"

#include <sys/stat.h>

#include <map>
#include <utility>
#include <vector>

#include "common/LogChannel.h"
#include "output/FrameWriter.h"
#include "output/OutputFiles.h"

namespace zorvo {

bool CheckWrittenFile(const CScript& script, const std::string& written, WrittenFile what) {
    // Each file the build reads, by identity: what it is and its path.
    std::map<std::pair<dev_t, ino_t>, std::pair<std::string, std::string>> reads;
    const auto read = [&reads](const std::string& path, std::string role) {
        struct stat status {};
        if (!path.empty() && ::stat(path.c_str(), &status) == 0) {
            reads.try_emplace({status.st_dev, status.st_ino}, std::move(role), path);
        }
    };
    read(script.scriptPath, "the script");
    read(script.wavePath, "the WAVE file");
    for (const auto& [id, input] : script.inputs) {
        read(input->file,
             Format(id == script.overlay.inputId ? "the overlay '%s'" : "the input '%s'",
                    id.c_str()));
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
        PostLog(Format("Error (Project): The %s '%s' is %s ('%s'); choose another %s path.\n", kind,
                       file.c_str(), role.c_str(), path.c_str(),
                       what == WrittenFile::Storyboard ? "storyboard" : "output"));
        clear = false;
    }
    return clear;
}

}  // namespace zorvo
