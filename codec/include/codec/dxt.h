// DXT1 colour and DXT5 alpha block encoders.
//
// A block is 16 RGBA pixels (64 bytes) in row-major order. The encoders are
// pure functions of their input: they keep no state, allocate nothing and may
// run on any number of threads at once. Their output is bit-exact across
// compilers and instruction sets.
#pragma once

#include <cstdint>

#include "core/simd.h"

namespace nox {

// Makes sure the lookup tables are ready. The tables are built at compile
// time, so this does nothing; it is kept so callers can state the
// precondition and stays safe to call from any thread, any number of times.
void buildTables();

// Copies the 4x4 block whose top-left pixel is (x, y) from a tightly packed
// RGBA image (row stride width*4) into block. A block that runs past the
// right or bottom edge repeats the pixels that exist (1 -> 0000, 2 -> 0101,
// 3 -> 0120), so it never reads outside the image. x < width and y < height.
void fetchBlock(const uint8_t* image, uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint8_t block[64]);

// Encodes the colour of a block as an 8-byte DXT1 block: c0, c1 (5:6:5,
// little-endian) and the 32-bit index word. c0 >= c1 always; when c0 == c1
// no pixel uses index 3, so the block also decodes opaque in three-colour mode.
void encodeColorBlock(uint8_t* destination, const uint8_t* block);

// The ...With functions run a chosen instruction-set level (for tests and
// benchmarks: core/simd.h); every level writes the same bytes as the scalar
// reference, and the plain functions run activeSimdLevel().
void encodeColorBlockWith(SimdLevel level, uint8_t* destination, const uint8_t* block);

// Encodes the A bytes of a block as an 8-byte DXT5 alpha block: a0 = max,
// a1 = min, 48 bits of 3-bit indices (all zero when a0 == a1).
void encodeAlphaBlock(uint8_t* destination, const uint8_t* block);
void encodeAlphaBlockWith(SimdLevel level, uint8_t* destination, const uint8_t* block);

// The best tier (core/quality.h): improves a colour or alpha block the
// encoders above wrote for `block`, in place. The result decodes with no
// larger squared error than what it was given, keeps c0 > c1 (or c0 == c1
// with no pixel on index 3), and depends only on the block and the bytes
// given, so every level gives the same bytes.
void refineColorBlock(uint8_t* colour, const uint8_t* block);
void refineAlphaBlock(uint8_t* alpha, const uint8_t* block);
// Both over a whole texture the loops below wrote, laid out as they write it.
void refineDxt1Texture(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture);
void refineDxt5Texture(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture);
// The same at a given level (the wide ones search faster, to the same bytes).
void refineDxt1TextureWith(SimdLevel level, const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture);
void refineDxt5TextureWith(SimdLevel level, const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture);

// Whole-texture loops over a padded RGBA picture (row stride width*4; width
// and height multiples of 4). DXT1: 8 bytes per block in raster order of
// blocks. DXT5: per block the alpha block then the colour block (16 bytes).
// The SSE4.1 and AVX2 levels encode 4 and 8 horizontally adjacent blocks at
// once.
void encodeDxt1Texture(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture);
void encodeDxt5Texture(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture);
void encodeDxt1TextureWith(SimdLevel level, const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture);
void encodeDxt5TextureWith(SimdLevel level, const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture);

// The encoder's lookup tables, read-only for the life of the process.
// expand5/6 widen a 5-/6-bit channel to 8 bits; omatch5/6[v] = {hi, lo} is
// the endpoint pair whose two-thirds point (2*hi + lo)/3 best reproduces v.
struct DxtTables {
    uint8_t expand5[32];
    uint8_t expand6[64];
    uint8_t omatch5[256][2];
    uint8_t omatch6[256][2];
};
const DxtTables& dxtTables();

// 5:6:5 value of an 8-bit colour, each channel rounded to its bit depth.
uint16_t as565(uint8_t r, uint8_t g, uint8_t b);

}  // namespace nox
