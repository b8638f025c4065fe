#pragma once

#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "sync/MarkerEdit.h"

namespace zorvo {

// The window's own edits of the open script: each one rewrites the file through the script
// rewrite of `sync --write` (read back, replaced atomically with its owner, refused when the
// file changed on disk or is read-only), and is undone by putting back the text it replaced,
// which is refused too when the file is no longer what the edit wrote.
class ScriptEdits {
  public:
    // `written` is called after every change of the file, so its followers read it at once.
    explicit ScriptEdits(std::function<void()> written) : m_written(std::move(written)) {}

    // A script of its own: the history starts afresh.
    void SetScript(const std::string& path);
    bool Apply(const MarkerEdit& edit);
    bool Undo();
    bool Redo();
    // What Undo and Redo would do; empty when nothing.
    QString UndoText() const;
    QString RedoText() const;
    // The outcome of the last call, for the status line: what was done, or the first line of
    // why not (every line also goes to the log).
    const QString& Message() const { return m_message; }

  private:
    struct Step {
        std::string before;
        std::string after;
        std::string what;
    };
    // Writes `to` over the file when it still holds `from`.
    bool Replace(const std::string& from, const std::string& to);
    void Report(const std::vector<std::string>& lines, const QString& done);

    std::function<void()> m_written;
    std::string m_path;
    std::vector<Step> m_undo;
    std::vector<Step> m_redo;
    QString m_message;
};

}  // namespace zorvo
