#pragma once

#include <filesystem>
#include <string>

namespace zorvo::test {

// A fresh, empty directory for one test, removed when the object goes away.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::string File(const std::string& name) const { return (m_path / name).string(); }

  private:
    std::filesystem::path m_path;
};

// Writes text to a file; false when it cannot.
bool WriteTextFile(const std::string& path, const std::string& text);

// Directory of the built programs (build/bin).
std::string BinDir();

}  // namespace zorvo::test
