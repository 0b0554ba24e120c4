// AVX2 level of the YCoCg encoders: four blocks per vector (see ycocg_simd.h).
#if defined(__x86_64__)

#include <immintrin.h>

#include "ycocg_simd.h"

namespace nox::detail {

namespace {

struct Avx2Lanes {
    using V = __m256i;
    static constexpr size_t kSlots = 4;
    static constexpr size_t kPixels = 8;

    static V load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static void store(uint8_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
    // Slots come as (0, 2 | 1, 3) from the in-lane horizontal adds.
    static void storeBlocks(uint8_t* p, V v) { store(p, _mm256_permute4x64_epi64(v, _MM_SHUFFLE(3, 1, 2, 0))); }
    // Groups of a chroma row come as (0, 1, 4, 5, 8, 9, 12, 13 | 2, 3, 6, 7,
    // 10, 11, 14, 15); tiles go to slots (0, 2 | 1, 3), so that the Co/Cg
    // interleave stores tiles in order.
    static V tileOrder(V v) { return _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(0, 4, 2, 6, 1, 5, 3, 7)); }

    static V set8(int8_t x) { return _mm256_set1_epi8(x); }
    static V set16(int16_t x) { return _mm256_set1_epi16(x); }
    static V set32(int32_t x) { return _mm256_set1_epi32(x); }
    static V set64(int64_t x) { return _mm256_set1_epi64x(x); }
    template <class... B>
    static V bytes16(B... b)
    {
        const __m128i v = _mm_setr_epi8(int8_t(b)...);
        return _mm256_broadcastsi128_si256(v);
    }

    static V add16(V a, V b) { return _mm256_add_epi16(a, b); }
    static V sub16(V a, V b) { return _mm256_sub_epi16(a, b); }
    static V sub64(V a, V b) { return _mm256_sub_epi64(a, b); }
    static V mullo16(V a, V b) { return _mm256_mullo_epi16(a, b); }
    static V mulu32(V a, V b) { return _mm256_mul_epu32(a, b); }
    static V min16(V a, V b) { return _mm256_min_epi16(a, b); }
    static V max16(V a, V b) { return _mm256_max_epi16(a, b); }
    static V cmpgt16(V a, V b) { return _mm256_cmpgt_epi16(a, b); }
    static V cmpeq16(V a, V b) { return _mm256_cmpeq_epi16(a, b); }
    static V blend(V a, V b, V mask) { return _mm256_blendv_epi8(a, b, mask); }
    static V and_(V a, V b) { return _mm256_and_si256(a, b); }
    static V or_(V a, V b) { return _mm256_or_si256(a, b); }
    static V andnot(V mask, V a) { return _mm256_andnot_si256(mask, a); }
    static V srli16(V a, int n) { return _mm256_srli_epi16(a, n); }
    static V slli16(V a, int n) { return _mm256_slli_epi16(a, n); }
    static V srai16(V a, int n) { return _mm256_srai_epi16(a, n); }
    static V srli32(V a, int n) { return _mm256_srli_epi32(a, n); }
    static V srli64(V a, int n) { return _mm256_srli_epi64(a, n); }
    static V slli64(V a, int n) { return _mm256_slli_epi64(a, n); }
    static V swap16(V a) { return _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(a, 0xB1), 0xB1); }
    static V swap32(V a) { return _mm256_shuffle_epi32(a, 0xB1); }
    static V shuffle8(V table, V index) { return _mm256_shuffle_epi8(table, index); }
    static V packs16(V a, V b) { return _mm256_packs_epi16(a, b); }
    static V packs32(V a, V b) { return _mm256_packs_epi32(a, b); }
    static V packus32(V a, V b) { return _mm256_packus_epi32(a, b); }
    static V maddubs(V a, V b) { return _mm256_maddubs_epi16(a, b); }
    static V madd16(V a, V b) { return _mm256_madd_epi16(a, b); }
    static V hadd16(V a, V b) { return _mm256_hadd_epi16(a, b); }
    static V unpacklo64(V a, V b) { return _mm256_unpacklo_epi64(a, b); }
    static V unpackhi64(V a, V b) { return _mm256_unpackhi_epi64(a, b); }
};

}  // namespace

bool encodeYcocgAvx2(const uint8_t* picture, uint32_t width, uint32_t height, bool withAlpha, uint8_t* luma,
                     uint8_t* chroma)
{
    return withAlpha ? YcocgUnits<Avx2Lanes>::encode<true>(picture, width, height, luma, chroma)
                     : YcocgUnits<Avx2Lanes>::encode<false>(picture, width, height, luma, chroma);
}

}  // namespace nox::detail

#endif
