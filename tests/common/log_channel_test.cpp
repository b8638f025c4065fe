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
    const std::vector<LogMessage> expected = {
        {LogKind::Progress, "", 0, 0},
        {LogKind::Progress, "", 42, 1},
        {LogKind::Status, "", 0, 0},
        {LogKind::Text, "* Parsing script...\n", 0, 0},
        {LogKind::Text, "Error (SMEffect): Unknown effect type '", 0, 0},
        {LogKind::Text, "fade", 0, 0},
        {LogKind::Text, "'.\n", 0, 0},
        {LogKind::Status, "1 min(s) 05", 0, 0},
        {LogKind::Progress, "", 300 & 0xFF, 1},
        {LogKind::BuildFinished, "", 0, 0},
    };
    EXPECT_EQ(log.Messages(), expected);
    EXPECT_EQ(log.Progress(1), (std::vector<int>{42, 44}));
    EXPECT_EQ(log.BuildFinishedCount(), 1);
    EXPECT_EQ(log.Joined(), "* Parsing script...\nError (SMEffect): Unknown effect type 'fade'.\n");
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
