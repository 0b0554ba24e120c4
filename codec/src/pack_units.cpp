// YCG6 and YG10 packers: two streams of 8-byte single-channel units.
//
// A unit (two endpoint bytes, 48 index bits split into two 24-bit pieces) is
// coded as a run of repeats, a whole-unit reference, or a composite op that
// takes the endpoints and the index bits independently from earlier units
// (by distance, by a one-byte hash slot, or from the previous unit) and
// leaves the rest as literals. Ops go to op streams stored after the data.
#include <algorithm>
#include <cstring>

#include "codec/opstream.h"
#include "codec/packers.h"
#include "pack_internal.h"

namespace nox {

using namespace pack;

namespace {

constexpr uint64_t kMul64 = 0x9E3779B185EBCA87ull;

inline uint32_t h64(uint64_t x) { return uint32_t((x * kMul64) >> 48); }

// Codes units of one stream. S is the unit stride in bytes (8 single, 16
// paired); a unit (half) is addressed by its number j and byte position p.
template <uint32_t S, bool kStats>
struct UnitCoder {
    const uint8_t* in;
    uint16_t* recent;  // 65 536 unit numbers modulo 65 536, by 48- and 64-bit hash
    uint8_t* out;

    // The most recent unit number below j that is congruent to s.
    static uint32_t resolve(uint32_t s, uint32_t j)
    {
        uint32_t c = (j & ~0xFFFFu) | s;
        return c >= j ? c - 65536 : c;
    }

    void insert(UnitSlots& t, uint32_t j, uint32_t p) const
    {
        const uint64_t x = loadLe64(in + p);
        recent[h64(x >> 16)] = uint16_t(j);
        recent[h64(x)] = uint16_t(j);
        t.insert(x, p);
    }

    // Codes unit j at p, which differs from its predecessor; returns the op.
    // Writes at most 13 bytes (the last ones may be overwritten later).
    uint8_t code(UnitSlots& t, uint32_t j, uint32_t p)
    {
        const uint64_t x = loadLe64(in + p);
        uint32_t c = resolve(recent[h64(x)], j);
        if (loadLe64(in + p - (j - c) * S) == x) {
            storeLe16(out, j - c - 1);
            out += 2;
            return 2;
        }

        uint32_t op = 3;
        const uint32_t ep = uint32_t(x) & 0xFFFF;
        const uint32_t he = slotHash(ep);
        const uint32_t prev = p - S;
        uint32_t candidate = t.endpoints[he];
        if (candidate == kEmptySlot)
            candidate = prev;
        const bool endpointsOpen = loadLe16(in + candidate) != ep;
        if (!endpointsOpen) {
            if (candidate < prev) {
                op += 5;
                *out++ = uint8_t(he);
            } else {
                op += 10;
            }
        }

        const uint64_t indices = x >> 16;
        const uint32_t piece1 = uint32_t(indices) & 0xFFFFFF;
        const uint32_t piece2 = uint32_t(indices >> 24);
        c = resolve(recent[h64(indices)], j);
        uint32_t part = 0;
        if (loadLe64(in + p - (j - c) * S) >> 16 == indices) {
            part = 4;
            storeLe16(out, j - c - 1);
            out += 2;
        } else {
            const uint32_t h1 = slotHash(piece1);
            const uint32_t e1 = t.pieces[h1];
            if (e1 != kEmptySlot && (loadLe32(in + e1) & 0xFFFFFF) == piece1) {
                part = 1;
                *out++ = uint8_t(h1);
            }
            const uint32_t h2 = slotHash(piece2);
            const uint32_t e2 = t.pieces[h2];
            if (e2 != kEmptySlot && (loadLe32(in + e2) & 0xFFFFFF) == piece2) {
                part += 2;
                *out++ = uint8_t(h2);
            }
        }
        op += part;

        // Literals in unit byte order: endpoints, then whatever index bits
        // the op left open.
        if (endpointsOpen) {
            storeLe16(out, ep);
            out += 2;
        }
        if (part == 0) {
            storeLe64(out, indices);
            out += 6;
        } else if (part == 1) {
            storeLe32(out, piece2);
            out += 3;
        } else if (part == 2) {
            storeLe32(out, piece1);
            out += 3;
        }
        return uint8_t(op);
    }
};

template <bool kStats>
void countOps(const uint8_t* ops, uint32_t n, OpStreamForm form, PackStatistics* stats)
{
    if constexpr (kStats) {
        for (uint32_t j = 0; j < n; ++j)
            stats->ops[ops[j]]++;
        stats->opForms[form]++;
    }
}

template <bool kStats>
size_t appendOps(uint8_t* out, const uint8_t* end, const uint8_t* ops, uint32_t n, PackStatistics* stats)
{
    OpStreamForm form = OP_FORM_RAW;
    const size_t length = writeOpStream(ops, n, out, size_t(end - out), &form);
    if (length)
        countOps<kStats>(ops, n, form, stats);
    return length;
}

// Room a run length of v needs, plus the 16-byte slack of a coded unit.
inline size_t runRoom(uint32_t v) { return 3 + 2 * size_t(v / 65535) + 16; }

// Single-unit packer over m units of 8 bytes. Layout: u32 data length, u32 op
// count, unit 0, data, op stream. Returns the length, 0 when it does not fit.
template <bool kStats, SimdLevel kLevel>
size_t packUnits(uint8_t* output, uint8_t* end, const uint8_t* in, uint32_t m, uint8_t* ops, uint16_t* recent,
                 PackStatistics* stats)
{
    if (end - output < 32)
        return 0;
    std::fill(recent, recent + 65536, uint16_t(0));
    UnitSlots t;
    UnitCoder<8, kStats> coder{in, recent, output + 16};
    std::memcpy(output + 8, in, 8);
    coder.insert(t, 0, 0);
    uint32_t nops = 0;
    for (uint32_t j = 1; j < m;) {
        if (end - coder.out < 16)
            return 0;
        const uint32_t p = j * 8;
        const uint64_t x = loadLe64(in + p);
        if (x == loadLe64(in + p - 8)) {
            uint32_t k = 1;
            if constexpr (kLevel == SimdLevel::Scalar) {
                while (j + k < m && loadLe64(in + p + 8 * k) == x)
                    ++k;
            } else {
                k += runOfUnits<kLevel>(in + p + 8, 8, x, m - j - 1);
            }
            if (k >= 4) {
                if (size_t(end - coder.out) < runRoom(k - 4))
                    return 0;
                ops[nops++] = 0;
                coder.out = writeRun<kStats>(coder.out, k - 4, stats);
            } else {
                for (uint32_t r = 0; r < k; ++r)
                    ops[nops++] = 1;
            }
            coder.insert(t, j + k - 1, p + 8 * (k - 1));
            j += k;
        } else {
            ops[nops++] = coder.code(t, j, p);
            coder.insert(t, j, p);
            ++j;
        }
    }
    const size_t dataLength = size_t(coder.out - output);
    storeLe32(output, uint32_t(dataLength));
    storeLe32(output + 4, nops);
    const size_t opsLength = appendOps<kStats>(coder.out, end, ops, nops, stats);
    return opsLength ? dataLength + opsLength : 0;
}

// Paired-unit packer over m units of 16 bytes, each half coded on its own
// (own run counter, op stream and hash slots; shared unit-number table).
// Layout: u32 data length, u32 op counts of half 1 and half 2, unit 0, data,
// op stream of half 1, op stream of half 2.
template <bool kStats, SimdLevel kLevel>
size_t packUnitPairs(uint8_t* output, uint8_t* end, const uint8_t* in, uint32_t m, uint8_t* ops, uint32_t opsPerHalf,
                     uint16_t* recent, PackStatistics* stats)
{
    if (end - output < 48)
        return 0;
    std::fill(recent, recent + 65536, uint16_t(0));
    UnitSlots t[2];
    UnitCoder<16, kStats> coder{in, recent, output + 28};
    std::memcpy(output + 12, in, 16);
    coder.insert(t[1], 0, 8);
    coder.insert(t[0], 0, 0);
    uint8_t* halfOps[2] = {ops, ops + opsPerHalf};
    uint32_t nops[2] = {0, 0};
    uint32_t pending[2] = {0, 0};
    for (uint32_t j = 1; j < m; ++j) {
        if (end - coder.out < 32)
            return 0;
        // Both halves inside runs (flat areas, a still matte): nothing to
        // write until the shorter run ends.
        if (pending[0] > 0 && pending[1] > 0) {
            const uint32_t s = std::min(pending[0], pending[1]);
            pending[0] -= s;
            pending[1] -= s;
            j += s - 1;
            continue;
        }
        for (uint32_t h = 0; h < 2; ++h) {
            if (pending[h] > 0) {
                --pending[h];
                continue;
            }
            const uint32_t p = j * 16 + h * 8;
            const uint64_t x = loadLe64(in + p);
            if (x == loadLe64(in + p - 16)) {
                uint32_t k = 1;
                if constexpr (kLevel == SimdLevel::Scalar) {
                    while (j + k < m && loadLe64(in + p + 16 * k) == x)
                        ++k;
                } else {
                    k += runOfUnits<kLevel>(in + p + 16, 16, x, m - j - 1);
                }
                pending[h] = k - 1;
                if (k >= 4) {
                    if (size_t(end - coder.out) < runRoom(k - 4))
                        return 0;
                    halfOps[h][nops[h]++] = 0;
                    coder.out = writeRun<kStats>(coder.out, k - 4, stats);
                } else {
                    for (uint32_t r = 0; r < k; ++r)
                        halfOps[h][nops[h]++] = 1;
                }
            } else {
                coder.insert(t[h], j - 1, p - 16);
                halfOps[h][nops[h]++] = coder.code(t[h], j, p);
            }
        }
    }
    const size_t dataLength = size_t(coder.out - output);
    storeLe32(output, uint32_t(dataLength));
    storeLe32(output + 4, nops[0]);
    storeLe32(output + 8, nops[1]);
    const size_t ops1 = appendOps<kStats>(coder.out, end, halfOps[0], nops[0], stats);
    if (!ops1)
        return 0;
    const size_t ops2 = appendOps<kStats>(coder.out + ops1, end, halfOps[1], nops[1], stats);
    if (!ops2)
        return 0;
    return dataLength + ops1 + ops2;
}

// Work area of one call: the unit-number table (cleared by each stream) and
// the op buffer.
struct UnitWork {
    WorkArea area;
    uint16_t* recent = nullptr;
    uint8_t* ops = nullptr;
    explicit UnitWork(size_t opBytes) : area(65536 * sizeof(uint16_t) + opBytes)
    {
        if (area)
            recent = reinterpret_cast<uint16_t*>(area.data()), ops = area.data() + 65536 * sizeof(uint16_t);
    }
    explicit operator bool() const { return bool(area); }
};

// t tiles of 48 bytes (YCG6: a luma stream of 4t single units) or of 80
// (YG10: a luma-and-alpha stream of 4t paired units), then a chroma stream
// of t paired units.
template <bool kStats, bool kAlpha, SimdLevel kLevel>
uint32_t packYcocgImpl(uint8_t* output, uint32_t capacity, const uint8_t* input, uint32_t n, PackStatistics* stats)
{
    constexpr uint32_t kTileBytes = kAlpha ? 80 : 48, kLumaBytes = kAlpha ? 64 : 32;
    if (n == 0 || n % kTileBytes != 0)
        return 0;
    const uint32_t t = n / kTileBytes;
    // One op buffer serves each stream in turn; a paired stream splits it in
    // two halves.
    const uint32_t opsPerHalf = kAlpha ? 4 * t : 2 * t;
    UnitWork work(size_t(2) * opsPerHalf);
    if (!work)
        return 0;
    uint8_t* end = output + capacity;
    size_t luma;
    if constexpr (kAlpha)
        luma = packUnitPairs<kStats, kLevel>(output, end, input, 4 * t, work.ops, opsPerHalf, work.recent, stats);
    else
        luma = packUnits<kStats, kLevel>(output, end, input, 4 * t, work.ops, work.recent, stats);
    if (!luma)
        return 0;
    const size_t chroma = packUnitPairs<kStats, kLevel>(output + luma, end, input + size_t(kLumaBytes) * t, t, work.ops,
                                                        opsPerHalf, work.recent, stats);
    return chroma ? uint32_t(luma + chroma) : 0;
}

template <bool kStats, bool kAlpha>
uint32_t packYcocgLevel(SimdLevel level, uint8_t* output, uint32_t capacity, const uint8_t* input, uint32_t n,
                        PackStatistics* stats)
{
    return atPackLevel(level,
                       [&](auto L) { return packYcocgImpl<kStats, kAlpha, L>(output, capacity, input, n, stats); });
}

}  // namespace

uint32_t packYcocgBound(uint32_t n) { return n + (n >> 5) + 64; }

uint32_t packYcg6(uint8_t* output, uint32_t capacity, const uint8_t* input, uint32_t n)
{
    return packYcocgLevel<false, false>(activeSimdLevel(), output, capacity, input, n, nullptr);
}
uint32_t packYg10(uint8_t* output, uint32_t capacity, const uint8_t* input, uint32_t n)
{
    return packYcocgLevel<false, true>(activeSimdLevel(), output, capacity, input, n, nullptr);
}
uint32_t packYcg6With(SimdLevel level, uint8_t* output, uint32_t capacity, const uint8_t* input, uint32_t n)
{
    return packYcocgLevel<false, false>(level, output, capacity, input, n, nullptr);
}
uint32_t packYg10With(SimdLevel level, uint8_t* output, uint32_t capacity, const uint8_t* input, uint32_t n)
{
    return packYcocgLevel<false, true>(level, output, capacity, input, n, nullptr);
}
uint32_t packYcg6(uint8_t* output, uint32_t capacity, const uint8_t* input, uint32_t n, PackStatistics& statistics)
{
    return packYcocgLevel<true, false>(activeSimdLevel(), output, capacity, input, n, &statistics);
}
uint32_t packYg10(uint8_t* output, uint32_t capacity, const uint8_t* input, uint32_t n, PackStatistics& statistics)
{
    return packYcocgLevel<true, true>(activeSimdLevel(), output, capacity, input, n, &statistics);
}

}  // namespace nox
