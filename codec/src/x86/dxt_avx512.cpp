// The DXT block encoders sixteen blocks at a time in AVX-512 registers
// (F, BW, DQ and VL). Built with those; the build's -ffp-contract=off keeps
// multiplies and adds apart (fused ones would change the float results).
// Chosen at run time only on processors that have them. Comparisons give
// lane masks, which the shared lane code takes as vectors of all-ones or zero
// lanes, as in the AVX2 code.
#if defined(__x86_64__)

// GCC 12 takes the undefined source operand that its own 512-bit shift
// intrinsics pass for a use of an uninitialised value; nothing here is one.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <immintrin.h>

#include "dxt_internal.h"

namespace nox::detail {
namespace {

struct Avx512Ops {
    using I = __m512i;
    using F = __m512;
    struct D {
        __m512d lo, hi;
    };
    static constexpr int kLanes = 16;

    static I set1(int32_t v) { return _mm512_set1_epi32(v); }
    static F set1f(float v) { return _mm512_set1_ps(v); }
    static D set1d(double v) { return {_mm512_set1_pd(v), _mm512_set1_pd(v)}; }

    static I mask(__mmask16 m) { return _mm512_movm_epi32(m); }
    static __mmask16 bits(I m) { return _mm512_movepi32_mask(m); }

    static I add(I a, I b) { return _mm512_add_epi32(a, b); }
    static I sub(I a, I b) { return _mm512_sub_epi32(a, b); }
    static I mullo(I a, I b) { return _mm512_mullo_epi32(a, b); }
    // Even 16-bit elements from a, odd ones from b.
    static I blend16odd(I a, I b) { return _mm512_mask_blend_epi16(0xAAAAAAAAu, a, b); }
    static I madd(I a, I b) { return _mm512_madd_epi16(a, b); }
    static I band(I a, I b) { return _mm512_and_si512(a, b); }
    static I bor(I a, I b) { return _mm512_or_si512(a, b); }
    static I bxor(I a, I b) { return _mm512_xor_si512(a, b); }
    static I bandnot(I a, I b) { return _mm512_andnot_si512(a, b); }
    template <int n>
    static I shl(I a)
    {
        return _mm512_slli_epi32(a, n);
    }
    template <int n>
    static I shr(I a)
    {
        return _mm512_srli_epi32(a, n);
    }
    template <int n>
    static I sar(I a)
    {
        return _mm512_srai_epi32(a, n);
    }
    static I shrv(I a, int n) { return _mm512_srl_epi32(a, _mm_cvtsi32_si128(n)); }
    static I eq(I a, I b) { return mask(_mm512_cmpeq_epi32_mask(a, b)); }
    static I gt(I a, I b) { return mask(_mm512_cmpgt_epi32_mask(a, b)); }
    static I min(I a, I b) { return _mm512_min_epi32(a, b); }
    static I max(I a, I b) { return _mm512_max_epi32(a, b); }
    static I minu8(I a, I b) { return _mm512_min_epu8(a, b); }
    static I maxu8(I a, I b) { return _mm512_max_epu8(a, b); }
    static I blend(I m, I a, I b) { return _mm512_mask_blend_epi32(bits(m), b, a); }
    static int lanes(I m) { return int(bits(m)); }
    static I table16(const uint8_t* t)
    {
        return _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(t)));
    }
    static I bytes(I table, I idx) { return _mm512_shuffle_epi8(table, idx); }
    static I lookup(const uint32_t* table, I idx) { return _mm512_i32gather_epi32(idx, table, 4); }

    static F toFloat(I a) { return _mm512_cvtepi32_ps(a); }
    static I trunc(F a) { return _mm512_cvttps_epi32(a); }
    static F fadd(F a, F b) { return _mm512_add_ps(a, b); }
    static F fmul(F a, F b) { return _mm512_mul_ps(a, b); }
    static F fdiv(F a, F b) { return _mm512_div_ps(a, b); }
    static F fmax(F a, F b) { return _mm512_max_ps(a, b); }
    static F fabs(F a) { return _mm512_andnot_ps(_mm512_set1_ps(-0.0f), a); }
    static I flt(F a, F b) { return mask(_mm512_cmp_ps_mask(a, b, _CMP_LT_OQ)); }

    static D toDouble(F a)
    {
        return {_mm512_cvtps_pd(_mm512_castps512_ps256(a)), _mm512_cvtps_pd(_mm512_extractf32x8_ps(a, 1))};
    }
    static D dmul(D a, D b) { return {_mm512_mul_pd(a.lo, b.lo), _mm512_mul_pd(a.hi, b.hi)}; }
    static D ddiv(D a, D b) { return {_mm512_div_pd(a.lo, b.lo), _mm512_div_pd(a.hi, b.hi)}; }
    static I dtrunc(D a)
    {
        return _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvttpd_epi32(a.lo)), _mm512_cvttpd_epi32(a.hi), 1);
    }

    // Per row, four loads of four blocks each (sixteen pixels); pixel i of
    // every block is every fourth pixel from i, gathered from the four loads
    // by two two-source permutes and one that joins their halves.
    static void loadGroup(const uint8_t* p, size_t stride, I px[16])
    {
        for (int j = 0; j < 4; ++j) {
            const __m512i* row = reinterpret_cast<const __m512i*>(p + size_t(j) * stride);
            const I l0 = _mm512_loadu_si512(row), l1 = _mm512_loadu_si512(row + 1);
            const I l2 = _mm512_loadu_si512(row + 2), l3 = _mm512_loadu_si512(row + 3);
            for (int i = 0; i < 4; ++i) {
                // Elements i, i + 4, ..., i + 28 of the 32 in (a, b), in the low
                // half; the high half of the result is not used.
                const I every4 = _mm512_castsi256_si512(
                    _mm256_setr_epi32(i, i + 4, i + 8, i + 12, i + 16, i + 20, i + 24, i + 28));
                const I low = _mm512_permutex2var_epi32(l0, every4, l1);
                const I high = _mm512_permutex2var_epi32(l2, every4, l3);
                px[4 * j + i] = _mm512_inserti64x4(low, _mm512_castsi512_si256(high), 1);
            }
        }
    }

    // Lane b of a, then of b, for every lane in turn.
    static void store2(uint8_t* out, I a, I b)
    {
        const I lo = _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
        const I hi = _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
        _mm512_storeu_si512(out, _mm512_permutex2var_epi32(a, lo, b));
        _mm512_storeu_si512(out + 64, _mm512_permutex2var_epi32(a, hi, b));
    }

    // Lane b of a, b, c and d, for every lane in turn: pairs (a, b) and
    // (c, d) interleaved, then their 64-bit pairs.
    static void store4(uint8_t* out, I a, I b, I c, I d)
    {
        const I lo = _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
        const I hi = _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
        const I ab0 = _mm512_permutex2var_epi32(a, lo, b), ab1 = _mm512_permutex2var_epi32(a, hi, b);
        const I cd0 = _mm512_permutex2var_epi32(c, lo, d), cd1 = _mm512_permutex2var_epi32(c, hi, d);
        const I first = _mm512_setr_epi64(0, 8, 1, 9, 2, 10, 3, 11);
        const I second = _mm512_setr_epi64(4, 12, 5, 13, 6, 14, 7, 15);
        _mm512_storeu_si512(out, _mm512_permutex2var_epi64(ab0, first, cd0));
        _mm512_storeu_si512(out + 64, _mm512_permutex2var_epi64(ab0, second, cd0));
        _mm512_storeu_si512(out + 128, _mm512_permutex2var_epi64(ab1, first, cd1));
        _mm512_storeu_si512(out + 192, _mm512_permutex2var_epi64(ab1, second, cd1));
    }
};

}  // namespace
}  // namespace nox::detail

#include "dxt_lanes.h"

namespace nox::detail {

namespace {
using Avx512Dxt = DxtLanes<Avx512Ops>;
}  // namespace

const LaneEncoders kAvx512LaneEncoders = {
    &Avx512Dxt::encodeTexture<false>,
    &Avx512Dxt::encodeTexture<true>,
};

}  // namespace nox::detail

#endif
