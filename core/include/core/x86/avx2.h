// The 256-bit vector operations of the AVX2 level: the operations of
// sse41.h (see there for what each does) on two 128-bit lanes, and a few
// that move data across the lanes.
//
// Include this only from files built with -mavx2 (the *_avx2.cpp files of a
// library, see cmake/Zemo.cmake, which also keeps FMA off: fused
// multiply-adds would change the float results). Everything here has
// internal linkage, as in sse41.h.
#pragma once

#if !defined(__AVX2__)
#error "core/x86/avx2.h needs a file built with -mavx2"
#endif

#include <immintrin.h>

#include <cstdint>

namespace nox::simd {
namespace {

struct Avx2 {
    using V = __m256i;
    using F = __m256;
    struct D {
        __m256d lo, hi;
    };
    static constexpr int kVectorBytes = 32;

    static V load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
    static V loadAligned(const void* p) { return _mm256_load_si256(static_cast<const __m256i*>(p)); }
    static void store(void* p, V v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
    static V broadcast128(const void* p)
    {
        return _mm256_broadcastsi128_si256(_mm_loadu_si128(static_cast<const __m128i*>(p)));
    }

    static V zero() { return _mm256_setzero_si256(); }
    static V set8(int8_t x) { return _mm256_set1_epi8(x); }
    static V set16(int16_t x) { return _mm256_set1_epi16(x); }
    static V set32(int32_t x) { return _mm256_set1_epi32(x); }
    static V set64(int64_t x) { return _mm256_set1_epi64x(x); }
    template <class... B>
    static V bytes16(B... b)
    {
        return _mm256_broadcastsi128_si256(_mm_setr_epi8(int8_t(b)...));
    }
    static F set1f(float x) { return _mm256_set1_ps(x); }
    static D set1d(double x) { return {_mm256_set1_pd(x), _mm256_set1_pd(x)}; }

    static V add8(V a, V b) { return _mm256_add_epi8(a, b); }
    static V add16(V a, V b) { return _mm256_add_epi16(a, b); }
    static V add32(V a, V b) { return _mm256_add_epi32(a, b); }
    static V sub16(V a, V b) { return _mm256_sub_epi16(a, b); }
    static V sub32(V a, V b) { return _mm256_sub_epi32(a, b); }
    static V sub64(V a, V b) { return _mm256_sub_epi64(a, b); }
    static V addsu8(V a, V b) { return _mm256_adds_epu8(a, b); }
    static V subsu8(V a, V b) { return _mm256_subs_epu8(a, b); }
    static V subsu16(V a, V b) { return _mm256_subs_epu16(a, b); }
    static V mullo16(V a, V b) { return _mm256_mullo_epi16(a, b); }
    static V mullo32(V a, V b) { return _mm256_mullo_epi32(a, b); }
    static V mulhiu16(V a, V b) { return _mm256_mulhi_epu16(a, b); }
    static V mulu32(V a, V b) { return _mm256_mul_epu32(a, b); }
    static V madd16(V a, V b) { return _mm256_madd_epi16(a, b); }
    static V maddubs(V a, V b) { return _mm256_maddubs_epi16(a, b); }
    static V hadd16(V a, V b) { return _mm256_hadd_epi16(a, b); }
    static V min16(V a, V b) { return _mm256_min_epi16(a, b); }
    static V max16(V a, V b) { return _mm256_max_epi16(a, b); }
    static V min32(V a, V b) { return _mm256_min_epi32(a, b); }
    static V max32(V a, V b) { return _mm256_max_epi32(a, b); }
    static V minu8(V a, V b) { return _mm256_min_epu8(a, b); }
    static V maxu8(V a, V b) { return _mm256_max_epu8(a, b); }

    static V cmpeq16(V a, V b) { return _mm256_cmpeq_epi16(a, b); }
    static V cmpeq32(V a, V b) { return _mm256_cmpeq_epi32(a, b); }
    static V cmpgt8(V a, V b) { return _mm256_cmpgt_epi8(a, b); }
    static V cmpgt16(V a, V b) { return _mm256_cmpgt_epi16(a, b); }
    static V cmpgt32(V a, V b) { return _mm256_cmpgt_epi32(a, b); }

    static V and_(V a, V b) { return _mm256_and_si256(a, b); }
    static V or_(V a, V b) { return _mm256_or_si256(a, b); }
    static V xor_(V a, V b) { return _mm256_xor_si256(a, b); }
    static V andnot(V a, V b) { return _mm256_andnot_si256(a, b); }
    template <int n>
    static V slli16(V a)
    {
        return _mm256_slli_epi16(a, n);
    }
    template <int n>
    static V srli16(V a)
    {
        return _mm256_srli_epi16(a, n);
    }
    template <int n>
    static V srai16(V a)
    {
        return _mm256_srai_epi16(a, n);
    }
    template <int n>
    static V slli32(V a)
    {
        return _mm256_slli_epi32(a, n);
    }
    template <int n>
    static V srli32(V a)
    {
        return _mm256_srli_epi32(a, n);
    }
    template <int n>
    static V srai32(V a)
    {
        return _mm256_srai_epi32(a, n);
    }
    template <int n>
    static V slli64(V a)
    {
        return _mm256_slli_epi64(a, n);
    }
    template <int n>
    static V srli64(V a)
    {
        return _mm256_srli_epi64(a, n);
    }
    static V srl32(V a, int n) { return _mm256_srli_epi32(a, n); }

    static V blendv(V a, V b, V mask) { return _mm256_blendv_epi8(a, b, mask); }
    static V blendOdd16(V a, V b) { return _mm256_blend_epi16(a, b, 0xAA); }
    static int movemask32(V m) { return _mm256_movemask_ps(_mm256_castsi256_ps(m)); }

    static V shuffle8(V table, V index) { return _mm256_shuffle_epi8(table, index); }
    template <int kImm>
    static V shuffle16(V a)
    {
        return _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(a, kImm), kImm);
    }
    template <int kImm>
    static V shuffle32(V a)
    {
        return _mm256_shuffle_epi32(a, kImm);
    }
    static V packs16(V a, V b) { return _mm256_packs_epi16(a, b); }
    static V packs32(V a, V b) { return _mm256_packs_epi32(a, b); }
    static V packus16(V a, V b) { return _mm256_packus_epi16(a, b); }
    static V packus32(V a, V b) { return _mm256_packus_epi32(a, b); }
    static V unpacklo8(V a, V b) { return _mm256_unpacklo_epi8(a, b); }
    static V unpackhi8(V a, V b) { return _mm256_unpackhi_epi8(a, b); }
    static V unpacklo16(V a, V b) { return _mm256_unpacklo_epi16(a, b); }
    static V unpackhi16(V a, V b) { return _mm256_unpackhi_epi16(a, b); }
    static V unpacklo32(V a, V b) { return _mm256_unpacklo_epi32(a, b); }
    static V unpackhi32(V a, V b) { return _mm256_unpackhi_epi32(a, b); }
    static V unpacklo64(V a, V b) { return _mm256_unpacklo_epi64(a, b); }
    static V unpackhi64(V a, V b) { return _mm256_unpackhi_epi64(a, b); }

    // Across the 128-bit lanes: lanes kSelect (as the instruction's
    // immediate) of a and b; lane kLane of a in both lanes; the 64-bit
    // elements of a by kImm; the 32-bit elements of a by index.
    template <int kSelect>
    static V permute128(V a, V b)
    {
        return _mm256_permute2x128_si256(a, b, kSelect);
    }
    template <int kLane>
    static V lane128(V a)
    {
        return _mm256_permute2x128_si256(a, a, kLane * 0x11);
    }
    template <int kImm>
    static V permute64(V a)
    {
        return _mm256_permute4x64_epi64(a, kImm);
    }
    static V permute32(V a, V index) { return _mm256_permutevar8x32_epi32(a, index); }

    static V gather32(const uint32_t* table, V index)
    {
        return _mm256_i32gather_epi32(reinterpret_cast<const int*>(table), index, 4);
    }

    static F toFloat(V a) { return _mm256_cvtepi32_ps(a); }
    static V trunc(F a) { return _mm256_cvttps_epi32(a); }
    static F fadd(F a, F b) { return _mm256_add_ps(a, b); }
    static F fmul(F a, F b) { return _mm256_mul_ps(a, b); }
    static F fdiv(F a, F b) { return _mm256_div_ps(a, b); }
    static F fmax(F a, F b) { return _mm256_max_ps(a, b); }
    static F fabs(F a) { return _mm256_andnot_ps(_mm256_set1_ps(-0.0f), a); }
    static V flt(F a, F b) { return _mm256_castps_si256(_mm256_cmp_ps(a, b, _CMP_LT_OQ)); }

    static D toDouble(F a)
    {
        return {_mm256_cvtps_pd(_mm256_castps256_ps128(a)), _mm256_cvtps_pd(_mm256_extractf128_ps(a, 1))};
    }
    static D dmul(D a, D b) { return {_mm256_mul_pd(a.lo, b.lo), _mm256_mul_pd(a.hi, b.hi)}; }
    static D ddiv(D a, D b) { return {_mm256_div_pd(a.lo, b.lo), _mm256_div_pd(a.hi, b.hi)}; }
    static V dtrunc(D a) { return _mm256_set_m128i(_mm256_cvttpd_epi32(a.hi), _mm256_cvttpd_epi32(a.lo)); }
};

}  // namespace
}  // namespace nox::simd
