// The unpackers' bounded input and run lengths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/frame_format.h"
#include "codec/opstream.h"
#include "core/bytes.h"

namespace nox::unpack {

// Bounded input cursor.
struct Input {
    const uint8_t* in;
    const uint8_t* end;
    size_t left() const { return size_t(end - in); }
};

// Reads a run length (one byte; 255 continues with u16 values, each 65535
// adding 65535 and the first smaller one ending it). False when the input
// ends or the value exceeds limit.
inline bool readRun(Input& r, uint64_t limit, uint64_t& value)
{
    if (r.in == r.end)
        return false;
    uint64_t v = *r.in++;
    if (v == 255) {
        for (;;) {
            if (r.left() < 2)
                return false;
            const uint32_t w = loadLe16(r.in);
            r.in += 2;
            v += w;
            if (v > limit)
                return false;
            if (w < 65535)
                break;
        }
    }
    if (v > limit)
        return false;
    value = v;
    return true;
}

// `count` repeats of a 16-byte pattern (the 8-byte values a, b) at cur,
// in stores of 32 bytes where `room` (the bytes from cur to the texture's
// end) takes what they write, 16 bytes more for an odd count: the fast unpackers
// restore in order, and what lies past their place is not restored yet and
// is written again when its turn comes. The patterns are the blocks or units
// that a flat area repeats (a == b where they are 8 bytes).
inline void fillPairs(uint8_t* cur, uint64_t a, uint64_t b, size_t count, size_t room)
{
    if ((count + count % 2) * 16 <= room) {
        uint8_t two[32];
        storeLe64(two, a), storeLe64(two + 8, b), storeLe64(two + 16, a), storeLe64(two + 24, b);
        for (size_t i = 0; i < count; i += 2)
            std::memcpy(cur + 16 * i, two, 32);
        return;
    }
    for (size_t i = 0; i < count; ++i, cur += 16) {
        storeLe64(cur, a);
        storeLe64(cur + 8, b);
    }
}

// `count` 8-byte blocks or units, each v, at cur (see fillPairs).
inline void fillBlocks(uint8_t* cur, uint64_t v, size_t count, size_t room)
{
    fillPairs(cur, v, v, count / 2, room);
    if (count % 2 != 0)
        storeLe64(cur + (count - 1) * 8, v);
}

// What the units' ops mean, for both unpackers of unit streams. The hash
// slots are the packer's (codec/frame_format.h: UnitSlots, slotHash, kEmptySlot).

// Per op: its data bytes (op 0: the shortest run length) and, for composite
// ops, the endpoint part (0 literal, 1 hash slot, 2 previous unit) and the
// index part (0 literal, 1 piece 1 by slot, 2 piece 2 by slot, 3 both, 4 distance).
struct OpShape {
    uint8_t data[kOpValues];
    uint8_t endpoints[kOpValues];
    uint8_t indices[kOpValues];
    constexpr OpShape() : data(), endpoints(), indices()
    {
        data[0] = 1;
        data[1] = 0;
        data[2] = 2;
        for (uint32_t op = 3; op < 18; ++op) {
            const uint32_t ep = (op - 3) / 5, ix = (op - 3) % 5;
            endpoints[op] = uint8_t(ep);
            indices[op] = uint8_t(ix);
            const uint32_t refs = (ep == 1) + (ix == 4 || ix == 3 ? 2 : ix != 0 ? 1 : 0);
            const uint32_t literals = (ep == 0 ? 2 : 0) + (ix == 0 ? 6 : ix <= 2 ? 3 : 0);
            data[op] = uint8_t(refs + literals);
        }
    }
};
constexpr OpShape kShape;

// The unpackers of one stream or texture, in two versions: the reference
// (unpack_dxt.cpp, unpack_units.cpp), plain code that reads one code or op at
// a time, and the fast one (unpack_dxt_fast.cpp, unpack_units_fast.cpp),
// which must give the same bytes, results and refusals for any input. The
// Scalar level runs the reference, every other level the fast one (at
// AVX2 and above its unit-stream unpackers built for BMI2).
//   dxt1, dxt5: as unpackDxt1 and unpackDxt5.
//   units:      one stream of m single 8-byte units (YCG6 luma) from
//               [src, src + size); ops holds m bytes.
//   pairs:      one stream of m paired 16-byte units; ops holds 2m bytes.
//   version3:   as unpackVersion3 (the reference is liblzf's decompressor).
// Each returns the bytes it took, 0 when malformed.
using TextureUnpacker = size_t (*)(const uint8_t* payload, uint8_t* destination, size_t payloadSize,
                                   size_t textureSize);
using StreamUnpacker = size_t (*)(const uint8_t* src, size_t size, uint8_t* dst, uint32_t m, uint8_t* ops);

struct Unpackers {
    TextureUnpacker dxt1, dxt5;
    StreamUnpacker units, pairs;
    TextureUnpacker version3;  // types 4 to 7: LZF
    bool usesOpBuffer;         // false: the stream unpackers take a null ops
};
size_t dxt1Reference(const uint8_t* payload, uint8_t* destination, size_t payloadSize, size_t textureSize);
size_t dxt5Reference(const uint8_t* payload, uint8_t* destination, size_t payloadSize, size_t textureSize);
size_t unitsReference(const uint8_t* src, size_t size, uint8_t* dst, uint32_t m, uint8_t* ops);
size_t pairsReference(const uint8_t* src, size_t size, uint8_t* dst, uint32_t m, uint8_t* ops);
size_t version3Reference(const uint8_t* payload, uint8_t* destination, size_t payloadSize, size_t textureSize);

namespace fast {
size_t dxt1(const uint8_t* payload, uint8_t* destination, size_t payloadSize, size_t textureSize);
size_t dxt5(const uint8_t* payload, uint8_t* destination, size_t payloadSize, size_t textureSize);
size_t units(const uint8_t* src, size_t size, uint8_t* dst, uint32_t m, uint8_t* ops);
size_t pairs(const uint8_t* src, size_t size, uint8_t* dst, uint32_t m, uint8_t* ops);
size_t version3(const uint8_t* payload, uint8_t* destination, size_t payloadSize, size_t textureSize);
}  // namespace fast

#if defined(__x86_64__)
// fast::units and fast::pairs built for BMI2 (x86/unpack_units_bmi2.cpp):
// the coded op readers shift by a count in any register, without the moves
// into CL that every op's state takes otherwise. Chosen at the AVX2 level
// and above, which ask for BMI2 as well.
namespace fast_bmi2 {
size_t units(const uint8_t* src, size_t size, uint8_t* dst, uint32_t m, uint8_t* ops);
size_t pairs(const uint8_t* src, size_t size, uint8_t* dst, uint32_t m, uint8_t* ops);
}  // namespace fast_bmi2
#endif

extern const Unpackers kReferenceUnpackers;
extern const Unpackers kFastUnpackers;
extern const Unpackers kFastBmi2Unpackers;  // x86-64 only

// YCG6 (alpha false) and YG10 (alpha true) payloads with one set of stream
// unpackers, the two streams one after the other or at once.
size_t unpackYcocg(bool alpha, const Unpackers& with, bool twoStreams, const uint8_t* payload, uint8_t* destination,
                   size_t payloadSize, size_t textureSize);

// A coded op stream's header: its value frequencies, and the bit count and
// bits that follow them.
struct CodedOps {
    uint16_t frequencies[kOpValues];
    const uint8_t* coded;  // the bit count, then the bits
    uint64_t total;        // bits from the start of the count
    size_t codedBytes;     // of the count and the bits
    size_t bytes;          // the whole stream: frequencies, count and bits
};
// False when the frequencies or the count are malformed or the bits do not
// fit in size.
bool readCodedHeader(const uint8_t* stream, size_t size, CodedOps* c);

// The decoding table of a coded stream: in state s the op is symbol, and
// the next state is base + the nb bits below the current position.
struct OpDecodeEntry {
    uint16_t base;
    uint8_t symbol;
    uint8_t nb;
};
void buildOpDecoding(const uint16_t frequencies[kOpValues], OpDecodeEntry table[kOpStates]);

// The bytes an op stream of n ops takes at stream (size bytes), read from its
// form and header without decoding it; 0 when they are malformed.
size_t opStreamBytes(const uint8_t* stream, size_t size, uint32_t n);

}  // namespace nox::unpack
