#include "ui/ProxyJob.h"

#include "preview/Proxies.h"

namespace zorvo {

ProxyJob::ProxyJob(std::function<void()> finished)
    : m_finished(std::move(finished)), m_notifier([this] { Finish(); }) {}

ProxyJob::~ProxyJob() {
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

bool ProxyJob::Start(const std::string& scriptPath) {
    if (Running()) {
        return false;
    }
    m_script = scriptPath;
    m_stop = false;
    m_permille = 0;
    m_camera = 0;
    m_cameras = 0;
    m_succeeded = false;
    m_thread = std::thread([this] {
        CScript script(m_script);
        m_succeeded = LoadValidScript(script) &&
                      MakeSessionProxies(script, m_stop, [this](size_t i, size_t n, double share) {
                          m_camera = static_cast<int>(i) + 1;
                          m_cameras = static_cast<int>(n);
                          m_permille = static_cast<int>((static_cast<double>(i) + share) * 1000 /
                                                        static_cast<double>(n));
                      });
        m_notifier.Notify();  // the last thing the thread does
    });
    return true;
}

void ProxyJob::Finish() {
    if (!m_thread.joinable()) {
        return;  // joined already, by the destructor
    }
    m_thread.join();
    m_finished();
}

QString ProxyJob::Step() const {
    return m_cameras.load() > 0
               ? QStringLiteral("camera %1 of %2").arg(m_camera.load()).arg(m_cameras.load())
               : QString();
}

}  // namespace zorvo
