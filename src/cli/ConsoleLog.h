#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "common/LogChannel.h"

namespace zorvo {

// The command line's end of the log channel: every log text on standard output exactly as
// posted; the two progress bars and the remaining time redrawn in place on standard error
// when it is a terminal.
class ConsoleLog : public LogReceiver {
  public:
    ConsoleLog(std::FILE* out, std::FILE* err, bool showProgress);
    ~ConsoleLog() override;

    void Receive(LogMessage message) override;
    // What the two bars are called on the progress line ("block" and "build" by default).
    void NameBars(std::string upper, std::string lower);

  private:
    void ClearProgressLine();
    void DrawProgressLine();

    std::mutex m_mutex;
    std::FILE* m_out;
    std::FILE* m_err;
    bool m_showProgress;
    bool m_progressDrawn = false;
    int m_upper = 0;
    int m_lower = 0;
    std::string m_status;
    std::string m_upperName = "block";
    std::string m_lowerName = "build";
    LogReceiver* m_previous;
};

}  // namespace zorvo
