// The unpackers' bounded input and run lengths.
#pragma once

#include <cstddef>
#include <cstdint>

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

// The unpackers of one stream or texture, in two versions: the reference
// (unpack_dxt.cpp, unpack_units.cpp), plain code that reads one code or op at
// a time, and the fast one (unpack_dxt_fast.cpp, unpack_units_fast.cpp),
// which must give the same bytes, results and refusals for any input.
//   dxt1, dxt5: as unpackDxt1 and unpackDxt5.
//   units:      one stream of m single 8-byte units (YCG6 luma) from
//               [src, src + size); ops holds m bytes.
//   pairs:      one stream of m paired 16-byte units; ops holds 2m bytes.
// Each returns the bytes it took, 0 when malformed.
using TextureUnpacker = size_t (*)(const uint8_t* payload, uint8_t* destination, size_t payloadSize,
                                   size_t textureSize);
using StreamUnpacker = size_t (*)(const uint8_t* src, size_t size, uint8_t* dst, uint32_t m, uint8_t* ops);

struct Unpackers {
    TextureUnpacker dxt1, dxt5;
    StreamUnpacker units, pairs;
};
extern const Unpackers kReferenceUnpackers;
extern const Unpackers kFastUnpackers;

// YCG6 (alpha false) and YG10 (alpha true) payloads with one set of stream
// unpackers, the two streams one after the other or at once.
size_t unpackYcocg(bool alpha, const Unpackers& with, bool twoStreams, const uint8_t* payload, uint8_t* destination,
                   size_t payloadSize, size_t textureSize);

// The bytes an op stream of n ops takes at stream (size bytes), read from its
// form and header without decoding it; 0 when they are malformed.
size_t opStreamBytes(const uint8_t* stream, size_t size, uint32_t n);

}  // namespace nox::unpack
