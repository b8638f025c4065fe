#include "support/ProgramRun.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

#include "support/TestPaths.h"

namespace zorvo::test {

ProgramRun RunZorvo(const std::string& arguments) {
    const std::string command = BinDir() + "/zorvo " + arguments + " 2>/dev/null";
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
    return run;
}

}  // namespace zorvo::test
