// The op streams of unit streams as the fast unpackers take them
// (unpack_units_fast.cpp, built once plain and once with BMI2 under the
// namespace UNIT_UNPACKERS names): the ops' shapes, the readers of the raw,
// single-value and coded forms, and a stream's opening.
#pragma once

#include <algorithm>
#include <cstring>

#include "unpack_internal.h"

#ifndef UNIT_UNPACKERS
#define UNIT_UNPACKERS fast
#endif

namespace nox::unpack::UNIT_UNPACKERS {
namespace {

// Kinds of ops, as most of a stream's ops but its runs may be of one,
// as bits: op 2 (a whole unit from a distance: flat areas, text and repeated
// shapes), the composite ops whose index bytes are literals (fine detail,
// photographs), and the ops whose index bytes come from a distance, op 2
// among them (smooth areas, alpha mattes). The literal ones are of the
// distance kind too: their one literal load and one slot are what the
// distance way takes, less the distance (a photograph's chroma, a mix of
// both, takes that way). Op 1, the previous unit again, is of every kind:
// each kind's way restores it as well.
constexpr uint8_t kWholeOp = 1, kLiteralIndexOps = 2, kDistanceIndexOps = 4, kOtherOps = 8;

// What op 2, a composite op or any other byte takes from where: masks over
// a unit's 8 bytes (endpoints in bytes 0-1, piece 1 in 2-4, piece 2 in
// 5-7), and where its data bytes lie, as offsets from the op's data.
struct Shape {
    // The literal bytes come from two 8-byte loads, at literalAt and
    // secondAt, each of which puts its bytes where they belong in the unit;
    // one is enough but for endpoints and piece 2 without piece 1.
    uint64_t literal = 0, second = 0;
    uint64_t slot = 0, previous = 0, distant = 0;
    // Slot indexes: the hash byte, or 256 and up (a full slot) for the
    // lookups the op does not make.
    uint32_t endpointUnused = 256, piece1Unused = 256, piece2Unused = 256;
    // 0xFFFF where the op takes a distance; elsewhere 0, and farAway all
    // ones, so that the distance points at unit 0, long restored.
    uint32_t distanceMask = 0, farAway = ~0u;
    // 0x80000000 for the values no op has (raw op streams may hold them).
    uint32_t invalid = 0;
    uint8_t kinds = kOtherOps;
    int8_t literalAt = 0, secondAt = 0;
    uint8_t endpointHash = 0, piece1Hash = 0, piece2Hash = 0;
    uint8_t distance = 0;
    uint8_t length = 0;  // data bytes
};

constexpr uint64_t kEndpoints = 0xFFFF, kPiece1 = uint64_t(0xFFFFFF) << 16, kPiece2 = uint64_t(0xFFFFFF) << 40;

struct Shapes {
    Shape op[256];
    constexpr Shapes()
    {
        for (uint32_t v = kOpValues; v < 256; ++v)
            op[v].invalid = 0x80000000u;
        // Op 1 takes the previous unit whole, and nothing from the data:
        // where a way reads a distant unit, as the unit at distance 1 (the
        // distance mask leaves d = 1). Its unit goes into the slots again,
        // which changes none of them.
        Shape& repeat = op[1];
        repeat.previous = ~uint64_t(0);
        repeat.distant = ~uint64_t(0);
        repeat.farAway = 0;
        repeat.kinds = kWholeOp | kLiteralIndexOps | kDistanceIndexOps | kOtherOps;
        Shape& whole = op[2];
        whole.distant = ~uint64_t(0);
        whole.distanceMask = 0xFFFF;
        whole.farAway = 0;
        whole.length = 2;
        whole.kinds = kWholeOp | kDistanceIndexOps;
        for (uint32_t v = 3; v < kOpValues; ++v) {
            Shape& s = op[v];
            const uint32_t ep = kShape.endpoints[v], ix = kShape.indices[v];
            uint32_t at = 0;  // data bytes so far
            if (ep == 1) {
                s.slot |= kEndpoints;
                s.endpointUnused = 0;
                s.endpointHash = uint8_t(at++);
            } else if (ep == 2) {
                s.previous = kEndpoints;
            }
            if (ix == 4) {
                s.distant = kPiece1 | kPiece2;
                s.distanceMask = 0xFFFF;
                s.farAway = 0;
                s.distance = uint8_t(at);
                at += 2;
            }
            if (ix == 1 || ix == 3) {
                s.slot |= kPiece1;
                s.piece1Unused = 0;
                s.piece1Hash = uint8_t(at++);
            }
            if (ix == 2 || ix == 3) {
                s.slot |= kPiece2;
                s.piece2Unused = 0;
                s.piece2Hash = uint8_t(at++);
            }
            // The literals in unit order: endpoints, piece 1, piece 2. A load
            // at `offset` from the data puts a field's bytes in place.
            auto literal = [&](uint64_t mask, int32_t unitByte, uint32_t bytes) {
                const int32_t offset = int32_t(at) - unitByte;
                if (s.literal == 0 || offset == s.literalAt) {
                    s.literalAt = int8_t(offset);
                    s.literal |= mask;
                } else {
                    s.secondAt = int8_t(offset);
                    s.second |= mask;
                }
                at += bytes;
            };
            if (ep == 0)
                literal(kEndpoints, 0, 2);
            if (ix == 0 || ix == 2)
                literal(kPiece1, 2, 3);
            if (ix == 0 || ix == 1)
                literal(kPiece2, 5, 3);
            s.length = uint8_t(at);
            s.kinds = ix == 0   ? kLiteralIndexOps | kDistanceIndexOps
                      : ix == 4 ? kDistanceIndexOps | kOtherOps
                                : kOtherOps;
        }
    }
};
constexpr Shapes kShapes;
static_assert([] {
    for (uint32_t v = 2; v < kOpValues; ++v) {
        const Shape& s = kShapes.op[v];
        if (s.length != kShape.data[v] || s.length > 8 || (s.literal & s.second) != 0)
            return false;
        // Every load lies within 5 bytes before the data and 11 bytes after.
        if (s.literalAt < -5 || s.secondAt < -5 || s.literalAt > 3 || s.secondAt > 3)
            return false;
    }
    return true;
}());

// Ops of the raw and single-value forms: bytes of the stream one after the
// other (raw), or one byte over and over (single value). Raw ops may be any
// byte.
struct PlainOps {
    const uint8_t* at;
    size_t step;
    static constexpr uint8_t kDominant = 0;
    static constexpr uint32_t kGroup = 5;
    uint32_t take()
    {
        const uint32_t op = *at;
        at += step;
        return op;
    }
    uint32_t takeInGroup() { return take(); }
    void startGroup() {}
    uint32_t room() const { return ~0u; }
    bool finished() const { return true; }
};

// The coder's table as the fast reader wants it: the shift that brings the
// state's bits down from the top of the window (63 - their count), and for
// the whole-unit way (wholeUnits) what op 1 and op 2 take.
struct CodedEntry {
    uint16_t base;
    uint8_t symbol;
    uint8_t shift;
    uint8_t bits;           // 63 - shift
    uint8_t whole;          // op 1 or 2: its data bytes (0 or 2); other ops kNotWhole
    uint16_t distanceMask;  // op 2: 0xFFFF; other ops 0
};
constexpr uint8_t kNotWhole = 0xFF;

// Ops of the coded form, decoded as they are taken. The bits are read
// backwards, from the top of a 64-bit window (bits low to low + 63 of the
// stream) of which the first `used` bits are read. In a group of up to
// kGroup ops after startGroup() the window needs no check (it then holds 57
// bits or more, and an op takes at most 10): a state's next state then
// costs one load, one shift and one add. (Groups of five rather than four:
// 1.5 % fewer instructions on high-alpha frames.)
struct CodedOpsReader {
    static constexpr uint8_t kDominant = 0;
    static constexpr uint32_t kGroup = 5;
    const CodedEntry* table;
    const uint8_t* coded;
    size_t codedBytes;
    uint64_t window, low;
    uint32_t used, state;
    bool tooShort;

    // The bit above the next ones to read, counted from the bit count's start.
    uint64_t position() const { return low + 64 - used; }

    // Anywhere in the stream, with every check.
    uint32_t take()
    {
        const CodedEntry e = table[state];
        state = e.base + bits(63u - e.shift);
        return e.symbol;
    }
    // Ops that groups may take: every window reloaded on the way lies above
    // bit 64, and no op reads into the bit count.
    uint32_t room() const
    {
        const uint64_t p = position();
        return p < 64 ? 0 : uint32_t(std::min<uint64_t>((p - 64) / kOpStateBits, ~0u >> 1));
    }
    static_assert(kGroup * kOpStateBits <= 57);
    // The window reloaded to end at the position: at least 57 bits to read.
    void startGroup()
    {
        const uint64_t p = position();
        const size_t first = size_t((p - 1) >> 3) - 7;
        window = loadLe64(coded + first);
        low = uint64_t(first) * 8;
        used = uint32_t(64 - (p - low));
    }
    const CodedEntry& takeEntryInGroup()
    {
        const CodedEntry& e = table[state];
        state = e.base + uint32_t((window << used) >> 1 >> e.shift);
        used += e.bits;
        return e;
    }
    uint32_t takeInGroup() { return takeEntryInGroup().symbol; }
    // The bits used up to the bit count, and the coder back in its first state.
    bool finished() const { return !tooShort && position() == 32 && state == 0; }

    uint32_t bits(uint32_t nb)
    {
        if (nb == 0)
            return 0;  // (the window may hold no bit below the position)
        const uint64_t p = position();
        if (p < 32 + uint64_t(nb)) {
            // The bits would reach into the bit count: a damaged stream.
            tooShort = true;
            return 0;
        }
        if (p - nb < low)
            reload(p);
        used += nb;
        return uint32_t((window << (used - nb)) >> 1 >> (63 - nb));
    }
    // A window that ends at the byte of position p's last bit, as low as it
    // can go without reading outside the coded bytes.
    void reload(uint64_t p)
    {
        const size_t last = size_t((p - 1) >> 3);
        const size_t first = last >= 7 ? last - 7 : 0;
        if (first + 8 <= codedBytes) {
            window = loadLe64(coded + first);
        } else {
            window = 0;
            for (size_t b = first; b < codedBytes; ++b)
                window |= uint64_t(coded[b]) << (8 * (b - first));
        }
        low = uint64_t(first) * 8;
        used = uint32_t(64 - (p - low));
    }
};

// Coded streams whose ops but runs are mostly of one kind, as the
// frequencies tell: those ops are restored by a shorter way that needs only
// what their kind takes, and the few others by the whole one. The branch
// between the two goes the same way most of the time.
template <uint8_t kKind>
struct DominatedReader : CodedOpsReader {
    static constexpr uint8_t kDominant = kKind;
};

// The kind at least three quarters of the ops but runs are of; 0 when there
// is none. (At seven eighths, a screen recording's chroma, 78 % whole
// copies, went the whole way; at three quarters its high frames restore
// about 7 % faster at 4K, a rare other op costing the branch's miss. At
// a half, the alpha of screen high-alpha went slower.)
inline uint8_t dominantKind(const uint16_t frequencies[kOpValues])
{
    uint32_t ops = 0;
    for (uint32_t v = 2; v < kOpValues; ++v)
        ops += frequencies[v];
    for (const uint8_t kind : {kWholeOp, kLiteralIndexOps, kDistanceIndexOps}) {
        uint32_t of = 0;
        for (uint32_t v = 2; v < kOpValues; ++v)
            of += kShapes.op[v].kinds & kind ? frequencies[v] : 0;
        if (of * 4 >= ops * 3)
            return kind;
    }
    return 0;
}

// One op stream as found in the payload: its form and where its ops lie.
struct OpStream {
    uint32_t n = 0;
    size_t bytes = 0;
    bool coded = false;
    uint8_t dominant = 0;  // coded: dominantKind
    PlainOps plain{};
    CodedOpsReader reader{};
    CodedEntry table[kOpStates];

    // False when the stream's form or header is malformed.
    bool open(const uint8_t* stream, size_t size, uint32_t count)
    {
        n = count;
        if (size == 0)
            return false;
        switch (stream[0] & 3) {
        case OP_FORM_RAW:
            if (size - 1 < n)
                return false;
            plain = {stream + 1, 1};
            bytes = size_t(n) + 1;
            return true;
        case OP_FORM_SINGLE:
            if (size < 2 || stream[1] >= kOpValues)
                return false;
            plain = {stream + 1, 0};
            bytes = 2;
            return true;
        case OP_FORM_CODED: {
            CodedOps c;
            if (!readCodedHeader(stream, size, &c))
                return false;
            OpDecodeEntry decoding[kOpStates];
            buildOpDecoding(c.frequencies, decoding);
            for (uint32_t u = 0; u < kOpStates; ++u) {
                const uint8_t op = decoding[u].symbol, nb = decoding[u].nb;
                const bool whole = op == 1 || op == 2;
                table[u] = {decoding[u].base,
                            op,
                            uint8_t(63 - nb),
                            nb,
                            whole ? kShapes.op[op].length : kNotWhole,
                            uint16_t(kShapes.op[op].distanceMask)};
            }
            coded = true;
            dominant = dominantKind(c.frequencies);
            bytes = c.bytes;
            // A window above the last bit: the first read loads it.
            reader = {table, c.coded, c.codedBytes, 0, c.total, 64, 0, false};
            reader.state = reader.bits(kOpStateBits);
            return true;
        }
        default:
            return false;
        }
    }
};

}  // namespace
}  // namespace nox::unpack::UNIT_UNPACKERS
