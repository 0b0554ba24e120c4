// The 128-bit vector operations of the SSE4.1 level (SSSE3 and SSE2 below
// it), under the names that the wide algorithms use at every level: the DXT
// and YCoCg encoders (codec/src/x86) and the RGBA rebuild (reader/src/x86)
// are templates over such a wrapper, and avx2.h and avx512.h give the same
// operations on 256- and 512-bit vectors. A level's wrapper has the
// operations its algorithms use; what only one algorithm needs (its loads,
// transposes, stores) stays with that algorithm.
//
// Include this only from files built with -msse4.1 or more (the *_sse41.cpp
// and *_avx2.cpp files of a library, see cmake/Zemo.cmake): everything here
// has internal linkage, so each such file compiles its own copy with its own
// flags, and nothing built for one instruction set is picked up by code
// built for another.
//
// The operations, with V a vector of integers, F one of float lanes and D
// the lanes of an F widened to double (in two vectors):
//   kVectorBytes: the bytes of a V.
//   Memory: load (any alignment), loadAligned (to the vector's size),
//     load64 (8 bytes, the rest zero), store; broadcast128: 16 bytes in
//     every 128-bit lane.
//   Constants: zero; set8, set16, set32, set64 (every element); bytes16(b...)
//     (these 16 bytes in every 128-bit lane); set1f, set1d.
//   Integers, by element width: add8/16/32, sub16/32/64; addsu8, subsu8,
//     subsu16 (unsigned saturating); mullo16/32 (low half of the product),
//     mulhiu16 (high half, unsigned), mulu32 (even 32-bit elements to 64
//     bits), madd16 (16-bit pairs multiplied and added to 32 bits),
//     maddubs (unsigned bytes of a times signed bytes of b, pairs added to
//     16 bits with saturation), hadd16 (horizontal pairs, a's then b's per
//     128-bit lane); min16, max16, min32, max32 (signed), minu8, maxu8.
//   Compares, giving all-ones or zero elements: cmpeq16/32, cmpgt8/16/32.
//   Bits: and_, or_, xor_, andnot(a, b) = ~a & b; slli, srli, srai<n> by 16,
//     32 or 64 bits (n constant); srl32(a, n): n known only at run time.
//   Selects: blendv(a, b, mask): b where the top bit of mask's byte is set,
//     else a; blendOdd16(a, b): even 16-bit elements of a, odd ones of b;
//     movemask32: one bit per 32-bit element, its top bit.
//   Moves within 128-bit lanes: shuffle8(table, index) (bytes by index,
//     zero where its top bit is set), shuffle16<imm> (the 16-bit elements of
//     each 64-bit half), shuffle32<imm>; packs16/32 (signed saturation),
//     packus16/32 (unsigned); unpacklo/unpackhi 8, 16, 32, 64.
//   gather32(table, index): table[index] per 32-bit element.
//   Floats: toFloat, trunc (toward zero), fadd, fmul, fdiv, fmax, fabs,
//     flt (a < b as an integer mask); doubles: toDouble, dmul, ddiv, dtrunc.
// Every operation is the one instruction (or fixed short sequence) it
// names, so the algorithms' results stay those of their scalar references.
#pragma once

#if !defined(__SSE4_1__)
#error "core/x86/sse41.h needs a file built with -msse4.1 (or more)"
#endif

#include <immintrin.h>

#include <cstdint>

namespace nox::simd {
namespace {

struct Sse41 {
    using V = __m128i;
    using F = __m128;
    struct D {
        __m128d lo, hi;
    };
    static constexpr int kVectorBytes = 16;

    static V load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
    static V loadAligned(const void* p) { return _mm_load_si128(static_cast<const __m128i*>(p)); }
    static V load64(const void* p) { return _mm_loadl_epi64(static_cast<const __m128i*>(p)); }
    static void store(void* p, V v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
    static V broadcast128(const void* p) { return load(p); }

    static V zero() { return _mm_setzero_si128(); }
    static V set8(int8_t x) { return _mm_set1_epi8(x); }
    static V set16(int16_t x) { return _mm_set1_epi16(x); }
    static V set32(int32_t x) { return _mm_set1_epi32(x); }
    static V set64(int64_t x) { return _mm_set1_epi64x(x); }
    template <class... B>
    static V bytes16(B... b)
    {
        return _mm_setr_epi8(int8_t(b)...);
    }
    static F set1f(float x) { return _mm_set1_ps(x); }
    static D set1d(double x) { return {_mm_set1_pd(x), _mm_set1_pd(x)}; }

    static V add8(V a, V b) { return _mm_add_epi8(a, b); }
    static V add16(V a, V b) { return _mm_add_epi16(a, b); }
    static V add32(V a, V b) { return _mm_add_epi32(a, b); }
    static V sub16(V a, V b) { return _mm_sub_epi16(a, b); }
    static V sub32(V a, V b) { return _mm_sub_epi32(a, b); }
    static V sub64(V a, V b) { return _mm_sub_epi64(a, b); }
    static V addsu8(V a, V b) { return _mm_adds_epu8(a, b); }
    static V subsu8(V a, V b) { return _mm_subs_epu8(a, b); }
    static V subsu16(V a, V b) { return _mm_subs_epu16(a, b); }
    static V mullo16(V a, V b) { return _mm_mullo_epi16(a, b); }
    static V mullo32(V a, V b) { return _mm_mullo_epi32(a, b); }
    static V mulhiu16(V a, V b) { return _mm_mulhi_epu16(a, b); }
    static V mulu32(V a, V b) { return _mm_mul_epu32(a, b); }
    static V madd16(V a, V b) { return _mm_madd_epi16(a, b); }
    static V maddubs(V a, V b) { return _mm_maddubs_epi16(a, b); }
    static V hadd16(V a, V b) { return _mm_hadd_epi16(a, b); }
    static V min16(V a, V b) { return _mm_min_epi16(a, b); }
    static V max16(V a, V b) { return _mm_max_epi16(a, b); }
    static V min32(V a, V b) { return _mm_min_epi32(a, b); }
    static V max32(V a, V b) { return _mm_max_epi32(a, b); }
    static V minu8(V a, V b) { return _mm_min_epu8(a, b); }
    static V maxu8(V a, V b) { return _mm_max_epu8(a, b); }

    static V cmpeq16(V a, V b) { return _mm_cmpeq_epi16(a, b); }
    static V cmpeq32(V a, V b) { return _mm_cmpeq_epi32(a, b); }
    static V cmpgt8(V a, V b) { return _mm_cmpgt_epi8(a, b); }
    static V cmpgt16(V a, V b) { return _mm_cmpgt_epi16(a, b); }
    static V cmpgt32(V a, V b) { return _mm_cmpgt_epi32(a, b); }

    static V and_(V a, V b) { return _mm_and_si128(a, b); }
    static V or_(V a, V b) { return _mm_or_si128(a, b); }
    static V xor_(V a, V b) { return _mm_xor_si128(a, b); }
    static V andnot(V a, V b) { return _mm_andnot_si128(a, b); }
    template <int n>
    static V slli16(V a)
    {
        return _mm_slli_epi16(a, n);
    }
    template <int n>
    static V srli16(V a)
    {
        return _mm_srli_epi16(a, n);
    }
    template <int n>
    static V srai16(V a)
    {
        return _mm_srai_epi16(a, n);
    }
    template <int n>
    static V slli32(V a)
    {
        return _mm_slli_epi32(a, n);
    }
    template <int n>
    static V srli32(V a)
    {
        return _mm_srli_epi32(a, n);
    }
    template <int n>
    static V srai32(V a)
    {
        return _mm_srai_epi32(a, n);
    }
    template <int n>
    static V slli64(V a)
    {
        return _mm_slli_epi64(a, n);
    }
    template <int n>
    static V srli64(V a)
    {
        return _mm_srli_epi64(a, n);
    }
    static V srl32(V a, int n) { return _mm_srli_epi32(a, n); }

    static V blendv(V a, V b, V mask) { return _mm_blendv_epi8(a, b, mask); }
    static V blendOdd16(V a, V b) { return _mm_blend_epi16(a, b, 0xAA); }
    static int movemask32(V m) { return _mm_movemask_ps(_mm_castsi128_ps(m)); }

    static V shuffle8(V table, V index) { return _mm_shuffle_epi8(table, index); }
    template <int kImm>
    static V shuffle16(V a)
    {
        return _mm_shufflehi_epi16(_mm_shufflelo_epi16(a, kImm), kImm);
    }
    template <int kImm>
    static V shuffle32(V a)
    {
        return _mm_shuffle_epi32(a, kImm);
    }
    static V packs16(V a, V b) { return _mm_packs_epi16(a, b); }
    static V packs32(V a, V b) { return _mm_packs_epi32(a, b); }
    static V packus16(V a, V b) { return _mm_packus_epi16(a, b); }
    static V packus32(V a, V b) { return _mm_packus_epi32(a, b); }
    static V unpacklo8(V a, V b) { return _mm_unpacklo_epi8(a, b); }
    static V unpackhi8(V a, V b) { return _mm_unpackhi_epi8(a, b); }
    static V unpacklo16(V a, V b) { return _mm_unpacklo_epi16(a, b); }
    static V unpackhi16(V a, V b) { return _mm_unpackhi_epi16(a, b); }
    static V unpacklo32(V a, V b) { return _mm_unpacklo_epi32(a, b); }
    static V unpackhi32(V a, V b) { return _mm_unpackhi_epi32(a, b); }
    static V unpacklo64(V a, V b) { return _mm_unpacklo_epi64(a, b); }
    static V unpackhi64(V a, V b) { return _mm_unpackhi_epi64(a, b); }

    static V gather32(const uint32_t* table, V index)
    {
        return _mm_setr_epi32(int(table[_mm_extract_epi32(index, 0)]), int(table[_mm_extract_epi32(index, 1)]),
                              int(table[_mm_extract_epi32(index, 2)]), int(table[_mm_extract_epi32(index, 3)]));
    }

    static F toFloat(V a) { return _mm_cvtepi32_ps(a); }
    static V trunc(F a) { return _mm_cvttps_epi32(a); }
    static F fadd(F a, F b) { return _mm_add_ps(a, b); }
    static F fmul(F a, F b) { return _mm_mul_ps(a, b); }
    static F fdiv(F a, F b) { return _mm_div_ps(a, b); }
    static F fmax(F a, F b) { return _mm_max_ps(a, b); }
    static F fabs(F a) { return _mm_andnot_ps(_mm_set1_ps(-0.0f), a); }
    static V flt(F a, F b) { return _mm_castps_si128(_mm_cmplt_ps(a, b)); }

    static D toDouble(F a) { return {_mm_cvtps_pd(a), _mm_cvtps_pd(_mm_movehl_ps(a, a))}; }
    static D dmul(D a, D b) { return {_mm_mul_pd(a.lo, b.lo), _mm_mul_pd(a.hi, b.hi)}; }
    static D ddiv(D a, D b) { return {_mm_div_pd(a.lo, b.lo), _mm_div_pd(a.hi, b.hi)}; }
    static V dtrunc(D a) { return _mm_unpacklo_epi64(_mm_cvttpd_epi32(a.lo), _mm_cvttpd_epi32(a.hi)); }
};

}  // namespace
}  // namespace nox::simd
