#include "support/TestPaths.h"

#include <fstream>
#include <random>

namespace zorvo::test {

TempDir::TempDir() {
    std::random_device device;
    std::mt19937_64 random(device());
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (;;) {
        std::filesystem::path candidate = base / ("zorvo-test-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) {
            m_path = candidate;
            return;
        }
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

std::string BinDir() {
    return ZORVO_BIN_DIR;
}

}  // namespace zorvo::test
