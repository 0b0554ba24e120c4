// Helpers shared by the byte packers: little-endian loads and stores, the
// control-word writer and run lengths.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace nox::pack {

static_assert(std::endian::native == std::endian::little,
              "the packers load and store little-endian words directly");

inline uint16_t load16(const uint8_t* p) { uint16_t v; std::memcpy(&v, p, 2); return v; }
inline uint32_t load32(const uint8_t* p) { uint32_t v; std::memcpy(&v, p, 4); return v; }
inline uint64_t load64(const uint8_t* p) { uint64_t v; std::memcpy(&v, p, 8); return v; }
inline void store16(uint8_t* p, uint32_t v) { uint16_t w = uint16_t(v); std::memcpy(p, &w, 2); }
inline void store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline void store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }

// Asks for the cache line at p ahead of its use; never faults. An asm
// statement on x86, since the compiler drops the builtin in places where it
// cannot see a use of the line.
inline void prefetch(const void* p) {
#if defined(__x86_64__) || defined(__i386__)
    asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(p)));
#else
    __builtin_prefetch(p);
#endif
}

// Run length v: one byte below 255; else 255, then u16 pieces of 65535 and a
// final u16 below 65535. Writes at most 3 + 2 * (v / 65535) bytes.
template <bool kStats, class Stats>
inline uint8_t* writeRun(uint8_t* out, uint32_t v, Stats* stats) {
    if (v < 255) {
        *out++ = uint8_t(v);
        return out;
    }
    if constexpr (kStats) stats->longRuns++;
    *out++ = 255;
    uint32_t w = v - 255;
    while (w >= 65535) {
        store16(out, 65535);
        out += 2;
        w -= 65535;
        if constexpr (kStats) stats->runContinuations++;
    }
    store16(out, w);
    return out + 2;
}

// Two-bit codes gathered into 32-bit control words, 16 per word, lowest bits
// first. A word's 4 bytes are reserved at the output position when its first
// code is placed, so a word always precedes the extra bytes of its codes.
struct CodeWriter {
    uint8_t* out;     // where the next byte goes
    uint8_t* word;    // the word being filled
    uint32_t bits = 0;
    uint32_t count = 0;

    CodeWriter(uint8_t* firstWord) : out(firstWord + 4), word(firstWord) {}

    void place(uint32_t code) {
        if (count == 16) {
            store32(word, bits);
            word = out;
            out += 4;
            bits = 0;
            count = 0;
        }
        bits |= code << (2 * count);
        ++count;
    }
    // Stores the word being filled (the first word even when it got no code).
    void close() { store32(word, bits); }

    template <bool kStats, class Stats>
    void run(uint32_t v, Stats* stats) { out = writeRun<kStats>(out, v, stats); }
};

}  // namespace nox::pack
