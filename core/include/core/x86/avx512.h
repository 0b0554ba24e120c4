// The 512-bit vector operations of the AVX-512 level (F, BW, DQ and VL):
// those of sse41.h (see there for what each does) that the algorithms at
// this level use, on four 128-bit lanes. Compares give lane masks here; the
// wrapper turns them into vectors of all-ones or zero elements, as at the
// other levels, so that the algorithms are written once for all of them.
//
// Include this only from files built with -mavx512f -mavx512bw -mavx512dq
// -mavx512vl (the *_avx512.cpp files of a library, see cmake/Zemo.cmake),
// and before any other header that includes <immintrin.h>: GCC 12 takes the
// undefined source operand that its own 512-bit shift intrinsics pass for a
// use of an uninitialised value, and the warnings are turned off here for
// the whole file. Everything here has internal linkage, as in sse41.h.
#pragma once

#if !defined(__AVX512F__) || !defined(__AVX512BW__) || !defined(__AVX512DQ__) || !defined(__AVX512VL__)
#error "core/x86/avx512.h needs a file built with -mavx512f -mavx512bw -mavx512dq -mavx512vl"
#endif

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <immintrin.h>

#include <cstdint>

namespace nox::simd {
namespace {

struct Avx512 {
    using V = __m512i;
    using F = __m512;
    struct D {
        __m512d lo, hi;
    };
    static constexpr int kVectorBytes = 64;

    // A lane mask as a vector and back.
    static V fromMask(__mmask16 m) { return _mm512_movm_epi32(m); }
    static __mmask16 toMask(V m) { return _mm512_movepi32_mask(m); }

    static V broadcast128(const void* p)
    {
        return _mm512_broadcast_i32x4(_mm_loadu_si128(static_cast<const __m128i*>(p)));
    }

    static V load(const void* p) { return _mm512_loadu_si512(p); }
    static V zero() { return _mm512_setzero_si512(); }
    static V set32(int32_t x) { return _mm512_set1_epi32(x); }
    static F set1f(float x) { return _mm512_set1_ps(x); }
    static D set1d(double x) { return {_mm512_set1_pd(x), _mm512_set1_pd(x)}; }

    static V add32(V a, V b) { return _mm512_add_epi32(a, b); }
    static V sub32(V a, V b) { return _mm512_sub_epi32(a, b); }
    static V mullo32(V a, V b) { return _mm512_mullo_epi32(a, b); }
    static V madd16(V a, V b) { return _mm512_madd_epi16(a, b); }
    static V min32(V a, V b) { return _mm512_min_epi32(a, b); }
    static V max32(V a, V b) { return _mm512_max_epi32(a, b); }
    static V minu8(V a, V b) { return _mm512_min_epu8(a, b); }
    static V maxu8(V a, V b) { return _mm512_max_epu8(a, b); }

    static V cmpeq32(V a, V b) { return fromMask(_mm512_cmpeq_epi32_mask(a, b)); }
    static V cmpgt32(V a, V b) { return fromMask(_mm512_cmpgt_epi32_mask(a, b)); }

    static V and_(V a, V b) { return _mm512_and_si512(a, b); }
    static V or_(V a, V b) { return _mm512_or_si512(a, b); }
    static V xor_(V a, V b) { return _mm512_xor_si512(a, b); }
    static V andnot(V a, V b) { return _mm512_andnot_si512(a, b); }
    template <int n>
    static V slli32(V a)
    {
        return _mm512_slli_epi32(a, n);
    }
    template <int n>
    static V srli32(V a)
    {
        return _mm512_srli_epi32(a, n);
    }
    template <int n>
    static V srai32(V a)
    {
        return _mm512_srai_epi32(a, n);
    }
    static V srl32(V a, int n) { return _mm512_srl_epi32(a, _mm_cvtsi32_si128(n)); }

    static V blendv(V a, V b, V mask) { return _mm512_mask_blend_epi8(_mm512_movepi8_mask(mask), a, b); }
    static V blendOdd16(V a, V b) { return _mm512_mask_blend_epi16(0xAAAAAAAAu, a, b); }
    static int movemask32(V m) { return int(toMask(m)); }

    static V shuffle8(V table, V index) { return _mm512_shuffle_epi8(table, index); }

    static V gather32(const uint32_t* table, V index) { return _mm512_i32gather_epi32(index, table, 4); }

    static F toFloat(V a) { return _mm512_cvtepi32_ps(a); }
    static V trunc(F a) { return _mm512_cvttps_epi32(a); }
    static F fadd(F a, F b) { return _mm512_add_ps(a, b); }
    static F fmul(F a, F b) { return _mm512_mul_ps(a, b); }
    static F fdiv(F a, F b) { return _mm512_div_ps(a, b); }
    static F fmax(F a, F b) { return _mm512_max_ps(a, b); }
    static F fabs(F a) { return _mm512_andnot_ps(_mm512_set1_ps(-0.0f), a); }
    static V flt(F a, F b) { return fromMask(_mm512_cmp_ps_mask(a, b, _CMP_LT_OQ)); }

    static D toDouble(F a)
    {
        return {_mm512_cvtps_pd(_mm512_castps512_ps256(a)), _mm512_cvtps_pd(_mm512_extractf32x8_ps(a, 1))};
    }
    static D dmul(D a, D b) { return {_mm512_mul_pd(a.lo, b.lo), _mm512_mul_pd(a.hi, b.hi)}; }
    static D ddiv(D a, D b) { return {_mm512_div_pd(a.lo, b.lo), _mm512_div_pd(a.hi, b.hi)}; }
    static V dtrunc(D a)
    {
        return _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvttpd_epi32(a.lo)), _mm512_cvttpd_epi32(a.hi), 1);
    }
};

}  // namespace
}  // namespace nox::simd
