#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>

class QWidget;

namespace zorvo {

enum class FileKind { Script, Video };

// The name patterns each kind of file dialog offers first; "All files" follows them.
QStringList FilePatterns(FileKind kind);
// The dialog's filter text: the kind's patterns, then all files.
QString FileFilter(FileKind kind);

// The program's settings (last folders, recent scripts), in the user's configuration folder.
QSettings& Settings();

// A file-open dialog for `kind` that starts in the folder the last one of its kind ended in;
// empty when cancelled.
QString ChooseFile(QWidget* parent, FileKind kind);

}  // namespace zorvo
