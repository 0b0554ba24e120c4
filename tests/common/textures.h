// Test textures for the packers and the frame reader: pictures run through the
// real block encoders, synthetic textures built unit by unit so that every
// reference kind, distance range and run length occurs, frames, and decoding
// into exact-size buffers (a sanitizer sees one byte past them).
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "codec/dxt.h"
#include "codec/packers.h"
#include "codec/ycocg.h"
#include "codec/zemo3.h"
#include "core/simd.h"
#include "reader/frame_decoder.h"

namespace nox::testing {

using Bytes = std::vector<uint8_t>;

enum class Content { Random, Smooth, Repetitive, Still, Alphabet };

inline const char* contentName(Content c)
{
    return std::array{"random", "smooth", "repetitive", "still", "alphabet"}[size_t(c)];
}

inline Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline uint32_t loadU32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

inline Bytes u32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

// The levels above Scalar that this processor runs, each compared against
// the scalar reference by the level tests.
inline std::vector<SimdLevel> fastLevels()
{
    std::vector<SimdLevel> levels;
    for (SimdLevel level : kSimdLevels)
        if (level != SimdLevel::Scalar && simdLevelSupported(level))
            levels.push_back(level);
    return levels;
}

// A pw x ph RGBA picture of the given content.
inline Bytes makePicture(Content content, uint32_t pw, uint32_t ph, uint32_t seed)
{
    Bytes p(size_t(pw) * ph * 4);
    std::mt19937 rng(seed);
    // A 13x7 tile repeated across the picture: blocks repeat at several
    // distances, halves of blocks more often than whole ones.
    uint8_t tile[7][13][4];
    for (auto& row : tile)
        for (auto& px : row)
            for (auto& c : px)
                c = uint8_t(rng() & 0xF0);
    for (uint32_t y = 0; y < ph; ++y) {
        for (uint32_t x = 0; x < pw; ++x) {
            uint8_t* px = &p[(size_t(y) * pw + x) * 4];
            switch (content) {
            case Content::Random:
            case Content::Alphabet:
                for (int c = 0; c < 4; ++c)
                    px[c] = uint8_t(rng());
                break;
            case Content::Smooth:
                px[0] = uint8_t(128 + 100 * std::sin(x * 0.031 + y * 0.017));
                px[1] = uint8_t(128 + 90 * std::cos(y * 0.023 - x * 0.011));
                px[2] = uint8_t((x + 2 * y) / 3);
                px[3] = uint8_t(x < pw / 2 ? 255 : 255 - (y & 0xFF));
                break;
            case Content::Repetitive:
                std::memcpy(px, tile[y % 7][x % 13], 4);
                if ((x / 32 + y / 32) % 3 == 0)
                    px[0] = px[1] = px[2] = 40, px[3] = 255;
                break;
            case Content::Still:
                px[0] = 90, px[1] = 140, px[2] = 200, px[3] = 255;
                break;
            }
        }
    }
    return p;
}

// Synthetic texture of `units` 8-byte units: repeats of the previous unit in
// runs of every length class (past 65 535 + 255 in textures of over 100 000
// units), whole and partial copies from distances of every class (1, 2..257,
// 258..65793, beyond), units from small alphabets of endpoints and index
// pieces (half and field matches, hash collisions), and fresh random units.
// `stride` is the block size in units: references count in blocks. Without
// long runs (which otherwise hold most units) every other kind is more common.
inline Bytes makeAlphabetUnits(size_t units, uint32_t seed, size_t stride = 1, bool longRuns = true)
{
    Bytes t(units * 8);
    std::mt19937 rng(seed);
    uint16_t endpoints[12];
    uint32_t pieces[10];
    for (auto& e : endpoints)
        e = uint16_t(rng());
    for (auto& pc : pieces)
        pc = rng() & 0xFFFFFF;
    auto unit = [&](size_t u) { return &t[u * 8]; };
    auto farBack = [&](size_t u) -> size_t {
        const size_t blocks = u / stride;
        if (blocks == 0)
            return 0;
        const uint32_t r = rng() % 4;
        const size_t d = r == 0 ? 1 : r == 1 ? 2 + rng() % 256 : r == 2 ? 258 + rng() % 65536 : 1 + rng() % blocks;
        return std::min(d, blocks) * stride;
    };
    for (size_t u = 0; u < units;) {
        const uint32_t kind = rng() % 16;
        if (u == 0 || kind >= 14) {
            for (int b = 0; b < 8; ++b)
                unit(u)[b] = uint8_t(rng());
            ++u;
        } else if (kind < 3 && u >= stride) {
            size_t k = kind == 0 ? 1 + rng() % 3 : kind == 1 || !longRuns ? 4 + rng() % 20 : 250 + rng() % 400;
            if (kind == 2 && units > 100000 && rng() % 16 == 0)
                k = 65790 + rng() % 1000;
            for (; k > 0 && u < units; --k, ++u)
                std::memcpy(unit(u), unit(u - stride), 8);
        } else if (kind < 6) {
            std::memcpy(unit(u), unit(u - farBack(u)), 8);
            ++u;
        } else {
            // Endpoints and index pieces chosen independently.
            uint8_t* x = unit(u);
            const uint16_t e = rng() % 4 == 0 ? uint16_t(rng()) : endpoints[rng() % 12];
            std::memcpy(x, &e, 2);
            const uint32_t mode = rng() % 4;
            if (mode == 0) {
                std::memcpy(x + 2, unit(u - farBack(u)) + 2, 6);
            } else {
                const uint32_t p1 = mode == 1 ? rng() & 0xFFFFFF : pieces[rng() % 10];
                const uint32_t p2 = mode == 2 ? rng() & 0xFFFFFF : pieces[rng() % 10];
                std::memcpy(x + 2, &p1, 3);
                std::memcpy(x + 5, &p2, 3);
            }
            ++u;
        }
    }
    return t;
}

// The bytes of a texture of type 0 to 3 for a w x h picture (sides multiples of 4).
inline size_t encodedSize(uint32_t type, size_t w, size_t h) { return w * h * std::array{2, 4, 3, 5}[type] / 4; }

// Encodes a picture into a texture of type 0 to 3 at a level, or by the plain
// entry points without one; 0 when the encoder takes the sides.
inline int encodeInto(uint32_t type, const Bytes& picture, uint32_t w, uint32_t h, uint8_t* t,
                      std::optional<SimdLevel> k = {})
{
    const uint8_t* p = picture.data();
    if (type == 0)
        k ? encodeDxt1TextureWith(*k, p, w, h, t) : encodeDxt1Texture(p, w, h, t);
    else if (type == 1)
        k ? encodeDxt5TextureWith(*k, p, w, h, t) : encodeDxt5Texture(p, w, h, t);
    else
        return type == 2 ? (k ? encodeYcg6With(*k, p, w, h, t) : encodeYcg6(p, w, h, t))
                         : (k ? encodeYg10With(*k, p, w, h, t) : encodeYg10(p, w, h, t));
    return 0;
}

// The texture of type 0 to 3 of a pw x ph picture (multiples of 8, and of 16
// for the synthetic kind) by the plain entry points.
inline Bytes encodeTexture(uint32_t type, const Bytes& picture, uint32_t pw, uint32_t ph)
{
    Bytes t(encodedSize(type, pw, ph));
    encodeInto(type, picture, pw, ph, t.data());
    return t;
}

// A texture of type 0 to 3 for a padded pw x ph picture.
inline Bytes makeTexture(uint32_t type, Content content, uint32_t pw, uint32_t ph, uint32_t seed)
{
    if (content != Content::Alphabet)
        return encodeTexture(type, makePicture(content, pw, ph, seed), pw, ph);
    const size_t size = textureSize(type, pw, ph);
    // DXT5 blocks are two units; references count in blocks.
    auto t = makeAlphabetUnits(size / 8, seed, type == 1 ? 2 : 1);
    if (type == 1) {
        // Alpha halves: long stretches of one value with changes, so that
        // every alpha code and whole-block runs occur.
        std::mt19937 rng(seed ^ 0x5A5A);
        for (size_t b = 1; b < size / 16; ++b) {
            if (rng() % 8 != 0)
                std::memcpy(&t[b * 16], &t[b * 16 - 16], 8);
            if (rng() % 16 == 0)
                std::memcpy(&t[b * 16 + 8], &t[b * 16 - 8], 8);
        }
    }
    return t;
}

// Packs a texture of type 0 to 3 into `out`, given at most `capacity` of it,
// at a level, or by the plain entry points without one (with statistics the
// counting one); returns the length the packer claims, 0 when it declines.
inline uint32_t packInto(uint32_t type, const Bytes& t, Bytes& out, std::optional<SimdLevel> k = {},
                         size_t capacity = SIZE_MAX, PackStatistics* s = nullptr)
{
    const uint32_t n = uint32_t(t.size()), cap = uint32_t(std::min(capacity, out.size()));
    const uint8_t* i = t.data();
    uint8_t* o = out.data();
    if (type < 2)
        return k   ? (type ? packDxt5With : packDxt1With)(*k, i, n, o, cap)
               : s ? (type ? packDxt5(i, n, o, cap, *s) : packDxt1(i, n, o, cap, *s))
                   : (type ? packDxt5(i, n, o, cap) : packDxt1(i, n, o, cap));
    return k   ? (type == 2 ? packYcg6With : packYg10With)(*k, o, cap, i, n)
           : s ? (type == 2 ? packYcg6(o, cap, i, n, *s) : packYg10(o, cap, i, n, *s))
               : (type == 2 ? packYcg6(o, cap, i, n) : packYg10(o, cap, i, n));
}

// Packs a texture of type 0 to 3 with the packer of its type, given the
// capacity the frame compressor gives it; empty when the packer declines,
// one byte longer than the capacity when it claims a length beyond it. With
// statistics the counting entry point runs, else the plain one.
inline Bytes packTexture(uint32_t type, const Bytes& t, PackStatistics* stats = nullptr)
{
    Bytes out(type < 2 ? packDxtBound(uint32_t(t.size())) : packYcocgBound(uint32_t(t.size())));
    const uint32_t r = packInto(type, t, out, {}, SIZE_MAX, stats);
    out.resize(std::min(size_t(r), out.size() + 1));
    return out;
}

// A frame of type 0 to 3: the 12-byte header (version 4) and the payload.
inline Bytes makeFrame(uint32_t type, const Bytes& payload, uint8_t kind)
{
    return cat({u32(tagForFormatType(type)), {4, 0, kind, 0}, u32(uint32_t(payload.size())), payload});
}

// Decodes an exact-size copy of the frame into a destination of exactly the
// texture size.
inline bool decodes(const FrameDecoder& d, const Bytes& frame, Bytes* out = nullptr)
{
    const Bytes f(frame);
    Bytes t(d.textureBytes());
    const bool ok = decode(d, t.data(), f.empty() ? nullptr : f.data(), f.size(), t.size());
    if (out)
        *out = std::move(t);
    return ok;
}

// Unpacks a payload of type 0 to 7 into an exact-size texture by the
// reference unpackers and by the fast ones at every level this processor
// runs, one stream at a time and two at once. Empty when every run gives the
// reference's result, and its bytes when it accepts; else what differed.
inline std::string unpackersDisagree(uint32_t type, const Bytes& payload, size_t textureSize)
{
    auto run = [&](SimdLevel level, bool twoStreams, Bytes* t) {
        const Bytes in(payload);  // exact size: a sanitizer sees a read past it
        t->assign(textureSize, 0xCD);
        return unpackPayload(type, in.empty() ? nullptr : in.data(), t->data(), in.size(), textureSize,
                             {.level = level, .twoStreams = twoStreams});
    };
    Bytes reference, fast;
    const size_t expected = run(SimdLevel::Scalar, false, &reference);
    for (const SimdLevel level : kSimdLevels) {
        for (const bool twoStreams : {false, true}) {
            if ((level == SimdLevel::Scalar && !twoStreams) || !simdLevelSupported(level))
                continue;
            const size_t got = run(level, twoStreams, &fast);
            if (got != expected || (expected != 0 && fast != reference))
                return std::string(simdLevelName(level)) + (twoStreams ? ", two streams" : "") + ": took " +
                       std::to_string(got) + " bytes where the reference took " + std::to_string(expected) +
                       (got == expected ? ", with other texture bytes" : "");
        }
    }
    return {};
}

}  // namespace nox::testing
