// Helpers shared by the byte packers: little-endian loads and stores, the
// control-word writer and run lengths.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "codec/dxt.h"

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

// Run scans: how many of the count units (8 bytes at p, p + stride, ...)
// equal x before the first that does not; how many of the count 16-byte
// blocks from p equal block. The AVX2 versions return the same (stride 8
// or 16).
inline uint32_t countEqualUnits(const uint8_t* p, uint32_t stride, uint64_t x, uint32_t count) {
    uint32_t i = 0;
    while (i < count && load64(p + size_t(stride) * i) == x) ++i;
    return i;
}
inline uint32_t countEqualBlocks(const uint8_t* p, const uint8_t* block, uint32_t count) {
    const uint64_t lo = load64(block), hi = load64(block + 8);
    uint32_t i = 0;
    while (i < count && load64(p + 16 * size_t(i)) == lo && load64(p + 16 * size_t(i) + 8) == hi) ++i;
    return i;
}
#if defined(__x86_64__)
uint32_t countEqualUnitsAvx2(const uint8_t* p, uint32_t stride, uint64_t x, uint32_t count);
uint32_t countEqualBlocksAvx2(const uint8_t* p, const uint8_t* block, uint32_t count);
#endif

// How a packer runs: the reference code; the fast code (same output,
// different memory and hashing order); the fast code with the AVX2 scans.
enum class PackLevel { Reference, Fast, Avx2 };

inline PackLevel packLevel(DxtKernel kernel) {
    if (kernel >= DxtKernel::Avx2 && dxtKernelSupported(DxtKernel::Avx2)) return PackLevel::Avx2;
    if (kernel >= DxtKernel::Sse2 && dxtKernelSupported(DxtKernel::Sse2)) return PackLevel::Fast;
    return PackLevel::Reference;
}

template <PackLevel L>
inline uint32_t runOfUnits(const uint8_t* p, uint32_t stride, uint64_t x, uint32_t count) {
#if defined(__x86_64__)
    if constexpr (L == PackLevel::Avx2) return countEqualUnitsAvx2(p, stride, x, count);
#endif
    return countEqualUnits(p, stride, x, count);
}
template <PackLevel L>
inline uint32_t runOfBlocks(const uint8_t* p, const uint8_t* block, uint32_t count) {
#if defined(__x86_64__)
    if constexpr (L == PackLevel::Avx2) return countEqualBlocksAvx2(p, block, count);
#endif
    return countEqualBlocks(p, block, count);
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
