// SSE2 kernels of the colour block encoder. Integer arithmetic only, so
// every result equals the scalar reference's exactly. SSE2 belongs to every
// x86-64 processor; other targets build none of this.
#if defined(__SSE2__)

#include <emmintrin.h>

#include "dxt_internal.h"

namespace nox::detail {

namespace {

inline __m128i load4(const uint8_t* block, int q)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * q));
}

// Projections of four pixels (16 bytes) on a direction given as 16-bit
// (dR, dG, dB, 0, dR, dG, dB, 0): one multiply-add yields R*dR + G*dG and
// B*dB per pixel, and the two halves are gathered and added.
inline __m128i dots4(__m128i px, __m128i dir)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128 a = _mm_castsi128_ps(_mm_madd_epi16(_mm_unpacklo_epi8(px, zero), dir));
    const __m128 b = _mm_castsi128_ps(_mm_madd_epi16(_mm_unpackhi_epi8(px, zero), dir));
    return _mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0))),
                         _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1))));
}

inline __m128i direction(int r, int g, int b)
{
    return _mm_setr_epi16(int16_t(r), int16_t(g), int16_t(b), 0, int16_t(r), int16_t(g), int16_t(b), 0);
}

inline uint32_t lessMask(__m128i a, __m128i b)
{
    return uint32_t(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmplt_epi32(a, b))));
}

inline uint32_t equalMask(__m128i a, __m128i b)
{
    return uint32_t(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(a, b))));
}

inline __m128i select(__m128i mask, __m128i a, __m128i b)
{
    return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

inline __m128i min32(__m128i a, __m128i b) { return select(_mm_cmplt_epi32(a, b), a, b); }
inline __m128i max32(__m128i a, __m128i b) { return select(_mm_cmpgt_epi32(a, b), a, b); }

// The value of the smallest (largest) lane in every lane.
inline __m128i allMin(__m128i v)
{
    v = min32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    return min32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
}
inline __m128i allMax(__m128i v)
{
    v = max32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    return max32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
}

// w1 = (3, 0, 2, 1)[index] for two pixels (four bits of the index word) in
// the R, G, B lanes of each pixel's half; the A lanes stay 0.
struct PairWeights {
    alignas(16) int16_t w[16][8];
    uint32_t products[16];
};

constexpr PairWeights makePairWeights()
{
    constexpr int16_t kW1[4] = {3, 0, 2, 1};
    constexpr uint32_t kProducts[4] = {0x090000, 0x000900, 0x040102, 0x010402};
    PairWeights t{};
    for (int bits = 0; bits < 16; ++bits) {
        for (int ch = 0; ch < 3; ++ch) {
            t.w[bits][ch] = kW1[bits & 3];
            t.w[bits][4 + ch] = kW1[bits >> 2];
        }
        t.products[bits] = kProducts[bits & 3] + kProducts[bits >> 2];
    }
    return t;
}

constexpr PairWeights kPairWeights = makePairWeights();

}  // namespace

void Sse2ColorKernels::stats(const uint8_t* block, BlockStats& s)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i p0 = load4(block, 0), p1 = load4(block, 1), p2 = load4(block, 2), p3 = load4(block, 3);
    __m128i mn = _mm_min_epu8(_mm_min_epu8(p0, p1), _mm_min_epu8(p2, p3));
    __m128i mx = _mm_max_epu8(_mm_max_epu8(p0, p1), _mm_max_epu8(p2, p3));
    mn = _mm_min_epu8(mn, _mm_srli_si128(mn, 8));
    mn = _mm_min_epu8(mn, _mm_srli_si128(mn, 4));
    mx = _mm_max_epu8(mx, _mm_srli_si128(mx, 8));
    mx = _mm_max_epu8(mx, _mm_srli_si128(mx, 4));
    const uint32_t mins = uint32_t(_mm_cvtsi128_si32(mn)), maxs = uint32_t(_mm_cvtsi128_si32(mx));

    // Sums in 16-bit lanes (at most 16*255).
    __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(p0, zero), _mm_unpackhi_epi8(p0, zero)),
                                _mm_add_epi16(_mm_unpacklo_epi8(p1, zero), _mm_unpackhi_epi8(p1, zero)));
    sum = _mm_add_epi16(sum, _mm_add_epi16(_mm_unpacklo_epi8(p2, zero), _mm_unpackhi_epi8(p2, zero)));
    sum = _mm_add_epi16(sum, _mm_add_epi16(_mm_unpacklo_epi8(p3, zero), _mm_unpackhi_epi8(p3, zero)));
    sum = _mm_add_epi16(sum, _mm_srli_si128(sum, 8));
    s.sum[0] = _mm_extract_epi16(sum, 0);
    s.sum[1] = _mm_extract_epi16(sum, 1);
    s.sum[2] = _mm_extract_epi16(sum, 2);
    for (int ch = 0; ch < 3; ++ch) {
        s.min[ch] = int((mins >> (8 * ch)) & 0xFF);
        s.max[ch] = int((maxs >> (8 * ch)) & 0xFF);
    }
}

void Sse2ColorKernels::covariance(const uint8_t* block, const int mu[3], int cov[6])
{
    // Deviations d = (R, G, B, A) - mean in 16-bit lanes, two pixels per
    // register. Three multiply-adds per register give all six products:
    //   d . (R, 0, B, 0) -> RR, BB;  d . (G, 0, G, 0) -> RG, GB;
    //   d . (0, G, R, 0) -> GG, RB.
    // Each second factor is 0 in the alpha lane, so alpha needs no mask.
    const __m128i zero = _mm_setzero_si128();
    const __m128i mean = direction(mu[0], mu[1], mu[2]);
    const __m128i evens = _mm_setr_epi16(-1, 0, -1, 0, -1, 0, -1, 0);
    const __m128i middle = _mm_setr_epi16(0, -1, -1, 0, 0, -1, -1, 0);
    __m128i rrbb = zero, rggb = zero, ggrb = zero;
    for (int q = 0; q < 4; ++q) {
        const __m128i px = load4(block, q);
        for (int half = 0; half < 2; ++half) {
            const __m128i wide = half ? _mm_unpackhi_epi8(px, zero) : _mm_unpacklo_epi8(px, zero);
            const __m128i d = _mm_sub_epi16(wide, mean);
            const __m128i gggg =
                _mm_shufflehi_epi16(_mm_shufflelo_epi16(d, _MM_SHUFFLE(1, 1, 1, 1)), _MM_SHUFFLE(1, 1, 1, 1));
            const __m128i rgr =
                _mm_shufflehi_epi16(_mm_shufflelo_epi16(d, _MM_SHUFFLE(3, 0, 1, 0)), _MM_SHUFFLE(3, 0, 1, 0));
            rrbb = _mm_add_epi32(rrbb, _mm_madd_epi16(d, _mm_and_si128(d, evens)));
            rggb = _mm_add_epi32(rggb, _mm_madd_epi16(d, _mm_and_si128(gggg, evens)));
            ggrb = _mm_add_epi32(ggrb, _mm_madd_epi16(d, _mm_and_si128(rgr, middle)));
        }
    }
    rrbb = _mm_add_epi32(rrbb, _mm_srli_si128(rrbb, 8));
    rggb = _mm_add_epi32(rggb, _mm_srli_si128(rggb, 8));
    ggrb = _mm_add_epi32(ggrb, _mm_srli_si128(ggrb, 8));
    cov[0] = _mm_cvtsi128_si32(rrbb);
    cov[5] = _mm_cvtsi128_si32(_mm_srli_si128(rrbb, 4));
    cov[1] = _mm_cvtsi128_si32(rggb);
    cov[4] = _mm_cvtsi128_si32(_mm_srli_si128(rggb, 4));
    cov[3] = _mm_cvtsi128_si32(ggrb);
    cov[2] = _mm_cvtsi128_si32(_mm_srli_si128(ggrb, 4));
}

void Sse2ColorKernels::extremes(const uint8_t* block, int axisR, int axisG, int axisB, int& minIndex, int& maxIndex)
{
    // The sequential scan keeps the first pixel reaching the minimum and the
    // first reaching the maximum: find both values, then their first lanes.
    const __m128i axis = direction(axisR, axisG, axisB);
    __m128i d[4];
    for (int q = 0; q < 4; ++q)
        d[q] = dots4(load4(block, q), axis);
    const __m128i mn = allMin(min32(min32(d[0], d[1]), min32(d[2], d[3])));
    const __m128i mx = allMax(max32(max32(d[0], d[1]), max32(d[2], d[3])));
    uint32_t atMin = 0, atMax = 0;
    for (int q = 0; q < 4; ++q) {
        atMin |= equalMask(d[q], mn) << (4 * q);
        atMax |= equalMask(d[q], mx) << (4 * q);
    }
    minIndex = __builtin_ctz(atMin);
    maxIndex = __builtin_ctz(atMax);
}

uint32_t Sse2ColorKernels::assign(const uint8_t* block, const ColorLine& line)
{
    const __m128i dir = direction(line.dirR, line.dirG, line.dirB);
    const __m128i c0Point = _mm_set1_epi32(line.c0Point);
    const __m128i halfPoint = _mm_set1_epi32(line.halfPoint);
    const __m128i c3Point = _mm_set1_epi32(line.c3Point);
    uint32_t low = 0, belowC0 = 0, belowC3 = 0;
    for (int q = 0; q < 4; ++q) {
        const __m128i dot = dots4(load4(block, q), dir);
        low |= lessMask(dot, halfPoint) << (4 * q);
        belowC0 |= lessMask(dot, c0Point) << (4 * q);
        belowC3 |= lessMask(dot, c3Point) << (4 * q);
    }
    // Index bit 0 is set for 1 and 3 (below the half point); bit 1 for 3
    // (below the half point, not below c0Point) and 2 (above it, below c3Point).
    const uint32_t high = ((low & ~belowC0) | (~low & belowC3)) & 0xFFFFu;
    return spreadBits(low) | (spreadBits(high) << 1);
}

void Sse2ColorKernels::weightedSums(const uint8_t* block, uint32_t mask, int at1[3], uint32_t& akku)
{
    // w1 * value <= 765 and sixteen of them <= 12240: 16-bit lanes suffice.
    const __m128i zero = _mm_setzero_si128();
    __m128i acc = zero;
    uint32_t products = 0;
    for (int q = 0; q < 4; ++q) {
        const __m128i px = load4(block, q);
        const uint32_t lo = (mask >> (8 * q)) & 15, hi = (mask >> (8 * q + 4)) & 15;
        const __m128i wlo = _mm_load_si128(reinterpret_cast<const __m128i*>(kPairWeights.w[lo]));
        const __m128i whi = _mm_load_si128(reinterpret_cast<const __m128i*>(kPairWeights.w[hi]));
        acc = _mm_add_epi16(acc, _mm_mullo_epi16(_mm_unpacklo_epi8(px, zero), wlo));
        acc = _mm_add_epi16(acc, _mm_mullo_epi16(_mm_unpackhi_epi8(px, zero), whi));
        products += kPairWeights.products[lo] + kPairWeights.products[hi];
    }
    acc = _mm_add_epi16(acc, _mm_srli_si128(acc, 8));
    at1[0] = _mm_extract_epi16(acc, 0);
    at1[1] = _mm_extract_epi16(acc, 1);
    at1[2] = _mm_extract_epi16(acc, 2);
    akku = products;
}

}  // namespace nox::detail

#endif
