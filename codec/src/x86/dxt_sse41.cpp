// The DXT block encoders four blocks at a time in SSE4.1 registers (the
// 32-bit multiplies, minima, maxima and blends are what SSE2 lacks).
// Chosen at run time only on processors that have SSE4.1.
#if defined(__x86_64__)

#include <smmintrin.h>

#include "dxt_internal.h"

namespace nox::detail {
namespace {

struct Sse41Ops {
    using I = __m128i;
    using F = __m128;
    struct D {
        __m128d lo, hi;
    };
    static constexpr int kLanes = 4;

    static I set1(int32_t v) { return _mm_set1_epi32(v); }
    static F set1f(float v) { return _mm_set1_ps(v); }
    static D set1d(double v) { return {_mm_set1_pd(v), _mm_set1_pd(v)}; }

    static I add(I a, I b) { return _mm_add_epi32(a, b); }
    static I sub(I a, I b) { return _mm_sub_epi32(a, b); }
    static I mullo(I a, I b) { return _mm_mullo_epi32(a, b); }
    // Even 16-bit elements from a, odd ones from b.
    static I blend16odd(I a, I b) { return _mm_blend_epi16(a, b, 0xAA); }
    static I madd(I a, I b) { return _mm_madd_epi16(a, b); }
    static I band(I a, I b) { return _mm_and_si128(a, b); }
    static I bor(I a, I b) { return _mm_or_si128(a, b); }
    static I bxor(I a, I b) { return _mm_xor_si128(a, b); }
    static I bandnot(I a, I b) { return _mm_andnot_si128(a, b); }
    template <int n>
    static I shl(I a)
    {
        return _mm_slli_epi32(a, n);
    }
    template <int n>
    static I shr(I a)
    {
        return _mm_srli_epi32(a, n);
    }
    template <int n>
    static I sar(I a)
    {
        return _mm_srai_epi32(a, n);
    }
    static I shrv(I a, int n) { return _mm_srli_epi32(a, n); }
    static I eq(I a, I b) { return _mm_cmpeq_epi32(a, b); }
    static I gt(I a, I b) { return _mm_cmpgt_epi32(a, b); }
    static I min(I a, I b) { return _mm_min_epi32(a, b); }
    static I max(I a, I b) { return _mm_max_epi32(a, b); }
    static I minu8(I a, I b) { return _mm_min_epu8(a, b); }
    static I maxu8(I a, I b) { return _mm_max_epu8(a, b); }
    static I blend(I m, I a, I b) { return _mm_blendv_epi8(b, a, m); }
    static int lanes(I m) { return _mm_movemask_ps(_mm_castsi128_ps(m)); }
    static I table16(const uint8_t* t) { return _mm_load_si128(reinterpret_cast<const __m128i*>(t)); }
    static I bytes(I table, I idx) { return _mm_shuffle_epi8(table, idx); }
    static I lookup(const uint32_t* table, I idx)
    {
        return _mm_setr_epi32(int(table[_mm_extract_epi32(idx, 0)]), int(table[_mm_extract_epi32(idx, 1)]),
                              int(table[_mm_extract_epi32(idx, 2)]), int(table[_mm_extract_epi32(idx, 3)]));
    }

    static F toFloat(I a) { return _mm_cvtepi32_ps(a); }
    static I trunc(F a) { return _mm_cvttps_epi32(a); }
    static F fadd(F a, F b) { return _mm_add_ps(a, b); }
    static F fmul(F a, F b) { return _mm_mul_ps(a, b); }
    static F fdiv(F a, F b) { return _mm_div_ps(a, b); }
    static F fmax(F a, F b) { return _mm_max_ps(a, b); }
    static F fabs(F a) { return _mm_andnot_ps(_mm_set1_ps(-0.0f), a); }
    static I flt(F a, F b) { return _mm_castps_si128(_mm_cmplt_ps(a, b)); }

    static D toDouble(F a) { return {_mm_cvtps_pd(a), _mm_cvtps_pd(_mm_movehl_ps(a, a))}; }
    static D dmul(D a, D b) { return {_mm_mul_pd(a.lo, b.lo), _mm_mul_pd(a.hi, b.hi)}; }
    static D ddiv(D a, D b) { return {_mm_div_pd(a.lo, b.lo), _mm_div_pd(a.hi, b.hi)}; }
    static I dtrunc(D a) { return _mm_unpacklo_epi64(_mm_cvttpd_epi32(a.lo), _mm_cvttpd_epi32(a.hi)); }

    // Per row, one load per block and a 4x4 transpose.
    static void loadGroup(const uint8_t* p, size_t stride, I px[16])
    {
        for (int j = 0; j < 4; ++j) {
            const __m128i* row = reinterpret_cast<const __m128i*>(p + size_t(j) * stride);
            const I a = _mm_loadu_si128(row), b = _mm_loadu_si128(row + 1);
            const I c = _mm_loadu_si128(row + 2), d = _mm_loadu_si128(row + 3);
            const I t0 = _mm_unpacklo_epi32(a, b), t1 = _mm_unpacklo_epi32(c, d);
            const I t2 = _mm_unpackhi_epi32(a, b), t3 = _mm_unpackhi_epi32(c, d);
            px[4 * j + 0] = _mm_unpacklo_epi64(t0, t1);
            px[4 * j + 1] = _mm_unpackhi_epi64(t0, t1);
            px[4 * j + 2] = _mm_unpacklo_epi64(t2, t3);
            px[4 * j + 3] = _mm_unpackhi_epi64(t2, t3);
        }
    }

    static void store2(uint8_t* out, I a, I b)
    {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi32(a, b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi32(a, b));
    }

    static void store4(uint8_t* out, I a, I b, I c, I d)
    {
        const I t0 = _mm_unpacklo_epi32(a, b), t1 = _mm_unpacklo_epi32(c, d);
        const I t2 = _mm_unpackhi_epi32(a, b), t3 = _mm_unpackhi_epi32(c, d);
        __m128i* o = reinterpret_cast<__m128i*>(out);
        _mm_storeu_si128(o, _mm_unpacklo_epi64(t0, t1));
        _mm_storeu_si128(o + 1, _mm_unpackhi_epi64(t0, t1));
        _mm_storeu_si128(o + 2, _mm_unpacklo_epi64(t2, t3));
        _mm_storeu_si128(o + 3, _mm_unpackhi_epi64(t2, t3));
    }
};

}  // namespace
}  // namespace nox::detail

#include "dxt_lanes.h"

namespace nox::detail {

namespace {
using Sse41Dxt = DxtLanes<Sse41Ops>;
}  // namespace

const LaneEncoders kSse41LaneEncoders = {
    &Sse41Dxt::encodeTexture<false>,
    &Sse41Dxt::encodeTexture<true>,
};

}  // namespace nox::detail

#endif
