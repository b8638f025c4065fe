#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "common/LogChannel.h"

namespace zorvo {

// Records every posted message in order. Installing one makes it the process-wide receiver
// (or, with ThisThread, the receiver of the constructing thread's posts) for its lifetime and
// restores the previous receiver afterwards.
class LogCollector : public LogReceiver {
  public:
    enum class Scope { Process, ThisThread };
    explicit LogCollector(Scope scope = Scope::Process);
    ~LogCollector() override;
    LogCollector(const LogCollector&) = delete;
    LogCollector& operator=(const LogCollector&) = delete;

    void Receive(LogMessage message) override;

    std::vector<LogMessage> Messages() const;
    // The posted texts by their parts.
    std::vector<Message> Posted() const;
    // The log texts only, one entry per posted text.
    std::vector<std::string> Texts() const;
    // All log texts joined, as a terminal would show them.
    std::string Joined() const;
    // Progress percentages posted for one bar (0 upper, 1 lower).
    std::vector<int> Progress(int bar) const;
    std::vector<std::string> Statuses() const;
    int BuildFinishedCount() const;
    void Clear();

  private:
    mutable std::mutex m_mutex;
    std::vector<LogMessage> m_messages;
    Scope m_scope;
    LogReceiver* m_previous = nullptr;
};

}  // namespace zorvo
