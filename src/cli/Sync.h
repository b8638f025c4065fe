#pragma once

#include <string>

namespace zorvo {

// Finds every camera's sync offset from its sound and reports it; with `write`, also writes
// the offsets into the script. Returns the exit status: 0 every input with sound matched, 1
// not (or the script or song failed).
int RunSync(const std::string& scriptPath, bool write);

}  // namespace zorvo
