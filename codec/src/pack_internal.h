// Helpers shared by the byte packers: the level dispatch, run scans, the
// control-word writer and run lengths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "codec/frame_format.h"
#include "core/bytes.h"
#include "core/simd.h"

namespace nox::pack {

// The work area of one packer call (hash tables, op buffers), lent for the
// call from a shelf shared by every thread. A call clears what it uses; the
// areas are kept rather than allocated afresh, so that a frame does not fault
// in a megabyte of new pages. They are not kept per thread: on Win64 the
// runtime frees a thread's own objects wrongly when the thread ends (the
// heap is damaged), and a shelf also hands the areas of ended threads to new
// ones. Empty (data() null) when the memory cannot be had.
class WorkArea {
public:
    explicit WorkArea(size_t bytes);
    ~WorkArea();
    WorkArea(const WorkArea&) = delete;
    WorkArea& operator=(const WorkArea&) = delete;
    uint8_t* data() const { return data_; }
    explicit operator bool() const { return data_ != nullptr; }

private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

// Asks for the cache line at p ahead of its use; never faults. An asm
// statement on x86, since the compiler drops the builtin in places where it
// cannot see a use of the line.
inline void prefetch(const void* p)
{
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
inline uint32_t countEqualUnits(const uint8_t* p, uint32_t stride, uint64_t x, uint32_t count)
{
    uint32_t i = 0;
    while (i < count && loadLe64(p + size_t(stride) * i) == x)
        ++i;
    return i;
}
inline uint32_t countEqualBlocks(const uint8_t* p, const uint8_t* block, uint32_t count)
{
    const uint64_t lo = loadLe64(block), hi = loadLe64(block + 8);
    uint32_t i = 0;
    while (i < count && loadLe64(p + 16 * size_t(i)) == lo && loadLe64(p + 16 * size_t(i) + 8) == hi)
        ++i;
    return i;
}
#if defined(__x86_64__)
uint32_t countEqualUnitsAvx2(const uint8_t* p, uint32_t stride, uint64_t x, uint32_t count);
uint32_t countEqualBlocksAvx2(const uint8_t* p, const uint8_t* block, uint32_t count);
#endif

// A packer at a level is a template on it: Scalar is the reference code;
// Sse2 the fast walk (same output, another memory and hashing order), plain
// C++ for the x86-64 baseline; Avx2 the fast walk with the AVX2 run scans.
// Sse41 has no code of its own and runs Sse2's. Calls pack(level) with the
// level this processor runs at or below `wanted` as a
// std::integral_constant, so that each packer is written once.
template <class Pack>
inline auto atPackLevel(SimdLevel wanted, Pack pack)
{
    using enum SimdLevel;
    switch (runnableSimdLevel(wanted)) {
    case Scalar:
        return pack(std::integral_constant<SimdLevel, Scalar>{});
    case Sse2:
    case Sse41:
        return pack(std::integral_constant<SimdLevel, Sse2>{});
    case Avx2:
    case Avx512:
        break;
    }
    return pack(std::integral_constant<SimdLevel, Avx2>{});
}

template <SimdLevel L>
inline uint32_t runOfUnits(const uint8_t* p, uint32_t stride, uint64_t x, uint32_t count)
{
#if defined(__x86_64__)
    if constexpr (L == SimdLevel::Avx2)
        return countEqualUnitsAvx2(p, stride, x, count);
#endif
    return countEqualUnits(p, stride, x, count);
}
template <SimdLevel L>
inline uint32_t runOfBlocks(const uint8_t* p, const uint8_t* block, uint32_t count)
{
#if defined(__x86_64__)
    if constexpr (L == SimdLevel::Avx2)
        return countEqualBlocksAvx2(p, block, count);
#endif
    return countEqualBlocks(p, block, count);
}

// Run length v: one byte below 255; else 255, then u16 pieces of 65535 and a
// final u16 below 65535. Writes at most 3 + 2 * (v / 65535) bytes.
template <bool kStats, class Stats>
inline uint8_t* writeRun(uint8_t* out, uint32_t v, Stats* stats)
{
    if (v < 255) {
        *out++ = uint8_t(v);
        return out;
    }
    if constexpr (kStats)
        stats->longRuns++;
    *out++ = 255;
    uint32_t w = v - 255;
    while (w >= 65535) {
        storeLe16(out, 65535);
        out += 2;
        w -= 65535;
        if constexpr (kStats)
            stats->runContinuations++;
    }
    storeLe16(out, w);
    return out + 2;
}

// Two-bit codes gathered into 32-bit control words, 16 per word, lowest bits
// first. A word's 4 bytes are reserved at the output position when its first
// code is placed, so a word always precedes the extra bytes of its codes.
struct CodeWriter {
    uint8_t* out;   // where the next byte goes
    uint8_t* word;  // the word being filled
    uint32_t bits = 0;
    uint32_t count = 0;

    CodeWriter(uint8_t* firstWord) : out(firstWord + 4), word(firstWord) {}

    void place(uint32_t code)
    {
        if (count == 16) {
            storeLe32(word, bits);
            word = out;
            out += 4;
            bits = 0;
            count = 0;
        }
        bits |= code << (2 * count);
        ++count;
    }
    // Stores the word being filled (the first word even when it got no code).
    void close() { storeLe32(word, bits); }

    template <bool kStats, class Stats>
    void run(uint32_t v, Stats* stats)
    {
        out = writeRun<kStats>(out, v, stats);
    }
};

}  // namespace nox::pack
