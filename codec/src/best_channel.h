// The best tier's search of a single-channel block (DXT5 alpha, the YCoCg
// units): the ramp's endpoints from the fast encoder's and walks over their
// neighbours, both ramps where the block may take either.
// Part of the search's build (dxt_best_search.h); the AVX2 build measures
// in 16-bit lanes, the plain loops beside them the reference.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <utility>

#if defined(__AVX2__)
#include <immintrin.h>
#endif

#include "best_common.h"
#include "codec/frame_format.h"
#include "core/bytes.h"

namespace nox::detail {
namespace {

// A channel block costs a fraction of a colour block: luma and chroma walk
// on longer. Alpha, which walks every way, takes one pass: a second gained a
// matte nothing (71.52 dB either way) for 4 % of a high-alpha frame's
// search.
constexpr int kChannelPasses = 2, kAlphaPasses = 1;

#if defined(__AVX2__)
// channelRamp's eight steps in 16-bit lanes: each a mix of the endpoints
// divided by 7 (or 5), which a multiply by 9363 (or 13108) / 65536
// truncates exactly for mixes up to 7 x 255.
inline __m128i channelRampInLanes(int e0, int e1)
{
    const bool eight = e0 > e1;
    const __m128i ofE0 = eight ? _mm_setr_epi16(7, 0, 6, 5, 4, 3, 2, 1) : _mm_setr_epi16(5, 0, 4, 3, 2, 1, 0, 0);
    const __m128i ofE1 = eight ? _mm_setr_epi16(0, 7, 1, 2, 3, 4, 5, 6) : _mm_setr_epi16(0, 5, 1, 2, 3, 4, 0, 0);
    const __m128i mixes = _mm_add_epi16(_mm_mullo_epi16(ofE0, _mm_set1_epi16(int16_t(e0))),
                                        _mm_mullo_epi16(ofE1, _mm_set1_epi16(int16_t(e1))));
    const __m128i steps = _mm_mulhi_epu16(mixes, _mm_set1_epi16(int16_t(eight ? 9363 : 13108)));
    // Six steps: 0 (no weight on either endpoint) and 255 come last.
    return eight ? steps : _mm_blend_epi16(steps, _mm_set1_epi16(255), 0x80);
}

// The 16 three-bit indices of a single-channel block's bits, in 16-bit
// lanes in order: values 4q to 4q + 3 from 64-bit lane q, each moved to the
// top of its word and down again.
inline __m256i unitIndices(uint64_t bits)
{
    const __m256i quads =
        _mm256_shuffle_epi8(_mm256_srlv_epi64(_mm256_set1_epi64x(int64_t(bits)), _mm256_setr_epi64x(0, 12, 24, 36)),
                            _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 8, 9, 8, 9, 8, 9, 8, 9, 0, 1, 0, 1, 0, 1, 0, 1, 8,
                                             9, 8, 9, 8, 9, 8, 9));
    return _mm256_srli_epi16(_mm256_mullo_epi16(quads, _mm256_setr_epi16(8192, 1024, 128, 16, 8192, 1024, 128, 16, 8192,
                                                                         1024, 128, 16, 8192, 1024, 128, 16)),
                             13);
}
#endif

// A single-channel block (DXT5 alpha, the YCoCg units) and the values it
// should decode to, `scale` times the 8-bit ones (16 for luma, 2 for
// chroma, 1 for alpha).
struct Channel {
    int values[16];
    int scale;
};

// A pair with its error; `indexed` when bits hold its indices too.
struct ChannelBlock {
    int a0, a1;
    uint64_t bits;
    uint32_t error;
    bool indexed;
};

#if defined(__AVX2__)
// A block's 16 values in 16-bit lanes, in order.
inline __m256i valuesInLanes(const Channel& ch)
{
    return _mm256_permute4x64_epi64(
        _mm256_packs_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(ch.values)),
                           _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ch.values + 8))),
        _MM_SHUFFLE(3, 1, 2, 0));
}
#endif

#if defined(__AVX2__)
// Word k of an eight-word table for each of the block's 16 indices, in
// order: a byte shuffle by index * 0x0202 + 0x0100 (bytes 2k and 2k + 1).
inline __m256i wordsByIndex(__m128i table, uint64_t bits)
{
    return _mm256_shuffle_epi8(
        _mm256_broadcastsi128_si256(table),
        _mm256_add_epi16(_mm256_mullo_epi16(unitIndices(bits), _mm256_set1_epi16(0x0202)), _mm256_set1_epi16(0x0100)));
}
#endif

// The smallest and the largest of a block's values.
inline void valueRange(const Channel& ch, int& lo, int& hi)
{
#if defined(__AVX2__)
    const __m256i v = valuesInLanes(ch);
    const __m128i low = _mm_min_epu16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    const __m128i high = _mm_max_epu16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    lo = _mm_cvtsi128_si32(_mm_minpos_epu16(low)) & 0xFFFF;
    hi = 0xFFFF - (_mm_cvtsi128_si32(_mm_minpos_epu16(_mm_xor_si128(high, _mm_set1_epi16(-1)))) & 0xFFFF);
#else
    lo = hi = ch.values[0];
    for (const int v : ch.values) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
#endif
}

uint32_t storedChannelError(const Channel& ch, const uint8_t* unit)
{
    const uint64_t bits = loadLe48(unit + 2);
#if defined(__AVX2__)
    // Each value's step, of the eight scaled ones.
    const __m128i steps = _mm_mullo_epi16(channelRampInLanes(unit[0], unit[1]), _mm_set1_epi16(int16_t(ch.scale)));
    const __m256i d = _mm256_sub_epi16(valuesInLanes(ch), wordsByIndex(steps, bits));
    return sumOfLanes(_mm256_madd_epi16(d, d));
#else
    int ramp[8];
    channelRamp<int>(unit[0], unit[1], ramp);
    uint32_t error = 0;
    for (int i = 0; i < 16; ++i) {
        const int d = ch.values[i] - ch.scale * ramp[(bits >> (3 * i)) & 7];
        error += uint32_t(d * d);
    }
    return error;
#endif
}

// Every value on its nearest step (the lowest index on a tie), in loops
// plain enough for the compiler to run four or eight values at a time;
// with kIndices the indices too (as for colours, the walk leaves them out).
#if defined(__AVX2__)
// The same in the AVX2 build, in 16-bit lanes: a value's distance to a step
// (both at most 16 x 255) taken as its magnitude, whose smallest is that of
// the smallest square, and squared once at the end.
template <bool kIndices>
ChannelBlock nearestStepsInLanes(const Channel& ch, int a0, int a1)
{
    alignas(16) int16_t step[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(step),
                    _mm_mullo_epi16(channelRampInLanes(a0, a1), _mm_set1_epi16(int16_t(ch.scale))));
    const __m256i values = valuesInLanes(ch);
    __m256i best = _mm256_abs_epi16(_mm256_sub_epi16(values, _mm256_set1_epi16(step[0])));
    __m256i index = _mm256_setzero_si256();
    for (int s = 1; s < 8; ++s) {
        const __m256i d = _mm256_abs_epi16(_mm256_sub_epi16(values, _mm256_set1_epi16(step[s])));
        if constexpr (kIndices)
            index = _mm256_blendv_epi8(index, _mm256_set1_epi16(int16_t(s)), _mm256_cmpgt_epi16(best, d));
        best = _mm256_min_epi16(best, d);
    }
    ChannelBlock k{a0, a1, 0, sumOfLanes(_mm256_madd_epi16(best, best)), kIndices};
    if constexpr (kIndices) {
        // Values 2j and 2j + 1 as six bits in lane j.
        alignas(32) uint32_t pairs[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(pairs), _mm256_madd_epi16(index, _mm256_set1_epi32(0x00080001)));
        for (int j = 0; j < 8; ++j)
            k.bits |= uint64_t(pairs[j]) << (6 * j);
    }
    return k;
}
#endif

template <bool kIndices>
ChannelBlock nearestSteps(const Channel& ch, int a0, int a1)
{
#if defined(__AVX2__)
    return nearestStepsInLanes<kIndices>(ch, a0, a1);
#else
    int ramp[8];
    channelRamp(a0, a1, ramp);
    uint32_t best[16], index[16];
    for (int s = 0; s < 8; ++s) {
        const int step = ch.scale * ramp[s];
        for (int i = 0; i < 16; ++i) {
            const int d = ch.values[i] - step;
            const uint32_t e = uint32_t(d * d);
            if constexpr (kIndices) {
                const bool closer = s == 0 || e < best[i];
                best[i] = closer ? e : best[i];
                index[i] = closer ? uint32_t(s) : index[i];
            } else {
                best[i] = s == 0 ? e : std::min(best[i], e);
            }
        }
    }
    ChannelBlock k{a0, a1, 0, 0, kIndices};
    for (int i = 0; i < 16; ++i) {
        k.error += best[i];
        if constexpr (kIndices)
            k.bits |= uint64_t(index[i]) << (3 * i);
    }
    return k;
#endif
}

ChannelBlock measureChannel(const Channel& ch, int a0, int a1) { return nearestSteps<true>(ch, a0, a1); }

void indexChannel(const Channel& ch, ChannelBlock& k)
{
    if (!k.indexed)
        k = measureChannel(ch, k.a0, k.a1);
}

// A pair in the mode of `eight` (a0 > a1 for eight values, a0 <= a1 for six).
inline bool inMode(bool eight, int a0, int a1) { return eight ? a0 > a1 : a0 <= a1; }

// Which way each endpoint of k lowers its error (+1, -1, or 0 where it is
// flat): the sums of the values' distances to their steps, each weighted by
// its step's share of that endpoint (the fixed 0 and 255 by none). Whole
// numbers, the same in every build.
void channelDownhill(const Channel& ch, const ChannelBlock& k, int toward[2])
{
    const bool eight = k.a0 > k.a1;
    const int n = eight ? 7 : 5;
    int slope[2] = {0, 0};
#if defined(__AVX2__)
    // At most 16 x 7 x 4080 a sum: well within 32 bits.
    const __m128i table = eight ? _mm_setr_epi16(0, 7, 1, 2, 3, 4, 5, 6) : _mm_setr_epi16(0, 5, 1, 2, 3, 4, -1, -1);
    const __m256i w1 = wordsByIndex(table, k.bits), kept = _mm256_cmpgt_epi16(w1, _mm256_set1_epi16(-1));
    const __m256i b1 = _mm256_and_si256(w1, kept),
                  b0 = _mm256_and_si256(_mm256_sub_epi16(_mm256_set1_epi16(int16_t(n)), w1), kept);
    const __m128i steps = _mm_mullo_epi16(channelRampInLanes(k.a0, k.a1), _mm_set1_epi16(int16_t(ch.scale)));
    const __m256i d = _mm256_sub_epi16(valuesInLanes(ch), wordsByIndex(steps, k.bits));
    slope[0] = int(sumOfLanes(_mm256_madd_epi16(d, b0)));
    slope[1] = int(sumOfLanes(_mm256_madd_epi16(d, b1)));
#else
    static constexpr int kEight[8] = {0, 7, 1, 2, 3, 4, 5, 6}, kSix[8] = {0, 5, 1, 2, 3, 4, -1, -1};
    int ramp[8];
    channelRamp<int>(k.a0, k.a1, ramp);
    for (int i = 0; i < 16; ++i) {
        const uint32_t index = uint32_t(k.bits >> (3 * i)) & 7;
        const int w1 = eight ? kEight[index] : kSix[index];
        if (w1 < 0)
            continue;
        const int d = ch.values[i] - ch.scale * ramp[index];
        slope[0] += (n - w1) * d;
        slope[1] += w1 * d;
    }
#endif
    for (int end = 0; end < 2; ++end)
        toward[end] = signOf(slope[end]);
}

// Walks from an indexed block over its endpoints' neighbours: each endpoint
// a step up or down, and both together. Luma and chroma walk downhill only
// (each endpoint its own way, and both): on photo-like pictures that loses
// them 0.005 dB for two thirds of the time; alpha walks every way (downhill
// alone lost it 0.5 dB).
ChannelBlock searchChannel(const Channel& ch, const ChannelBlock& start)
{
    int toward[2] = {0, 0};
    if (ch.scale > 1)
        channelDownhill(ch, start, toward);
    const auto walk = [&](const ChannelBlock& best, auto&& take) {
        const auto to = [&](int d0, int d1) {
            const int n0 = best.a0 + d0, n1 = best.a1 + d1;
            if (n0 >= 0 && n0 <= 255 && n1 >= 0 && n1 <= 255 && inMode(best.a0 > best.a1, n0, n1))
                take(nearestSteps<false>(ch, n0, n1));
        };
        if (ch.scale == 1) {
            for (const auto& [d0, d1] : {std::pair{-1, 0}, {1, 0}, {0, -1}, {0, 1}, {-1, -1}, {1, 1}})
                to(d0, d1);
            return;
        }
        if (toward[0] != 0)
            to(toward[0], 0);
        if (toward[1] != 0)
            to(0, toward[1]);
        if (toward[0] != 0 && toward[1] != 0)
            to(toward[0], toward[1]);
    };
    return walkFrom(start, ch.scale == 1 ? kAlphaPasses : kChannelPasses, walk);
}

// Both ramps, each with a walk: the one the block has, and the other from
// the values' range (for six values, of those that are not the fixed 0 and
// 255). An eight-value block without a 0 or 255 skips the six-value ramp,
// whose fixed ends it would not use (alpha: 0.009 dB for a twentieth of the
// time). Luma and chroma, whose values seldom sit on 0 or 255, try only the
// ramp they have: on photo-like pictures the other gained them 0.01 dB for
// twice the time.
uint32_t refineChannel(uint8_t* unit, const Channel& ch)
{
    ChannelBlock best = measureChannel(ch, unit[0], unit[1]);
    if (best.error > 0)
        best = searchChannel(ch, best);
    if (best.error > 0 && ch.scale == 1) {
        const bool eight = best.a0 > best.a1;
        int lo = 255, hi = 0;
        bool extremes = false;
        for (const int v : ch.values)
            if (!eight || (v != 0 && v != 255)) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            } else {
                extremes = true;
            }
        if ((extremes || !eight) && lo <= hi && inMode(!eight, eight ? lo : hi, eight ? hi : lo)) {
            const ChannelBlock other = searchChannel(ch, measureChannel(ch, eight ? lo : hi, eight ? hi : lo));
            if (other.error < best.error)
                best = other;
        }
    }
    indexChannel(ch, best);
    unit[0] = uint8_t(best.a0);
    unit[1] = uint8_t(best.a1);
    storeLe48(unit + 2, best.bits);
    return best.error;
}

// Where an alpha block's search gives, for the block's values raised or
// lowered by some levels, its own result raised or lowered as much: the
// level of its lower endpoint; 0 where it may not. That holds for a block
// the fast encoder gave eight values (a0 > a1) and no value of 0 or 255
// (which would bring in the six-value ramp with its fixed ends): its ramp's
// steps, its values' nearest steps and every error move with it, as long as
// the walk stays within 0 to 255 (a pass over the six neighbours moves an
// endpoint by at most 4 steps: four of them move it by one).
// `reachBelow` and `reachAbove` bound the values' distances from that level
// that the memo's key tells apart. A smooth matte then searches each of its
// blocks' shapes once, not once for every level it passes through. (Luma
// and chroma units, whose targets follow their tile's decoded chroma,
// seldom repeat so: there the levels' upkeep cost more than they saved.)
constexpr int kWalkMargin = 4;
static_assert(kAlphaPasses * 4 <= kWalkMargin);
inline int levelOf(const Channel& ch, const uint8_t* unit, int reachBelow, int reachAbove)
{
    const int a0 = unit[0], a1 = unit[1];
    if (ch.scale != 1 || a0 <= a1 || a1 < kWalkMargin || a0 > 255 - kWalkMargin)
        return 0;
    int lo, hi;
    valueRange(ch, lo, hi);
    return lo > 0 && hi < 255 && lo - a1 >= reachBelow && hi - a1 <= reachAbove ? a1 : 0;
}

// A single-channel block searched through the memo (fillKey(level) writes
// the key's values, less that level times the scale, and a mark of whether
// the level is taken out, and returns it; levelOf's reach is the key's):
// the unit holds the search's bytes, and the fast bytes' error and the
// search's are returned. One the fast encoder stored exactly (most of a
// matte's: its opaque and clear areas) keeps its bytes without the memo.
template <int kReachBelow, int kReachAbove, class Memo, class FillKey>
std::pair<uint32_t, uint32_t> searchRemembered(uint8_t* unit, const Channel& ch, Memo& memo, FillKey&& fillKey)
{
    const uint32_t stored = storedChannelError(ch, unit);
    if (stored == 0)
        return {0, 0};
    const int level = levelOf(ch, unit, kReachBelow, kReachAbove);
    return remembered(
        memo, fillKey(level), unit,
        [&] {
            return std::pair{stored, refineChannel(unit, ch)};
        },
        level);
}

// The fast encoder's repeats kept after a search that gave the errors
// `fast` and `best` (keepRepeats). Where the search is exact, only an exact
// candidate will do, and an eight-value ramp holds nothing outside its
// endpoints: one whose endpoints leave out the block's range is passed over
// unmeasured (a matte's neighbours mostly do).
inline void keepChannelRepeats(uint8_t* unit, const Channel& ch, std::initializer_list<const uint8_t*> candidates,
                               uint32_t fast, uint32_t best)
{
    const auto error = [&](const uint8_t* u) { return storedChannelError(ch, u); };
    if (best != 0) {
        keepRepeats(unit, candidates, fast, best, error);
        return;
    }
    int lo, hi;
    valueRange(ch, lo, hi);
    keepRepeats(unit, candidates, fast, 0, [&](const uint8_t* u) {
        return u[0] > u[1] && (lo < u[1] * ch.scale || hi > u[0] * ch.scale) ? 1u : error(u);
    });
}

// Both: a block searched through the memo that keeps the fast encoder's
// repeats.
template <int kReachBelow, int kReachAbove, class Memo, class FillKey>
void refineRemembered(uint8_t* unit, const Channel& ch, Memo& memo, FillKey&& fillKey,
                      std::initializer_list<const uint8_t*> candidates)
{
    const auto [fast, best] = searchRemembered<kReachBelow, kReachAbove>(unit, ch, memo, fillKey);
    keepChannelRepeats(unit, ch, candidates, fast, best);
}

}  // namespace
}  // namespace nox::detail
