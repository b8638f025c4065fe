// Auto-sync: the main window matches a script's cameras on a worker thread.
#include <gtest/gtest.h>

#include "RecordingWindow.h"
#include "support/TestPaths.h"
#include "support/TestSound.h"
#include "ui/SyncDlg.h"

namespace zorvo::test {
namespace {

const std::string kScript =
    "output( o.avi, 64, 48, bicubic, song.wav )\r\n"
    "input( near, a.mov ) { brightness( 0.1 ); }\r\n"
    "// the drummer's camera\r\n"
    "input( late, b.mp4, top, 5 ) { }\r\n"
    "input( mute, c.mkv, center, 5, 7 ) { }\r\n"
    "marker( 1, 1fullscreen ) { tempo( 140 ); signature( 7, 8 ); display( near ); }\r\n"
    "marker( 3 ) { }\r\n";

TEST(AutoSyncTest, WindowSyncsOnAWorkerThreadAndReportsEachCamera) {
    TempDir dir;
    const SyntheticSong song(21, 6.0);
    ASSERT_TRUE(WriteSongWave(dir.File("song.wav"), song.Render(44100), 44100));
    const Room room{0.4, {{0.0113, 0.5}}, 120.0, 7000.0, 0.02, 0.0, 5};
    CameraFile heard{TestAudioCodec::Pcm, 48000, {}, 0.0, 0.0, 5.0};
    heard.samples = CameraSound(song, 0.8125, 0.0, 48000, 5.0, room);
    std::string error;
    ASSERT_TRUE(WriteCameraFile(dir.File("cam.mov"), heard, &error)) << error;
    ASSERT_TRUE(WriteCameraFile(dir.File("mute.mkv"), {TestAudioCodec::None, 48000, {}}, &error))
        << error;
    const std::string script = "output( " + dir.File("o.avi") + ", 64, 48, bicubic, " +
                               dir.File("song.wav") + " )\ninput( cam, " + dir.File("cam.mov") +
                               " ) { }\ninput( mute, " + dir.File("mute.mkv") +
                               " ) { }\nmarker( 1, 1fullscreen ) { tempo( 93 ); "
                               "signature( 4, 4 ); display( cam ); }\nmarker( 2 ) { }\n";
    ASSERT_TRUE(WriteTextFile(dir.File("song.txt"), script));
    ASSERT_TRUE(WriteTextFile(dir.File("bad.txt"), "output( o.avi, 64, 48 )\nmarker( 1 ) { }\n"));

    struct Case {
        std::string script;
        size_t dialogs;
        std::vector<std::string> logged;
    };
    const std::vector<Case> cases = {
        {"song.txt", 1, {"\ncam: offset 812.", "\nmute: no audio stream; left unchanged\n"}},
        {"bad.txt", 0, {"\nError ("}},
    };
    RecordingWindow window;
    window.show();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        window.syncsShown.clear();
        window.scriptPath = QString::fromStdString(dir.File(c.script));
        window.Button("autoSync")->click();
        EXPECT_TRUE(window.SyncRunning());
        EXPECT_FALSE(window.Button("autoSync")->isEnabled());
        EXPECT_FALSE(window.Button("build")->isEnabled());
        ASSERT_TRUE(WaitUntil([&] { return window.Button("autoSync")->isEnabled(); }, 60000));
        EXPECT_TRUE(window.Button("build")->isEnabled());
        EXPECT_FALSE(window.SyncRunning());
        ASSERT_EQ(window.syncsShown.size(), c.dialogs);
        if (c.dialogs == 1) {
            const std::vector<SyncResult>& shown = window.syncsShown[0];
            ASSERT_EQ(shown.size(), 2u);
            EXPECT_EQ(shown[0].outcome, SyncOutcome::Matched);
            EXPECT_NEAR(shown[0].offsetMs, 812.5, 1.0);
            EXPECT_EQ(shown[1].outcome, SyncOutcome::NoAudio);
        }
        const std::string log = window.LogText();
        for (const std::string& line : c.logged) {
            EXPECT_NE(log.find(line), std::string::npos) << line << " in\n" << log;
        }
    }
}

}  // namespace
}  // namespace zorvo::test
