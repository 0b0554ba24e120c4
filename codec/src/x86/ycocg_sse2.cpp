// SSE2 kernels of the single-channel block encoder. Integer arithmetic in
// 16-bit lanes whose ranges never wrap for the encoders' inputs, so the
// results equal the scalar reference's.
#if defined(__SSE2__)

#include <emmintrin.h>

#include <cstring>

#include "dxt_internal.h"

namespace nox::detail {

namespace {

// Horizontal sums of four registers of four 32-bit lanes: lane i of the
// result is the sum of the lanes of register i.
inline __m128i sum4x4(__m128i a, __m128i b, __m128i c, __m128i d)
{
    const __m128i ab = _mm_add_epi32(_mm_unpacklo_epi32(a, b), _mm_unpackhi_epi32(a, b));
    const __m128i cd = _mm_add_epi32(_mm_unpacklo_epi32(c, d), _mm_unpackhi_epi32(c, d));
    return _mm_add_epi32(_mm_unpacklo_epi64(ab, cd), _mm_unpackhi_epi64(ab, cd));
}

// Luma 4*(R + 2G + B) of four pixels as 32-bit lanes.
inline __m128i luma4(__m128i px)
{
    const __m128i zero = _mm_setzero_si128(), k = _mm_setr_epi16(4, 8, 4, 0, 4, 8, 4, 0);
    const __m128 a = _mm_castsi128_ps(_mm_madd_epi16(_mm_unpacklo_epi8(px, zero), k));
    const __m128 b = _mm_castsi128_ps(_mm_madd_epi16(_mm_unpackhi_epi8(px, zero), k));
    return _mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0))),
                         _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1))));
}

// x / 2^shift truncated toward zero (an arithmetic shift rounds down, so
// negative values get 2^shift - 1 added first), plus 255.
template <int kShift>
inline __m128i truncatedDivPlus255(__m128i x)
{
    const __m128i bias = _mm_and_si128(_mm_srai_epi32(x, 31), _mm_set1_epi32((1 << kShift) - 1));
    return _mm_add_epi32(_mm_srai_epi32(_mm_add_epi32(x, bias), kShift), _mm_set1_epi32(255));
}

inline void storeHalves(__m128i v, uint16_t* left, uint16_t* right)
{
    _mm_storel_epi64(reinterpret_cast<__m128i*>(left), v);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(right), _mm_unpackhi_epi64(v, v));
}

}  // namespace

void Sse2RampKernels::gatherTile(const uint8_t* tile, size_t stride, bool withAlpha, TileSamples& s)
{
    const __m128i zero = _mm_setzero_si128();
    // Co and Cg sums by multiply-add: (R, G, B, A) . (1, 0, -1, 0) and
    // (-1, 2, -1, 0), two pixels per register, summed over each group.
    const __m128i kCo = _mm_setr_epi16(1, 0, -1, 0, 1, 0, -1, 0);
    const __m128i kCg = _mm_setr_epi16(-1, 2, -1, 0, -1, 2, -1, 0);
    for (int pair = 0; pair < 4; ++pair) {
        __m128i px[2][2];
        for (int r = 0; r < 2; ++r) {
            const int row = 2 * pair + r;
            const uint8_t* p = tile + size_t(row) * stride;
            px[r][0] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            px[r][1] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
            const int blk = (row >> 2) * 2, k = (row & 3) * 4;
            storeHalves(_mm_packs_epi32(luma4(px[r][0]), luma4(px[r][1])), &s.luma[blk][k], &s.luma[blk + 1][k]);
        }
        // Both rows added per pixel in 16-bit lanes; group g is the two
        // pixels of the g-th unpacked half.
        __m128i halves[4];
        for (int q = 0; q < 2; ++q) {
            halves[2 * q] = _mm_add_epi16(_mm_unpacklo_epi8(px[0][q], zero), _mm_unpacklo_epi8(px[1][q], zero));
            halves[2 * q + 1] = _mm_add_epi16(_mm_unpackhi_epi8(px[0][q], zero), _mm_unpackhi_epi8(px[1][q], zero));
        }
        const __m128i co = sum4x4(_mm_madd_epi16(halves[0], kCo), _mm_madd_epi16(halves[1], kCo),
                                  _mm_madd_epi16(halves[2], kCo), _mm_madd_epi16(halves[3], kCo));
        const __m128i cg = sum4x4(_mm_madd_epi16(halves[0], kCg), _mm_madd_epi16(halves[1], kCg),
                                  _mm_madd_epi16(halves[2], kCg), _mm_madd_epi16(halves[3], kCg));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(&s.co[4 * pair]),
                         _mm_packs_epi32(truncatedDivPlus255<2>(co), zero));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(&s.cg[4 * pair]),
                         _mm_packs_epi32(truncatedDivPlus255<3>(cg), zero));
    }
    if (withAlpha)
        gatherAlpha(tile, stride, s);
}

void Sse2RampKernels::gatherAlpha(const uint8_t* tile, size_t stride, TileSamples& s)
{
    for (int row = 0; row < 8; ++row) {
        const uint8_t* p = tile + size_t(row) * stride;
        const __m128i left = _mm_srli_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), 24);
        const __m128i right = _mm_srli_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), 24);
        const int blk = (row >> 2) * 2, k = (row & 3) * 4;
        storeHalves(_mm_packs_epi32(left, right), &s.alpha[blk][k], &s.alpha[blk + 1][k]);
    }
}

void Sse2RampKernels::minMax(const uint16_t* values, int& mn, int& mx)
{
    const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values));
    const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + 8));
    __m128i lo = _mm_min_epi16(v0, v1), hi = _mm_max_epi16(v0, v1);
    lo = _mm_min_epi16(lo, _mm_srli_si128(lo, 8));
    hi = _mm_max_epi16(hi, _mm_srli_si128(hi, 8));
    lo = _mm_min_epi16(lo, _mm_srli_si128(lo, 4));
    hi = _mm_max_epi16(hi, _mm_srli_si128(hi, 4));
    lo = _mm_min_epi16(lo, _mm_srli_si128(lo, 2));
    hi = _mm_max_epi16(hi, _mm_srli_si128(hi, 2));
    mn = _mm_extract_epi16(lo, 0);
    mx = _mm_extract_epi16(hi, 0);
}

namespace {

// Ramp step t of eight values, then the block's index: (-t) & 7 maps
// t = 1..6 to 7..2 and t = 0, 7 to 0, 1, which the last step swaps.
inline __m128i rampIndices(__m128i v, __m128i bias, __m128i d, __m128i d2, __m128i d4)
{
    const __m128i one = _mm_set1_epi16(1);
    __m128i a = _mm_add_epi16(_mm_mullo_epi16(v, _mm_set1_epi16(7)), bias);
    const __m128i m4 = _mm_cmpgt_epi16(a, _mm_sub_epi16(d4, one));
    a = _mm_sub_epi16(a, _mm_and_si128(m4, d4));
    const __m128i m2 = _mm_cmpgt_epi16(a, _mm_sub_epi16(d2, one));
    a = _mm_sub_epi16(a, _mm_and_si128(m2, d2));
    const __m128i m1 = _mm_cmpgt_epi16(a, _mm_sub_epi16(d, one));
    const __m128i t =
        _mm_or_si128(_mm_or_si128(_mm_and_si128(m4, _mm_set1_epi16(4)), _mm_and_si128(m2, _mm_set1_epi16(2))),
                     _mm_and_si128(m1, one));
    const __m128i index = _mm_and_si128(_mm_sub_epi16(_mm_setzero_si128(), t), _mm_set1_epi16(7));
    return _mm_xor_si128(index, _mm_and_si128(_mm_cmplt_epi16(index, _mm_set1_epi16(2)), one));
}

// Packs eight 3-bit indices (16-bit lanes) into two 12-bit groups: pairs by a
// multiply-add with (1, 8), then pairs of pairs within each 64-bit lane.
inline void packGroups(__m128i index, uint64_t groups[2])
{
    const __m128i pairs = _mm_madd_epi16(index, _mm_setr_epi16(1, 8, 1, 8, 1, 8, 1, 8));
    const __m128i quads = _mm_or_si128(pairs, _mm_srli_epi64(pairs, 26));
    uint64_t lanes[2];
    std::memcpy(lanes, &quads, 16);
    groups[0] = lanes[0] & 0xFFF;
    groups[1] = lanes[1] & 0xFFF;
}

}  // namespace

void Sse2RampKernels::indices(uint8_t* destination, const uint16_t* values, int32_t d, int32_t bias)
{
    const __m128i vd = _mm_set1_epi16(int16_t(d)), vd2 = _mm_set1_epi16(int16_t(2 * d)),
                  vd4 = _mm_set1_epi16(int16_t(4 * d));
    const __m128i vbias = _mm_set1_epi16(int16_t(bias));
    uint64_t g[4];
    packGroups(rampIndices(_mm_loadu_si128(reinterpret_cast<const __m128i*>(values)), vbias, vd, vd2, vd4), g);
    packGroups(rampIndices(_mm_loadu_si128(reinterpret_cast<const __m128i*>(values + 8)), vbias, vd, vd2, vd4), g + 2);
    storeLe48(destination, g[0] | (g[1] << 12) | (g[2] << 24) | (g[3] << 36));
}

}  // namespace nox::detail

#endif
