#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <functional>
#include <string>
#include <vector>

#include "ui/ZorvoDlg.h"

namespace zorvo::test {

// Runs the event loop until `done` holds or `timeoutMs` passes; the result of `done` then.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) {
            return done();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

// The main window with its file dialog cancelled and every log channel message it takes noted,
// whether it acts on it or drops it.
class RecordingWindow : public CZorvoDlg {
  public:
    std::vector<LogMessage> taken;
    // What each finished sync would have shown in its dialog.
    std::vector<std::vector<SyncResult>> syncsShown;

    std::string LogText() const {
        return findChild<QPlainTextEdit*>(QStringLiteral("log"))->toPlainText().toStdString();
    }
    QPushButton* Button(const char* name) const {
        return findChild<QPushButton*>(QString::fromLatin1(name));
    }
    QProgressBar* Bar(const char* name) const {
        return findChild<QProgressBar*>(QString::fromLatin1(name));
    }
    // Waits until the window has taken `count` messages in all.
    bool TakeUpTo(size_t count) {
        return WaitUntil([&] { return taken.size() >= count; });
    }

  protected:
    void OnLogMessage(const LogMessage& message) override {
        taken.push_back(message);
        CZorvoDlg::OnLogMessage(message);
    }
    QString ChooseScriptFile() override { return {}; }
    void ShowSyncResults(const std::string&, std::vector<SyncResult> results) override {
        syncsShown.push_back(std::move(results));
    }
};

}  // namespace zorvo::test
