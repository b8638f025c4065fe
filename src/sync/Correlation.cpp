#include "sync/Correlation.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/tx.h>
}

namespace zorvo {

void Spectrum::AvFree::operator()(void* p) const {
    av_free(p);
}

namespace {

struct AvFree {
    void operator()(void* p) const { av_free(p); }
};
template <typename T>
using AvArray = std::unique_ptr<T[], AvFree>;

template <typename T>
AvArray<T> Allocate(size_t count) {
    return AvArray<T>(static_cast<T*>(av_calloc(count, sizeof(T))));
}

// One real-to-complex (or, inverse, complex-to-real) transform of a fixed length.
class RealTransform {
  public:
    RealTransform(size_t length, bool inverse) {
        const float scale = inverse ? 1.0f / static_cast<float>(length) : 1.0f;
        if (length > (size_t{1} << 30) ||
            av_tx_init(&m_context, &m_run, AV_TX_FLOAT_RDFT, inverse ? 1 : 0,
                       static_cast<int>(length), &scale, 0) < 0) {
            m_context = nullptr;
        }
        m_inverse = inverse;
    }
    ~RealTransform() { av_tx_uninit(&m_context); }
    RealTransform(const RealTransform&) = delete;
    RealTransform& operator=(const RealTransform&) = delete;

    bool Valid() const { return m_context != nullptr; }
    // Forward: `length` floats to length / 2 + 1 bins. Inverse: the other way, and the bins
    // are overwritten.
    void Run(void* out, void* in) {
        m_run(m_context, out, in,
              m_inverse ? static_cast<ptrdiff_t>(sizeof(std::complex<float>))
                        : static_cast<ptrdiff_t>(sizeof(float)));
    }

  private:
    AVTXContext* m_context = nullptr;
    av_tx_fn m_run = nullptr;
    bool m_inverse = false;
};

// The library's transforms of more than 2^17 points fall back to a direct sum, which takes
// minutes for a song; longer ones are composed of shorter ones below.
constexpr size_t kLongestDirect = size_t{1} << 16;

class ComplexTransform {
  public:
    explicit ComplexTransform(size_t length) {
        const float scale = 1.0f;
        if (av_tx_init(&m_context, &m_run, AV_TX_FLOAT_FFT, 0, static_cast<int>(length), &scale,
                       0) < 0) {
            m_context = nullptr;
        }
    }
    ~ComplexTransform() { av_tx_uninit(&m_context); }
    ComplexTransform(const ComplexTransform&) = delete;
    ComplexTransform& operator=(const ComplexTransform&) = delete;

    bool Valid() const { return m_context != nullptr; }
    void Run(std::complex<float>* out, std::complex<float>* in) {
        m_run(m_context, out, in, static_cast<ptrdiff_t>(sizeof(std::complex<float>)));
    }

  private:
    AVTXContext* m_context = nullptr;
    av_tx_fn m_run = nullptr;
};

// Moves the n1 x n2 matrix held row by row in `data` to be held column by column, in place:
// element k * n2 + j goes to k + n1 * j, that is index i to i * n1 modulo length - 1, followed
// cycle by cycle.
void Transpose(std::complex<float>* data, size_t n1, size_t n2) {
    const size_t length = n1 * n2;
    if (n1 == 1 || n2 == 1) {
        return;
    }
    std::vector<bool> placed(length);
    for (size_t start = 1; start + 1 < length; ++start) {
        if (placed[start]) {
            continue;
        }
        std::complex<float> carried = data[start];
        size_t at = start;
        do {
            at = at * n1 % (length - 1);
            std::swap(carried, data[at]);
            placed[at] = true;
        } while (at != start);
    }
}

// Forward DFT of a power-of-two length, in place. Long ones take the four-step route: the
// data as an n1 x n2 matrix, transforms of the columns, twiddles, transforms of the rows, and
// a transposition. All of it happens in `data`: a second matrix would be another 64 MiB for an
// hour's coarse search.
bool Transform(std::complex<float>* data, size_t length) {
    using Complex = std::complex<float>;
    if (length <= kLongestDirect) {
        ComplexTransform direct(length);
        AvArray<Complex> out = Allocate<Complex>(length);
        if (!direct.Valid() || !out) {
            return false;
        }
        direct.Run(out.get(), data);
        std::copy(out.get(), out.get() + length, data);
        return true;
    }
    size_t n1 = 1;
    while (n1 * n1 < length) {
        n1 <<= 1;
    }
    const size_t n2 = length / n1;
    ComplexTransform columns(n1);
    ComplexTransform rows(n2);
    AvArray<Complex> in = Allocate<Complex>(std::max(n1, n2));
    AvArray<Complex> out = Allocate<Complex>(std::max(n1, n2));
    if (!columns.Valid() || !rows.Valid() || !in || !out) {
        return false;
    }
    const double step = -2.0 * M_PI / static_cast<double>(length);
    // Column c is read whole before its results take its place.
    for (size_t c = 0; c < n2; ++c) {
        for (size_t r = 0; r < n1; ++r) {
            in[r] = data[r * n2 + c];
        }
        columns.Run(out.get(), in.get());
        for (size_t k = 0; k < n1; ++k) {
            const double angle = step * static_cast<double>(c * k);
            data[k * n2 + c] = out[k] * Complex(static_cast<float>(std::cos(angle)),
                                                static_cast<float>(std::sin(angle)));
        }
    }
    for (size_t k = 0; k < n1; ++k) {
        rows.Run(out.get(), data + k * n2);
        std::copy(out.get(), out.get() + n2, data + k * n2);
    }
    Transpose(data, n1, n2);
    return true;
}

// Inverse DFT, scaled by 1 / length, in place.
bool InverseTransform(std::complex<float>* data, size_t length) {
    for (size_t k = 0; k < length; ++k) {
        data[k] = std::conj(data[k]);
    }
    if (!Transform(data, length)) {
        return false;
    }
    const float scale = 1.0f / static_cast<float>(length);
    for (size_t k = 0; k < length; ++k) {
        data[k] = std::conj(data[k]) * scale;
    }
    return true;
}

// Reduces a cross spectrum to its phase. Bins with next to no energy in either signal (above a
// band limit, say) are damped instead of blown up to full weight.
void WeightByPhase(std::complex<float>* bins, size_t count) {
    double total = 0.0;
    for (size_t k = 0; k < count; ++k) {
        total += std::abs(bins[k]);
    }
    const float floor = static_cast<float>(1e-3 * total / static_cast<double>(count)) + 1e-30f;
    for (size_t k = 0; k < count; ++k) {
        bins[k] /= std::abs(bins[k]) + floor;
    }
}

// Vertex of the parabola through the peak and its neighbours, as an offset in (-0.5, 0.5).
double Interpolate(double before, double peak, double after) {
    const double curvature = before - 2.0 * peak + after;
    if (curvature >= 0.0) {
        return 0.0;
    }
    return std::clamp(0.5 * (before - after) / curvature, -0.5, 0.5);
}

// 0 for a peak no higher (in spreads of the correlation) than the highest of `lags` independent
// normal values is likely to be, sqrt(2 ln lags): what an unrelated sound gives; towards 1 for
// a peak that stands far above it.
double Confidence(double height, double lags) {
    const double chance = std::sqrt(2.0 * std::log(std::max(lags, 2.0)));
    return height > chance ? 1.0 - chance / height : 0.0;
}

}  // namespace

size_t PowerOfTwoAtLeast(size_t n) {
    size_t power = 1;
    while (power < n) {
        power <<= 1;
    }
    return power;
}

bool Spectrum::Compute(const float* samples, size_t count, size_t length) {
    return Begin(length) && Append(samples, count) && Finish();
}

bool Spectrum::Begin(size_t length) {
    m_bins.reset(static_cast<std::complex<float>*>(av_calloc(length, sizeof(std::complex<float>))));
    m_length = 0;
    m_filled = 0;
    m_capacity = m_bins ? length : 0;
    return m_bins != nullptr;
}

bool Spectrum::Append(const float* samples, size_t count) {
    if (!m_bins || count > m_capacity - m_filled) {
        m_capacity = 0;
        return false;
    }
    std::copy(samples, samples + count, m_bins.get() + m_filled);
    m_filled += count;
    return true;
}

bool Spectrum::Finish() {
    if (!m_bins || m_capacity == 0 || !Transform(m_bins.get(), m_capacity)) {
        return false;
    }
    m_length = m_capacity;
    m_capacity = 0;
    return true;
}

bool Correlation::Coarse(Spectrum& camera, size_t cameraCount, const Spectrum& song,
                         size_t songCount, size_t minOverlap, CorrelationPeak& match) {
    const size_t length = song.Length();
    if (length == 0 || camera.Length() != length || cameraCount + songCount > length) {
        return false;
    }
    minOverlap = std::min({minOverlap, cameraCount, songCount});
    if (minOverlap == 0) {
        return false;
    }
    // The cross spectrum takes the camera's place: an hour's transform is 64 MiB.
    auto cross = std::move(camera.m_bins);
    camera.m_length = 0;
    for (size_t k = 0; k < length; ++k) {
        cross[k] *= std::conj(song.Bins()[k]);
    }
    WeightByPhase(cross.get(), length);
    if (!InverseTransform(cross.get(), length)) {
        return false;
    }

    // Lag L (camera sample i heard song sample i - L) sits at index L modulo the length.
    const long first = -static_cast<long>(songCount - minOverlap);
    const long last = static_cast<long>(cameraCount - minOverlap);
    auto at = [&](long lag) {
        return cross[static_cast<size_t>(lag < 0 ? lag + static_cast<long>(length) : lag)].real();
    };
    double sum = 0.0;
    double squares = 0.0;
    long best = first;
    for (long lag = first; lag <= last; ++lag) {
        const double value = at(lag);
        sum += value;
        squares += value * value;
        if (value > at(best)) {
            best = lag;
        }
    }
    const double lags = static_cast<double>(last - first + 1);
    const double mean = sum / lags;
    const double spread = std::sqrt(std::max(0.0, squares / lags - mean * mean));
    match.confidence = Confidence(spread > 0.0 ? (at(best) - mean) / spread : 0.0, lags);
    match.lag = static_cast<double>(best);
    if (best > first && best < last) {
        match.lag += Interpolate(at(best - 1), at(best), at(best + 1));
    }
    return true;
}

bool Correlation::PlanFine(size_t cameraCount, size_t songCount, int reach, double lag,
                           FineWindows& windows) {
    const long shift = std::lround(lag);
    // Camera samples [begin, end) have song samples to compare with.
    const long begin = std::max(0L, shift);
    const long end = std::min(static_cast<long>(cameraCount), static_cast<long>(songCount) + shift);
    constexpr size_t kWindow = 16384;
    constexpr size_t kMaxWindows = 64;
    size_t window = kWindow;
    while (end - begin < static_cast<long>(window) && window > 16 * static_cast<size_t>(reach)) {
        window /= 2;
    }
    if (end - begin < static_cast<long>(window) || reach < 1) {
        return false;
    }
    const size_t span = static_cast<size_t>(end - begin) - window;
    const size_t count = std::min(kMaxWindows, span / window + 1);
    windows.shift = shift;
    windows.window = window;
    windows.starts.clear();
    for (size_t w = 0; w < count; ++w) {
        windows.starts.push_back(static_cast<size_t>(begin) +
                                 (count > 1 ? span * w / (count - 1) : 0));
    }
    return true;
}

bool Correlation::Fine(const FineWindows& windows, const float* camera, const float* song,
                       int reach, double& lag, double& agreement) {
    constexpr size_t kParts = 4;
    const long shift = windows.shift;
    const size_t window = windows.window;
    const size_t count = windows.starts.size();
    if (count == 0 || window == 0 || reach < 1) {
        return false;
    }
    const size_t parts = std::min(kParts, count);

    const size_t bins = window / 2 + 1;
    RealTransform forward(window, false);
    RealTransform inverse(window, true);
    AvArray<float> a = Allocate<float>(window);
    AvArray<float> b = Allocate<float>(window);
    AvArray<std::complex<float>> spectrumA = Allocate<std::complex<float>>(bins);
    AvArray<std::complex<float>> spectrumB = Allocate<std::complex<float>>(bins);
    AvArray<float> correlation = Allocate<float>(window);
    if (!forward.Valid() || !inverse.Valid() || !a || !b || !spectrumA || !spectrumB ||
        !correlation) {
        return false;
    }
    std::vector<float> taper(window);
    for (size_t k = 0; k < window; ++k) {
        taper[k] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(k) /
                                                           static_cast<double>(window)));
    }
    // One cross spectrum per part of the overlap; the whole is their sum.
    std::vector<std::vector<std::complex<double>>> cross(parts + 1,
                                                         std::vector<std::complex<double>>(bins));
    for (size_t w = 0; w < count; ++w) {
        for (size_t k = 0; k < window; ++k) {
            a[k] = camera[w * window + k] * taper[k];
            b[k] = song[w * window + k] * taper[k];
        }
        forward.Run(spectrumA.get(), a.get());
        forward.Run(spectrumB.get(), b.get());
        std::vector<std::complex<double>>& part = cross[w * parts / count];
        for (size_t k = 0; k < bins; ++k) {
            const std::complex<double> product(spectrumA[k] * std::conj(spectrumB[k]));
            part[k] += product;
            cross[parts][k] += product;
        }
    }
    auto at = [&](long m) {
        return correlation[static_cast<size_t>(m < 0 ? m + static_cast<long>(window) : m)];
    };
    auto peak = [&](const std::vector<std::complex<double>>& spectrum, long reach) {
        for (size_t k = 0; k < bins; ++k) {
            spectrumA[k] = std::complex<float>(spectrum[k]);
        }
        WeightByPhase(spectrumA.get(), bins);
        inverse.Run(correlation.get(), spectrumA.get());
        long best = -reach;
        for (long m = -reach; m <= reach; ++m) {
            if (at(m) > at(best)) {
                best = m;
            }
        }
        return best;
    };
    // The song heard again in another take lines up here and there, each part at its own
    // lag; the recording of this take lines up everywhere at one.
    std::vector<long> partPeaks;
    for (size_t p = 0; p < parts; ++p) {
        partPeaks.push_back(peak(cross[p], 4L * reach));
    }
    const long best = peak(cross[parts], reach);
    const long tolerance = std::max(1, reach / 4);
    agreement = static_cast<double>(
                    std::count_if(partPeaks.begin(), partPeaks.end(),
                                  [&](long m) { return std::labs(m - best) <= tolerance; })) /
                static_cast<double>(parts);
    lag = static_cast<double>(shift + best) + Interpolate(at(best - 1), at(best), at(best + 1));
    return true;
}

}  // namespace zorvo
