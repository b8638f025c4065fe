#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "sync/AudioTrack.h"
#include "sync/Correlation.h"

namespace zorvo {
namespace {

// The song between its samples (windowed sinc), for a camera that lags by a fraction of one.
float SongAt(const std::vector<float>& song, double x) {
    constexpr long kTaps = 16;
    const long base = static_cast<long>(std::floor(x));
    double sum = 0.0;
    for (long k = std::max(0L, base - kTaps + 1);
         k <= std::min(static_cast<long>(song.size()) - 1, base + kTaps); ++k) {
        const double t = x - static_cast<double>(k);
        const double sinc = t == 0.0 ? 1.0 : std::sin(M_PI * t) / (M_PI * t);
        sum += song[static_cast<size_t>(k)] * sinc * (0.5 + 0.5 * std::cos(M_PI * t / kTaps));
    }
    return static_cast<float>(sum);
}

// A noise signal and a shifted, noisier copy of a piece of it: the lag must come out to a
// fraction of a sample, through short transforms and through the long ones composed of
// shorter ones, and at the edges of the searched lags.
TEST(Correlation, FindsAKnownLagAtEveryLength) {
    struct Case {
        size_t songCount;
        size_t cameraCount;
        size_t minOverlap;
        double lag;  // camera sample i holds song sample i - lag
    };
    const std::vector<Case> cases = {
        {3000, 1000, 100, -1234},
        {3000, 1000, 100, 700},
        {150000, 90000, 100, -40321},
        {150000, 90000, 100, 12345},
        // 2^17 points: a matrix of 512 x 256, not square.
        {80000, 40000, 100, -23456},
        // One sample short of the last lag searched (1000 - 800): still interpolated.
        {3000, 1000, 800, 199.4},
    };
    std::mt19937 random(3);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    for (const Case& c : cases) {
        std::vector<float> song(c.songCount);
        for (float& v : song) {
            v = noise(random);
        }
        std::vector<float> camera(c.cameraCount);
        for (size_t i = 0; i < camera.size(); ++i) {
            camera[i] = 0.5f * noise(random) + SongAt(song, static_cast<double>(i) - c.lag);
        }
        const size_t length = PowerOfTwoAtLeast(c.songCount + c.cameraCount);
        Spectrum songSpectrum;
        Spectrum cameraSpectrum;
        ASSERT_TRUE(songSpectrum.Compute(song.data(), song.size(), length));
        ASSERT_TRUE(cameraSpectrum.Compute(camera.data(), camera.size(), length));
        CorrelationPeak peak;
        ASSERT_TRUE(Correlation::Coarse(cameraSpectrum, camera.size(), songSpectrum, song.size(),
                                        c.minOverlap, peak));
        EXPECT_NEAR(peak.lag, c.lag, 0.25) << length;
        EXPECT_GT(peak.confidence, 0.5) << length;
    }
}

// The song's coarse search is made from the song resampled piece by piece as it is decoded; it
// must come out sample for sample as the whole resampled at once, or the same song would match
// with other figures.
TEST(MonoResampler, PiecesComeOutAsTheWhole) {
    struct Case {
        int from, to;
        size_t piece;
    };
    const Case cases[] = {{48000, 4000, 1},
                          {48000, 4000, 4095},
                          {4000, 2000, 333},
                          {4000, 500, 7},
                          {4000, 500, 100000}};
    std::mt19937 random(5);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.from << " to " << c.to << " by " << c.piece);
        AudioTrack whole;
        whole.rate = c.from;
        whole.samples.resize(static_cast<size_t>(c.from) * 3 + 17);
        for (float& v : whole.samples) {
            v = noise(random);
        }
        AudioTrack expected;
        ASSERT_TRUE(Resample(whole, c.to, expected));
        MonoResampler resampler;
        std::vector<float> pieces;
        ASSERT_TRUE(resampler.Open(c.from, c.to));
        for (size_t at = 0; at < whole.samples.size(); at += c.piece) {
            const size_t count = std::min(c.piece, whole.samples.size() - at);
            ASSERT_TRUE(
                resampler.Put(whole.samples.data() + at, static_cast<std::int64_t>(count), pieces));
        }
        ASSERT_TRUE(resampler.Finish(pieces));
        EXPECT_EQ(pieces, expected.samples);
    }
}

}  // namespace
}  // namespace zorvo
