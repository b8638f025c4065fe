// The open script: opening renders nothing, the window follows the file on disk, the Problems
// list reads the check's log, the file dialogs and the editor command.
#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <cstdio>

#include "UiTestSupport.h"
#include "support/TestPaths.h"
#include "ui/EditorLaunch.h"
#include "ui/FileDialogs.h"

namespace zorvo::test {
namespace {

TEST(SessionTest, ProblemsComeFromTheCheckLog) {
    struct Case {
        std::string log;
        std::vector<ScriptProblem> problems;
    };
    const std::string layout = "Error (Layout): Unknown layout type 'x'.";
    const std::string chain = "Error (Script): Failed to parse 'markers'.";
    const std::string place = "Error (Script): at line 3, column 1: 'marker( 1, x )'.";
    const std::string media = "Error (Project): Input 'a' does not open (file a.mov).";
    const std::string typo = "Warning (Script): Unknown statement 'overlai'.";
    const std::string typoPlace = "Warning (Script): at line 9, column 4: 'overlai( v )'.";
    const std::string names = "Error (Layout): Known names: 1fullscreen, none.";
    const std::string invalid = "Error (SMarker): Failed to validate script: no display.";
    const std::string marker = "Error (Script): marker #1 at line 4, column 2: 'marker( 1 )'.";
    const std::string found = "Input 'a': h264, 1280x720, 25 fps, BT.709 limited (file a.mov).";
    const std::string advice = "Error (Project): Add fill( hold ) or fill( black ) to the input's.";
    const std::vector<Case> cases = {
        {"* Parsing script...\n" + layout + "\n" + names + "\n" + chain + "\n" + place +
             "\nError (Project): Failed to parse script.\n",
         {{false, 3, 1, layout,
           layout + "\n" + names + "\n" + chain + "\n" + place +
               "\nError (Project): Failed to parse script."}}},
        {invalid + "\n" + marker + "\n", {{false, 4, 2, invalid, invalid + "\n" + marker}}},
        {media + "\n" + media + "\nError (Project): Failed to check media.\n",
         {{false, 0, 0, media, media},
          {false, 0, 0, media, media + "\nError (Project): Failed to check media."}}},
        {typo + "\n" + typoPlace + "\n" + place + "\nScript is valid: 1 input(s).\n",
         {{true, 9, 4, typo, typo + "\n" + typoPlace}, {false, 3, 1, place, place}}},
        {"Script is valid: 1 input(s).\n", {}},
        {"Script is valid: 1 input(s).\n" + found + "\n", {{false, 0, 0, found, found, true}}},
        {media + "\n" + advice + "\n", {{false, 0, 0, media, media + "\n" + advice}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ProblemsFromLog(c.log), c.problems) << c.log;
    }
}

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
    const auto places = [&] {
        std::vector<std::pair<int, int>> places;
        for (const ScriptProblem& problem : window.Problems()) {
            places.emplace_back(problem.line, problem.column);
        }
        return places;
    };
    const std::vector<std::pair<int, int>> noInput = {{0, 0}};  // validation names no place
    EXPECT_EQ(places(), noInput);
    // The check's lines stay out of the build's log.
    EXPECT_EQ(window.LogText().find("Parsing"), std::string::npos);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir.File("out.avi"))));

    struct Change {
        bool byRename;
        std::string text;
        std::vector<std::pair<int, int>> places;  // of the problems found
    };
    const Change changes[] = {
        {false, "output( out.avi, 64, 48 )\nmarker( 1, nolayout ) { }\n", {{2, 1}}},
        {true, good, noInput},
        {true, "output( out.avi, 64, 48 )\n\n  marker( 1, x ) { }\n", {{3, 3}}},
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
