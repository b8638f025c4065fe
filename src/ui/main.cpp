#include <unistd.h>
#include <QApplication>
#include <QFile>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/Allocator.h"
#include "common/Version.h"
#include "ui/StudioView.h"
#include "ui/ZorvoDlg.h"

namespace {

constexpr const char* kUsage =
    "Usage: zorvo-gui [SCRIPT]\n"
    "\n"
    "The desktop program of Zorvo. With SCRIPT the window opens it (nothing is rendered\n"
    "until you press Build). The window's commands:\n"
    "\n"
    "  Open... (Ctrl+O)  open a script; its arrow lists the last five; or drop a script on\n"
    "                    the window. The open script is followed: saved changes are re-read\n"
    "                    and checked at once\n"
    "  Edit              open the script in $VISUAL, $EDITOR or the desktop's editor\n"
    "  Problems          what the check finds (errors, media, warnings) with line and\n"
    "                    column; double-click one to edit the script at that line\n"
    "  Build             render the open script, with a live preview\n"
    "  Auto-sync         find each camera's offset from its sound and offer to write it\n"
    "  Storyboard        a contact sheet of every block, to look at or save as PNG\n"
    "  Adjustments       tune the colours of one video and copy its input statement\n"
    "\n"
    "  --help      show this help\n"
    "  --version   show the version\n"
    "\n"
    "See zorvo-gui(1), zorvo(1) and zorvo-script(5).\n";

// Qt's messages while the application starts: without a display the platform plugin fails,
// and Qt would print several lines and abort.
std::string g_startMessages;

void CollectStartMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg) {
        std::fputs(
            "zorvo-gui: cannot open a window: no display could be reached (run it in a desktop "
            "session, or use zorvo on the command line)\n",
            stderr);
        _exit(1);
    }
    g_startMessages += message.toLocal8Bit().toStdString() + "\n";
}

}  // namespace

int main(int argc, char** argv) {
    // Answered before Qt starts, so they work without a display.
    const char* script = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-V") == 0) {
            std::printf("zorvo-gui %s\n", zorvo::kVersion);
            return 0;
        }
        if (argv[i][0] == '-' || script) {
            std::fprintf(stderr, "zorvo-gui: unexpected argument '%s' (see zorvo-gui --help)\n",
                         argv[i]);
            return 2;
        }
        script = argv[i];
    }
    zorvo::LimitAllocatorArenas();
    // A write past the file size limit then fails with "File too large" and takes the usual
    // failure path (the files are finished and named) instead of killing the program.
    std::signal(SIGXFSZ, SIG_IGN);
    const QtMessageHandler previous = qInstallMessageHandler(CollectStartMessage);
    QApplication app(argc, argv);
    qInstallMessageHandler(previous);
    std::fputs(g_startMessages.c_str(), stderr);
    // Qt hands the user's locale to the C library too; log texts print numbers the C way.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Zorvo"));
    QApplication::setApplicationVersion(QString::fromLatin1(zorvo::kVersion));
    QGuiApplication::setDesktopFileName(QStringLiteral("zorvo-gui"));

    zorvo::CZorvoDlg window;
    zorvo::StudioView::AttachTo(window);
    window.show();
    if (script) {
        const QString path = QFile::decodeName(script);
        window.OpenScript(path);
    }
    return app.exec();
}
