#pragma once

#include <string>

namespace zorvo {

// Makes the proxy of every camera of the session that has none (`zorvo proxy SCRIPT`), with
// progress on standard error when it is a terminal. The first SIGINT or SIGTERM stops it,
// leaving the proxies finished so far and no part of the one being made. Returns the exit
// status: 0 all there, 1 failed, 130 stopped.
int RunProxy(const std::string& scriptPath);

// Removes every proxy from the cache (`zorvo proxy --clean`); 0, or 1 when one stays.
int RunProxyClean();

}  // namespace zorvo
