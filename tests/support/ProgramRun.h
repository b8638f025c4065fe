#pragma once

#include <functional>
#include <string>
#include <vector>

namespace zorvo::test {

struct ProgramRun {
    std::string out;
    std::string err;
    int status = -1;  // the exit status; -1 when the program did not start or did not exit
};

// Fills `bytes` with the next piece of a program's standard input; false when there is no more.
using InputFeed = std::function<bool(std::string& bytes)>;

// Runs `argv` (argv[0] looked up on PATH) with both output streams captured and `feed` (none:
// nothing) on its standard input.
ProgramRun RunProgram(const std::vector<std::string>& argv, const InputFeed& feed = {});

// The words of a command line split at spaces, without quoting: for fixed options (pass file
// names as arguments of their own).
std::vector<std::string> Words(const std::string& text);

// Runs a program of the build's bin folder (by default the command line program) through the
// shell, so `arguments` is a shell command line. With `watchdogSeconds`, a program that hangs is
// killed then (status 124 or 137) so that the test fails instead of waiting for good.
ProgramRun RunZorvo(const std::string& arguments, const std::string& program = "zorvo",
                    int watchdogSeconds = 0);

}  // namespace zorvo::test
