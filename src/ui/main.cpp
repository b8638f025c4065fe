#include <QApplication>
#include <clocale>

#include "common/Allocator.h"
#include "common/Version.h"
#include "ui/ZorvoDlg.h"

int main(int argc, char** argv) {
    zorvo::LimitAllocatorArenas();
    QApplication app(argc, argv);
    // Qt hands the user's locale to the C library too; log texts print numbers the C way.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Zorvo"));
    QApplication::setApplicationVersion(QString::fromLatin1(zorvo::kVersion));
    QGuiApplication::setDesktopFileName(QStringLiteral("zorvo-gui"));

    zorvo::CZorvoDlg window;
    window.show();
    return app.exec();
}
