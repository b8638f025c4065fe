#include <csignal>

#include "cli/CommandLine.h"
#include "common/Allocator.h"
#include "media/VideoProbe.h"

int main(int argc, char** argv) {
    zorvo::LimitAllocatorArenas();
    // Only our own lines: the library's would repeat them in its words, or add noise.
    zorvo::QuietLibraryLog();
    // A write past the file size limit then fails with "File too large" and takes the usual
    // failure path (the files are finished and named) instead of killing the program.
    std::signal(SIGXFSZ, SIG_IGN);
    return zorvo::RunCommandLine(argc, argv);
}
