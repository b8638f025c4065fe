#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "cli/Check.h"
#include "cli/ConsoleLog.h"
#include "cli/Render.h"
#include "cli/Sync.h"
#include "common/Allocator.h"
#include "common/Version.h"

namespace {

constexpr const char* kUsage =
    "Usage: zorvo COMMAND [OPTIONS] [SCRIPT]\n"
    "\n"
    "Assembles the music video of a multi-camera studio recording session from a script.\n"
    "\n"
    "Commands:\n"
    "  check SCRIPT    parse and validate the script as a build would; writes nothing\n"
    "  render [--output PATH] SCRIPT\n"
    "                  render the video the script describes, to PATH instead of the\n"
    "                  script's output path when given; the extension chooses the file:\n"
    "                  .mkv H.264 + FLAC, .mp4/.mov H.264 + AAC, anything else AVI\n"
    "  sync [--write] SCRIPT  find each camera's sync offset from its sound; --write puts them in\n"
    "  --help          show this help\n"
    "  --version       show the version\n"
    "\n"
    "Every log line goes to standard output; progress is drawn on standard error when it is a\n"
    "terminal. Exit status: 0 success, 1 the check or build failed, 2 usage error, 130 stopped\n"
    "by a signal.\n"
    "\n"
    "The script language is described in docs/script-language.md.\n";

}  // namespace

int main(int argc, char** argv) {
    zorvo::LimitAllocatorArenas();
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("zorvo %s\n", zorvo::kVersion);
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "check") == 0) {
        zorvo::ConsoleLog console(stdout, stderr, false);
        return zorvo::RunCheck(argv[2]);
    }
    if (argc == 3 && std::strcmp(argv[1], "render") == 0) {
        return zorvo::RunRender(argv[2]);
    }
    if (argc >= 3 && argc <= 4 && std::strcmp(argv[1], "sync") == 0 &&
        (argc == 3 || std::strcmp(argv[2], "--write") == 0)) {
        return zorvo::RunSync(argv[argc - 1], argc == 4);
    }
    if (argc == 5 && std::strcmp(argv[1], "render") == 0 && std::strcmp(argv[2], "--output") == 0 &&
        argv[3][0] != '\0') {
        return zorvo::RunRender(argv[4], argv[3]);
    }
    std::fputs(kUsage, stderr);
    return 2;
}
