#include "ui/ScriptEdits.h"

#include "common/LogCollector.h"
#include "sync/ScriptRewrite.h"

namespace zorvo {

namespace {

constexpr const char* kUnwritten = "the edit was not written";

// Runs `step` with its lines kept apart, then gives them back.
template <typename Step>
bool Collected(std::vector<std::string>& lines, Step step) {
    LogCollector collector(LogCollector::Scope::ThisThread);
    const bool done = step();
    lines = collector.Texts();
    return done;
}

}  // namespace

void ScriptEdits::SetScript(const std::string& path) {
    if (path != m_path) {
        m_path = path;
        m_undo.clear();
        m_redo.clear();
    }
}

void ScriptEdits::Report(const std::vector<std::string>& lines, const QString& done) {
    for (const std::string& line : lines) {
        PostLog(line);
    }
    m_message = lines.empty() ? done : QString::fromStdString(lines.front()).trimmed();
}

bool ScriptEdits::Apply(const MarkerEdit& edit) {
    std::vector<std::string> lines;
    std::string text;
    std::string edited;
    const bool done = Collected(lines, [&] {
        if (!ReadScriptBytes(m_path, text)) {
            PostLog("Error (Edit): Failed to read the script file.\n");
            return false;
        }
        return EditMarkers(text, edit, edited) &&
               ReplaceFileContent(m_path, edited, text, "Edit", kUnwritten);
    });
    const std::string what = DescribeEdit(edit);
    Report(lines,
           QStringLiteral("Edited: %1 (Ctrl+Z undoes it).").arg(QString::fromStdString(what)));
    if (done) {
        m_undo.push_back({text, edited, what});
        m_redo.clear();
        m_written();
    }
    return done;
}

bool ScriptEdits::Replace(const std::string& from, const std::string& to) {
    std::string now;
    if (!ReadScriptBytes(m_path, now) || now != from) {
        PostLog("Error (Edit): The script changed since that edit; it is left as it is.\n");
        return false;
    }
    return ReplaceFileContent(m_path, to, from, "Edit", kUnwritten);
}

bool ScriptEdits::Undo() {
    if (m_undo.empty()) {
        m_message = QStringLiteral("Nothing to undo.");
        return false;
    }
    const Step step = m_undo.back();
    std::vector<std::string> lines;
    const bool done = Collected(lines, [&] { return Replace(step.after, step.before); });
    Report(lines, QStringLiteral("Undone: %1.").arg(QString::fromStdString(step.what)));
    if (done) {
        m_undo.pop_back();
        m_redo.push_back(step);
        m_written();
    }
    return done;
}

bool ScriptEdits::Redo() {
    if (m_redo.empty()) {
        m_message = QStringLiteral("Nothing to redo.");
        return false;
    }
    const Step step = m_redo.back();
    std::vector<std::string> lines;
    const bool done = Collected(lines, [&] { return Replace(step.before, step.after); });
    Report(lines, QStringLiteral("Redone: %1.").arg(QString::fromStdString(step.what)));
    if (done) {
        m_redo.pop_back();
        m_undo.push_back(step);
        m_written();
    }
    return done;
}

QString ScriptEdits::UndoText() const {
    return m_undo.empty() ? QString() : QString::fromStdString(m_undo.back().what);
}

QString ScriptEdits::RedoText() const {
    return m_redo.empty() ? QString() : QString::fromStdString(m_redo.back().what);
}

}  // namespace zorvo
