// What every search of the best tier shares (dxt_best_search.h for colour
// blocks, best_channel.h for single-channel ones): the walks, a vector's
// lanes summed, and what a result keeps whatever the
// block: the repeats the fast encoder gave the packer, and the searches
// already made.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <utility>

#if defined(__AVX2__)
#include <immintrin.h>
#endif

#include "core/bytes.h"
#include "dxt_internal.h"

namespace nox::detail {
namespace {

#if defined(__AVX2__)
// The eight 32-bit lanes of v added up.
inline uint32_t sumOfLanes(__m256i v)
{
    __m128i s = _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, _MM_SHUFFLE(1, 0, 3, 2)));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, _MM_SHUFFLE(2, 3, 0, 1)));
    return uint32_t(_mm_cvtsi128_si32(s));
}
#endif

// +1, -1 or 0: the step a walk takes downhill along a slope.
inline int signOf(int slope) { return (slope > 0) - (slope < 0); }

// Passes of a walk over the neighbours of the block found so far (at most
// `passes`), each taking any neighbour of lower error as it goes, until a
// pass moves nothing. walk(best, take) hands take() each measured neighbour
// of best, which a taken one replaces. (Least-squares endpoints for the
// block's indices before each walk gained photo-like pictures under 0.01 dB
// for a sixth of the time, colour and single-channel alike: left out.)
template <class Block, class Walk>
Block walkFrom(Block best, int passes, Walk&& walk)
{
    for (int pass = 0; pass < passes && best.error > 0; ++pass) {
        bool moved = false;
        walk(best, [&](const Block& n) {
            if (n.error < best.error) {
                best = n;
                moved = true;
            }
        });
        if (!moved)
            break;
    }
    return best;
}

// A better search can give a block other bytes than its left or upper
// neighbour where the fast encoder gave both the same, and the packer then
// no longer finds the repeat. A candidate's final bytes (a neighbour's, or
// for YCoCg units also an earlier unit's that the fast encoder repeated)
// are taken instead when they decode this block no worse than the fast
// encoder's did and within 1/16 of the search's error (`best`, that of the
// bytes at `at`).
constexpr uint32_t kRepeatMargin = 16;

template <class Error>
void keepRepeats(uint8_t* at, std::initializer_list<const uint8_t*> candidates, uint32_t fastError, uint32_t best,
                 Error&& error)
{
    for (const uint8_t* n : candidates) {
        if (!n || std::memcmp(n, at, 8) == 0)
            continue;
        const uint32_t e = error(n);
        if (e <= fastError && e <= best + best / kRepeatMargin) {
            std::memcpy(at, n, 8);
            return;
        }
    }
}

// A search's result remembered (SearchMemo, dxt_internal.h): flat areas, and
// text and shapes that repeat, give many blocks the same values and fast
// bytes; the last of each is kept (a hash clash forgets the older one), and
// a block equal to it in both takes its bytes and errors without a search:
// the same bytes.
template <class Memo>
typename Memo::Entry& memoEntry(Memo& memo, const uint8_t* key)
{
    // Each 8 bytes times a multiplier of its own, summed: no chain of
    // multiplies from one to the next.
    static constexpr uint64_t kMultipliers[7] = {0x9E3779B97F4A7C15ull, 0xC2B2AE3D27D4EB4Full, 0x165667B19E3779F9ull,
                                                 0xD6E8FEB86659FD93ull, 0xFF51AFD7ED558CCDull, 0xC4CEB9FE1A85EC53ull,
                                                 0xA0761D6478BD642Full};
    static_assert(Memo::kKey <= 8 * std::size(kMultipliers));
    uint64_t h = 0;
#pragma GCC unroll 8
    for (size_t i = 0; i + 8 <= Memo::kKey; i += 8)
        h += loadLe64(key + i) * kMultipliers[i / 8];
    return memo.entries[((h ^ (h >> 32)) * 0x9E3779B97F4A7C15ull >> 40) % Memo::kEntries];
}

// The search of the 8 bytes at `at` through the memo (refine() gives the
// fast bytes' error and the search's); `key` holds the block's values, the
// fast bytes go after them. With a `level`, the values and the first two
// bytes (a single-channel block's endpoints) are remembered less that level,
// and a result taken is raised by it (see levelOf in best_channel.h).
template <class Memo, class Refine>
std::pair<uint32_t, uint32_t> remembered(Memo& memo, uint8_t* key, uint8_t* at, Refine&& refine, int level = 0)
{
    std::memcpy(key + Memo::kKey - 8, at, 8);
    key[Memo::kKey - 8] = uint8_t(at[0] - level);
    key[Memo::kKey - 7] = uint8_t(at[1] - level);
    auto& e = memoEntry(memo, key);
    if (e.full && std::memcmp(e.key, key, Memo::kKey) == 0) {
        std::memcpy(at, e.bytes, 8);
        at[0] = uint8_t(at[0] + level);
        at[1] = uint8_t(at[1] + level);
        return {e.fastError, e.error};
    }
    const std::pair<uint32_t, uint32_t> errors = refine();
    std::memcpy(e.key, key, Memo::kKey);
    std::memcpy(e.bytes, at, 8);
    e.bytes[0] = uint8_t(at[0] - level);
    e.bytes[1] = uint8_t(at[1] - level);
    e.fastError = errors.first;
    e.error = errors.second;
    e.full = true;
    return errors;
}

}  // namespace
}  // namespace nox::detail
