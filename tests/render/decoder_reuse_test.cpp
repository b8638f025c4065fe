#include <fstream>
#include <iterator>
#include <map>

#include "RenderFixture.h"

namespace zorvo {
namespace {

using test::TestCodec;
using test::TestVideo;

std::vector<char> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Decoders kept from block to block give the very file that fresh decoders for every block
// give, and decode fewer pictures.
TEST(DecoderReuse, WritesTheSameFileAsFreshDecoders) {
    struct Case {
        std::string name;
        TestCodec codec;
        int rateNum, rateDen;
        std::string inputArgs;  // after the file name
        std::string span;       // the first marker's layout, timing and statements
        bool overlay;
    };
    const std::vector<Case> cases = {
        // Speed 2 reads ahead into the next block, so each block starts behind the last one.
        {"speeds", TestCodec::H264, 25, 1, "",
         "1left_1right ) { tempo( 120 ) signature( 4, 4 ) display( a, each_beat ) "
         "display( b, each_beat ) speed( a, 0.5 ) speed( b, 2 )",
         false},
        {"sync2997", TestCodec::H264, 30000, 1001, ", center, 1230, 170",
         "1fullscreen ) { tempo( 128 ) signature( 4, 4 ) display( ab, each_beat )", false},
        {"fifty", TestCodec::Mpeg2, 50, 1, ", top, 420",
         "1fullscreen ) { tempo( 93 ) signature( 4, 4 ) display( a, every_half_beat )", false},
        {"twoAreasOneInput", TestCodec::Mpeg4, 25, 1, ", center, 700",
         "1left_1right ) { tempo( 120 ) signature( 4, 4 ) display( a, each_beat ) "
         "display( a, each_measure )",
         false},
        {"laidOver", TestCodec::Mpeg4, 25, 1, "",
         "1fullscreen ) { tempo( 140 ) signature( 7, 8 ) display( ab, each_beat )", true},
    };
    test::TempDir dir;
    std::uint64_t decodedFresh = 0;
    std::uint64_t decodedKept = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string inputs;
        for (const std::string id : {"a", "b"}) {
            TestVideo video;
            video.codec = c.codec;
            video.rateNum = c.rateNum;
            video.rateDen = c.rateDen;
            video.frameCount = 300;
            video.firstNumber = id == "a" ? 0 : 1000;
            const std::string path = dir.File(c.name + id + ".mp4");
            std::string error;
            ASSERT_TRUE(test::WriteTestVideo(path, video, &error)) << error;
            inputs += "input( " + id + ", " + path + c.inputArgs + " ) { }\n";
        }
        std::map<bool, std::vector<char>> files;
        for (const bool keep : {false, true}) {
            const std::string out = dir.File(c.name + (keep ? "-kept" : "-fresh"));
            const std::string script = "output( " + out + ".avi, 64, 96 )\n" + inputs +
                                       "group( ab ) { a, b }\n" +
                                       (c.overlay ? "overlay( b, 20 ) { }\n" : "") + "marker( 1, " +
                                       c.span + " }\nmarker( 3 ) { }\n";
            ASSERT_TRUE(test::WriteTextFile(out + ".txt", script));
            const DecoderPool::Limits limits =
                keep ? DecoderPool::Limits{} : DecoderPool::Limits{0, 0};
            const auto result =
                test::RunBuild(out + ".txt", nullptr, AVIWriter::kSplitBytes, limits);
            ASSERT_TRUE(result.succeeded) << ::testing::PrintToString(result.texts);
            (keep ? decodedKept : decodedFresh) += result.decodedPictures;
            files[keep] = FileBytes(out + ".avi");
        }
        EXPECT_GT(files[false].size(), 10000u);
        EXPECT_TRUE(files[false] == files[true]);
    }
    EXPECT_LT(decodedKept * 2, decodedFresh);
}

}  // namespace
}  // namespace zorvo
