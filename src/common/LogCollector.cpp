#include "common/LogCollector.h"

namespace zorvo {

LogCollector::LogCollector(Scope scope)
    : m_scope(scope),
      m_previous(scope == Scope::Process ? SetLogReceiver(this) : SetThreadLogReceiver(this)) {}

LogCollector::~LogCollector() {
    if (m_scope == Scope::Process) {
        SetLogReceiver(m_previous);
    } else {
        SetThreadLogReceiver(m_previous);
    }
}

void LogCollector::Receive(LogMessage message) {
    std::lock_guard lock(m_mutex);
    m_messages.push_back(std::move(message));
}

std::vector<LogMessage> LogCollector::Messages() const {
    std::lock_guard lock(m_mutex);
    return m_messages;
}

std::vector<Message> LogCollector::Posted() const {
    std::lock_guard lock(m_mutex);
    std::vector<Message> posted;
    for (const LogMessage& m : m_messages) {
        if (m.kind == LogKind::Text) {
            posted.push_back(m.message);
        }
    }
    return posted;
}

std::vector<std::string> LogCollector::Texts() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> texts;
    for (const LogMessage& m : m_messages) {
        if (m.kind == LogKind::Text) {
            texts.push_back(m.text);
        }
    }
    return texts;
}

std::string LogCollector::Joined() const {
    std::string joined;
    for (const std::string& text : Texts()) {
        joined += text;
    }
    return joined;
}

std::vector<int> LogCollector::Progress(int bar) const {
    std::lock_guard lock(m_mutex);
    std::vector<int> values;
    for (const LogMessage& m : m_messages) {
        if (m.kind == LogKind::Progress && (m.bar != 0) == (bar != 0)) {
            values.push_back(m.percent);
        }
    }
    return values;
}

std::vector<std::string> LogCollector::Statuses() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> values;
    for (const LogMessage& m : m_messages) {
        if (m.kind == LogKind::Status) {
            values.push_back(m.text);
        }
    }
    return values;
}

int LogCollector::BuildFinishedCount() const {
    std::lock_guard lock(m_mutex);
    int count = 0;
    for (const LogMessage& m : m_messages) {
        count += m.kind == LogKind::BuildFinished ? 1 : 0;
    }
    return count;
}

void LogCollector::Clear() {
    std::lock_guard lock(m_mutex);
    m_messages.clear();
}

}  // namespace zorvo
