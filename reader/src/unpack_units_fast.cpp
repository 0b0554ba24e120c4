// The fast unpackers of unit streams (see unpack_internal.h).
//
// One pass: each op is decoded from its op stream when its unit comes up, so
// that decoding the ops and restoring the units run side by side in the
// processor instead of one after the other. A unit of op 2 or of a composite
// op is restored without a branch on the op: every source such an op may
// take is read (its literal bytes, the hash slots, the previous unit, the unit
// a distance points at) and masks from a table keep what this op takes. The
// slots hold the endpoint and piece values themselves, so a slot costs one
// load; a lookup the op does not make reads a slot that is always full.
//
// A damaged op does not stop the pass at once: its reads are kept inside what
// is restored, a flag records it, and the stream is refused at its end. Ops
// are taken in stretches that cannot reach the end of the data, so that only
// the last few go through checked reads. Runs are written whole, in 32-byte
// stores (fillBlocks); in a paired stream a stretch where both halves repeat
// is written so too, and where one half repeats, a unit at a time.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "unpack_internal.h"

// The same source is built a second time for processors with BMI2
// (x86/unpack_units_bmi2.cpp), under its own namespace.
#ifndef UNIT_UNPACKERS
#define UNIT_UNPACKERS fast
#endif

#include "unpack_units_ops.h"

namespace nox::unpack::UNIT_UNPACKERS {
namespace {

// Slots of one half: endpoint and piece values by their hash; entries 256 and
// up are always full, for the lookups an op does not make.
struct Slots {
    uint32_t endpoints[512];
    uint32_t pieces[512];
    explicit Slots(uint64_t first)
    {
        std::fill(endpoints, endpoints + 256, kEmptySlot);
        std::fill(endpoints + 256, std::end(endpoints), 0);
        std::fill(pieces, pieces + 256, kEmptySlot);
        std::fill(pieces + 256, std::end(pieces), 0);
        insert(first);
    }
    void insert(uint64_t unit)
    {
        const uint32_t e = uint32_t(unit) & 0xFFFF, p = uint32_t(unit >> 16) & 0xFFFFFF;
        endpoints[slotHash(e)] = e;
        pieces[slotHash(p)] = p;
    }
};

// One half of a stream as the loops carry it. Its slots are the loop's own:
// without them inside it, the compiler keeps more of a half in registers
// (screen high-alpha at 4K restored about 5 % faster).
template <class Reader>
struct Half {
    Reader ops;
    uint32_t left;  // ops not yet taken
    uint64_t previous;
    uint64_t pending = 0;  // units of a run still to come (paired streams)
    Slots& slots;
    Half(const Reader& r, uint32_t n, uint64_t first, Slots& s) : ops(r), left(n), previous(first), slots(s) {}
};

// Op 1 or op 2 for unit j at cur (units S bytes apart): the unit before, or
// the one the data's distance points at (distanceMask 0 for op 1). A
// distance past unit 0 sets bit 31 of bad; from unit 65 536 on none can
// (!kNear).
template <size_t S, bool kNear = true>
[[gnu::always_inline]] inline uint64_t wholeUnit(const uint8_t* in, uint32_t distanceMask, const uint8_t* cur,
                                                 uint32_t j, uint32_t& bad)
{
    uint32_t d = (loadLe16(in) & distanceMask) + 1;
    if (kNear) {
        bad |= j - d;
        d = std::min(d, j);
    }
    return loadLe64(cur - size_t(d) * S);
}

// Unit j at cur (units S bytes apart) from any op but 0 and 1, its data at
// in. Damage sets bit 31 of bad: an empty slot holds kEmptySlot, a distance past
// unit 0 makes j - d negative, an op value no op has is `invalid`. Reads
// stay inside the restored units whatever the op, and within 5 bytes before
// and 11 bytes after in.
template <size_t S, uint8_t kDominant>
[[gnu::always_inline]] inline uint64_t restore(const uint8_t* in, const uint8_t* cur, uint32_t j, const Shape& s,
                                               uint64_t previous, const Slots& slots, uint32_t& bad)
{
    if (kDominant == kWholeOp && (s.kinds & kWholeOp)) [[likely]]
        return wholeUnit<S>(in, s.distanceMask, cur, j, bad);
    if (kDominant == kDistanceIndexOps && (s.kinds & kDistanceIndexOps)) [[likely]] {
        // Endpoints from the data, a slot, the previous unit or the distant
        // one; the index bytes from the distant unit, the previous one or the
        // data (a literal op's distance points at unit 0, which it masks out).
        const uint32_t e = slots.endpoints[in[0] | s.endpointUnused];
        const uint32_t d = (loadLe16(in + s.distance) & s.distanceMask) + 1;
        bad |= e | (j - d);
        const uint64_t distant = loadLe64(cur - size_t(std::min(d | s.farAway, j)) * S);
        return (loadLe64(in + s.literalAt) & s.literal) | (e & s.slot) | (previous & s.previous) |
               (distant & s.distant);
    }
    if (kDominant == kLiteralIndexOps && (s.kinds & kLiteralIndexOps)) [[likely]] {
        // Endpoints from the data, a slot or the previous unit; the index
        // bytes from the data.
        const uint32_t e = slots.endpoints[in[0] | s.endpointUnused];
        bad |= e;
        return (loadLe64(in + s.literalAt) & s.literal) | (e & s.slot) | (previous & s.previous);
    }
    const uint32_t e = slots.endpoints[in[s.endpointHash] | s.endpointUnused];
    const uint32_t a = slots.pieces[in[s.piece1Hash] | s.piece1Unused];
    const uint32_t b = slots.pieces[in[s.piece2Hash] | s.piece2Unused];
    const uint32_t d = (loadLe16(in + s.distance) & s.distanceMask) + 1;
    bad |= e | a | b | (j - d) | s.invalid;
    const uint64_t distant = loadLe64(cur - size_t(std::min(d | s.farAway, j)) * S);
    const uint64_t literal = (loadLe64(in + s.literalAt) & s.literal) | (loadLe64(in + s.secondAt) & s.second);
    // Values of empty slots spill into their neighbours: such a unit is refused.
    const uint64_t slot = e | uint64_t(a) << 16 | uint64_t(b) << 40;
    return literal | (slot & s.slot) | (previous & s.previous) | (distant & s.distant);
}

// Near the end of the data: the last bytes in a zero-padded copy, so that
// each op can still read 5 bytes before its data and 11 after.
struct DataTail {
    uint8_t bytes[32];
    bool used = false;
    void keepReadable(const uint8_t*& in, const uint8_t*& end)
    {
        if (size_t(end - in) < 11 && !used) {
            const size_t n = size_t(end - in);
            std::memset(bytes, 0, sizeof bytes);
            std::memcpy(bytes, in - 8, n + 8);
            in = bytes + 8;
            end = in + n;
            used = true;
        }
    }
};

// What step() did: kMalformed (the stream is malformed here), kUnit (one
// unit restored), kRun (a run begun: its units written, or in a paired stream
// the first of them and the rest pending), kLongRun (the same, from more
// than 8 bytes of data).
constexpr uint32_t kMalformed = 0, kUnit = 1, kRun = 2, kLongRun = 3;

// m - j where a run needs it. Hidden from the compiler, which would
// otherwise keep m - j as one more induction variable of the unit loops, in
// memory for want of registers, and update it at every unit (1.5 to 3 % of
// the loops' instructions).
inline uint32_t unitsLeft(uint32_t m, uint32_t j)
{
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    asm("" : "+r"(m));
#endif
    return m - j;
}

// Op `op` of a half for unit j at cur. kChecked: the data may end within
// the op's reach.
template <size_t S, bool kPaired, bool kChecked, class Reader>
[[gnu::always_inline]] inline uint32_t apply(Half<Reader>& h, uint32_t op, const uint8_t*& in, const uint8_t*& end,
                                             DataTail& tail, uint8_t* cur, uint32_t& j, uint32_t m, uint32_t& bad)
{
    if (op != 0) [[likely]] {
        const Shape& s = kShapes.op[op];
        if (kChecked) {
            tail.keepReadable(in, end);
            if (s.length > size_t(end - in))
                return kMalformed;
        }
        // wholeUnits leaves h.previous behind: its streams' previous unit
        // is the one before cur.
        const uint64_t previous = kPaired || Reader::kDominant != kWholeOp ? h.previous : loadLe64(cur - 8);
        const uint64_t v = restore<S, Reader::kDominant>(in, cur, j, s, previous, h.slots, bad);
        storeLe64(cur, v);
        h.previous = v;
        h.slots.insert(v);
        in += s.length;
        if (!kPaired)
            ++j;
        return kUnit;
    }
    // Runs leave the slots alone: the unit before the run, equal to every
    // unit of it, is already in them.
    Input data{in, end};
    uint64_t v;
    const uint32_t units = unitsLeft(m, j);
    if (units < 4 || !readRun(data, units - 4, v))
        return kMalformed;
    const bool longRun = data.in - in > 8;
    in = data.in;
    if (kPaired) {
        h.pending = v + 3;
        storeLe64(cur, h.previous);
    } else {
        fillBlocks(cur, loadLe64(cur - 8), v + 4, size_t(m - j) * 8);
        j += uint32_t(v) + 4;
    }
    return longRun ? kLongRun : kRun;
}

// The next op of a half, taken and applied; kGrouped: taken within a group.
template <size_t S, bool kPaired, bool kChecked, bool kGrouped, class Reader>
[[gnu::always_inline]] inline uint32_t step(Half<Reader>& h, const uint8_t*& in, const uint8_t*& end, DataTail& tail,
                                            uint8_t* cur, uint32_t& j, uint32_t m, uint32_t& bad)
{
    if (kChecked && h.left == 0)
        return kMalformed;
    --h.left;
    if constexpr (kGrouped && Reader::kDominant == kWholeOp) {
        // Op 1 and op 2 from the coder's table alone (see wholeUnits).
        const CodedEntry& e = h.ops.takeEntryInGroup();
        if (e.whole != kNotWhole) [[likely]] {
            const uint64_t v = wholeUnit<S>(in, e.distanceMask, cur, j, bad);
            storeLe64(cur, v);
            h.previous = v;
            h.slots.insert(v);
            in += e.whole;
            if (!kPaired)
                ++j;
            return kUnit;
        }
        return apply<S, kPaired, kChecked>(h, e.symbol, in, end, tail, cur, j, m, bad);
    }
    const uint32_t op = kGrouped ? h.ops.takeInGroup() : h.ops.take();
    return apply<S, kPaired, kChecked>(h, op, in, end, tail, cur, j, m, bad);
}

// The ops of a stretch (see unitsLoop) of a single-unit stream whose ops but
// runs are mostly op 1 and op 2, a screen's luma: those two are restored
// here, from the coder's table alone and with what they need in registers,
// the other ops the common way. A unit's distance needs no check from unit
// 65 536 on (!kNear), where no distance reaches past unit 0.
constexpr uint32_t kShortRun = 16;
template <bool kNear, class Reader>
[[gnu::always_inline]] inline bool wholeUnits(Half<Reader>& h, const uint8_t*& in, const uint8_t*& end, DataTail& tail,
                                              uint8_t* dst, uint32_t& j, uint32_t m, uint32_t& bad, uint32_t k)
{
    const CodedEntry* const table = h.ops.table;
    // The k ops are taken from the count now; those a run leaves are given back.
    h.left -= k;
    auto holdToUnitsLeft = [&] {
        if (k > m - j) {
            h.left += k - (m - j);
            k = m - j;
        }
    };
    uint8_t* cur = dst + size_t(j) * 8;
    uint32_t state = h.ops.state;
    while (k > 0) {
        h.ops.startGroup();
        const uint64_t window = h.ops.window;
        uint32_t used = h.ops.used;
        // Ops while the window holds the bits of one more. Not a fixed group:
        // the branch that ends a group of five missed often, where this one
        // ends every 20 to 30 ops of a screen's luma.
        do {
            --k;
            const CodedEntry& e = table[state];
            state = e.base + uint32_t((window << used) >> 1 >> e.shift);
            used += e.bits;
            if (e.whole != kNotWhole) [[likely]] {
                const uint64_t v = wholeUnit<8, kNear>(in, e.distanceMask, cur, j, bad);
                storeLe64(cur, v);
                h.slots.insert(v);
                in += e.whole;
                cur += 8;
                ++j;
                continue;
            }
            if (e.symbol == 0 && in[0] < kShortRun - 3 && m - j >= kShortRun) {
                // A run of 4 to 16 units, its length in one byte: 16 units
                // written whatever its length, the rest written again later.
                const uint32_t units = in[0] + 4u;
                fillBlocks(cur, loadLe64(cur - 8), kShortRun, kShortRun * 8);
                in += 1;
                cur += size_t(units) * 8;
                j += units;
                holdToUnitsLeft();
                continue;
            }
            const uint32_t did = apply<8, false, false>(h, e.symbol, in, end, tail, cur, j, m, bad);
            cur = dst + size_t(j) * 8;
            if (did == kMalformed)
                return false;
            if (did == kLongRun) {
                h.left += k;
                k = 0;
            } else if (did == kRun) {
                holdToUnitsLeft();
            }
        } while (k > 0 && used <= 64 - kOpStateBits);
        h.ops.used = used;
    }
    h.ops.state = state;
    return true;
}

// Units a stretch may restore unchecked: each of their ops reads at most 11
// bytes past its data and takes at most 8, and the readers have that many
// ops left, in groups.
template <class Reader>
inline uint32_t stretch(const uint8_t* in, const uint8_t* end, uint32_t opsPerUnit, const Half<Reader>& h)
{
    const size_t room = size_t(end - in);
    if (room < 24)
        return 0;
    return uint32_t(std::min<size_t>({h.left, h.ops.room(), (room - 16) / (8 * opsPerUnit)}));
}

template <class Reader>
bool unitsLoop(const Reader& reader, uint32_t n, const uint8_t* in, const uint8_t* end, uint8_t* dst, uint32_t m)
{
    Slots slots(loadLe64(dst));
    Half<Reader> h(reader, n, loadLe64(dst), slots);
    DataTail tail;
    uint32_t bad = 0;
    for (uint32_t j = 1; j < m;) {
        uint32_t k = std::min(stretch(in, end, 1, h), m - j);
        if (k == 0) {
            if (!step<8, false, true, false>(h, in, end, tail, dst + size_t(j) * 8, j, m, bad))
                return false;
            continue;
        }
        if constexpr (Reader::kDominant == kWholeOp) {
            if (!(j >= 65536 ? wholeUnits<false>(h, in, end, tail, dst, j, m, bad, k)
                             : wholeUnits<true>(h, in, end, tail, dst, j, m, bad, k)))
                return false;
            continue;
        }
        // k ops in groups that take no window check. Each takes at most 8
        // bytes (only a run of 196 864 units or more takes more, and it ends
        // the stretch), and each but a run restores one unit, so that the k
        // fit in the texture; after a run the ops left are held to the units
        // left.
        while (k > 0) {
            h.ops.startGroup();
            uint32_t g = std::min(k, Reader::kGroup);
            k -= g;
            for (uint32_t i = 0; i < g; ++i) {
                const uint32_t did = step<8, false, false, true>(h, in, end, tail, dst + size_t(j) * 8, j, m, bad);
                if (did != kUnit) [[unlikely]] {
                    if (did == kMalformed)
                        return false;
                    const uint32_t units = m - j, later = g - i - 1;
                    if (did == kLongRun || later > units) {
                        g = i + 1 + std::min(later, units);
                        k = 0;
                    } else {
                        k = std::min(k, units - later);
                    }
                }
            }
        }
    }
    return h.left == 0 && h.ops.finished() && in == end && (bad & 0x80000000u) == 0;
}

// One unit of a paired stream: each half repeats or takes its op.
template <bool kChecked, bool kGrouped, class Reader0, class Reader1>
[[gnu::always_inline]] inline bool pairUnit(Half<Reader0>& h0, Half<Reader1>& h1, const uint8_t*& in,
                                            const uint8_t*& end, DataTail& tail, uint8_t* cur, uint32_t j, uint32_t m,
                                            uint32_t& bad)
{
    if (h0.pending > 0) {
        --h0.pending;
        storeLe64(cur, h0.previous);
    } else if (!step<16, true, kChecked, kGrouped>(h0, in, end, tail, cur, j, m, bad)) {
        return false;
    }
    if (h1.pending > 0) {
        --h1.pending;
        storeLe64(cur + 8, h1.previous);
    } else if (!step<16, true, kChecked, kGrouped>(h1, in, end, tail, cur + 8, j, m, bad)) {
        return false;
    }
    return true;
}

// One unit of a paired stream, in a group through which the other half
// repeats `other`: this half (the first when kFirst) repeats or takes its op.
template <bool kFirst, class Reader>
[[gnu::always_inline]] inline bool halfUnit(Half<Reader>& h, uint64_t other, const uint8_t*& in, const uint8_t*& end,
                                            DataTail& tail, uint8_t* cur, uint32_t j, uint32_t m, uint32_t& bad)
{
    uint8_t* const mine = kFirst ? cur : cur + 8;
    storeLe64(kFirst ? cur + 8 : cur, other);
    if (h.pending > 0) {
        --h.pending;
        storeLe64(mine, h.previous);
        return true;
    }
    return step<16, true, false, true>(h, in, end, tail, mine, j, m, bad) != kMalformed;
}

template <class Reader0, class Reader1>
bool pairsLoop(const Reader0& reader0, uint32_t n0, const Reader1& reader1, uint32_t n1, const uint8_t* in,
               const uint8_t* end, uint8_t* dst, uint32_t m)
{
    Slots slots0(loadLe64(dst)), slots1(loadLe64(dst + 8));
    Half<Reader0> h0(reader0, n0, loadLe64(dst), slots0);
    Half<Reader1> h1(reader1, n1, loadLe64(dst + 8), slots1);
    DataTail tail;
    uint32_t bad = 0;
    for (uint32_t j = 1; j < m;) {
        if (h0.pending > 0 && h1.pending > 0) {
            // Both halves repeat: whole units.
            const uint64_t k = std::min<uint64_t>({h0.pending, h1.pending, m - j});
            fillPairs(dst + size_t(j) * 16, h0.previous, h1.previous, k, size_t(m - j) * 16);
            h0.pending -= k;
            h1.pending -= k;
            j += uint32_t(k);
            continue;
        }
        const uint32_t k = std::min({stretch(in, end, 2, h0), stretch(in, end, 2, h1), m - j});
        if (k == 0) {
            if (!pairUnit<true, false>(h0, h1, in, end, tail, dst + size_t(j) * 16, j, m, bad))
                return false;
            ++j;
            continue;
        }
        // Groups as in unitsLoop; the stretch ends where both halves repeat.
        // A group through which one half repeats takes only the other's ops.
        for (const uint32_t last = j + k; j < last && (h0.pending == 0 || h1.pending == 0);) {
            const uint32_t g = std::min(last - j, CodedOpsReader::kGroup);
            if (h1.pending >= g) {
                h0.ops.startGroup();
                for (const uint32_t groupEnd = j + g; j < groupEnd; ++j)
                    if (!halfUnit<true>(h0, h1.previous, in, end, tail, dst + size_t(j) * 16, j, m, bad))
                        return false;
                h1.pending -= g;
            } else if (h0.pending >= g) {
                h1.ops.startGroup();
                for (const uint32_t groupEnd = j + g; j < groupEnd; ++j)
                    if (!halfUnit<false>(h1, h0.previous, in, end, tail, dst + size_t(j) * 16, j, m, bad))
                        return false;
                h0.pending -= g;
            } else {
                h0.ops.startGroup();
                h1.ops.startGroup();
                for (const uint32_t groupEnd = j + g; j < groupEnd; ++j)
                    if (!pairUnit<false, true>(h0, h1, in, end, tail, dst + size_t(j) * 16, j, m, bad))
                        return false;
            }
        }
    }
    return h0.left == 0 && h1.left == 0 && h0.ops.finished() && h1.ops.finished() && in == end &&
           (bad & 0x80000000u) == 0;
}

// f(reader) with the reader that suits the stream.
template <class F>
bool withReader(const OpStream& ops, F&& f)
{
    if (!ops.coded)
        return f(ops.plain);
    if (ops.dominant == kWholeOp)
        return f(DominatedReader<kWholeOp>{ops.reader});
    if (ops.dominant == kLiteralIndexOps)
        return f(DominatedReader<kLiteralIndexOps>{ops.reader});
    if (ops.dominant == kDistanceIndexOps)
        return f(DominatedReader<kDistanceIndexOps>{ops.reader});
    return f(ops.reader);
}

// A stream's header and its `halves` op streams; false when malformed.
bool openStream(const uint8_t* src, size_t size, uint32_t m, uint32_t halves, OpStream* ops, size_t* dataStart,
                size_t* dataLength, size_t* used)
{
    const size_t header = 4 + 4 * size_t(halves), first = header + 8 * size_t(halves);
    if (size < first || m == 0)
        return false;
    *dataLength = loadLe32(src);
    if (*dataLength < first || *dataLength > size)
        return false;
    size_t at = *dataLength;
    for (uint32_t k = 0; k < halves; ++k) {
        const uint32_t n = loadLe32(src + 4 + 4 * k);
        if (n > m - 1 || !ops[k].open(src + at, size - at, n))
            return false;
        at += ops[k].bytes;
    }
    *dataStart = header;
    *used = at;
    return true;
}

}  // namespace

size_t units(const uint8_t* src, size_t size, uint8_t* dst, uint32_t m, uint8_t*)
{
    OpStream ops;
    size_t start, length, used;
    if (!openStream(src, size, m, 1, &ops, &start, &length, &used))
        return 0;
    std::memcpy(dst, src + start, 8);
    const uint8_t *in = src + start + 8, *end = src + length;
    return withReader(ops, [&](const auto& r) { return unitsLoop(r, ops.n, in, end, dst, m); }) ? used : 0;
}

size_t pairs(const uint8_t* src, size_t size, uint8_t* dst, uint32_t m, uint8_t*)
{
    OpStream ops[2];
    size_t start, length, used;
    if (!openStream(src, size, m, 2, ops, &start, &length, &used))
        return 0;
    std::memcpy(dst, src + start, 16);
    const uint8_t *in = src + start + 16, *end = src + length;
    const OpStream &a = ops[0], &b = ops[1];
    const bool ok = withReader(a, [&](const auto& ra) {
        return withReader(b, [&](const auto& rb) { return pairsLoop(ra, a.n, rb, b.n, in, end, dst, m); });
    });
    return ok ? used : 0;
}

}  // namespace nox::unpack::UNIT_UNPACKERS
