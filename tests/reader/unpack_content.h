// Test textures for the packer/unpacker round trips: pictures run through the
// real block encoders, and synthetic textures built unit by unit so that
// every reference kind, distance range and run length occurs.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "codec/dxt.h"
#include "codec/packers.h"
#include "codec/zemo3.h"
#include "codec/ycocg.h"

namespace nox::testing {

enum class Content { Random, Smooth, Repetitive, Still, Alphabet };

inline const char* contentName(Content c) {
    switch (c) {
    case Content::Random: return "random";
    case Content::Smooth: return "smooth";
    case Content::Repetitive: return "repetitive";
    case Content::Still: return "still";
    default: return "alphabet";
    }
}

// A padded RGBA picture (pw x ph) of the given content.
inline std::vector<uint8_t> makePicture(Content content, uint32_t pw, uint32_t ph, uint32_t seed) {
    std::vector<uint8_t> p(size_t(pw) * ph * 4);
    std::mt19937 rng(seed);
    // A 13x7 tile repeated across the picture: blocks repeat at several
    // distances, halves of blocks more often than whole ones.
    uint8_t tile[7][13][4];
    for (auto& row : tile)
        for (auto& px : row)
            for (auto& c : px) c = uint8_t(rng() & 0xF0);
    for (uint32_t y = 0; y < ph; ++y) {
        for (uint32_t x = 0; x < pw; ++x) {
            uint8_t* px = &p[(size_t(y) * pw + x) * 4];
            switch (content) {
            case Content::Random:
            case Content::Alphabet:
                for (int c = 0; c < 4; ++c) px[c] = uint8_t(rng());
                break;
            case Content::Smooth:
                px[0] = uint8_t(128 + 100 * std::sin(x * 0.031 + y * 0.017));
                px[1] = uint8_t(128 + 90 * std::cos(y * 0.023 - x * 0.011));
                px[2] = uint8_t((x + 2 * y) / 3);
                px[3] = uint8_t(x < pw / 2 ? 255 : 255 - (y & 0xFF));
                break;
            case Content::Repetitive:
                std::memcpy(px, tile[y % 7][x % 13], 4);
                if ((x / 32 + y / 32) % 3 == 0) px[0] = px[1] = px[2] = 40, px[3] = 255;
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
// runs of every length class, whole and partial copies from distances of
// every class (1, 2..257, 258..65793, beyond), units from small alphabets of
// endpoints and index pieces, and fresh random units.
inline std::vector<uint8_t> makeAlphabetUnits(size_t units, uint32_t seed, size_t stride = 1) {
    std::vector<uint8_t> t(units * 8);
    std::mt19937 rng(seed);
    uint16_t endpoints[12];
    uint32_t pieces[10];
    for (auto& e : endpoints) e = uint16_t(rng());
    for (auto& pc : pieces) pc = rng() & 0xFFFFFF;
    auto unit = [&](size_t u) { return &t[u * 8]; };
    auto farBack = [&](size_t u) -> size_t {
        // Distances in units of `stride` (the block size in units).
        const size_t blocks = u / stride;
        if (blocks == 0) return 0;
        size_t d;
        switch (rng() % 4) {
        case 0: d = 1; break;
        case 1: d = 2 + rng() % 256; break;
        case 2: d = 258 + rng() % 65536; break;
        default: d = 1 + rng() % blocks; break;
        }
        return std::min(d, blocks) * stride;
    };
    for (size_t u = 0; u < units;) {
        const uint32_t kind = rng() % 16;
        if (u == 0 || kind >= 14) {
            for (int b = 0; b < 8; ++b) unit(u)[b] = uint8_t(rng());
            ++u;
        } else if (kind < 3 && u >= stride) {
            // Run of repeats; long runs now and then.
            size_t k = kind == 0 ? 1 + rng() % 3 : kind == 1 ? 4 + rng() % 20 : 250 + rng() % 400;
            for (; k > 0 && u < units; --k, ++u) std::memcpy(unit(u), unit(u - stride), 8);
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

// Texture bytes of types 0 to 3 for a padded picture.
inline size_t textureBytes(uint32_t type, uint32_t pw, uint32_t ph) {
    const size_t pixels = size_t(pw) * ph;
    return type == 0 ? pixels / 2 : type == 1 ? pixels : type == 2 ? pixels * 3 / 4 : pixels * 5 / 4;
}

// A texture of `type` (0 to 3) for a padded pw x ph picture.
inline std::vector<uint8_t> makeTexture(uint32_t type, Content content, uint32_t pw, uint32_t ph,
                                        uint32_t seed) {
    const size_t size = textureBytes(type, pw, ph);
    if (content == Content::Alphabet) {
        // DXT5 blocks are two units; references count in blocks.
        auto t = makeAlphabetUnits(size / 8, seed, type == 1 ? 2 : 1);
        if (type == 1) {
            // Alpha halves: long stretches of one value with changes, so that
            // every alpha code and whole-block runs occur.
            std::mt19937 rng(seed ^ 0x5A5A);
            for (size_t b = 1; b < size / 16; ++b) {
                if (rng() % 8 != 0) std::memcpy(&t[b * 16], &t[b * 16 - 16], 8);
                if (rng() % 16 == 0) std::memcpy(&t[b * 16 + 8], &t[b * 16 - 8], 8);
            }
        }
        return t;
    }
    const auto picture = makePicture(content, pw, ph, seed);
    std::vector<uint8_t> t(size);
    switch (type) {
    case 0: encodeDxt1Texture(picture.data(), pw, ph, t.data()); break;
    case 1: encodeDxt5Texture(picture.data(), pw, ph, t.data()); break;
    case 2: encodeYcg6(picture.data(), pw, ph, t.data()); break;
    default: encodeYg10(picture.data(), pw, ph, t.data()); break;
    }
    return t;
}

// Packs a texture of type 0 to 3 with the packer of its type, given the
// capacity the frame compressor gives it; empty when the packer declines.
inline std::vector<uint8_t> packTexture(uint32_t type, const std::vector<uint8_t>& t,
                                        PackStatistics* stats = nullptr) {
    const uint32_t n = uint32_t(t.size());
    const uint32_t cap = type < 2 ? packDxtBound(n) : packYcocgBound(n);
    std::vector<uint8_t> out(cap);
    PackStatistics local;
    PackStatistics& s = stats ? *stats : local;
    const uint32_t r = type == 0   ? packDxt1(t.data(), n, out.data(), cap, s)
                       : type == 1 ? packDxt5(t.data(), n, out.data(), cap, s)
                       : type == 2 ? packYcg6(out.data(), cap, t.data(), n, s)
                                   : packYg10(out.data(), cap, t.data(), n, s);
    out.resize(r <= cap ? r : 0);
    return out;
}

// A frame of type 0 to 3: the 12-byte header (version 4) and the payload.
inline std::vector<uint8_t> makeFrame(uint32_t type, const std::vector<uint8_t>& payload, uint8_t kind) {
    const uint32_t tags[4] = {kTagDXT1, kTagDXT5, kTagYCG6, kTagYG10};
    const uint32_t size = uint32_t(payload.size());
    std::vector<uint8_t> frame(12, 0);
    std::memcpy(&frame[0], &tags[type], 4);
    frame[4] = 4;
    frame[6] = kind;
    std::memcpy(&frame[8], &size, 4);
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

}  // namespace nox::testing
