#pragma once

#include <QFileSystemWatcher>
#include <QString>
#include <QTimer>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "check/ScriptCheck.h"
#include "ui/ThreadNotifier.h"

namespace zorvo {

// Notices when a script changes on disk. Editors that save by writing a new file and renaming
// it over the old one leave a watcher on the old file, so the folder is watched too and the
// file is looked at again on every notice, and a cheap stat every half second catches what a
// watcher misses (network folders, full notify queues).
class ScriptFollower {
  public:
    explicit ScriptFollower(std::function<void()> onChanged);

    // Follows `path` from now on (empty: nothing).
    void Follow(const QString& path);
    // Compares the file with what it was; announces a change once. A missing file (between an
    // editor's rename steps) is waited for.
    void Poll();

  private:
    struct Stamp {
        long long modifiedNs = -1, size = -1, inode = -1;
        bool operator==(const Stamp&) const = default;
    };
    static Stamp StampOf(const QString& path);

    std::function<void()> m_onChanged;
    QString m_path;
    Stamp m_stamp;
    QFileSystemWatcher m_watcher;
    QTimer m_poll;
};

// Runs the command line's check of a script on a thread of its own (it opens every input) and
// hands the problems to the window thread. A request while one runs is done after it, once.
class ProblemChecker {
  public:
    explicit ProblemChecker(std::function<void(const CheckReport&)> onChecked);
    // Waits for a running check.
    ~ProblemChecker();

    void Request(const QString& scriptPath);
    bool Running() const { return m_thread.joinable(); }
    // The song's beats (ms from measure 1) found with the last check handed over.
    const std::vector<double>& SongBeatsMs() const { return m_shownBeats; }

  private:
    void Finished();

    std::function<void(const CheckReport&)> m_onChecked;
    QString m_pending;
    // Written by the thread, read after it has been joined.
    std::string m_path;
    CheckReport m_report;
    std::vector<double> m_beats;
    std::vector<double> m_shownBeats;
    ThreadNotifier m_notifier;
    std::thread m_thread;
};

}  // namespace zorvo
