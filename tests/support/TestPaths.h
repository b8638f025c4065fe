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
// The whole file's bytes; empty when it cannot be read.
std::string ReadTextFile(const std::string& path);

// The typical script of the language guide, with its Windows paths.
inline const std::string kTypicalScript =
    "output( C:\\clips\\song.avi, 720, 576, bicubic, C:\\clips\\song.wav )\n"
    "input( cam1, C:\\clips\\cam1.mov, center, 1200, 0 ) { brightness( 0.1 ); }\n"
    "input( cam2, C:\\clips\\cam2.mov, top_left ) { }\n"
    "group( all ) { cam1, cam2 }\n"
    "marker( 1, 1left_1right ) { tempo( 120 ); signature( 4, 4 ); separator( 4 ); display( cam1, "
    "each_measure ); display( all, each_beat ); }\n"
    "marker( 9, 1fullscreen ) { effect( fade_out ); display( cam2 ); }\n"
    "marker( 13 ) { }\n";

// Directory of the built programs (build/bin).
inline std::string BinDir() {
    return ZORVO_BIN_DIR;
}

}  // namespace zorvo::test
