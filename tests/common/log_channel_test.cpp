#include <gtest/gtest.h>

#include <thread>

#include "common/LogCollector.h"

namespace zorvo {
namespace {

TEST(LogChannel, PostsInOrderWithKinds) {
    LogCollector log;
    PostProgress(0, 0);
    PostProgress(42, 1);
    PostStatus("");
    PostLog("* Parsing script...\n");
    PostQuoted("Error (SMEffect): Unknown effect type '", "fade", "'.\n");
    PostStatus("1 min(s) 05");
    PostProgress(300, 1);  // travels as one byte
    PostBuildFinished();
    const std::string quoted = "Error (SMEffect): Unknown effect type 'fade'.\n";
    const std::vector<LogMessage> expected = {
        {LogKind::Progress, "", 0, 0},
        {LogKind::Progress, "", 42, 1},
        {LogKind::Status, "", 0, 0},
        {LogKind::Text, "* Parsing script...\n", 0, 0, {.text = "* Parsing script...\n"}},
        {LogKind::Text, quoted, 0, 0, {Severity::Error, "SMEffect", "Unknown effect type 'fade'."}},
        {LogKind::Status, "1 min(s) 05", 0, 0},
        {LogKind::Progress, "", 300 & 0xFF, 1},
        {LogKind::BuildFinished, "", 0, 0},
    };
    EXPECT_EQ(log.Messages(), expected);
    EXPECT_EQ(log.Progress(1), (std::vector<int>{42, 44}));
    EXPECT_EQ(log.BuildFinishedCount(), 1);
    EXPECT_EQ(log.Joined(), "* Parsing script...\nError (SMEffect): Unknown effect type 'fade'.\n");
}

// Each message is formatted as its log line; a plain text stands for the message of its line,
// and anything else stays the text it is.
TEST(LogChannel, MessagesAreTheirLinesByteForByte) {
    struct Case {
        Message message;
        std::string text;
    };
    const Case cases[] = {
        {{.severity = Severity::Error,
          .component = "Project",
          .text = "Failed to build project.",
          .sequel = true},
         "Error (Project): Failed to build project.\n"},
        {{Severity::Warning, "Editor", "Failed to start 'x'."},
         "Warning (Editor): Failed to start 'x'.\n"},
        {{Severity::Warning, "Beats", "marker 5 (measure 5): the song plays 121 bpm here."},
         "Warning (Beats): marker 5 (measure 5): the song plays 121 bpm here.\n"},
        {{Severity::Warning, "Script", "Unknown interpolation type 'x'. defaulting on 'fast'"},
         "Warning (Script): Unknown interpolation type 'x'. defaulting on 'fast'\n"},
        // A quoted word may hold a line feed.
        {{Severity::Error, "SInput", "Unknown input focus type 'center\n'."},
         "Error (SInput): Unknown input focus type 'center\n'.\n"},
        {{Severity::Error, "", "no component."}, "Error (): no component.\n"},
        {{.text = "* Parsing script...\n"}, "* Parsing script...\n"},
        {{.text = "Done without error.\n"}, "Done without error.\n"},
        {{.text = "Error (Project): no line feed"}, "Error (Project): no line feed"},
        {{.text = "Error (Project) Failed.\n"}, "Error (Project) Failed.\n"},
        {{.text = "Warning: (Beats): x.\n"}, "Warning: (Beats): x.\n"},
        {{.text = ""}, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LogText(c.message), c.text);
        EXPECT_EQ(MessageOfText(c.text), c.message) << c.text;
    }
    // What a message is about travels with it and is left out of its text.
    LogCollector log;
    Message placed{Severity::Error, "Script", "at line 3, column 1: 'marker( 1 )'.", 3, 1, 1,
                   "a.zorvo",       true};
    Post(placed);
    PostContext("Script", "file 'a.zorvo': gone");
    EXPECT_EQ(log.Joined(),
              "Error (Script): at line 3, column 1: 'marker( 1 )'.\n"
              "Error (Script): file 'a.zorvo': gone.\n");
    const std::vector<Message> posted = {
        placed, {Severity::Error, "Script", "file 'a.zorvo': gone.", 0, 0, 0, {}, true}};
    EXPECT_EQ(log.Posted(), posted);
}

TEST(LogChannel, EachSenderKeepsItsOrderAcrossThreads) {
    LogCollector log;
    constexpr int kPerThread = 2000;
    auto send = [](char tag) {
        for (int i = 0; i < kPerThread; ++i) {
            PostLog(std::string(1, tag) + std::to_string(i));
        }
    };
    std::thread a(send, 'a');
    std::thread b(send, 'b');
    a.join();
    b.join();
    int nextA = 0;
    int nextB = 0;
    for (const std::string& text : log.Texts()) {
        int& next = text[0] == 'a' ? nextA : nextB;
        EXPECT_EQ(std::stoi(text.substr(1)), next);
        ++next;
    }
    EXPECT_EQ(nextA, kPerThread);
    EXPECT_EQ(nextB, kPerThread);
}

// A line longer than any fixed buffer comes out whole.
TEST(LogChannel, FormatHandlesLongTexts) {
    const std::string id(5000, 'x');
    EXPECT_EQ(Format("Unknown ID '%s'.\n", id.c_str()), "Unknown ID '" + id + "'.\n");
}

}  // namespace
}  // namespace zorvo
