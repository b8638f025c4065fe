// Which idle decoder a capture gets, and how many the pool keeps.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "capture/DecoderPool.h"
#include "support/TestPaths.h"
#include "support/TestVideo.h"

namespace zorvo::test {
namespace {

// A decoder of `path` with source frame `frame` current.
std::unique_ptr<VideoDecoder> DecoderAt(const std::string& path, std::int64_t frame) {
    auto decoder = std::make_unique<VideoDecoder>();
    const std::atomic<bool> stop{false};
    bool changed = false;
    EXPECT_TRUE(decoder->Open(path) && decoder->AllocatePictures());
    EXPECT_EQ(decoder->PictureFor(frame, stop, changed), VideoDecoder::Result::Ready);
    EXPECT_EQ(decoder->CurrentIndex(), frame);
    return decoder;
}

TEST(DecoderPoolTest, HandsOutTheNearestDecoderAtOrBeforeTheStart) {
    TempDir dir;
    const std::string path = dir.File("clip.avi");
    ASSERT_TRUE(WriteTestVideo(path, {.frameCount = 250}));
    struct Case {
        std::vector<std::int64_t> idle;  // current frames of the idle decoders
        std::int64_t start;              // the capture's first frame (25 fps: 40 ms each)
        std::int64_t taken;              // current frame of the decoder it gets; -1: none
    };
    const std::vector<Case> cases = {
        {{10, 40}, 45, 40}, {{10, 40}, 12, 10},
        {{10, 40}, 39, 40},  // one picture back: the decoder keeps the one before its current
        {{10, 40}, 38, 10}, {{10, 40}, 8, -1},
        {{10}, 110, 10},  // four key frame intervals (4 x 25) ahead
        {{10}, 111, -1},  // further: a fresh decoder seeks
        {{}, 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "start " << c.start);
        DecoderPool pool;
        for (const std::int64_t frame : c.idle) {
            pool.Give(DecoderAt(path, frame));
        }
        const auto taken = pool.Take(path, c.start * 40);
        EXPECT_EQ(taken ? taken->CurrentIndex() : -1, c.taken);
        EXPECT_EQ(pool.IdleCount(), c.idle.size() - (taken ? 1 : 0));
        EXPECT_EQ(pool.Take(dir.File("other.avi"), c.start * 40), nullptr);
    }
}

// The key frame a capture may seek to is counted by its picture: an MP4 index lists decoding
// times, which put a key two B-frames ahead of the picture it shows.
TEST(DecoderPoolTest, KeyFrameAtOrBeforeNamesAKeyPictureNotAfterTheFrame) {
    TempDir dir;
    struct Case {
        TestCodec codec;
        const char* name;
        bool everyKeyListed;  // Matroska's cues may list fewer key frames than there are
    };
    const Case cases[] = {{TestCodec::H264, "b.mp4", true},
                          {TestCodec::H264, "b.mkv", false},
                          {TestCodec::Mpeg4, "p.avi", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.File(c.name);
        ASSERT_TRUE(WriteTestVideo(path, {.codec = c.codec, .frameCount = 60}));
        VideoDecoder decoder;
        ASSERT_TRUE(decoder.Open(path));
        for (std::int64_t frame = 0; frame < 58; ++frame) {
            // Key frames every 12 pictures; the first one is the file's first picture.
            const std::int64_t key = decoder.KeyFrameAtOrBefore(frame);
            if (c.everyKeyListed) {
                EXPECT_EQ(key, frame / 12 * 12) << "frame " << frame;
            } else {
                EXPECT_TRUE(key >= 0 && key <= frame && key % 12 == 0) << "frame " << frame;
            }
        }
    }
}

TEST(DecoderPoolTest, KeepsTheLatestWithinItsLimitsAndOnlyTheFilesInUse) {
    TempDir dir;
    const std::string a = dir.File("a.avi");
    const std::string b = dir.File("b.avi");
    ASSERT_TRUE(WriteTestVideo(a, {}) && WriteTestVideo(b, {}));
    struct Case {
        DecoderPool::Limits limits;
        std::size_t idleA, idleB;  // kept after giving four of a, then two of b
        int bytesOf = -1;          // decoder bytes: those of this many decoders' pictures, if set
        int busy = 0;              // decoders in use meanwhile, which count against those bytes
        bool openedLate = false;   // the busy ones opened after the gives instead of before
    };
    const std::vector<Case> cases = {
        {{3, 8}, 3, 2},
        {{3, 4}, 2, 2},
        {{1, 8}, 1, 1},
        {{0, 0}, 0, 0},
        {{3, 8}, 1, 2, 3},
        {{3, 8}, 0, 1, 0},
        {{3, 8}, 0, 2, 3, 1},
        {{3, 8}, 0, 1, 3, 2},
        {{3, 8}, 0, 1, 3, 5},
        {{3, 8}, 1, 2, 4, 1},
        {{3, 8}, 0, 2, 4, 2, true},
        {{3, 8}, 0, 1, 4, 5, true},
    };
    for (Case c : cases) {
        SCOPED_TRACE(::testing::Message() << c.limits.perFile << " per file, " << c.limits.total
                                          << ", " << c.busy << " busy");
        if (c.bytesOf >= 0) {
            c.limits.decoderBytes =
                static_cast<std::size_t>(c.bytesOf) * DecoderAt(a, 1)->PictureBytes();
        }
        DecoderPool pool(c.limits);
        std::vector<std::unique_ptr<VideoDecoder>> busy;
        const auto openBusy = [&] {
            for (int i = 0; i < c.busy; ++i) {
                busy.push_back(DecoderAt(b, 9));
                pool.Track(*busy.back());
            }
        };
        if (!c.openedLate) {
            openBusy();
        }
        for (const std::int64_t frame : {1, 2, 3, 4}) {
            pool.Give(DecoderAt(a, frame));
        }
        for (const std::int64_t frame : {1, 2}) {
            pool.Give(DecoderAt(b, frame));
        }
        if (c.openedLate) {
            openBusy();
        }
        EXPECT_EQ(pool.IdleCount(), c.idleA + c.idleB);
        if (c.idleA > 0) {
            // The ones given back longest ago went first.
            auto latest = pool.Take(a, 4 * 40);
            ASSERT_NE(latest, nullptr);
            EXPECT_EQ(latest->CurrentIndex(), 4);
            pool.Give(std::move(latest));
        }
        pool.KeepOnly({b});
        EXPECT_EQ(pool.IdleCount(), c.idleB);
    }
}

// A capture's turn comes once no capture of an earlier turn holds its file; a stop ends the wait.
TEST(DecoderPoolTest, ATurnComesWhenTheEarlierHoldersOfTheFileHaveLeft) {
    struct Case {
        std::vector<std::pair<std::string, std::uint64_t>> holders, left;
        std::uint64_t turn;
        bool stop, comes;
    };
    const std::vector<Case> cases = {
        {{}, {}, 2, false, true},
        {{{"a", 2}, {"b", 1}}, {}, 2, false, true},
        {{{"a", 3}}, {}, 2, false, true},
        {{{"a", 1}, {"a", 1}}, {{"a", 1}}, 2, true, false},
        {{{"a", 1}}, {{"a", 1}}, 2, false, true},
        {{{"a", 1}}, {{"a", 2}}, 2, true, false},
    };
    for (const Case& c : cases) {
        DecoderPool pool;
        for (const auto& [path, turn] : c.holders) {
            pool.Enter(path, turn);
        }
        for (const auto& [path, turn] : c.left) {
            pool.Leave(path, turn);
        }
        const std::atomic<bool> stop{c.stop};
        EXPECT_EQ(pool.WaitTurn("a", c.turn, stop), c.comes) << &c - cases.data();
    }
}

}  // namespace
}  // namespace zorvo::test
