#include "ui/ScriptWatch.h"

#include <sys/stat.h>
#include <QFile>
#include <QFileInfo>

#include "common/LogCollector.h"
#include "sync/TempoDrift.h"

namespace zorvo {

ScriptFollower::ScriptFollower(std::function<void()> onChanged)
    : m_onChanged(std::move(onChanged)) {
    QObject::connect(&m_watcher, &QFileSystemWatcher::fileChanged, [this] { Poll(); });
    QObject::connect(&m_watcher, &QFileSystemWatcher::directoryChanged, [this] { Poll(); });
    QObject::connect(&m_poll, &QTimer::timeout, [this] { Poll(); });
    m_poll.setInterval(500);
}

ScriptFollower::Stamp ScriptFollower::StampOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return {};
    }
    return {static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec,
            static_cast<long long>(info.st_size), static_cast<long long>(info.st_ino)};
}

void ScriptFollower::Follow(const QString& path) {
    if (!m_watcher.files().isEmpty() || !m_watcher.directories().isEmpty()) {
        m_watcher.removePaths(m_watcher.files() + m_watcher.directories());
    }
    m_path = path;
    m_stamp = StampOf(path);
    if (path.isEmpty()) {
        m_poll.stop();
        return;
    }
    m_watcher.addPath(path);
    m_watcher.addPath(QFileInfo(path).absolutePath());
    m_poll.start();
}

void ScriptFollower::Poll() {
    if (m_path.isEmpty()) {
        return;
    }
    const Stamp now = StampOf(m_path);
    if (now == Stamp{} || now == m_stamp) {
        return;
    }
    m_stamp = now;
    if (!m_watcher.files().contains(m_path)) {
        m_watcher.addPath(m_path);  // a rename took the watched file away
    }
    m_onChanged();
}

ProblemChecker::ProblemChecker(std::function<void(const CheckReport&)> onChecked)
    : m_onChecked(std::move(onChecked)), m_notifier([this] { Finished(); }) {}

ProblemChecker::~ProblemChecker() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void ProblemChecker::Request(const QString& scriptPath) {
    if (Running()) {
        m_pending = scriptPath;
        return;
    }
    m_path = QFile::encodeName(scriptPath).toStdString();
    m_thread = std::thread([this] {
        m_report = CheckForProblems(m_path);
        m_beats.clear();
        // A tempo off by more than a beat, as `zorvo check` warns; the analysis is cached.
        BeatReport drift;
        if (m_report.valid) {
            LogCollector lines(LogCollector::Scope::ThisThread);
            if (MeasureScriptDrift(m_path, drift, &m_beats)) {
                for (Message& message : DriftMessages(drift, DriftLimit::Beat)) {
                    Post(std::move(message));
                }
            }
            for (double& beat : m_beats) {
                beat = beat * 1000 - drift.songStartMs;
            }
            for (ScriptProblem& problem : ProblemsFromMessages(lines.Posted())) {
                m_report.problems.push_back(std::move(problem));
            }
        }
        m_notifier.Notify();  // the last thing the thread does
    });
}

void ProblemChecker::Finished() {
    if (!Running()) {
        return;
    }
    m_thread.join();
    const CheckReport report = std::move(m_report);
    m_shownBeats = std::move(m_beats);
    if (!m_pending.isEmpty()) {
        // The file changed meanwhile: what was found is already old.
        Request(std::exchange(m_pending, QString()));
        return;
    }
    m_onChecked(report);
}

}  // namespace zorvo
