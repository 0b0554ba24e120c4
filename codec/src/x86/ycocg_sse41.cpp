// SSE4.1 level of the YCoCg encoders: two blocks per vector (see ycocg_simd.h).
#if defined(__x86_64__)

#include <smmintrin.h>

#include "ycocg_simd.h"

namespace nox::detail {

namespace {

struct Sse41Lanes {
    using V = __m128i;
    static constexpr size_t kSlots = 2;
    static constexpr size_t kPixels = 4;

    static V load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void store(uint8_t* p, V v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
    // One 128-bit lane: slots and tiles are already in order.
    static void storeBlocks(uint8_t* p, V v) { store(p, v); }
    static V tileOrder(V v) { return v; }

    static V set8(int8_t x) { return _mm_set1_epi8(x); }
    static V set16(int16_t x) { return _mm_set1_epi16(x); }
    static V set32(int32_t x) { return _mm_set1_epi32(x); }
    static V set64(int64_t x) { return _mm_set1_epi64x(x); }
    template <class... B>
    static V bytes16(B... b)
    {
        return _mm_setr_epi8(int8_t(b)...);
    }

    static V add16(V a, V b) { return _mm_add_epi16(a, b); }
    static V sub16(V a, V b) { return _mm_sub_epi16(a, b); }
    static V sub64(V a, V b) { return _mm_sub_epi64(a, b); }
    static V mullo16(V a, V b) { return _mm_mullo_epi16(a, b); }
    static V mulu32(V a, V b) { return _mm_mul_epu32(a, b); }
    static V min16(V a, V b) { return _mm_min_epi16(a, b); }
    static V max16(V a, V b) { return _mm_max_epi16(a, b); }
    static V cmpgt16(V a, V b) { return _mm_cmpgt_epi16(a, b); }
    static V cmpeq16(V a, V b) { return _mm_cmpeq_epi16(a, b); }
    static V blend(V a, V b, V mask) { return _mm_blendv_epi8(a, b, mask); }
    static V and_(V a, V b) { return _mm_and_si128(a, b); }
    static V or_(V a, V b) { return _mm_or_si128(a, b); }
    static V andnot(V mask, V a) { return _mm_andnot_si128(mask, a); }
    static V srli16(V a, int n) { return _mm_srli_epi16(a, n); }
    static V slli16(V a, int n) { return _mm_slli_epi16(a, n); }
    static V srai16(V a, int n) { return _mm_srai_epi16(a, n); }
    static V srli32(V a, int n) { return _mm_srli_epi32(a, n); }
    static V srli64(V a, int n) { return _mm_srli_epi64(a, n); }
    static V slli64(V a, int n) { return _mm_slli_epi64(a, n); }
    static V swap16(V a) { return _mm_shufflehi_epi16(_mm_shufflelo_epi16(a, 0xB1), 0xB1); }
    static V swap32(V a) { return _mm_shuffle_epi32(a, 0xB1); }
    static V shuffle8(V table, V index) { return _mm_shuffle_epi8(table, index); }
    static V packs16(V a, V b) { return _mm_packs_epi16(a, b); }
    static V packs32(V a, V b) { return _mm_packs_epi32(a, b); }
    static V packus32(V a, V b) { return _mm_packus_epi32(a, b); }
    static V maddubs(V a, V b) { return _mm_maddubs_epi16(a, b); }
    static V madd16(V a, V b) { return _mm_madd_epi16(a, b); }
    static V hadd16(V a, V b) { return _mm_hadd_epi16(a, b); }
    static V unpacklo64(V a, V b) { return _mm_unpacklo_epi64(a, b); }
    static V unpackhi64(V a, V b) { return _mm_unpackhi_epi64(a, b); }
};

}  // namespace

bool encodeYcocgSse41(const uint8_t* picture, uint32_t width, uint32_t height, bool withAlpha, uint8_t* luma,
                      uint8_t* chroma)
{
    return withAlpha ? YcocgUnits<Sse41Lanes>::encode<true>(picture, width, height, luma, chroma)
                     : YcocgUnits<Sse41Lanes>::encode<false>(picture, width, height, luma, chroma);
}

}  // namespace nox::detail

#endif
