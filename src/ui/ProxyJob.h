#pragma once

#include <QString>
#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "ui/ThreadNotifier.h"

namespace zorvo {

// Makes the proxies of a session's cameras on a thread of its own (MakeSessionProxies), for
// the studio's Proxies button; the window reads its progress whenever it likes.
class ProxyJob {
  public:
    // `finished` runs on the window's thread once the thread has ended.
    explicit ProxyJob(std::function<void()> finished);
    // Stops a running job and waits for it: the proxy being made is not kept.
    ~ProxyJob();

    // False when one runs already.
    bool Start(const std::string& scriptPath);
    void Stop() { m_stop = true; }
    bool Running() const { return m_thread.joinable(); }
    // Whether the last job made every proxy (valid once finished ran).
    bool Succeeded() const { return m_succeeded; }
    bool Stopped() const { return m_stop.load(); }
    // The whole job's share done, 0 to 1000.
    int Permille() const { return m_permille.load(); }
    // "camera 2 of 4".
    QString Step() const;

  private:
    void Finish();

    std::function<void()> m_finished;
    std::string m_script;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_permille{0};
    std::atomic<int> m_camera{0};
    std::atomic<int> m_cameras{0};
    bool m_succeeded = false;  // written by the thread, read after the join
    ThreadNotifier m_notifier;
    std::thread m_thread;
};

}  // namespace zorvo
