// The DXT block encoders sixteen blocks at a time in AVX-512 registers
// (F, BW, DQ and VL). Built with those; the build's -ffp-contract=off keeps
// multiplies and adds apart (fused ones would change the float results).
// Chosen at run time only on processors that have them. Comparisons give
// lane masks, which the wrapper (core/x86/avx512.h) turns into vectors of
// all-ones or zero lanes, as the other levels have them.
#if defined(__x86_64__)

#include "core/x86/avx512.h"

#include "dxt_lanes.h"

namespace nox::detail {
namespace {

struct Avx512Ops : simd::Avx512 {
    // Four loads of four blocks each (sixteen pixels); pixel i of every
    // block is every fourth pixel from i, gathered from the four loads by two
    // two-source permutes and one that joins their halves.
    static void loadRow(const uint8_t* row, V px[4])
    {
        const V l0 = _mm512_loadu_si512(row), l1 = _mm512_loadu_si512(row + 64);
        const V l2 = _mm512_loadu_si512(row + 128), l3 = _mm512_loadu_si512(row + 192);
        for (int i = 0; i < 4; ++i) {
            // Elements i, i + 4, ..., i + 28 of the 32 in (a, b), in the low
            // half; the high half of the result is not used.
            const V every4 =
                _mm512_castsi256_si512(_mm256_setr_epi32(i, i + 4, i + 8, i + 12, i + 16, i + 20, i + 24, i + 28));
            const V low = _mm512_permutex2var_epi32(l0, every4, l1);
            const V high = _mm512_permutex2var_epi32(l2, every4, l3);
            px[i] = _mm512_inserti64x4(low, _mm512_castsi512_si256(high), 1);
        }
    }

    // Lane b of a, then of b, for every lane in turn.
    static void store2(uint8_t* out, V a, V b)
    {
        const V lo = _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
        const V hi = _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
        _mm512_storeu_si512(out, _mm512_permutex2var_epi32(a, lo, b));
        _mm512_storeu_si512(out + 64, _mm512_permutex2var_epi32(a, hi, b));
    }

    // Lane b of a, b, c and d, for every lane in turn: pairs (a, b) and
    // (c, d) interleaved, then their 64-bit pairs.
    static void store4(uint8_t* out, V a, V b, V c, V d)
    {
        const V lo = _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
        const V hi = _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
        const V ab0 = _mm512_permutex2var_epi32(a, lo, b), ab1 = _mm512_permutex2var_epi32(a, hi, b);
        const V cd0 = _mm512_permutex2var_epi32(c, lo, d), cd1 = _mm512_permutex2var_epi32(c, hi, d);
        const V first = _mm512_setr_epi64(0, 8, 1, 9, 2, 10, 3, 11);
        const V second = _mm512_setr_epi64(4, 12, 5, 13, 6, 14, 7, 15);
        _mm512_storeu_si512(out, _mm512_permutex2var_epi64(ab0, first, cd0));
        _mm512_storeu_si512(out + 64, _mm512_permutex2var_epi64(ab0, second, cd0));
        _mm512_storeu_si512(out + 128, _mm512_permutex2var_epi64(ab1, first, cd1));
        _mm512_storeu_si512(out + 192, _mm512_permutex2var_epi64(ab1, second, cd1));
    }
};

}  // namespace

const LaneEncoders kAvx512LaneEncoders = DxtLanes<Avx512Ops>::kEncoders;

}  // namespace nox::detail

#endif
