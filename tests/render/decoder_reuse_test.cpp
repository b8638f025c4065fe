#include <fstream>
#include <iterator>
#include <string>

#include "RenderFixture.h"

namespace zorvo {
namespace {

using test::TestCodec;
using test::TestVideo;

std::vector<char> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Decoders kept from block to block, and one capture for the areas that show an input from the
// same moment, give the very file that fresh decoders for every area and block give, and each
// decodes fewer pictures.
TEST(DecoderReuse, WritesTheSameFileAsFreshDecoders) {
    struct Case {
        std::string name;
        TestCodec codec;
        int rateNum, rateDen;
        std::string input;  // after the file name, through the input's statements
        std::string rest;   // the overlay, if any, and the first marker
    };
    const std::vector<Case> cases = {
        // Speed 2 reads ahead into the next block, so each block starts behind the last one.
        {"speeds", TestCodec::H264, 25, 1, " ) {",
         "marker( 1, 1left_1right ) { tempo( 120 ) signature( 4, 4 ) display( a, each_beat ) "
         "display( b, each_beat ) speed( a, 0.5 ) speed( b, 2 ) }"},
        {"sync2997", TestCodec::H264, 30000, 1001, ", center, 1230, 170 ) {",
         "marker( 1, 1fullscreen ) { tempo( 128 ) signature( 4, 4 ) display( ab, each_beat ) }"},
        {"fifty", TestCodec::Mpeg2, 50, 1, ", top, 420 ) {",
         "marker( 1, 1fullscreen ) { tempo( 93 ) signature( 4, 4 ) "
         "display( a, every_half_beat ) }"},
        // Three areas of two sizes show `a` at once (the third every other half beat), zoomed
        // and noise-reduced: one decode, three scalings, a running picture for each.
        {"areasShareInput", TestCodec::Mpeg4, 25, 1, ", center, 700 ) { noise_reduction( 5 );",
         "marker( 1, 1left_2right ) { tempo( 120 ) signature( 4, 4 ) display( a, each_beat ) "
         "display( a, each_measure ) display( ab, every_half_beat ) resize( a, 70 ) }"},
        {"laidOver", TestCodec::Mpeg4, 25, 1, " ) {",
         "overlay( b, 20 ) { }\nmarker( 1, 1fullscreen ) { tempo( 140 ) signature( 7, 8 ) "
         "display( ab, each_beat ) }"},
    };
    test::TempDir dir;
    // Fresh decoders, kept ones, kept ones and shared captures.
    const DecoderPool::Limits ways[] = {{0, 0, false}, {3, 8, false}, {}};
    std::uint64_t decoded[3] = {};
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
            std::string error;
            ASSERT_TRUE(test::WriteTestVideo(dir.File(c.name + id + ".mp4"), video, &error))
                << error;
            inputs += "input( " + id + ", {dir}/" + c.name + id + ".mp4" + c.input + " }\n";
        }
        std::vector<char> files[3];
        std::uint64_t caseDecoded[3] = {};
        for (int way = 0; way < 3; ++way) {
            const std::string out = c.name + std::to_string(way);
            const auto result = test::RunBuild(
                test::WriteScript(dir, out,
                                  "output( {dir}/" + out + ".avi, 64, 96 )\n" + inputs +
                                      "group( ab ) { a, b }\n" + c.rest + "\nmarker( 3 ) { }\n"),
                nullptr, ways[way]);
            ASSERT_TRUE(result.succeeded) << ::testing::PrintToString(result.texts);
            caseDecoded[way] = result.decodedPictures;
            decoded[way] += result.decodedPictures;
            files[way] = FileBytes(dir.File(out + ".avi"));
        }
        EXPECT_GT(files[0].size(), 10000u);
        EXPECT_TRUE(files[0] == files[1]);
        EXPECT_TRUE(files[0] == files[2]);
        if (c.name == "areasShareInput") {
            EXPECT_LT(caseDecoded[2] * 3, caseDecoded[1] * 2);
        }
    }
    EXPECT_LT(decoded[1] * 2, decoded[0]);
}

}  // namespace
}  // namespace zorvo
