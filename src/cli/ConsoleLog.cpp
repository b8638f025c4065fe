#include "cli/ConsoleLog.h"

namespace zorvo {

ConsoleLog::ConsoleLog(std::FILE* out, std::FILE* err, bool showProgress)
    : m_out(out), m_err(err), m_showProgress(showProgress), m_previous(SetLogReceiver(this)) {}

ConsoleLog::~ConsoleLog() {
    SetLogReceiver(m_previous);
    std::lock_guard lock(m_mutex);
    ClearProgressLine();
}

void ConsoleLog::Receive(LogMessage message) {
    std::lock_guard lock(m_mutex);
    switch (message.kind) {
        case LogKind::Text:
            ClearProgressLine();
            std::fwrite(message.text.data(), 1, message.text.size(), m_out);
            std::fflush(m_out);
            DrawProgressLine();
            break;
        case LogKind::Progress:
            (message.bar == 0 ? m_upper : m_lower) = message.percent;
            DrawProgressLine();
            break;
        case LogKind::Status:
            m_status = message.text;
            DrawProgressLine();
            break;
        case LogKind::BuildFinished:
            ClearProgressLine();
            break;
    }
}

void ConsoleLog::NameBars(std::string upper, std::string lower) {
    std::lock_guard lock(m_mutex);
    m_upperName = std::move(upper);
    m_lowerName = std::move(lower);
}

void ConsoleLog::ClearProgressLine() {
    if (m_progressDrawn) {
        std::fputs("\r\033[K", m_err);
        std::fflush(m_err);
        m_progressDrawn = false;
    }
}

void ConsoleLog::DrawProgressLine() {
    if (!m_showProgress) {
        return;
    }
    auto bar = [](int percent) {
        constexpr int kWidth = 20;
        const int filled = percent * kWidth / 100;
        return std::string(static_cast<size_t>(filled), '#') +
               std::string(static_cast<size_t>(kWidth - filled), '.');
    };
    std::fprintf(m_err, "\r\033[K%s [%s] %3d%%  %s [%s] %3d%%  %s", m_upperName.c_str(),
                 bar(m_upper).c_str(), m_upper, m_lowerName.c_str(), bar(m_lower).c_str(), m_lower,
                 m_status.empty() ? "" : ("remaining " + m_status).c_str());
    std::fflush(m_err);
    m_progressDrawn = true;
}

}  // namespace zorvo
