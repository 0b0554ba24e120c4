// High-quality YCoCg encoders: a full-resolution luma plane (with, for YG10,
// a full-resolution alpha plane) and a quarter-resolution Co/Cg plane, all
// coded as single-channel 4x4 blocks of the DXT5-alpha kind.
//
// Texture layout for a W x H picture (both multiples of 8):
//   YCG6: luma blocks (8 bytes) in raster order of 4x4 blocks, W*H/2 bytes;
//         then per 8x8 tile in raster order the Co block and the Cg block,
//         W*H/4 bytes. Total W*H*3/4.
//   YG10: per 4x4 block in raster order the luma block then the alpha block
//         (16 bytes), W*H bytes; then the chroma plane as for YCG6. Total
//         W*H*5/4.
// Like the DXT encoders these are pure functions, safe on any thread.
#pragma once

#include <cstdint>
#include <memory>

#include "core/simd.h"

namespace nox {

// Encodes a tightly packed RGBA picture (row stride width*4). Returns 0 on
// success (also for an empty picture, nothing written) and 1, writing
// nothing, when width or height is not a multiple of 8.
int encodeYcg6(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture);
int encodeYg10(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture);

// The same with a chosen instruction-set level (for tests and benchmarks:
// core/simd.h); every level writes the scalar reference's bytes, and the
// plain functions run activeSimdLevel().
int encodeYcg6With(SimdLevel level, const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture);
int encodeYg10With(SimdLevel level, const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture);

// A band of `rows` rows (a multiple of 8) of a taller picture, for encoding a
// picture in parts: its luma (and alpha) blocks go from `luma` on, its Co/Cg
// blocks from `chroma` on, where the band's first tile belongs in the whole
// texture. With alpha the YG10 layout, without it YCG6. Returns 0, or 1
// writing nothing when width or rows is not a multiple of 8.
int encodeYcocgBand(bool alpha, const uint8_t* picture, uint32_t width, uint32_t rows, uint8_t* luma, uint8_t* chroma);
// What the best tier's search of a picture's tiles gave, each kept at its
// tile's place for the next picture of the same size refined with this
// memory: a tile whose pixels are those of the last picture there (a
// screen recording's still windows, a slide) takes the results of its
// earlier search instead of searching again. A tile is kept the second time
// in a row it is found so; one that changes from picture to picture costs
// only a look at its fast units. It changes no byte. One thread at a time.
class YcocgTileMemory {
public:
    // For pictures of width x height and the layout with alpha or without.
    YcocgTileMemory(uint32_t width, uint32_t height, bool alpha);
    ~YcocgTileMemory();
    YcocgTileMemory(const YcocgTileMemory&) = delete;
    YcocgTileMemory& operator=(const YcocgTileMemory&) = delete;

    // The bytes such a memory holds once every tile is kept (it holds
    // little more than a signature a tile until then).
    static uint64_t bytesAtMost(uint32_t width, uint32_t height, bool alpha);

    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    bool alpha() const { return alpha_; }
    // Tiles that took their results from the memory so far.
    uint64_t tilesTaken() const;

    struct Tiles;  // ycocg.cpp
    Tiles& tiles() { return *tiles_; }

private:
    uint32_t width_, height_;
    bool alpha_;
    std::unique_ptr<Tiles> tiles_;
};

// The best tier (core/quality.h) over a band encodeYcocgBand wrote: every
// luma, alpha, Co and Cg unit searched again against its samples, none
// decoding further from them than before; every level gives the same bytes.
// With a memory of the whole picture's size (width and the padded height)
// and layout, the band's first tile row is firstTileRow of it; a memory of
// another width or layout, or too short for the band, is left aside.
void refineYcocgBand(bool alpha, const uint8_t* picture, uint32_t width, uint32_t rows, uint8_t* luma, uint8_t* chroma,
                     YcocgTileMemory* memory = nullptr, uint32_t firstTileRow = 0);
void refineYcocgBandWith(SimdLevel level, bool alpha, const uint8_t* picture, uint32_t width, uint32_t rows,
                         uint8_t* luma, uint8_t* chroma, YcocgTileMemory* memory = nullptr, uint32_t firstTileRow = 0);

// Single-channel block encoders, 16 values (row-major) to 8 bytes: e0 (high
// endpoint), e1 (low endpoint), 48 bits of 3-bit indices.
// Luma: values 16*(R + 2G + B)/4, 0..4080; endpoints stand for 16*e.
void encodeLumaBlock(uint8_t* destination, const uint16_t values[16]);
// Chroma: Co or Cg offset by 255, 0..510; endpoints stand for 2*e.
void encodeChromaBlock(uint8_t* destination, const uint16_t values[16]);
// Alpha: 0..255; the same block as the DXT5 alpha encoder writes.
void encodeAlphaPlaneBlock(uint8_t* destination, const uint16_t values[16]);

}  // namespace nox
