#include <gtest/gtest.h>

#include <string>

#include "common/PathName.h"

namespace zorvo {
namespace {

// Each path taken apart as std::filesystem::path does: a dot that starts the file name or lies
// in a folder is no extension, and a folder keeps its text as written.
TEST(PathName, TakesPathsApartByTheirText) {
    struct Case {
        std::string path;
        std::string fileName;
        std::string folder;
        std::string extension;
        std::string png;       // ReplaceExtension(path, ".png")
        std::string numbered;  // InsertBeforeExtension(path, ".01")
        std::string beside;    // Beside(path, "x")
    };
    const Case cases[] = {
        {"out.avi", "out.avi", ".", ".avi", "out.png", "out.01.avi", "x"},
        {"dir/out.avi", "out.avi", "dir", ".avi", "dir/out.png", "dir/out.01.avi", "dir/x"},
        {"/abs/dir/out.avi", "out.avi", "/abs/dir", ".avi", "/abs/dir/out.png",
         "/abs/dir/out.01.avi", "/abs/dir/x"},
        {"/out.avi", "out.avi", "/", ".avi", "/out.png", "/out.01.avi", "/x"},
        {"dir/out", "out", "dir", "", "dir/out.png", "dir/out.01", "dir/x"},
        {"a.b.c.avi", "a.b.c.avi", ".", ".avi", "a.b.c.png", "a.b.c.01.avi", "x"},
        {"my.dir/out", "out", "my.dir", "", "my.dir/out.png", "my.dir/out.01", "my.dir/x"},
        {".hidden", ".hidden", ".", "", ".hidden.png", ".hidden.01", "x"},
        {"dir/.hidden", ".hidden", "dir", "", "dir/.hidden.png", "dir/.hidden.01", "dir/x"},
        {"dir/.hidden.avi", ".hidden.avi", "dir", ".avi", "dir/.hidden.png", "dir/.hidden.01.avi",
         "dir/x"},
        {"dir/", "", "dir", "", "dir/.png", "dir/.01", "dir/x"},
        {".", ".", ".", "", "..png", "..01", "x"},
        {"..", "..", ".", "", "...png", "...01", "x"},
        {"", "", ".", "", ".png", ".01", "x"},
        {"out.", "out.", ".", ".", "out.png", "out.01.", "x"},
        {"./out.avi", "out.avi", ".", ".avi", "./out.png", "./out.01.avi", "./x"},
        {"dir//out.avi", "out.avi", "dir", ".avi", "dir//out.png", "dir//out.01.avi", "dir//x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("'" + c.path + "'");
        EXPECT_EQ(FileName(c.path), c.fileName);
        EXPECT_EQ(FolderOf(c.path), c.folder);
        EXPECT_EQ(Extension(c.path), c.extension);
        EXPECT_EQ(ReplaceExtension(c.path, ".png"), c.png);
        EXPECT_EQ(InsertBeforeExtension(c.path, ".01"), c.numbered);
        EXPECT_EQ(Beside(c.path, "x"), c.beside);
    }
}

}  // namespace
}  // namespace zorvo
