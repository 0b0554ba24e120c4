// DXT1 and DXT5 block packers.
//
// One pass over the blocks. Every colour block is looked up whole, by its
// colour word and by its index word in three hash tables with two candidates
// per bucket; a match becomes a reference code (distance in blocks), a miss
// literal bytes. DXT5 alpha halves are coded first, as runs, references or
// literals. The codes go into 32-bit control words ahead of their bytes.
#include <cstring>

#include "codec/packers.h"
#include "pack_internal.h"

namespace nox {

using namespace pack;

namespace {

// Work area layout, in 32-bit entries: block table (131 074), colour table
// (65 538), index table (65 538), alpha table (16 384) and two spare entries.
// Entries are byte offsets of block starts; the zeroed area points at block 0.
constexpr size_t kBlockTable = 0;
constexpr size_t kColourTable = 131074;
constexpr size_t kIndexTable = kColourTable + 65538;
constexpr size_t kAlphaTable = kIndexTable + 65538;  // 262 150
constexpr size_t kWorkEntries = 0x110020 / 4;
static_assert(kAlphaTable == 0x40006 && kAlphaTable + 16384 + 2 == kWorkEntries);

constexpr uint32_t kMulA = 0x9E3779B1u;
constexpr uint32_t kMulB = 0x85EBCA77u;
constexpr uint32_t kMaxDistance = 65793;  // blocks, the reach of code 3

// The zeroed tables of one call, in a work area lent for the call.
uint32_t* clearedTables(const WorkArea& area)
{
    std::memset(area.data(), 0, kWorkEntries * sizeof(uint32_t));
    return reinterpret_cast<uint32_t*>(area.data());
}

template <bool kStats>
inline void placeReference(CodeWriter& w, uint32_t d, uint64_t* counter)
{
    uint32_t code;
    if (d < kNearDistance) {
        code = 1;
        w.place(1);
    } else if (d < kFarDistance) {
        code = 2;
        w.place(2);
        *w.out++ = uint8_t(d - kNearDistance);
    } else {
        code = 3;
        w.place(3);
        storeLe16(w.out, d - kFarDistance);
        w.out += 2;
    }
    if constexpr (kStats)
        counter[code]++;
}

// Codes the 8-byte colour block of the block starting at byte o. B is the
// block size (8 DXT1, 16 DXT5), C the colour block's offset within a block.
template <uint32_t B, uint32_t C, bool kStats>
inline void codeColorBlock(const uint8_t* in, uint32_t o, uint32_t* work, CodeWriter& w, PackStatistics* stats)
{
    constexpr uint32_t kShift = B == 8 ? 3 : 4;
    constexpr uint32_t L = kMaxDistance * B;
    const uint8_t* cur = in + o + C;
    const uint64_t whole = loadLe64(cur);
    const uint32_t c = uint32_t(whole);
    const uint32_t i = uint32_t(whole >> 32);
    const uint32_t mc = c * kMulA, mi = i * kMulB;
    const uint32_t hb = (mc + mi) >> 15, hc = mc >> 16, hi = mi >> 16;
    uint32_t* blockTable = work + kBlockTable;
    uint32_t* colourTable = work + kColourTable;
    uint32_t* indexTable = work + kIndexTable;

    // Whole block: the newer candidate first; the older slot is only
    // consulted (and refreshed with the newer one) when it is older.
    bool wholeMatch = false;
    uint32_t wholeAt = 0;
    {
        const uint32_t e1 = blockTable[hb];
        if (loadLe64(in + e1 + C) == whole) {
            wholeMatch = o - e1 <= L;
            wholeAt = e1;
        } else {
            const uint32_t e2 = blockTable[hb + 1];
            if (e2 < e1) {
                wholeMatch = loadLe64(in + e2 + C) == whole && o - e2 <= L;
                wholeAt = e2;
                blockTable[hb + 1] = e1;
            }
        }
    }
    bool colourMatch;
    uint32_t colourAt;
    {
        const uint32_t e1 = colourTable[hc];
        if (loadLe32(in + e1 + C) == c) {
            colourMatch = o - e1 <= L;
            colourAt = e1;
        } else {
            const uint32_t e2 = colourTable[hc + 1];
            colourMatch = loadLe32(in + e2 + C) == c && o - e2 <= L;
            colourAt = e2;
            if (e2 < e1)
                colourTable[hc + 1] = e1;
        }
    }
    bool indexMatch;
    uint32_t indexAt;
    {
        // Unlike the colour word, a too distant newer match still falls
        // through to the older candidate.
        const uint32_t e1 = indexTable[hi];
        if (loadLe32(in + e1 + C + 4) == i && o - e1 <= L) {
            indexMatch = true;
            indexAt = e1;
        } else {
            const uint32_t e2 = indexTable[hi + 1];
            indexMatch = loadLe32(in + e2 + C + 4) == i && o - e2 <= L;
            indexAt = e2;
            if (e2 < e1)
                indexTable[hi + 1] = e1;
        }
    }
    blockTable[hb] = o;
    colourTable[hc] = o;
    indexTable[hi] = o;

    if (wholeMatch) {
        placeReference<kStats>(w, (o - wholeAt) >> kShift, stats ? stats->blockCodes : nullptr);
        return;
    }
    w.place(0);
    if constexpr (kStats)
        stats->blockCodes[0]++;
    if (colourMatch) {
        placeReference<kStats>(w, (o - colourAt) >> kShift, stats ? stats->colourCodes : nullptr);
    } else {
        w.place(0);
        storeLe32(w.out, c);
        w.out += 4;
        if constexpr (kStats)
            stats->colourCodes[0]++;
    }
    if (indexMatch) {
        placeReference<kStats>(w, (o - indexAt) >> kShift, stats ? stats->indexCodes : nullptr);
    } else {
        w.place(0);
        storeLe32(w.out, i);
        w.out += 4;
        if constexpr (kStats)
            stats->indexCodes[0]++;
    }
}

// The fast levels prefetch the three table slots of the block kAhead blocks
// on: the tables take a megabyte, the texture as much again, and their
// lines are looked up in hash order, so otherwise most blocks wait for a
// slot to come from memory. A slot may still change before its block is
// coded (the prefetch is then wasted); the output never depends on it.
template <uint32_t B, uint32_t C, uint32_t kAhead>
inline void prefetchSlots(const uint8_t* in, uint32_t o, uint32_t n, const uint32_t* work)
{
    if constexpr (kAhead > 0) {
        const uint32_t ahead = o + kAhead * B;
        if (ahead < n) {
            const uint64_t whole = loadLe64(in + ahead + C);
            const uint32_t mc = uint32_t(whole) * kMulA, mi = uint32_t(whole >> 32) * kMulB;
            prefetch(work + kBlockTable + ((mc + mi) >> 15));
            prefetch(work + kColourTable + (mc >> 16));
            prefetch(work + kIndexTable + (mi >> 16));
        }
    } else {
        (void)in, (void)o, (void)n, (void)work;
    }
}

// Prefetch distance of the fast levels, in blocks.
constexpr uint32_t kBlocksAhead = 32;

template <bool kStats, SimdLevel kLevel>
uint32_t packDxt1Impl(const uint8_t* in, uint32_t n, uint8_t* output, uint32_t capacity, PackStatistics* stats)
{
    if (n < 8 || n % 8 != 0 || uint64_t(capacity) < uint64_t(n) + (n >> 3) + 64)
        return 0;
    const WorkArea area(kWorkEntries * sizeof(uint32_t));
    if (!area)
        return 0;
    uint32_t* work = clearedTables(area);
    std::memcpy(output, in, 8);
    CodeWriter w(output + 8);
    for (uint32_t o = 8; o < n; o += 8) {
        prefetchSlots<8, 0, kLevel == SimdLevel::Scalar ? 0 : kBlocksAhead>(in, o, n, work);
        codeColorBlock<8, 0, kStats>(in, o, work, w, stats);
    }
    w.close();
    const size_t length = size_t(w.out - output);
    return length > n ? 0 : uint32_t(length);
}

template <bool kStats, SimdLevel kLevel>
uint32_t packDxt5Impl(const uint8_t* in, uint32_t n, uint8_t* output, uint32_t capacity, PackStatistics* stats)
{
    if (n < 16 || n % 16 != 0 || uint64_t(capacity) < uint64_t(n) + (n >> 3) + 64)
        return 0;
    const WorkArea area(kWorkEntries * sizeof(uint32_t));
    if (!area)
        return 0;
    uint32_t* work = clearedTables(area);
    uint32_t* alphaTable = work + kAlphaTable;
    std::memcpy(output, in, 16);
    CodeWriter w(output + 16);
    uint32_t pendingAlpha = 0;
    uint32_t o = 16;
    while (o < n) {
        prefetchSlots<16, 8, kLevel == SimdLevel::Scalar ? 0 : kBlocksAhead>(in, o, n, work);
        if (pendingAlpha > 0) {
            // Alpha implied by the run of code 1; only the colour half is coded.
            --pendingAlpha;
            codeColorBlock<16, 8, kStats>(in, o, work, w, stats);
            o += 16;
            continue;
        }
        const uint64_t alpha = loadLe64(in + o);
        const uint32_t ha = (uint32_t(alpha) * kMulA + uint32_t(alpha >> 32) * kMulB) >> 18;
        if (alpha != loadLe64(in + o - 16)) {
            const uint32_t e = alphaTable[ha];
            alphaTable[ha] = o;
            if (loadLe64(in + e) == alpha && o - e <= 65537u * 16) {
                // e is never the previous block here, so the distance is at least 2.
                w.place(2);
                storeLe16(w.out, ((o - e) >> 4) - 2);
                w.out += 2;
                if constexpr (kStats)
                    stats->alphaCodes[2]++;
            } else {
                w.place(3);
                storeLe64(w.out, alpha);
                w.out += 8;
                if constexpr (kStats)
                    stats->alphaCodes[3]++;
            }
            codeColorBlock<16, 8, kStats>(in, o, work, w, stats);
            o += 16;
        } else if (loadLe64(in + o + 8) != loadLe64(in + o - 8)) {
            // Same alpha, new colour: one code covers this alpha half and the
            // following blocks that keep it.
            w.place(1);
            if constexpr (kStats)
                stats->alphaCodes[1]++;
            uint32_t r = 0;
            if constexpr (kLevel == SimdLevel::Scalar) {
                for (uint32_t q = o + 16; q < n && loadLe64(in + q) == loadLe64(in + q - 16); q += 16)
                    ++r;
            } else {
                // Equal to the predecessor all along is equal to this block's alpha.
                r = runOfUnits<kLevel>(in + o + 16, 16, alpha, (n - o - 16) >> 4);
            }
            w.run<kStats>(r, stats);
            alphaTable[ha] = o + 16 * r;
            pendingAlpha = r;
            codeColorBlock<16, 8, kStats>(in, o, work, w, stats);
            o += 16;
        } else {
            // The whole block repeats its predecessor: one code for the run.
            w.place(0);
            if constexpr (kStats)
                stats->alphaCodes[0]++;
            const uint64_t colour = loadLe64(in + o + 8);
            uint32_t q = o + 16;
            if constexpr (kLevel == SimdLevel::Scalar) {
                while (q < n && loadLe64(in + q) == alpha && loadLe64(in + q + 8) == colour)
                    q += 16;
            } else {
                q += 16 * runOfBlocks<kLevel>(in + q, in + o, (n - q) >> 4);
            }
            const uint32_t m = (q - o) >> 4;
            w.run<kStats>(m - 1, stats);
            alphaTable[ha] = q - 16;
            o = q;
        }
    }
    w.close();
    const size_t length = size_t(w.out - output);
    return length > n ? 0 : uint32_t(length);
}

template <bool kStats>
uint32_t packDxt1Level(SimdLevel level, const uint8_t* in, uint32_t n, uint8_t* output, uint32_t capacity,
                       PackStatistics* stats)
{
    return atPackLevel(level, [&](auto L) { return packDxt1Impl<kStats, L>(in, n, output, capacity, stats); });
}
template <bool kStats>
uint32_t packDxt5Level(SimdLevel level, const uint8_t* in, uint32_t n, uint8_t* output, uint32_t capacity,
                       PackStatistics* stats)
{
    return atPackLevel(level, [&](auto L) { return packDxt5Impl<kStats, L>(in, n, output, capacity, stats); });
}

}  // namespace

uint32_t packDxtBound(uint32_t n) { return n + (n >> 3) + 64; }

uint32_t packDxt1(const uint8_t* input, uint32_t n, uint8_t* output, uint32_t capacity)
{
    return packDxt1Level<false>(activeSimdLevel(), input, n, output, capacity, nullptr);
}
uint32_t packDxt5(const uint8_t* input, uint32_t n, uint8_t* output, uint32_t capacity)
{
    return packDxt5Level<false>(activeSimdLevel(), input, n, output, capacity, nullptr);
}
uint32_t packDxt1With(SimdLevel level, const uint8_t* input, uint32_t n, uint8_t* output, uint32_t capacity)
{
    return packDxt1Level<false>(level, input, n, output, capacity, nullptr);
}
uint32_t packDxt5With(SimdLevel level, const uint8_t* input, uint32_t n, uint8_t* output, uint32_t capacity)
{
    return packDxt5Level<false>(level, input, n, output, capacity, nullptr);
}
uint32_t packDxt1(const uint8_t* input, uint32_t n, uint8_t* output, uint32_t capacity, PackStatistics& statistics)
{
    return packDxt1Level<true>(activeSimdLevel(), input, n, output, capacity, &statistics);
}
uint32_t packDxt5(const uint8_t* input, uint32_t n, uint8_t* output, uint32_t capacity, PackStatistics& statistics)
{
    return packDxt5Level<true>(activeSimdLevel(), input, n, output, capacity, &statistics);
}

}  // namespace nox
