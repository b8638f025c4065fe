#pragma once

#include <QString>
#include <QStringList>

namespace zorvo {

// How to open a script in the user's editor: the program and its arguments. `editor` is the
// command of $VISUAL or $EDITOR (empty: none, the desktop's default application is used and
// the result is empty). `line` > 0 asks for that line where the editor takes one on its command
// line. Editors that need a terminal run in the desktop's terminal emulator.
QStringList EditorCommand(const QString& editor, const QString& file, int line);

// Opens `file` (at `line` when > 0) in $VISUAL, else $EDITOR, else the desktop's default
// application for it. False, with a log line, when nothing could be started.
bool OpenInEditor(const QString& file, int line);

}  // namespace zorvo
