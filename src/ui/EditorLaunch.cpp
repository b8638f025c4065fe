#include "ui/EditorLaunch.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

#include "common/LogChannel.h"

namespace zorvo {

namespace {

// Editors that take "+LINE FILE".
const QStringList kPlusLine = {
    "vi",    "vim", "nvim",     "gvim",  "view", "nano", "emacs",  "emacsclient", "kate", "gedit",
    "pluma", "xed", "mousepad", "micro", "joe",  "jed",  "kwrite", "geany",       "ne",   "mcedit"};
// Editors that take "FILE:LINE" after a switch.
const QStringList kGotoLine = {"code", "codium", "subl"};
// Editors that draw in a terminal.
const QStringList kInTerminal = {"vi",    "vim", "nvim", "view", "nano",
                                 "micro", "joe", "jed",  "ne",   "mcedit"};

}  // namespace

QStringList EditorCommand(const QString& editor, const QString& file, int line) {
    QStringList command = QProcess::splitCommand(editor);
    if (command.isEmpty()) {
        return {};
    }
    const QString name = QFileInfo(command.front()).fileName();
    if (line > 0 && kPlusLine.contains(name)) {
        command << QStringLiteral("+%1").arg(line) << file;
    } else if (line > 0 && kGotoLine.contains(name)) {
        if (name != QLatin1String("subl")) {
            command << QStringLiteral("-g");
        }
        command << QStringLiteral("%1:%2").arg(file).arg(line);
    } else {
        command << file;
    }
    if (kInTerminal.contains(name)) {
        command.prepend(QStringLiteral("-e"));
        command.prepend(QStringLiteral("x-terminal-emulator"));
    }
    return command;
}

bool OpenInEditor(const QString& file, int line) {
    QString editor = qEnvironmentVariable("VISUAL");
    if (editor.trimmed().isEmpty()) {
        editor = qEnvironmentVariable("EDITOR");
    }
    QStringList command = EditorCommand(editor, file, line);
    if (!command.isEmpty()) {
        const QString program = command.takeFirst();
        if (QProcess::startDetached(program, command)) {
            return true;
        }
        PostLog(
            Format("Warning (Editor): Failed to start '%s'; opening the script with the "
                   "desktop's application.\n",
                   QFile::encodeName(program).constData()));
    }
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(file))) {
        return true;
    }
    PostLog(Format("Error (Editor): No application opens '%s'; set VISUAL or EDITOR.\n",
                   QFile::encodeName(file).constData()));
    return false;
}

}  // namespace zorvo
