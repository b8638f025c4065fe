#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRect>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/LogChannel.h"
#include "render/Storyboard.h"
#include "sync/AudioSync.h"
#include "ui/CtrlAuto.h"
#include "ui/LogEventQueue.h"
#include "ui/OutputDlg.h"
#include "ui/ThreadNotifier.h"

namespace zorvo {

class CProject;
class CStoryboardDlg;

// The main window: starts builds, shows their log, progress and remaining time, keeps the output
// preview docked to its right edge, opens the Adjustments dialog, syncs a script's cameras and
// shows its storyboard. It is the receiving end of the log channel for as long as it exists.
class CZorvoDlg : public QDialog {
    Q_OBJECT

  public:
    static constexpr const char* kTitle =
        "Zorvo - music video creator for studio recording session";

    explicit CZorvoDlg(QWidget* parent = nullptr);
    // Stops a running build (the file written so far stays valid) and waits for a running sync
    // before anything goes away.
    ~CZorvoDlg() override;

    // What the Build button does once a script has been chosen.
    void StartBuild(const QString& scriptPath);

    // What the Auto-sync button does once a script has been chosen: the cameras are matched on
    // a worker thread, then the results are shown.
    void StartSync(const QString& scriptPath);

    // What the Storyboard button does once a script has been chosen: the stills are composed on
    // the build thread, then the sheet is shown in a window of its own.
    void StartStoryboard(const QString& scriptPath);

    const CProject* BuildJob() const { return m_buildJob.get(); }
    bool SyncRunning() const { return m_syncThread.joinable(); }
    COutputDlg* OutputDialog() const { return m_outputDialog.get(); }
    CStoryboardDlg* StoryboardWindow() const { return m_storyboardWindow.get(); }

  public slots:
    // Ends the window as its close box does: a running build is stopped and waited for.
    void reject() override;

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

    // One message of the log channel, on the window's thread.
    virtual void OnLogMessage(const LogMessage& message);
    // The file dialog of Build; empty when cancelled.
    virtual QString ChooseScriptFile();
    // The results of a sync that read its script, for the user to write or not.
    virtual void ShowSyncResults(const std::string& scriptPath, std::vector<SyncResult> results);

  private:
    void OnBuild();
    void OnAdjustments();
    void OnAutoSync();
    void OnStoryboard();
    void EnableActions(bool enabled);
    void FinishBuild();
    void ShowStoryboard(const ContactSheet& sheet);
    void FinishSync();
    void EndSyncThread();
    void AppendLog(const std::string& text);
    void DockOutput();

    // Controls, in the order of their tab stops.
    QPlainTextEdit m_log;
    QProgressBar m_upperBar;
    QProgressBar m_lowerBar;
    QPushButton m_adjustments;
    QPushButton m_autoSync;
    QPushButton m_storyboard;
    QLabel m_remainingLabel;
    QLineEdit m_remaining;
    QPushButton m_build;

    std::vector<CCtrlAuto> m_anchors;
    QRect m_initialClientRect;
    bool m_ignoreMessages = false;
    // A build finished while its messages were dropped; it is cleaned up once they flow again.
    bool m_finishDropped = false;
    // The same for a sync, which waits for the Adjustments dialog to close before it shows.
    bool m_syncFinishDropped = false;

    // Written by the sync thread, read after it has been joined.
    std::string m_syncScript;
    bool m_syncRead = false;
    std::vector<SyncResult> m_syncResults;
    std::string m_syncText;  // the script as the sync read it
    std::atomic<size_t> m_syncCamerasDone{0};
    ThreadNotifier m_syncNotifier;
    std::thread m_syncThread;

    std::unique_ptr<COutputDlg> m_outputDialog;
    std::unique_ptr<CStoryboardDlg> m_storyboardWindow;
    // The stills of a running storyboard; outlives the job that fills it.
    std::unique_ptr<ContactSheet> m_sheet;
    QString m_sheetScript;
    // Declared after the preview, so it is destroyed (and its thread ended) first.
    std::unique_ptr<CProject> m_buildJob;
    LogEventQueue m_logQueue;
};

}  // namespace zorvo
