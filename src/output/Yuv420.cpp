#include "output/Yuv420.h"

#include <cstddef>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZORVO_YUV_SSSE3 1
#endif

namespace zorvo {

YuvFactors YuvFactorsFor(bool hd) {
    const double kr = hd ? 0.2126 : 0.299;
    const double kb = hd ? 0.0722 : 0.114;
    const double kg = 1 - kr - kb;
    const double luma = 219.0 / 255 * 65536;
    const double chroma = 224.0 / 255 * 65536;
    const auto round = [](double v) {
        return static_cast<std::int32_t>(v < 0 ? v - 0.5 : v + 0.5);
    };
    YuvFactors f{};
    const double weights[3] = {kr, kg, kb};
    for (int c = 0; c < 3; ++c) {
        f.y[c] = round(weights[c] * luma);
        // Cb = (B - Y) / (2 (1 - kb)), Cr = (R - Y) / (2 (1 - kr)).
        f.cb[c] = round(((c == 2 ? 1 : 0) - weights[c]) / (2 * (1 - kb)) * chroma);
        f.cr[c] = round(((c == 0 ? 1 : 0) - weights[c]) / (2 * (1 - kr)) * chroma);
    }
    return f;
}

namespace {

constexpr std::int32_t kLumaAdd = (16 << 16) + (1 << 15);
constexpr std::int32_t kChromaAdd = (128 << 18) + (1 << 17);

struct RowPair {
    const std::uint8_t* upper;
    const std::uint8_t* lower;
    std::uint8_t* luma0;
    std::uint8_t* luma1;
    std::uint8_t* cb;
    std::uint8_t* cr;
};

RowPair RowsAt(const FrameBitmap& picture, const Yuv420Planes& out, int y) {
    const int height = picture.Height();
    std::uint8_t* luma0 = out.data[0] + static_cast<std::ptrdiff_t>(y) * out.stride[0];
    return {picture.Row(height - 1 - y),
            picture.Row(height - 2 - y),
            luma0,
            luma0 + out.stride[0],
            out.data[1] + static_cast<std::ptrdiff_t>(y / 2) * out.stride[1],
            out.data[2] + static_cast<std::ptrdiff_t>(y / 2) * out.stride[2]};
}

// Columns x to width of a row pair.
void PlainColumns(const RowPair& rows, const YuvFactors& f, int x, int width) {
    for (; x < width; x += 2) {
        const std::uint8_t* p[4] = {rows.upper + 3 * x, rows.upper + 3 * x + 3, rows.lower + 3 * x,
                                    rows.lower + 3 * x + 3};
        std::uint8_t* l[4] = {rows.luma0 + x, rows.luma0 + x + 1, rows.luma1 + x,
                              rows.luma1 + x + 1};
        std::int32_t sum[3] = {0, 0, 0};  // red, green, blue
        for (int k = 0; k < 4; ++k) {
            const std::int32_t r = p[k][2], g = p[k][1], b = p[k][0];
            *l[k] =
                static_cast<std::uint8_t>((f.y[0] * r + f.y[1] * g + f.y[2] * b + kLumaAdd) >> 16);
            sum[0] += r;
            sum[1] += g;
            sum[2] += b;
        }
        rows.cb[x / 2] = static_cast<std::uint8_t>(
            (f.cb[0] * sum[0] + f.cb[1] * sum[1] + f.cb[2] * sum[2] + kChromaAdd) >> 18);
        rows.cr[x / 2] = static_cast<std::uint8_t>(
            (f.cr[0] * sum[0] + f.cr[1] * sum[1] + f.cr[2] * sum[2] + kChromaAdd) >> 18);
    }
}

#if ZORVO_YUV_SSSE3
#define ZORVO_SSSE3 __attribute__((target("ssse3")))

// Two signed 16-bit factors as the 32-bit lane _mm_madd_epi16 pairs them in.
std::int32_t Pair(std::int32_t first, std::int32_t second) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(second) << 16 |
                                     static_cast<std::uint16_t>(first));
}

// Each register holds two pixels as 16-bit blue, green, red, green: the green factor of luma
// (up to 40,254) does not fit one signed 16-bit factor, so green comes twice with half of it
// each. The sums are those of the plain code, so the result is the same to the bit.
ZORVO_SSSE3 inline __m128i Weighted(__m128i a, __m128i b, __m128i factors, __m128i add, int shift) {
    const __m128i sums = _mm_hadd_epi32(_mm_madd_epi16(a, factors), _mm_madd_epi16(b, factors));
    return _mm_srai_epi32(_mm_add_epi32(sums, add), shift);
}

ZORVO_SSSE3 void Ssse3Rows(const FrameBitmap& picture, const YuvFactors& f,
                           const Yuv420Planes& out) {
    const int width = picture.Width();
    const std::int32_t green = f.y[1] / 2;
    const __m128i lumaK = _mm_setr_epi32(Pair(f.y[2], green), Pair(f.y[0], f.y[1] - green),
                                         Pair(f.y[2], green), Pair(f.y[0], f.y[1] - green));
    const __m128i cbK = _mm_setr_epi32(Pair(f.cb[2], f.cb[1]), Pair(f.cb[0], 0),
                                       Pair(f.cb[2], f.cb[1]), Pair(f.cb[0], 0));
    const __m128i crK = _mm_setr_epi32(Pair(f.cr[2], f.cr[1]), Pair(f.cr[0], 0),
                                       Pair(f.cr[2], f.cr[1]), Pair(f.cr[0], 0));
    const __m128i lumaAdd = _mm_set1_epi32(kLumaAdd);
    const __m128i chromaAdd = _mm_set1_epi32(kChromaAdd);
    // Pixels 0-1 and 2-3 of 12 bytes as 16-bit blue, green, red, green.
    const __m128i spread0 = _mm_setr_epi8(0, -1, 1, -1, 2, -1, 1, -1, 3, -1, 4, -1, 5, -1, 4, -1);
    const __m128i spread1 =
        _mm_setr_epi8(6, -1, 7, -1, 8, -1, 7, -1, 9, -1, 10, -1, 11, -1, 10, -1);
    for (int y = 0; y < picture.Height(); y += 2) {
        const RowPair rows = RowsAt(picture, out, y);
        int x = 0;
        // 16 pixels a step; the last load reads 4 bytes past them, so they stay in the row.
        for (; x + 18 <= width; x += 16) {
            __m128i up[8], low[8];
            for (int k = 0; k < 4; ++k) {
                const __m128i a =
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows.upper + 3 * x + 12 * k));
                const __m128i b =
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows.lower + 3 * x + 12 * k));
                up[2 * k] = _mm_shuffle_epi8(a, spread0);
                up[2 * k + 1] = _mm_shuffle_epi8(a, spread1);
                low[2 * k] = _mm_shuffle_epi8(b, spread0);
                low[2 * k + 1] = _mm_shuffle_epi8(b, spread1);
            }
            const auto luma = [&lumaK, &lumaAdd](const __m128i* p) ZORVO_SSSE3 {
                __m128i v[4];
                for (int k = 0; k < 4; ++k) {
                    v[k] = Weighted(p[2 * k], p[2 * k + 1], lumaK, lumaAdd, 16);
                }
                return _mm_packus_epi16(_mm_packs_epi32(v[0], v[1]), _mm_packs_epi32(v[2], v[3]));
            };
            _mm_storeu_si128(reinterpret_cast<__m128i*>(rows.luma0 + x), luma(up));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(rows.luma1 + x), luma(low));
            // Two by two sums of blue, green, red, green: two chroma samples a register.
            __m128i sums[4];
            for (int k = 0; k < 4; ++k) {
                const __m128i s0 = _mm_add_epi16(up[2 * k], low[2 * k]);
                const __m128i s1 = _mm_add_epi16(up[2 * k + 1], low[2 * k + 1]);
                sums[k] = _mm_add_epi16(_mm_unpacklo_epi64(s0, s1), _mm_unpackhi_epi64(s0, s1));
            }
            const auto chroma = [&sums, &chromaAdd](__m128i factors) ZORVO_SSSE3 {
                const __m128i v =
                    _mm_packs_epi32(Weighted(sums[0], sums[1], factors, chromaAdd, 18),
                                    Weighted(sums[2], sums[3], factors, chromaAdd, 18));
                return _mm_packus_epi16(v, v);
            };
            _mm_storel_epi64(reinterpret_cast<__m128i*>(rows.cb + x / 2), chroma(cbK));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(rows.cr + x / 2), chroma(crK));
        }
        PlainColumns(rows, f, x, width);
    }
}
#endif

}  // namespace

void BgrToYuv420Plain(const FrameBitmap& picture, const YuvFactors& f, const Yuv420Planes& out) {
    for (int y = 0; y < picture.Height(); y += 2) {
        PlainColumns(RowsAt(picture, out, y), f, 0, picture.Width());
    }
}

void BgrToYuv420(const FrameBitmap& picture, const YuvFactors& f, const Yuv420Planes& out) {
#if ZORVO_YUV_SSSE3
    // A third of the plain code's time.
    if (__builtin_cpu_supports("ssse3")) {
        Ssse3Rows(picture, f, out);
        return;
    }
#endif
    BgrToYuv420Plain(picture, f, out);
}

}  // namespace zorvo
