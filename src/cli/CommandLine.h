#pragma once

namespace zorvo {

// The command table: parses `argv` (argv[0] the program) and runs the command it names; the
// exit status. Usage errors go to standard error with status 2.
int RunCommandLine(int argc, char** argv);

}  // namespace zorvo
