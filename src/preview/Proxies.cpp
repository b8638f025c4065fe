#include "preview/Proxies.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>

#include "common/LogChannel.h"
#include "output/Proxy.h"

namespace zorvo {

std::vector<std::string> ProxyCameras(const CScript& script) {
    std::vector<std::string> files;
    for (const auto& [id, input] : script.inputs) {
        if (id != script.overlay.inputId &&
            std::find(files.begin(), files.end(), input->file) == files.end()) {
            files.push_back(input->file);
        }
    }
    return files;
}

std::map<std::string, std::string> ProxiesOf(const CScript& script) {
    std::map<std::string, std::string> proxies;
    for (const std::string& camera : ProxyCameras(script)) {
        const std::string proxy = ProxyPathFor(camera);
        struct stat status {};
        if (!proxy.empty() && stat(proxy.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
            proxies[camera] = proxy;
        }
    }
    return proxies;
}

bool MakeSessionProxies(const CScript& script, const std::atomic<bool>& stop,
                        const ProxyProgressFn& progress) {
    const std::vector<std::string> cameras = ProxyCameras(script);
    const std::map<std::string, std::string> made = ProxiesOf(script);
    for (size_t i = 0; i < cameras.size() && !stop.load(); ++i) {
        const std::string& camera = cameras[i];
        if (made.count(camera)) {
            PostQuoted("Proxy of '", camera, "' is up to date.\n");
            continue;
        }
        const std::string proxy = ProxyPathFor(camera);
        if (proxy.empty()) {
            PostQuoted("Error (Proxy): Failed to find the camera file '", camera,
                       "' or the cache folder ($XDG_CACHE_HOME or $HOME).\n");
            return false;
        }
        const auto start = std::chrono::steady_clock::now();
        const bool madeOne = MakeProxy(camera, proxy, stop, [&](double share) {
            if (progress) {
                progress(i, cameras.size(), share);
            }
        });
        if (!madeOne) {
            return false;
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        PostQuoted("Proxy of '", camera,
                   Format("' written in %.1f s: %s\n", took.count(), proxy.c_str()));
    }
    return !stop.load();
}

}  // namespace zorvo
