#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "script/Script.h"

namespace zorvo {

// The camera files a session's proxies are made of: the file of every input but the overlay's
// (whose crop is given in the camera's own pixels), each once, in the order of their ids.
std::vector<std::string> ProxyCameras(const CScript& script);

// Camera file to proxy file, for each camera of the session whose proxy is in the cache for
// the file as it is now. The studio's frame engine reads these instead; nothing else does.
std::map<std::string, std::string> ProxiesOf(const CScript& script);

// What a run of MakeSessionProxies has reached: camera `index` of `count`, `share` of it done.
using ProxyProgressFn = std::function<void(std::size_t index, std::size_t count, double share)>;

// Makes the proxy of every camera of the session that has none, one after the other, posting a
// line for each. False after the line of the first one that failed, or without a line when
// `stop` was set; the proxies finished before stay.
bool MakeSessionProxies(const CScript& script, const std::atomic<bool>& stop,
                        const ProxyProgressFn& progress = {});

}  // namespace zorvo
