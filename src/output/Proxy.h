#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace zorvo {

// Preview copies of camera files (proxies): at most kProxyWidth pixels wide, a key frame every
// kProxyKeyInterval pictures so that any picture decodes after a few others, H.264 with the
// camera's own timestamps, frame rate and sound, in Matroska. They live in the user's cache
// folder, never beside the session. Only the studio's preview reads them.
inline constexpr int kProxyWidth = 640;
inline constexpr int kProxyKeyInterval = 10;

// How a proxy is encoded (the defaults are the measured choice, bench/README.md).
struct ProxySettings {
    const char* preset = "ultrafast";
    int keyInterval = kProxyKeyInterval;
    int crf = 26;
    // Decoder threads of the camera; 0: one a core.
    int decoderThreads = 0;
    // Leaves out the camera's loop filter: a third faster, a little blockier, only in the proxy.
    bool fastDecode = true;
};

// $XDG_CACHE_HOME/zorvo/proxies, else $HOME/.cache/zorvo/proxies; empty when neither is set.
std::string ProxyFolder();

// Where the proxy of the camera file as it is now belongs: its name and a key made of the
// file's absolute path, size and modification time, so an edited, replaced or moved camera gets
// a new one. Empty (no line) when the file cannot be found.
std::string ProxyPathFor(const std::string& cameraPath);

// Makes the proxy of `cameraPath` at `proxyPath`. The file is written unnamed (or under a
// temporary name) in the proxy's folder and takes its name only once complete, so a stop, a
// failure or a killed process leaves no file. `progress` is called with the share done (0 to 1)
// on the caller's thread. False after a log line, or without one when `stop` was set.
bool MakeProxy(const std::string& cameraPath, const std::string& proxyPath,
               const std::atomic<bool>& stop, const std::function<void(double)>& progress = {},
               const ProxySettings& settings = {});

// Removes every proxy in the proxy folder (and the temporary files of interrupted runs), and
// nothing else. False after a line when one could not be removed.
bool RemoveProxies(std::size_t& removed, std::uint64_t& bytes);

}  // namespace zorvo
