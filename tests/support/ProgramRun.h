#pragma once

#include <string>

namespace zorvo::test {

struct ProgramRun {
    std::string out;
    std::string err;
    int status = -1;
};

// Runs a program of the build's bin folder (by default the command line program) with both
// output streams captured and no standard input.
ProgramRun RunZorvo(const std::string& arguments, const std::string& program = "zorvo");

}  // namespace zorvo::test
