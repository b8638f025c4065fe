#include "support/TestPaths.h"

#include <stdlib.h>

#include <fstream>

namespace zorvo::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zorvo-test-XXXXXX").string();
    if (::mkdtemp(pattern.data())) {
        m_path = pattern;
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

bool WriteTextFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

}  // namespace zorvo::test
