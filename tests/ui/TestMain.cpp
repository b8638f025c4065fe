// The window tests need one QApplication for the whole program, and no display.
#include <gtest/gtest.h>

#include <QApplication>
#include <QStandardPaths>
#include <clocale>
#include <cstdlib>

// Qt is not built with ThreadSanitizer, so the locks inside it are invisible and the copies and
// allocations its own code makes under them look racy. Accesses made by our code stay checked.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so\n"
           "called_from_lib:libQt6Gui.so\n"
           "called_from_lib:libQt6Widgets.so\n";
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);  // the window's settings stay out of the user's
    std::setlocale(LC_NUMERIC, "C");           // as the program does
    return RUN_ALL_TESTS();
}
