#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/Version.h"
#include "support/ProgramRun.h"

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
        {"--version", 0, std::string("zorvo-gui ") + kVersion + "\n"},
        {"a b", 2, ""},
        {"--frob", 2, ""},
    };
    // This program's own QApplication is up already; only the children see the change.
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        unsetenv(name);
    }
    for (const Case& c : cases) {
        const ProgramRun run = RunZorvo(c.arguments, "zorvo-gui");
        EXPECT_EQ(run.status, c.status) << c.arguments;
        EXPECT_EQ(run.out.substr(0, c.start.size()), c.start) << c.arguments;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

}  // namespace
}  // namespace zorvo::test
