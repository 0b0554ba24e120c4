// SSE2 kernels of the single-channel block encoder. Integer arithmetic in
// 16-bit lanes whose ranges never wrap for the encoders' inputs, so the
// results equal the scalar reference's.
#if defined(__SSE2__)

#include <emmintrin.h>

#include <cstring>

#include "dxt_internal.h"

namespace nox::detail {

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
    const __m128i t = _mm_or_si128(_mm_or_si128(_mm_and_si128(m4, _mm_set1_epi16(4)), _mm_and_si128(m2, _mm_set1_epi16(2))),
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
    const __m128i vd = _mm_set1_epi16(int16_t(d)), vd2 = _mm_set1_epi16(int16_t(2 * d)), vd4 = _mm_set1_epi16(int16_t(4 * d));
    const __m128i vbias = _mm_set1_epi16(int16_t(bias));
    uint64_t g[4];
    packGroups(rampIndices(_mm_loadu_si128(reinterpret_cast<const __m128i*>(values)), vbias, vd, vd2, vd4), g);
    packGroups(rampIndices(_mm_loadu_si128(reinterpret_cast<const __m128i*>(values + 8)), vbias, vd, vd2, vd4), g + 2);
    const uint64_t bits = g[0] | (g[1] << 12) | (g[2] << 24) | (g[3] << 36);
    for (int i = 0; i < 6; ++i)
        destination[i] = uint8_t(bits >> (8 * i));
}

}  // namespace nox::detail

#endif
