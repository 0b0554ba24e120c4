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

}  // namespace nox::unpack
