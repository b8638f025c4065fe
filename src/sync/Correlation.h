#pragma once

#include <complex>
#include <cstddef>
#include <memory>
#include <vector>

namespace zorvo {

// Complex spectrum of a zero-padded real signal, to be matched against others of its length.
class Spectrum {
  public:
    // Transforms `count` samples padded with zeros to `length` (a power of two). False when
    // the transform cannot be had.
    bool Compute(const float* samples, size_t count, size_t length);
    // The same piece by piece, for a signal too long to be held twice: Begin, Append up to
    // `length` samples in all, then Finish.
    bool Begin(size_t length);
    bool Append(const float* samples, size_t count);
    bool Finish();

    size_t Length() const { return m_length; }
    const std::complex<float>* Bins() const { return m_bins.get(); }

  private:
    struct AvFree {
        void operator()(void* p) const;
    };
    size_t m_length = 0;
    size_t m_filled = 0;  // samples appended, while not yet transformed
    size_t m_capacity = 0;
    std::unique_ptr<std::complex<float>[], AvFree> m_bins;
    friend class Correlation;
};

// Where a camera's sound best matches the song, in samples: camera sample i heard song sample
// i - lag. Confidence runs from 0 (no better than chance) towards 1 (an unmistakable peak).
struct CorrelationPeak {
    double lag = 0.0;
    double confidence = 0.0;
};

// The windows of both sounds that the fine search compares, placed from the sounds' lengths
// alone, so that only they need to be read: camera window w starts at camera sample starts[w],
// the song's at starts[w] - shift; each is `window` samples long.
struct FineWindows {
    long shift = 0;
    size_t window = 0;
    std::vector<size_t> starts;
};

// Phase-weighted cross-correlation (GCC-PHAT): the cross spectrum is reduced to its phase, so
// every band counts alike and loud low notes or room resonances cannot smear the peak.
class Correlation {
  public:
    // Searches every lag at which camera and song overlap by at least `minOverlap` samples.
    // The camera's spectrum must have the song's length, which covers both signals; it is used
    // up (the cross spectrum is made in its place).
    static bool Coarse(Spectrum& camera, size_t cameraCount, const Spectrum& song, size_t songCount,
                       size_t minOverlap, CorrelationPeak& match);

    // Places the windows spread over the overlap of a camera of `cameraCount` samples and a
    // song of `songCount` at about `lag`; false when the overlap is too short to refine it.
    static bool PlanFine(size_t cameraCount, size_t songCount, int reach, double lag,
                         FineWindows& windows);
    // Refines the lag within +-`reach` samples from the windows' cross spectra, summed before
    // weighting; the peak is interpolated between samples. `camera` and `song` hold the
    // windows one after another. `agreement` is the share of the overlap's parts (quarters)
    // whose own peak falls on it.
    static bool Fine(const FineWindows& windows, const float* camera, const float* song, int reach,
                     double& lag, double& agreement);
};

// Smallest power of two at or above n.
size_t PowerOfTwoAtLeast(size_t n);

}  // namespace zorvo
