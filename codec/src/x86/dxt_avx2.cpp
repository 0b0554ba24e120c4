// The DXT block encoders eight blocks at a time in AVX2 registers. Built
// with -mavx2 -mno-fma (no fused multiply-adds: they would change the float
// results); chosen at run time only on processors that have AVX2.
#if defined(__x86_64__)

#include <immintrin.h>

#include "dxt_internal.h"

namespace nox::detail {
namespace {

struct Avx2Ops {
    using I = __m256i;
    using F = __m256;
    struct D {
        __m256d lo, hi;
    };
    static constexpr int kLanes = 8;

    static I set1(int32_t v) { return _mm256_set1_epi32(v); }
    static F set1f(float v) { return _mm256_set1_ps(v); }
    static D set1d(double v) { return {_mm256_set1_pd(v), _mm256_set1_pd(v)}; }

    static I add(I a, I b) { return _mm256_add_epi32(a, b); }
    static I sub(I a, I b) { return _mm256_sub_epi32(a, b); }
    static I mullo(I a, I b) { return _mm256_mullo_epi32(a, b); }
    // Even 16-bit elements from a, odd ones from b.
    static I blend16odd(I a, I b) { return _mm256_blend_epi16(a, b, 0xAA); }
    static I madd(I a, I b) { return _mm256_madd_epi16(a, b); }
    static I band(I a, I b) { return _mm256_and_si256(a, b); }
    static I bor(I a, I b) { return _mm256_or_si256(a, b); }
    static I bxor(I a, I b) { return _mm256_xor_si256(a, b); }
    static I bandnot(I a, I b) { return _mm256_andnot_si256(a, b); }
    template <int n>
    static I shl(I a)
    {
        return _mm256_slli_epi32(a, n);
    }
    template <int n>
    static I shr(I a)
    {
        return _mm256_srli_epi32(a, n);
    }
    template <int n>
    static I sar(I a)
    {
        return _mm256_srai_epi32(a, n);
    }
    static I shrv(I a, int n) { return _mm256_srli_epi32(a, n); }
    static I eq(I a, I b) { return _mm256_cmpeq_epi32(a, b); }
    static I gt(I a, I b) { return _mm256_cmpgt_epi32(a, b); }
    static I min(I a, I b) { return _mm256_min_epi32(a, b); }
    static I max(I a, I b) { return _mm256_max_epi32(a, b); }
    static I minu8(I a, I b) { return _mm256_min_epu8(a, b); }
    static I maxu8(I a, I b) { return _mm256_max_epu8(a, b); }
    static I blend(I m, I a, I b) { return _mm256_blendv_epi8(b, a, m); }
    static int lanes(I m) { return _mm256_movemask_ps(_mm256_castsi256_ps(m)); }
    static I table16(const uint8_t* t)
    {
        return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(t)));
    }
    static I bytes(I table, I idx) { return _mm256_shuffle_epi8(table, idx); }
    static I lookup(const uint32_t* table, I idx)
    {
        return _mm256_i32gather_epi32(reinterpret_cast<const int*>(table), idx, 4);
    }

    static F toFloat(I a) { return _mm256_cvtepi32_ps(a); }
    static I trunc(F a) { return _mm256_cvttps_epi32(a); }
    static F fadd(F a, F b) { return _mm256_add_ps(a, b); }
    static F fmul(F a, F b) { return _mm256_mul_ps(a, b); }
    static F fdiv(F a, F b) { return _mm256_div_ps(a, b); }
    static F fmax(F a, F b) { return _mm256_max_ps(a, b); }
    static F fabs(F a) { return _mm256_andnot_ps(_mm256_set1_ps(-0.0f), a); }
    static I flt(F a, F b) { return _mm256_castps_si256(_mm256_cmp_ps(a, b, _CMP_LT_OQ)); }

    static D toDouble(F a)
    {
        return {_mm256_cvtps_pd(_mm256_castps256_ps128(a)), _mm256_cvtps_pd(_mm256_extractf128_ps(a, 1))};
    }
    static D dmul(D a, D b) { return {_mm256_mul_pd(a.lo, b.lo), _mm256_mul_pd(a.hi, b.hi)}; }
    static D ddiv(D a, D b) { return {_mm256_div_pd(a.lo, b.lo), _mm256_div_pd(a.hi, b.hi)}; }
    static I dtrunc(D a) { return _mm256_set_m128i(_mm256_cvttpd_epi32(a.hi), _mm256_cvttpd_epi32(a.lo)); }

    // Per row, four loads of two blocks each; pairing the 128-bit halves as
    // (0, 4), (1, 5), (2, 6), (3, 7) before a 4x4 transpose inside each half
    // leaves the blocks in lane order.
    static void loadGroup(const uint8_t* p, size_t stride, I px[16])
    {
        for (int j = 0; j < 4; ++j) {
            const __m256i* row = reinterpret_cast<const __m256i*>(p + size_t(j) * stride);
            const I l0 = _mm256_loadu_si256(row), l1 = _mm256_loadu_si256(row + 1);
            const I l2 = _mm256_loadu_si256(row + 2), l3 = _mm256_loadu_si256(row + 3);
            const I a = _mm256_permute2x128_si256(l0, l2, 0x20), b = _mm256_permute2x128_si256(l0, l2, 0x31);
            const I c = _mm256_permute2x128_si256(l1, l3, 0x20), d = _mm256_permute2x128_si256(l1, l3, 0x31);
            const I t0 = _mm256_unpacklo_epi32(a, b), t1 = _mm256_unpacklo_epi32(c, d);
            const I t2 = _mm256_unpackhi_epi32(a, b), t3 = _mm256_unpackhi_epi32(c, d);
            px[4 * j + 0] = _mm256_unpacklo_epi64(t0, t1);
            px[4 * j + 1] = _mm256_unpackhi_epi64(t0, t1);
            px[4 * j + 2] = _mm256_unpacklo_epi64(t2, t3);
            px[4 * j + 3] = _mm256_unpackhi_epi64(t2, t3);
        }
    }

    static void store2(uint8_t* out, I a, I b)
    {
        const I lo = _mm256_unpacklo_epi32(a, b), hi = _mm256_unpackhi_epi32(a, b);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute2x128_si256(lo, hi, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), _mm256_permute2x128_si256(lo, hi, 0x31));
    }

    static void store4(uint8_t* out, I a, I b, I c, I d)
    {
        const I t0 = _mm256_unpacklo_epi32(a, b), t1 = _mm256_unpacklo_epi32(c, d);
        const I t2 = _mm256_unpackhi_epi32(a, b), t3 = _mm256_unpackhi_epi32(c, d);
        const I r0 = _mm256_unpacklo_epi64(t0, t1), r1 = _mm256_unpackhi_epi64(t0, t1);
        const I r2 = _mm256_unpacklo_epi64(t2, t3), r3 = _mm256_unpackhi_epi64(t2, t3);
        __m256i* o = reinterpret_cast<__m256i*>(out);
        _mm256_storeu_si256(o, _mm256_permute2x128_si256(r0, r1, 0x20));
        _mm256_storeu_si256(o + 1, _mm256_permute2x128_si256(r2, r3, 0x20));
        _mm256_storeu_si256(o + 2, _mm256_permute2x128_si256(r0, r1, 0x31));
        _mm256_storeu_si256(o + 3, _mm256_permute2x128_si256(r2, r3, 0x31));
    }
};

}  // namespace
}  // namespace nox::detail

#include "dxt_lanes.h"

namespace nox::detail {

namespace {
using Avx2Dxt = DxtLanes<Avx2Ops>;
}  // namespace

const LaneEncoders kAvx2LaneEncoders = {
    &Avx2Dxt::encodeTexture<false>,
    &Avx2Dxt::encodeTexture<true>,
};

}  // namespace nox::detail

#endif
