// AVX2 level of the YCoCg encoders: four blocks per vector (see ycocg_simd.h).
#if defined(__x86_64__)

#include "core/x86/avx2.h"

#include "ycocg_simd.h"

namespace nox::detail {

namespace {

struct Avx2Lanes : simd::Avx2 {
    // Slots come as (0, 2 | 1, 3) from the in-lane horizontal adds.
    static void storeBlocks(uint8_t* p, V v) { store(p, permute64<_MM_SHUFFLE(3, 1, 2, 0)>(v)); }
    // Groups of a chroma row come as (0, 1, 4, 5, 8, 9, 12, 13 | 2, 3, 6, 7,
    // 10, 11, 14, 15); tiles go to slots (0, 2 | 1, 3), so that the Co/Cg
    // interleave stores tiles in order.
    static V tileOrder(V v) { return permute32(v, _mm256_setr_epi32(0, 4, 2, 6, 1, 5, 3, 7)); }
};

}  // namespace

const YcocgUnitLoop kAvx2YcocgUnits = &YcocgUnits<Avx2Lanes>::encode;

}  // namespace nox::detail

#endif
