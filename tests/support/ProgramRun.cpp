#include "support/ProgramRun.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

#include "support/TestPaths.h"

namespace zorvo::test {

ProgramRun RunZorvo(const std::string& arguments, const std::string& program) {
    TempDir dir;
    const std::string errPath = dir.File("stderr");
    const std::string command =
        BinDir() + "/" + program + " " + arguments + " 2>" + errPath + " </dev/null";
    ProgramRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        return run;
    }
    std::array<char, 4096> buffer;
    size_t n = 0;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        run.out.append(buffer.data(), n);
    }
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (FILE* err = std::fopen(errPath.c_str(), "rb")) {
        while ((n = fread(buffer.data(), 1, buffer.size(), err)) > 0) {
            run.err.append(buffer.data(), n);
        }
        std::fclose(err);
    }
    return run;
}

}  // namespace zorvo::test
