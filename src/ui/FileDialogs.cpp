#include "ui/FileDialogs.h"

#include <QFileDialog>
#include <QFileInfo>

namespace zorvo {

namespace {

// Containers FFmpeg reads that cameras, phones and recorders write. Linux file dialogs match
// names case-sensitively, and cameras often name their files in capitals.
const char* const kVideoExtensions[] = {"mp4", "mov",  "mkv", "avi", "mts", "m2ts", "mpg", "mpeg",
                                        "mxf", "webm", "m4v", "3gp", "dv",  "ts",   "wmv", "flv"};

const char* FolderKey(FileKind kind) {
    return kind == FileKind::Script ? "folders/script" : "folders/video";
}

}  // namespace

QStringList FilePatterns(FileKind kind) {
    if (kind == FileKind::Script) {
        return {QStringLiteral("*.zorvo"), QStringLiteral("*.txt")};
    }
    QStringList patterns;
    for (const char* extension : kVideoExtensions) {
        patterns << QStringLiteral("*.%1").arg(QLatin1String(extension));
    }
    for (const char* extension : kVideoExtensions) {
        patterns << QStringLiteral("*.%1").arg(QLatin1String(extension).toString().toUpper());
    }
    return patterns;
}

QString FileFilter(FileKind kind) {
    const QString name =
        kind == FileKind::Script ? QStringLiteral("Zorvo scripts") : QStringLiteral("Videos");
    return QStringLiteral("%1 (%2);;All files (*)").arg(name, FilePatterns(kind).join(' '));
}

QSettings& Settings() {
    static QSettings settings(QStringLiteral("zorvo"), QStringLiteral("zorvo-gui"));
    return settings;
}

QString ChooseFile(QWidget* parent, FileKind kind) {
    const QString folder = Settings().value(QLatin1String(FolderKey(kind))).toString();
    const QString path = QFileDialog::getOpenFileName(parent, QString(), folder, FileFilter(kind));
    if (!path.isEmpty()) {
        Settings().setValue(QLatin1String(FolderKey(kind)), QFileInfo(path).absolutePath());
    }
    return path;
}

}  // namespace zorvo
