#include "common/PathName.h"

#include <filesystem>

namespace zorvo {

namespace fs = std::filesystem;

std::string FileName(const std::string& path) {
    return fs::path(path).filename().string();
}

std::string FolderOf(const std::string& path) {
    const fs::path folder = fs::path(path).parent_path();
    return folder.empty() ? std::string(".") : folder.string();
}

std::string Beside(const std::string& path, const std::string& name) {
    // Not replace_filename: a name must never be taken for a path of its own.
    return path.substr(0, path.size() - FileName(path).size()) + name;
}

std::string Extension(const std::string& path) {
    return fs::path(path).extension().string();
}

std::string ReplaceExtension(const std::string& path, const std::string& extension) {
    return fs::path(path).replace_extension(extension).string();
}

std::string InsertBeforeExtension(const std::string& path, const std::string& text) {
    return ReplaceExtension(path, text + Extension(path));
}

}  // namespace zorvo
