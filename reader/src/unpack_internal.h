// Little-endian loads and stores of the unpackers.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace nox::unpack {

static_assert(std::endian::native == std::endian::little,
              "the unpackers load little-endian words directly");

inline uint16_t load16(const uint8_t* p) { uint16_t v; std::memcpy(&v, p, 2); return v; }
inline uint32_t load32(const uint8_t* p) { uint32_t v; std::memcpy(&v, p, 4); return v; }
inline uint64_t load64(const uint8_t* p) { uint64_t v; std::memcpy(&v, p, 8); return v; }
inline void store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }

// Bounded input cursor.
struct Input {
    const uint8_t* in;
    const uint8_t* end;
    size_t left() const { return size_t(end - in); }
};

// Reads a run length (one byte; 255 continues with u16 values, each 65535
// adding 65535 and the first smaller one ending it). False when the input
// ends or the value exceeds limit.
inline bool readRun(Input& r, uint64_t limit, uint64_t& value) {
    if (r.in == r.end) return false;
    uint64_t v = *r.in++;
    if (v == 255) {
        for (;;) {
            if (r.left() < 2) return false;
            const uint32_t w = load16(r.in);
            r.in += 2;
            v += w;
            if (v > limit) return false;
            if (w < 65535) break;
        }
    }
    if (v > limit) return false;
    value = v;
    return true;
}

}  // namespace nox::unpack
