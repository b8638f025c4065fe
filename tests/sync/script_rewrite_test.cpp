#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/LogCollector.h"
#include "support/TestPaths.h"
#include "sync/ScriptRewrite.h"

namespace zorvo {
namespace {

TEST(ScriptRewrite, ChangesOnlyTheSyncArguments) {
    using namespace std::string_literals;
    struct Case {
        std::string name;
        std::string text;
        SyncEdit edit;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"two arguments", "input( cam1, a.mov ) { }", SyncEdit{"cam1", 1235, 0},
         "input( cam1, a.mov, center, 1235, 0 ) { }"},
        {"three, quoted", "input( \"cam2\", \"b.mov\", \"top\" ) {}", SyncEdit{"cam2", 0, 42},
         "input( \"cam2\", \"b.mov\", \"top\", 0, 42 ) {}"},
        {"four, no spaces, body kept", "input(cam3,c.mov,left,1200){ brightness( 0.1 ); }",
         SyncEdit{"cam3", 17, 0}, "input(cam3,c.mov,left,17, 0){ brightness( 0.1 ); }"},
        {"five, line breaks swallowed by an argument stay",
         "input( cam4, d.mov, center,\n  900\n, 100 ) { contrast( 1 ); }", SyncEdit{"cam4", 0, 5},
         "input( cam4, d.mov, center,\n  0\n, 5 ) { contrast( 1 ); }"},
        {"quoted numbers stay quoted", "input( c, f, right, \"1200\", \"30\" ) { }",
         SyncEdit{"c", 7, 0}, "input( c, f, right, \"7\", \"0\" ) { }"},
        {"comments, other inputs and CRLF line ends untouched",
         "// input( cam1, old.mov, center, 1, 2 ) { }\r\n"
         "input( cam1, a.mov ) { } // input(x)\r\ninput( cam2, b.mov, center, 3, 4 ) { }\r\n",
         SyncEdit{"cam1", 10, 0},
         "// input( cam1, old.mov, center, 1, 2 ) { }\r\n"
         "input( cam1, a.mov, center, 10, 0 ) { } // input(x)\r\n"
         "input( cam2, b.mov, center, 3, 4 ) { }\r\n"},
        {"the last definition of an id is the one read",
         "input( c, one.mov ) { }\ninput( c, two.mov ) { }", SyncEdit{"c", 5, 0},
         "input( c, one.mov ) { }\ninput( c, two.mov, center, 5, 0 ) { }"},
        {"an input without braces hides the next one, as reading does",
         "input( a, a.mov )\ninput( b, b.mov ) { }", SyncEdit{"a", 1, 0},
         "input( a, a.mov, center, 1, 0 )\ninput( b, b.mov ) { }"},
        {"a byte-order mark is read past and kept", "\xEF\xBB\xBFinput( c, f ) { }",
         SyncEdit{"c", 3, 0}, "\xEF\xBB\xBFinput( c, f, center, 3, 0 ) { }"},
        {"bytes after a NUL stay", "input( c, f ) { }\0input( c, g ) { }"s, SyncEdit{"c", 3, 0},
         "input( c, f, center, 3, 0 ) { }\0input( c, g ) { }"s},
        // Its ')' missing, the input swallows the next marker; only the numbers change.
        {"a swallowed marker stays", "input( a, f, center, 0, 0\n}\nmarker( 1, x ) { }",
         SyncEdit{"a", 5, 0}, "input( a, f, center, 5, 0\n}\nmarker( 1, x ) { }"},
        {"a marker glued to the value cannot be rewritten",
         "input( a, f, center, 0}marker( 2 ) { }", SyncEdit{"a", 5, 0}, ""},
    };
    for (const Case& c : cases) {
        LogCollector log;
        std::string rewritten;
        const bool done = RewriteSyncArguments(c.text, {c.edit}, rewritten);
        EXPECT_EQ(done, !c.expected.empty()) << c.name;
        if (done) {
            EXPECT_EQ(rewritten, c.expected) << c.name;
        } else {  // the refusal quotes the id
            EXPECT_NE(log.Texts().at(0).find("'" + c.edit.id + "'"), std::string::npos) << c.name;
        }
    }
    // Edits come in any order; an input hidden by the one before it cannot be edited.
    std::string rewritten;
    EXPECT_TRUE(RewriteSyncArguments("input( a, a.mov ) { }\ninput( b, b.mov, center, 1, 2 ) { }",
                                     {{"b", 0, 250}, {"a", 99, 0}}, rewritten));
    EXPECT_EQ(rewritten,
              "input( a, a.mov, center, 99, 0 ) { }\ninput( b, b.mov, center, 0, 250 ) { }");
    EXPECT_FALSE(
        RewriteSyncArguments("input( a, a.mov )\ninput( b, b.mov ) { }", {{"b", 1, 0}}, rewritten));
}

// The replacement keeps mode, owner, group, extended attributes and hard links, removes what a
// run killed at its rename left (only that), and writes nothing (no temporary file left) to a
// read-only script, to one changed since it was read, past the file size limit, or over what
// is not a regular file.
TEST(ScriptRewrite, ReplacesTheFileOnlyWhenItIsSafe) {
    struct Case {
        std::string name;
        std::function<void(const std::string& path)> prepare;
        std::string read;  // the content the offsets were found with
        std::string log;   // a text of the failure; empty when the file is replaced
        int files = 1;     // in the folder afterwards
        // What else must hold afterwards; prepare's files are the script's plus a suffix.
        std::function<void(const std::string& path)> verify = [](const std::string&) {};
    };
    const std::string before = "input( a, f ) { }\n";
    const std::string after = "input( a, f, center, 1, 0 ) { }\n";
    const std::vector<Case> cases = {
        {"hard link kept",
         [](const std::string& path) { link(path.c_str(), (path + "2").c_str()); }, before, "", 2,
         [&](const std::string& path) {
             EXPECT_EQ(test::ReadTextFile(path + "2"), after);
             struct stat status {};
             EXPECT_TRUE(stat(path.c_str(), &status) == 0 && status.st_nlink == 2);
         }},
        {"extended attribute kept",
         [](const std::string& path) {
             ASSERT_EQ(setxattr(path.c_str(), "user.origin", "cam", 3, 0), 0);
         },
         before, "", 1,
         [](const std::string& path) {
             char value[8] = {};
             EXPECT_EQ(getxattr(path.c_str(), "user.origin", value, sizeof value), 3);
             EXPECT_STREQ(value, "cam");
         }},
        // Only the regular file of a killed run goes: not a link, nor a file of other names.
        {"killed run's temporary removed",
         [&](const std::string& path) {
             test::WriteTextFile(path + ".sync-Ab12Cd", before);
             symlink("s.zorvo", (path + ".sync-Link01").c_str());
             test::WriteTextFile(path + ".keep", "k");
             link((path + ".keep").c_str(), (path + ".sync-Hard01").c_str());
             test::WriteTextFile(path + ".sync-long1234", before);
         },
         before, "", 5,
         [](const std::string& path) {
             EXPECT_FALSE(std::filesystem::exists(path + ".sync-Ab12Cd"));
             EXPECT_EQ(test::ReadTextFile(path + ".sync-Hard01"), "k");
         }},
        {"not a regular file",
         [](const std::string& path) {
             unlink(path.c_str());
             mkfifo((path + ".fifo").c_str(), 0640);
             symlink("s.zorvo.fifo", path.c_str());
         },
         before,
         "Error (Project): The output '%s.fifo' is not a regular file; choose a file path.\n", 2},
        {"replaced", [](const std::string&) {}, before, ""},
        {"owner and group kept",
         [](const std::string& path) { (void)chown(path.c_str(), 4321, 4322); }, before, ""},
        {"read-only", [](const std::string& path) { chmod(path.c_str(), 0444); }, before,
         "Error (Sync): The script '%s' is read-only.\n"},
        {"changed on disk", [](const std::string&) {}, "input( a, g ) { }\n",
         "Error (Sync): The script changed on disk since it was read; the offsets were not "
         "written.\n"},
        {"file size limit",
         [](const std::string&) {
             const rlimit limit{8, RLIM_INFINITY};
             setrlimit(RLIMIT_FSIZE, &limit);
         },
         before, "Error (Sync): file '%s': File too large.\n"},
    };
    std::signal(SIGXFSZ, SIG_IGN);
    for (const Case& c : cases) {
        test::TempDir dir;
        const std::string path = dir.File("s.zorvo");
        ASSERT_TRUE(test::WriteTextFile(path, before));
        chmod(path.c_str(), 0640);
        c.prepare(path);
        struct stat was {};
        stat(path.c_str(), &was);
        LogCollector log;
        const bool replaced = ReplaceFileContent(path, after, c.read);
        const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
        setrlimit(RLIMIT_FSIZE, &unlimited);
        EXPECT_EQ(replaced, c.log.empty()) << c.name;
        std::string expected = c.log;
        if (const size_t at = expected.find("%s"); at != std::string::npos) {
            expected.replace(at, 2, path);
        }
        const std::vector<std::string> texts = log.Texts();
        EXPECT_EQ(std::count(texts.begin(), texts.end(), expected), c.log.empty() ? 0 : 1)
            << c.name << ": " << (texts.empty() ? "" : texts.back());
        struct stat is {};
        stat(path.c_str(), &is);
        EXPECT_EQ(is.st_mode, was.st_mode) << c.name;
        EXPECT_EQ(is.st_uid, was.st_uid) << c.name;
        EXPECT_EQ(is.st_gid, was.st_gid) << c.name;
        EXPECT_EQ(is.st_size, replaced ? 32 : was.st_size) << c.name;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), c.files)
            << c.name;
        SCOPED_TRACE(c.name);
        c.verify(path);
    }
}

TEST(ScriptRewrite, RoundsTheOffsetIntoOneArgument) {
    const std::vector<std::pair<double, std::pair<int, int>>> cases = {
        {1234.5, {1235, 0}}, {1234.49, {1234, 0}},  {0.4, {0, 0}},
        {-0.6, {0, 1}},      {-2345.67, {0, 2346}},
    };
    for (const auto& [offset, expected] : cases) {
        const SyncEdit edit = EditForOffset("c", offset);
        EXPECT_EQ(edit.videoSyncMs, expected.first) << offset;
        EXPECT_EQ(edit.timelineSyncMs, expected.second) << offset;
    }
}

}  // namespace
}  // namespace zorvo
