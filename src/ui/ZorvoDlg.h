#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRect>
#include <QSplitter>
#include <QToolButton>
#include <QTreeWidget>
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
#include "ui/ScriptWatch.h"
#include "ui/ThreadNotifier.h"

namespace zorvo {

class CProject;
class CStoryboardDlg;

// The main window: opens a script and follows it on disk, lists what its check finds, starts
// builds, shows their log, progress and remaining time, keeps the output preview docked to its
// right edge, opens the Adjustments dialog, syncs a script's cameras and shows its storyboard.
// It is the receiving end of the log channel for as long as it exists.
//
// Layout, top to bottom: the session row (Open, Edit, the status line); a large area with room
// for a preview on the left and the Problems list on its right; room for a timeline across the
// whole width; the build's log, progress bars and buttons, which follow their panel's size by
// their anchoring records.
class CZorvoDlg : public QDialog {
    Q_OBJECT

  public:
    static constexpr const char* kTitle =
        "Zorvo - music video creator for studio recording session";

    explicit CZorvoDlg(QWidget* parent = nullptr);
    // Stops a running build (the file written so far stays valid) and waits for a running sync
    // before anything goes away.
    ~CZorvoDlg() override;

    // Makes `scriptPath` the open script: its name in the title, followed on disk, checked for
    // problems. Renders nothing.
    void OpenScript(const QString& scriptPath);
    QString ScriptPath() const { return m_scriptPath; }
    // The song's beats found with the problems last shown, in ms from measure 1.
    const std::vector<double>& SongBeatsMs() const { return m_checker.SongBeatsMs(); }
    // What the open script's last check found.
    const std::vector<ScriptProblem>& Problems() const { return m_problemList; }
    // Looks at the open script on disk now, as the file watcher and the poll timer do.
    void PollScript() { m_follower.Poll(); }

    // Places a timeline across the whole width below the preview area and a preview at the top
    // left, beside the Problems list. The window's splitters become their parents. Either may be
    // null.
    void SetStudioWidgets(QWidget* timeline, QWidget* preview);
    // Dialog units the log gives up when the studio is placed: the picture needs the height.
    static constexpr int kStudioLogCut = 60;

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

  signals:
    // A script has been opened: views of it start afresh.
    void ScriptOpened(const QString& path);
    // The open script changed on disk and has been re-read: views keep their place.
    void ScriptReloaded(const QString& path);
    // The Problems list shows the check of the script as it is now.
    void ProblemsChecked();

  public slots:
    // Ends the window as its close box does: a running build is stopped and waited for.
    void reject() override;

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

    // One message of the log channel, on the window's thread.
    virtual void OnLogMessage(const LogMessage& message);
    // The file dialog of Open (and of Build with no script open); empty when cancelled.
    virtual QString ChooseScriptFile();
    // Opens the script in the user's editor, at `line` when > 0.
    virtual void EditScript(int line);
    // The results of a sync that read its script, for the user to write or not.
    virtual void ShowSyncResults(const std::string& scriptPath, std::vector<SyncResult> results);

  private:
    // The open script, or the one the user picks (which then is open); empty when cancelled.
    QString ActionScript();
    void OnOpen();
    void ScriptChanged();
    void ShowProblems(const CheckReport& report);
    void UpdateRecent(const QString& openedPath);
    QString PlainTitle() const;
    // The status line: a failure in the error colour, kept until the next action.
    void ClearStatus();
    void ShowFailure(const QString& action);
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

    // Declared before the widgets they hold, which so go first.
    QSplitter m_split;  // upper area / timeline / build panel
    QSplitter m_upper;  // preview | Problems
    AnchoredPanel m_panel;
    // The session row and the Problems list.
    QToolButton m_open;
    QMenu m_recentMenu;
    QPushButton m_edit;
    QLabel m_statusLine;
    void ShortenLog(int cut);
    bool m_failureShown = false;  // the status line holds a failed run's reason
    QTreeWidget m_problems;
    // The build's controls, in the order of their tab stops, on a panel of their own.
    QPlainTextEdit m_log;
    QProgressBar m_upperBar;
    QProgressBar m_lowerBar;
    QPushButton m_adjustments;
    QPushButton m_autoSync;
    QPushButton m_storyboard;
    QLabel m_remainingLabel;
    QLineEdit m_remaining;
    QPushButton m_build;

    QRect m_initialClientRect;
    bool m_ignoreMessages = false;
    // A build finished while its messages were dropped; it is cleaned up once they flow again.
    bool m_finishDropped = false;
    // The same for a sync, which waits for the Adjustments dialog to close before it shows.
    bool m_syncFinishDropped = false;
    // The log texts of the running action, for the status line should it fail.
    std::string m_actionLog;

    QString m_scriptPath;
    std::vector<ScriptProblem> m_problemList;
    ScriptFollower m_follower;
    ProblemChecker m_checker;

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
