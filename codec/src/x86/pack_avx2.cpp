// AVX2 scans of the packers: the length of a run of repeated units or blocks,
// four units (two blocks) per compare.
#if defined(__x86_64__)

#include <immintrin.h>

#include "pack_internal.h"

namespace nox::pack {

uint32_t countEqualUnitsAvx2(const uint8_t* p, uint32_t stride, uint64_t x, uint32_t count)
{
    const __m256i value = _mm256_set1_epi64x(int64_t(x));
    uint32_t i = 0;
    if (stride == 8) {
        for (; i + 4 <= count; i += 4) {
            const __m256i units = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 8 * i));
            const __m256i eq = _mm256_cmpeq_epi64(units, value);
            const uint32_t mask = uint32_t(_mm256_movemask_pd(_mm256_castsi256_pd(eq)));
            if (mask != 0xF)
                return i + uint32_t(__builtin_ctz(~mask));
        }
    } else {
        // Two 32-byte loads hold the units i..i+3; their first 8 bytes are
        // lanes 0 and 2 of each. The second load reaches 8 bytes past unit
        // i+3's, so one more unit must follow.
        for (; i + 4 < count; i += 4) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 16 * i));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 16 * i + 32));
            // (i, i+2 | i+1, i+3) to (i, i+1, i+2, i+3).
            const __m256i eq = _mm256_permute4x64_epi64(_mm256_cmpeq_epi64(_mm256_unpacklo_epi64(a, b), value),
                                                        _MM_SHUFFLE(3, 1, 2, 0));
            const uint32_t mask = uint32_t(_mm256_movemask_pd(_mm256_castsi256_pd(eq)));
            if (mask != 0xF)
                return i + uint32_t(__builtin_ctz(~mask));
        }
    }
    return i + countEqualUnits(p + size_t(stride) * i, stride, x, count - i);
}

uint32_t countEqualBlocksAvx2(const uint8_t* p, const uint8_t* block, uint32_t count)
{
    const __m256i value = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block)));
    uint32_t i = 0;
    for (; i + 2 <= count; i += 2) {
        const __m256i eq = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 16 * i)), value);
        const uint32_t mask = uint32_t(_mm256_movemask_epi8(eq));
        if (mask != 0xFFFFFFFFu)
            return i + ((mask & 0xFFFF) == 0xFFFF ? 1 : 0);
    }
    return i + countEqualBlocks(p + size_t(16) * i, block, count - i);
}

}  // namespace nox::pack

#endif
