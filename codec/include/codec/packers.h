// Byte-level packers of Zemo 3 textures.
//
// Each packer shrinks one texture by coding blocks, or halves of blocks, as
// references to identical ones seen before at block-aligned distances. A
// result of 0 means "store the texture raw"; it is never an error.
#pragma once

#include <cstdint>

#include "core/simd.h"

namespace nox {

// Capacity the DXT packers need for n input bytes: n + (n >> 3) + 64.
uint32_t packDxtBound(uint32_t n);
// Capacity the YCG6/YG10 packers are given for n input bytes: n + (n >> 5) + 64.
uint32_t packYcocgBound(uint32_t n);

// Packs a DXT1 texture (n bytes, a multiple of 8). Returns the packed length,
// or 0 when capacity < packDxtBound(n) or the packed form would be longer than n.
uint32_t packDxt1(const uint8_t* input, uint32_t n, uint8_t* output, uint32_t capacity);
// Same for a DXT5 texture (n a multiple of 16: alpha half, then colour half).
uint32_t packDxt5(const uint8_t* input, uint32_t n, uint8_t* output, uint32_t capacity);

// Packs a YCG6 texture (n a multiple of 48) as a luma stream followed by a
// chroma stream. Returns the packed length, which may exceed n (the caller
// then stores the texture raw), or 0 when n is not a multiple of 48, or when
// the result would not fit in capacity (packYcocgBound(n) is always enough
// for real textures; pathological ones are then stored raw).
uint32_t packYcg6(uint8_t* output, uint32_t capacity, const uint8_t* input, uint32_t n);
// Same for a YG10 texture (n a multiple of 80): luma-and-alpha stream, then chroma.
uint32_t packYg10(uint8_t* output, uint32_t capacity, const uint8_t* input, uint32_t n);

// The same with a chosen instruction-set level (for tests and benchmarks:
// core/simd.h); every level writes the scalar reference's bytes, and the
// plain packers run activeSimdLevel(). The fast levels differ in how they
// walk memory, not in what they code.
uint32_t packDxt1With(SimdLevel level, const uint8_t* input, uint32_t n, uint8_t* output, uint32_t capacity);
uint32_t packDxt5With(SimdLevel level, const uint8_t* input, uint32_t n, uint8_t* output, uint32_t capacity);
uint32_t packYcg6With(SimdLevel level, uint8_t* output, uint32_t capacity, const uint8_t* input, uint32_t n);
uint32_t packYg10With(SimdLevel level, uint8_t* output, uint32_t capacity, const uint8_t* input, uint32_t n);

// What a packer did, counted while it packs. For tests and tools: the
// overloads below produce exactly the same bytes as the plain packers.
struct PackStatistics {
    // DXT packers. Index = code (0 = not a reference: literal or split block).
    uint64_t blockCodes[4] = {};    // whole colour block: 0 split, 1..3 reference codes
    uint64_t colourCodes[4] = {};   // colour word of a split block: 0 literal
    uint64_t indexCodes[4] = {};    // index word of a split block: 0 literal
    uint64_t alphaCodes[4] = {};    // DXT5 alpha codes 0..3
    uint64_t longRuns = 0;          // run lengths of 255 or more
    uint64_t runContinuations = 0;  // u16 values of 65535 inside run lengths
    // YCG6/YG10 packers.
    uint64_t ops[18] = {};     // op values over all op streams
    uint64_t opForms[3] = {};  // op streams written raw, single-value, entropy-coded
};
uint32_t packDxt1(const uint8_t* input, uint32_t n, uint8_t* output, uint32_t capacity, PackStatistics& statistics);
uint32_t packDxt5(const uint8_t* input, uint32_t n, uint8_t* output, uint32_t capacity, PackStatistics& statistics);
uint32_t packYcg6(uint8_t* output, uint32_t capacity, const uint8_t* input, uint32_t n, PackStatistics& statistics);
uint32_t packYg10(uint8_t* output, uint32_t capacity, const uint8_t* input, uint32_t n, PackStatistics& statistics);

}  // namespace nox
