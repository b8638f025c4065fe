#pragma once

#include <string>

namespace zorvo::test {

struct ProgramRun {
    std::string out;
    int status = -1;
};

// Runs the command line program with stdout captured (stderr discarded).
ProgramRun RunZorvo(const std::string& arguments);

}  // namespace zorvo::test
