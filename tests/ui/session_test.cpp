// The open script: opening renders nothing, the window follows the file on disk, the Problems
// list shows the check's problems where they are, the file dialogs and the editor command.
#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QTreeWidget>
#include <cstdio>

#include "UiTestSupport.h"
#include "support/TestPaths.h"
#include "ui/EditorLaunch.h"
#include "ui/FileDialogs.h"

namespace zorvo::test {
namespace {

// Opening checks the script but renders nothing; a change saved in place or by a rename is
// read again and checked.
TEST(SessionTest, OpeningRendersNothingAndChangesOnDiskAreChecked) {
    TempDir dir;
    const std::string script = dir.File("song.zorvo");
    const std::string good =
        "output( out.avi, 64, 48 )\nmarker( 1, 1fullscreen ) { tempo( 120 ); signature( 4, 4 ); }\n"
        "marker( 2 ) { }\n";
    ASSERT_TRUE(WriteTextFile(script, good));
    RecordingWindow window;
    int checked = 0;
    std::vector<QString> reloaded;
    QObject::connect(&window, &CZorvoDlg::ProblemsChecked, [&] { ++checked; });
    QObject::connect(&window, &CZorvoDlg::ScriptReloaded,
                     [&](const QString& path) { reloaded.push_back(path); });
    window.show();
    ASSERT_TRUE(window.TakeUpTo(1));
    window.OpenScript(QString::fromStdString(script));
    ASSERT_TRUE(WaitUntil([&] { return checked == 1; }));
    EXPECT_EQ(window.BuildJob(), nullptr);
    EXPECT_EQ(window.OutputDialog(), nullptr);
    EXPECT_EQ(window.windowTitle().toStdString(), std::string("song.zorvo - ") + CZorvoDlg::kTitle);
    // The Problems list's first column: where each problem is.
    const auto places = [&] {
        std::vector<std::string> places;
        const auto* list = window.findChild<QTreeWidget*>(QStringLiteral("problems"));
        for (int i = 0; list && i < list->topLevelItemCount(); ++i) {
            places.push_back(list->topLevelItem(i)->text(0).toStdString());
        }
        EXPECT_EQ(places.size(), window.Problems().size());
        return places;
    };
    const std::vector<std::string> noInput = {""};  // validation names no place
    EXPECT_EQ(places(), noInput);
    // The check's lines stay out of the build's log.
    EXPECT_EQ(window.LogText().find("Parsing"), std::string::npos);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir.File("out.avi"))));

    struct Change {
        bool byRename;
        std::string text;
        std::vector<std::string> places;  // of the problems found
    };
    const Change changes[] = {
        {false, "output( out.avi, 64, 48 )\nmarker( 1, nolayout ) { }\n", {"2:1"}},
        {true, good, noInput},
        {true, "output( out.avi, 64, 48 )\n\n  marker( 1, x ) { }\n", {"3:3"}},
        {false,
         "output( out.avi, 64, 48 )\ninput( a, gone.mov ) { }\n"
         "marker( 1, 1fullscreen ) { tempo( 120 ) signature( 4, 4 ) display( a ) }\nmarker( 9 ) { "
         "}\n",
         {"gone.mov"}},
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.text);
        const int before = checked;
        if (change.byRename) {
            ASSERT_TRUE(WriteTextFile(dir.File("new.tmp"), change.text));
            ASSERT_EQ(std::rename(dir.File("new.tmp").c_str(), script.c_str()), 0);
        } else {
            ASSERT_TRUE(WriteTextFile(script, change.text));
        }
        window.PollScript();
        ASSERT_TRUE(WaitUntil([&] { return checked > before; }));
        EXPECT_EQ(places(), change.places);
        EXPECT_EQ(reloaded.back().toStdString(), script);
    }
    window.PollScript();  // unchanged: nothing to do
    EXPECT_EQ(reloaded.size(), std::size(changes));
}

TEST(SessionTest, FileDialogsOfferTheFilesUsersHave) {
    struct Case {
        FileKind kind;
        const char* name;
        bool offered;
    };
    const Case cases[] = {
        {FileKind::Script, "demo.zorvo", true}, {FileKind::Script, "song.txt", true},
        {FileKind::Script, "cam1.mp4", false},  {FileKind::Video, "cam1.mp4", true},
        {FileKind::Video, "C0001.MP4", true},   {FileKind::Video, "00001.MTS", true},
        {FileKind::Video, "take.mkv", true},    {FileKind::Video, "clip.mxf", true},
        {FileKind::Video, "song.wav", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(QDir::match(FilePatterns(c.kind), QString::fromLatin1(c.name)), c.offered)
            << c.name;
        EXPECT_TRUE(FileFilter(c.kind).endsWith(QStringLiteral(";;All files (*)")));
    }
}

TEST(SessionTest, EditorCommandGoesToTheLineWhereItCan) {
    const std::pair<std::pair<const char*, int>, const char*> cases[] = {
        {{"", 3}, ""},
        {{"gedit", 3}, "gedit +3 s.zorvo"},
        {{"kate", 0}, "kate s.zorvo"},
        {{"/usr/bin/vim", 12}, "x-terminal-emulator -e /usr/bin/vim +12 s.zorvo"},
        {{"code --wait", 5}, "code --wait -g s.zorvo:5"},
        {{"mystery-editor", 5}, "mystery-editor s.zorvo"},
    };
    for (const auto& [editor, command] : cases) {
        EXPECT_EQ(EditorCommand(QString::fromLatin1(editor.first), QStringLiteral("s.zorvo"),
                                editor.second)
                      .join(' ')
                      .toStdString(),
                  command)
            << editor.first;
    }
}

}  // namespace
}  // namespace zorvo::test
