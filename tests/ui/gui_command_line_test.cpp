#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/TestPaths.h"

namespace zorvo::test {
namespace {

// These must answer before Qt starts: no display, no platform plugin.
TEST(GuiCommandLine, AnswersWithoutADisplay) {
    struct Case {
        std::string arguments;
        int status;
        std::string start;  // of standard output
    };
    const std::vector<Case> cases = {
        {"--help", 0, "Usage: zorvo-gui [SCRIPT]\n"},
        {"--version", 0, "zorvo-gui 1.0.9\n"},
        {"a b", 2, ""},
        {"--frob", 2, ""},
    };
    for (const Case& c : cases) {
        const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
                                    BinDir() + "/zorvo-gui " + c.arguments + " 2>/dev/null";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string out;
        char buffer[4096];
        size_t n = 0;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            out.append(buffer, n);
        }
        const int status = pclose(pipe);
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.status) << c.arguments;
        EXPECT_EQ(out.substr(0, c.start.size()), c.start) << c.arguments;
    }
}

}  // namespace
}  // namespace zorvo::test
