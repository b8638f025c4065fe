// Which pictures a decoder leaves out of a segment's stretch, and that the ones it shows stay.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "capture/VideoDecoder.h"
#include "support/MediaReader.h"
#include "support/TestPaths.h"
#include "support/TestVideo.h"

namespace zorvo::test {
namespace {

// The source frame indexes of the pictures of `path` (all, or those others refer to).
std::set<std::int64_t> PictureIndexes(const std::string& path, double rate, bool referencedOnly) {
    MediaContents contents;
    std::string error;
    EXPECT_TRUE(ReadMedia(path, contents, error, referencedOnly)) << error;
    std::set<std::int64_t> indexes;
    for (const double time : contents.pictureTimes) {
        indexes.insert(std::llround(time * rate));
    }
    return indexes;
}

struct Walk {
    std::vector<std::int64_t> shown;  // the current picture for each frame of the segment
    std::int64_t earliest = -1;       // EarliestIndex after the look-ahead frame
    std::uint64_t decoded = 0;
};

// Asks for the frames of a segment and the look-ahead frame after it as a capture does, from
// the file's start, telling the decoder the segment or not.
Walk WalkSegment(const std::string& path, std::int64_t startMs, std::int64_t frames,
                 bool toldSegment) {
    Walk walk;
    VideoDecoder decoder;
    std::atomic<std::uint64_t> decoded{0};
    const std::atomic<bool> stop{false};
    EXPECT_TRUE(decoder.Open(path, false) && decoder.AllocatePictures());
    decoder.CountPicturesInto(&decoded);
    if (toldSegment) {
        decoder.ShowSegment(startMs, 0, frames);
    }
    for (std::int64_t n = 0; n <= frames; ++n) {
        bool changed = false;
        EXPECT_EQ(decoder.PictureFor(decoder.SegmentFrame(startMs, n), stop, changed),
                  VideoDecoder::Result::Ready);
        if (n < frames) {
            walk.shown.push_back(decoder.CurrentIndex());
        }
    }
    walk.earliest = decoder.EarliestIndex();
    walk.decoded = decoded.load();
    return walk;
}

// Every frame shows the last picture at or before its source frame, told the segment or not;
// told it, the decoder leaves out exactly the unreferenced pictures inside the stretch that no
// frame shows (none at 25 fps), and keeps the picture before the last one for the next capture.
// In a source with gaps a left-out picture may be the one a frame needs: it is decoded again.
TEST(VideoDecoderTest, LeavesOutOnlyUnreferencedPicturesNoFrameShows) {
    struct Case {
        int rateNum, rateDen, dropEvery;
        std::int64_t startMs, frames;
    };
    const std::vector<Case> cases = {
        {25, 1, 0, 0, 40},   {30000, 1001, 0, 0, 40}, {30000, 1001, 0, 1300, 30},
        {50, 1, 0, 500, 30}, {30000, 1001, 6, 0, 40},
    };
    TempDir dir;
    std::uint64_t allLeftOut = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.rateNum << "/" << c.rateDen << " dropping every "
                                          << c.dropEvery << " from " << c.startMs << " ms");
        const double rate = static_cast<double>(c.rateNum) / c.rateDen;
        const std::string path =
            dir.File(std::to_string(c.rateNum) + "-" + std::to_string(c.dropEvery) + ".mp4");
        ASSERT_TRUE(WriteTestVideo(path, {.codec = TestCodec::H264,
                                          .rateNum = c.rateNum,
                                          .rateDen = c.rateDen,
                                          .frameCount = 120,
                                          .dropEvery = c.dropEvery}));
        const std::set<std::int64_t> pictures = PictureIndexes(path, rate, false);
        const std::set<std::int64_t> referenced = PictureIndexes(path, rate, true);
        // The source frames the segment asks for, and the picture each shows.
        std::set<std::int64_t> targets;
        std::vector<std::int64_t> expected;
        const std::int64_t start = c.startMs * c.rateNum / (1000LL * c.rateDen);
        for (std::int64_t n = 0; n < c.frames; ++n) {
            const std::int64_t target = start + n * c.rateNum / (25LL * c.rateDen);
            targets.insert(target);
            expected.push_back(*std::prev(pictures.upper_bound(target)));
        }
        std::uint64_t leftOut = 0;
        bool gapNeedsLeftOut = false;
        for (const std::int64_t i : pictures) {
            const bool inStretch = i > *targets.begin() && i < *targets.rbegin();
            const bool unshown = inStretch && targets.count(i) == 0 && referenced.count(i) == 0;
            leftOut += unshown;
            gapNeedsLeftOut =
                gapNeedsLeftOut || (unshown && std::count(expected.begin(), expected.end(), i) > 0);
        }
        const Walk whole = WalkSegment(path, c.startMs, c.frames, false);
        const Walk told = WalkSegment(path, c.startMs, c.frames, true);
        EXPECT_EQ(whole.shown, expected);
        EXPECT_EQ(told.shown, expected);
        EXPECT_EQ(told.earliest, whole.earliest);
        if (c.dropEvery > 0) {
            ASSERT_TRUE(gapNeedsLeftOut) << "no gap shows a picture the stretch steps over";
            continue;
        }
        EXPECT_TRUE(c.rateNum != 25 || leftOut == 0);
        EXPECT_EQ(told.decoded + leftOut, whole.decoded);
        allLeftOut += leftOut;
    }
    EXPECT_GT(allLeftOut, 0u) << "no case steps over an unreferenced picture";
}

}  // namespace
}  // namespace zorvo::test
