// The best tier of the DXT encoders against the fast one, through the real
// reader: no block decodes worse, pictures with detail decode better, the
// blocks keep the fast encoder's promises, every level writes the same
// bytes, and the frames unpack alike in every unpacker.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "codec/dxt.h"
#include "codec/ycocg.h"
#include "common/textures.h"
#include "core/bytes.h"
#include "core/context.h"
#include "reader/texture.h"

namespace nox {
namespace {

using testing::Bytes;
using testing::Content;

// The squared error of every side x side square of the decoded texture: RGB,
// and A where the type keeps it unless rgbOnly.
std::vector<uint64_t> blockErrors(uint32_t type, const Bytes& texture, const Bytes& picture, uint32_t w, uint32_t h,
                                  uint32_t side = 4, bool rgbOnly = false)
{
    Bytes rgba(picture.size());
    EXPECT_TRUE(textureToRgba(type, texture.data(), texture.size(), w, h, rgba.data(), size_t(w) * 4));
    std::vector<uint64_t> errors(size_t(w / side) * (h / side));
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (uint32_t c = 0; c < (typeHasAlpha(type) && !rgbOnly ? 4u : 3u); ++c) {
                const size_t at = (size_t(y) * w + x) * 4 + c;
                const int d = int(rgba[at]) - int(picture[at]);
                errors[size_t(y / side) * (w / side) + x / side] += uint64_t(d * d);
            }
    return errors;
}

// The SSIM of every 8x8 square of the decoded texture (one window, mean of
// R, G and B; verify's constants).
std::vector<double> tileSsims(uint32_t type, const Bytes& texture, const Bytes& picture, uint32_t w, uint32_t h)
{
    Bytes rgba(picture.size());
    EXPECT_TRUE(textureToRgba(type, texture.data(), texture.size(), w, h, rgba.data(), size_t(w) * 4));
    std::vector<double> ssims;
    for (uint32_t ty = 0; ty < h; ty += 8)
        for (uint32_t tx = 0; tx < w; tx += 8) {
            double ssim = 0;
            for (int c = 0; c < 3; ++c) {
                double a = 0, b = 0, aa = 0, bb = 0, ab = 0;
                for (uint32_t y = ty; y < ty + 8; ++y)
                    for (uint32_t x = tx; x < tx + 8; ++x) {
                        const double p = rgba[(size_t(y) * w + x) * 4 + c], q = picture[(size_t(y) * w + x) * 4 + c];
                        a += p, b += q, aa += p * p, bb += q * q, ab += p * q;
                    }
                const double c1 = 6.5025, c2 = 58.5225, ma = a / 64, mb = b / 64;
                ssim += (2 * ma * mb + c1) * (2 * (ab / 64 - ma * mb) + c2) /
                        ((ma * ma + mb * mb + c1) * (aa / 64 - ma * ma + bb / 64 - mb * mb + c2));
            }
            ssims.push_back(ssim / 3);
        }
    return ssims;
}

// Side x side squares that each repeat the one to their left but for one
// pixel, nudged: by default the green of one in their last column, or byte
// `channel` of one in column `column`. The fast encoder often gives both the
// same bytes, and a square must still be searched for itself.
Bytes nearRepeats(Bytes picture, uint32_t w, uint32_t h, uint32_t side, uint32_t column = ~0u, uint32_t channel = 1,
                  int by = 6)
{
    column = std::min(column, side - 1);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = side; x < w; ++x) {
            uint8_t* p = &picture[(size_t(y) * w + x) * 4];
            std::memcpy(p, p - side * 4, 4);
            if (x % side == column && y % side == x / side % side)
                p[channel] = uint8_t(std::min(p[channel] + by, 255));
        }
    return picture;
}

Bytes refined(uint32_t type, Bytes texture, const Bytes& picture, uint32_t w, uint32_t h,
              SimdLevel level = SimdLevel::Scalar)
{
    (type ? refineDxt5TextureWith : refineDxt1TextureWith)(level, picture.data(), w, h, texture.data());
    return texture;
}

// Pictures of every kind, also one of flat areas, hard two-colour edges and
// alpha that sits on 0 and 255 or between, and one of the RGB cube's corners; each refined after every level's
// fast encoding, and by every level's search (the plain one the reference).
TEST(DxtBest, NoBlockWorseAndTheSameBytesAtEveryLevel)
{
    const uint32_t w = 64, h = 48;
    Bytes edges(size_t(w) * h * 4);
    std::mt19937 rng(3);
    for (size_t i = 0; i < edges.size(); i += 4) {
        const bool on = (i / 4 % w) * 3 + (i / 4 / w) * 5 < 150 + rng() % 9;
        edges[i] = on ? 250 : 10, edges[i + 1] = on ? 30 : 200, edges[i + 2] = uint8_t(i % 7 * 30);
        edges[i + 3] = std::array<uint8_t, 4>{0, 255, 128, uint8_t(rng())}[i / 4 % 4];
    }
    // Every pixel a corner of the RGB cube: a pixel can lie further than
    // 255 from all four colours of a pair, past the wide build's 16-bit lanes.
    Bytes corners(size_t(w) * h * 4);
    for (size_t i = 0; i < corners.size(); i += 4) {
        const uint32_t c = rng();
        corners[i] = c & 1 ? 255 : 0, corners[i + 1] = c & 2 ? 255 : 0, corners[i + 2] = c & 4 ? 255 : 0;
        corners[i + 3] = 255;
    }
    const std::pair<const char*, Bytes> pictures[] = {
        {"random", testing::makePicture(Content::Random, w, h, 1)},
        {"smooth", testing::makePicture(Content::Smooth, w, h, 2)},
        {"repetitive", testing::makePicture(Content::Repetitive, w, h, 3)},
        {"still", testing::makePicture(Content::Still, w, h, 4)},
        {"edges", edges},
        {"corners", corners},
        {"near repeats", nearRepeats(testing::makePicture(Content::Smooth, w, h, 2), w, h, 4)}};
    for (uint32_t type : {0u, 1u}) {
        for (const auto& [name, picture] : pictures) {
            SCOPED_TRACE(std::string(name) + " type " + std::to_string(type));
            const Bytes fast = testing::encodeTexture(type, picture, w, h);
            const Bytes best = refined(type, fast, picture, w, h);
            const std::vector<uint64_t> before = blockErrors(type, fast, picture, w, h),
                                        after = blockErrors(type, best, picture, w, h);
            uint64_t sumBefore = 0, sumAfter = 0;
            for (size_t b = 0; b < before.size(); ++b) {
                EXPECT_LE(after[b], before[b]) << "block " << b;
                sumBefore += before[b];
                sumAfter += after[b];
            }
            if (std::string(name) != "still") {
                EXPECT_LT(sumAfter, sumBefore);
            }
            // Four-colour blocks: c0 > c1, or c0 == c1 and no pixel on index 3.
            for (size_t at = type ? 8 : 0; at < best.size(); at += type ? 16 : 8) {
                const uint32_t c0 = loadLe16(&best[at]), c1 = loadLe16(&best[at + 2]), mask = loadLe32(&best[at + 4]);
                EXPECT_TRUE(c0 > c1 || (c0 == c1 && ((mask & (mask >> 1) & 0x55555555u) == 0))) << "at " << at;
            }
            for (SimdLevel level : testing::fastLevels()) {
                Bytes t(fast.size());
                testing::encodeInto(type, picture, w, h, t.data(), level);
                EXPECT_TRUE(refined(type, t, picture, w, h) == best) << simdLevelName(level);
                EXPECT_TRUE(refined(type, fast, picture, w, h, level) == best) << simdLevelName(level) << " search";
            }
        }
    }
}

// Blocks that repeat: after the first of each, a block takes the search's
// result from what the search remembers, and must come out as its own
// search. Two blocks as a checkerboard: no block's left or upper neighbour
// is the same as it, whose bytes could mend a wrong result. Then the same
// with each block's alphas (away from 0 and 255, more levels apart than a
// ramp holds exactly) raised by a level of its own, from 0 to 209: an alpha
// block remembered less its level comes out raised by this one's.
TEST(DxtBest, RepeatedBlocksTakeTheirOwnSearch)
{
    const uint32_t w = 32, h = 16;
    const Bytes tile = testing::makePicture(Content::Random, 8, 8, 11);
    Bytes checkers(size_t(w) * h * 4);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            std::memcpy(&checkers[(size_t(y) * w + x) * 4],
                        &tile[(size_t(y % 4) * 8 + x % 4 + (x / 4 + y / 4) % 2 * 4) * 4], 4);
    Bytes levels = checkers;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t& a = levels[(size_t(y) * w + x) * 4 + 3];
            a = uint8_t(20 + a % 23 + (x / 4 * 37 + y / 4 * 53) % 210);
        }
    for (const auto& [type, picture] : {std::pair{0u, checkers}, {1u, checkers}, {1u, levels}})
        for (SimdLevel level : {SimdLevel::Scalar, testing::fastLevels().back()}) {
            const Bytes best = refined(type, testing::encodeTexture(type, picture, w, h), picture, w, h, level);
            const size_t size = type ? 16 : 8, colour = type ? 8 : 0;
            for (size_t at = 0; at < best.size(); at += size) {
                const size_t bx = at / size % (w / 4), by = at / size / (w / 4);
                Bytes block(64), one(size);
                for (size_t row = 0; row < 4; ++row)
                    std::memcpy(&block[row * 16], &picture[((by * 4 + row) * w + bx * 4) * 4], 16);
                if (type) {
                    encodeAlphaBlock(one.data(), block.data());
                    refineAlphaBlock(one.data(), block.data());
                }
                encodeColorBlock(one.data() + colour, block.data());
                refineColorBlock(one.data() + colour, block.data());
                EXPECT_TRUE(std::equal(one.begin(), one.end(), best.begin() + long(at)))
                    << "type " << type << " at " << at << ", " << simdLevelName(level);
            }
        }
}

// A block the fast encoder stored exactly takes its left neighbour's alpha
// bytes where those decode it exactly too (the packer then finds the
// repeat), whichever ramp either has: eight values, or six with 0 and 255.
TEST(DxtBest, ExactAlphaTakesAnExactNeighbour)
{
    // An alpha unit: endpoints, then each pixel's 3-bit index (first: the
    // index of the pixels with the first value).
    const auto unit = [](int e0, int e1, int first, int second) {
        Bytes u{uint8_t(e0), uint8_t(e1), 0, 0, 0, 0, 0, 0};
        uint64_t bits = 0;
        for (int k = 0; k < 16; ++k)
            bits |= uint64_t(k % 2 ? second : first) << (3 * k);
        for (int i = 0; i < 6; ++i)
            u[2 + size_t(i)] = uint8_t(bits >> (8 * i));
        return u;
    };
    struct Case {
        int alpha[2];  // the pixels' two values, alternating
        Bytes fast, neighbour;
    };
    const Case cases[] = {
        // Eight values between the endpoints, which bound the block exactly.
        {{100, 107}, unit(100, 107, 0, 1), unit(107, 100, 1, 0)},
        // Six values with the fixed 0, both endpoints at the block's top.
        {{0, 100}, unit(100, 0, 1, 0), unit(100, 100, 6, 0)},
    };
    for (const Case& c : cases) {
        const uint32_t w = 8, h = 4;
        Bytes picture(size_t(w) * h * 4);
        for (size_t i = 0; i < picture.size(); i += 4) {
            const std::array<int, 4> px{50, 60, 70, c.alpha[i / 4 % 2]};
            std::copy(px.begin(), px.end(), picture.begin() + long(i));
        }
        Bytes fast = testing::encodeTexture(1, picture, w, h);
        std::copy(c.neighbour.begin(), c.neighbour.end(), fast.begin());
        std::copy(c.fast.begin(), c.fast.end(), fast.begin() + 16);
        for (SimdLevel level : [] {
                 std::vector<SimdLevel> levels = testing::fastLevels();
                 levels.push_back(SimdLevel::Scalar);
                 return levels;
             }()) {
            Bytes best = fast;
            refineDxt5TextureWith(level, picture.data(), w, h, best.data());
            EXPECT_TRUE(std::equal(c.neighbour.begin(), c.neighbour.end(), best.begin() + 16))
                << c.alpha[0] << "/" << c.alpha[1] << " at " << simdLevelName(level);
        }
    }
}

// A best frame of every type through the compressor: packed as any other,
// refused by no unpacker, the fast tier as it always was, and no 8x8 tile's
// RGB further from the picture (a YCoCg tile's units are searched together).
TEST(DxtBest, CompressorFramesUnpackAlike)
{
    const uint32_t w = 96, h = 64;
    Bytes gradient(size_t(w) * h * 4);
    for (size_t i = 0; i < gradient.size(); ++i)
        gradient[i] = uint8_t(
            std::array<int, 4>{32 + 2 * int(i / 4 % w), 48 + int(i / 4 / w) * 3, 96 + int(i / 4 % w), 255}[i % 4]);
    // A desktop's flat panel, light noise on it and dark strokes: the fast
    // encoder gives many blocks the same bytes, which the search must keep.
    Bytes panel(size_t(w) * h * 4);
    std::mt19937 rng(4);
    for (size_t i = 0; i < panel.size(); i += 4) {
        const size_t x = i / 4 % w, y = i / 4 / w;
        const bool stroke = (y % 16 == 5 || x % 24 == 7) && x > 8 && y > 8;
        for (int c = 0; c < 3; ++c)
            panel[i + size_t(c)] = uint8_t(stroke ? 30 + 10 * c : 196 + 4 * c + int(rng() % 3));
        panel[i + 3] = uint8_t(x < w / 2 ? 255 : 128 + rng() % 2);
    }
    // The RGB cube's corners: a reader's red, green and blue clamped.
    Bytes corners(size_t(w) * h * 4, 255);
    for (size_t i = 0; i < corners.size(); ++i)
        corners[i] = i % 4 == 3 || rng() % 2 ? 255 : 0;
    // Near white: the luma's aim reaches the top byte.
    Bytes bright(size_t(w) * h * 4, 255);
    for (size_t i = 0; i < bright.size(); ++i)
        bright[i] = i % 4 == 3 ? 255 : uint8_t(236 + rng() % 20);
    // A matte over flat colour: tiles alike in colour, each with alpha of
    // its own (ramps of nearly three levels a pixel, more than a block's
    // eight steps hold).
    Bytes matte(size_t(w) * h * 4);
    for (size_t i = 0; i < matte.size(); ++i)
        matte[i] = uint8_t(std::array<int, 4>{90, 140, 200, 20 + int(i / 4 % 48) * 11 / 4 + int(i / 4 / w) / 2}[i % 4]);
    for (const auto& [type, picture] : {std::pair{0u, testing::makePicture(Content::Smooth, w, h, 9)},
                                        {1u, testing::makePicture(Content::Smooth, w, h, 9)},
                                        {2u, testing::makePicture(Content::Smooth, w, h, 9)},
                                        {3u, testing::makePicture(Content::Smooth, w, h, 9)},
                                        {2u, gradient},
                                        {3u, gradient},
                                        {0u, panel},
                                        {1u, panel},
                                        {2u, panel},
                                        {3u, panel},
                                        {2u, corners},
                                        {2u, bright},
                                        {1u, matte},
                                        {3u, matte},
                                        {3u, nearRepeats(testing::makePicture(Content::Smooth, w, h, 9), w, h, 8)},
                                        // Only one pixel's alpha, in any of a tile's columns, tells a
                                        // tile from its left neighbour.
                                        {3u, nearRepeats(matte, w, h, 8, 2, 3, 1)},
                                        {3u, nearRepeats(matte, w, h, 8, 5, 3, 1)}}) {
        SCOPED_TRACE(type);
        Bytes frames[2];
        for (EncodeQuality q : {EncodeQuality::Fast, EncodeQuality::Best}) {
            FrameEncoder encoder(type, w, h, q);
            Bytes& f = frames[int(q)];
            f.assign(encoder.textureBytes() + kFrameHeaderSize, 0);
            f.resize(encoder.compress(f.data(), picture.data(), int32_t(w * 4), getContext()->memory()));
            ASSERT_GT(f.size(), kFrameHeaderSize);
            EXPECT_EQ(
                testing::unpackersDisagree(type, Bytes(f.begin() + kFrameHeaderSize, f.end()), encoder.textureBytes()),
                "");
        }
        // On the panel the packer still finds the fast frame's repeats: at
        // most 3 % more. (A gradient's luma units follow its chroma's steps
        // and take more bytes.)
        if (picture == panel) {
            EXPECT_LE(frames[1].size() * 100, frames[0].size() * 103) << frames[0].size() << " bytes fast";
        }
        if (type >= 2) {
            // Every level's search gives the plain one's bytes.
            const Bytes plain = testing::encodeTexture(type, picture, w, h);
            const size_t chroma = type == 3 ? size_t(w) * h : size_t(w) * h / 2;
            Bytes reference = plain;
            refineYcocgBandWith(SimdLevel::Scalar, type == 3, picture.data(), w, h, reference.data(),
                                reference.data() + chroma);
            for (SimdLevel level : testing::fastLevels()) {
                Bytes t = plain;
                refineYcocgBandWith(level, type == 3, picture.data(), w, h, t.data(), t.data() + chroma);
                EXPECT_TRUE(t == reference) << simdLevelName(level);
            }
        }
        Bytes fast, best;
        ASSERT_TRUE(testing::decodes(FrameDecoder(type, w, h), frames[0], &fast));
        ASSERT_TRUE(testing::decodes(FrameDecoder(type, w, h), frames[1], &best));
        EXPECT_TRUE(fast == testing::encodeTexture(type, picture, w, h)) << "fast is the plain encoder";
        const auto total = [&](const Bytes& t) {
            const std::vector<uint64_t> e = blockErrors(type, t, picture, w, h);
            return std::accumulate(e.begin(), e.end(), uint64_t(0));
        };
        // (The matte's steep ramps leave its search nothing to gain.)
        EXPECT_TRUE(total(best) < total(fast) || (picture == matte && total(best) == total(fast)))
            << total(best) << " against " << total(fast);
        // A gradient's YCoCg luma makes up for part of its chroma's steps:
        // a tenth of the error at least.
        if (picture == gradient) {
            EXPECT_LE(total(best) * 10, total(fast) * 9);
        }
        const std::vector<uint64_t> tilesFast = blockErrors(type, fast, picture, w, h, 8, true),
                                    tilesBest = blockErrors(type, best, picture, w, h, 8, true);
        const std::vector<double> ssimFast = tileSsims(type, fast, picture, w, h),
                                  ssimBest = tileSsims(type, best, picture, w, h);
        for (size_t t = 0; t < tilesFast.size(); ++t) {
            EXPECT_LE(tilesBest[t], tilesFast[t]) << "tile " << t;
            // A YCoCg tile's structure too: its SSIM no lower.
            if (type >= 2) {
                EXPECT_GE(ssimBest[t], ssimFast[t] - 1e-12) << "tile " << t;
            }
        }
    }
}

// A YCoCg tile memory carried from picture to picture changes no byte of the
// search's: still tiles whose neighbours change (other repeats to weigh), a
// still tile with one pixel nudged by a level (its fast units mostly stay),
// a still matte under changing colour with a box moving over it, another
// matte, a picture seen before, and the two bands of a picture at their own
// tile rows; a memory of another width or layout is left aside. Still tiles
// are taken from it from the third picture on.
TEST(DxtBest, TileMemoryChangesNoByte)
{
    const uint32_t w = 128, h = 48;
    // Tiles that repeat their left neighbour but for one pixel, in three
    // kinds; still tiles on one colour of a checkerboard, tiles of a kind
    // drawn at random on the other.
    const Bytes smooth = testing::makePicture(Content::Smooth, w, h, 9);
    const Bytes kinds[3] = {nearRepeats(smooth, w, h, 8), nearRepeats(smooth, w, h, 8, 2, 0, 3),
                            nearRepeats(smooth, w, h, 8, 5, 2, 9)};
    std::mt19937 rng(11);
    const auto picture = [&](size_t n) {
        Bytes p = kinds[0];
        for (uint32_t ty = 0; ty < h / 8; ++ty)
            for (uint32_t tx = 0; tx < w / 8; ++tx) {
                const size_t from = n >= 3 && n < 8 && (tx + ty) % 2 ? rng() % 3 : 0;
                for (uint32_t y = ty * 8; y < ty * 8 + 8; ++y) {
                    const size_t at = (size_t(y) * w + tx * 8) * 4;
                    std::memcpy(p.data() + at, kinds[from].data() + at, 32);
                    if (n == 8 && (tx + ty) % 2 == 0 && y % 8 == (tx < 8 ? 7 : tx % 8))
                        p[at + (tx % 6) * 4 + 1] ^= 1;
                }
            }
        // A still matte (alpha to search), with a box of
        // other alpha moving over it from picture 3 to 7, one alpha nudged
        // in picture 8; another matte in picture 9.
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                // Soft ramps on the left; on the right every block's alpha
                // (far from a ramp: much error) its neighbours' but for one
                // pixel of each tile, near enough to repeat.
                int a = 30 + int(x * 5 + y * 3) % 200 + int((x ^ y) & 3);
                if (x >= w / 2)
                    a = 100 + int((x % 4 * 7 + y % 4 * 11) * 37 % 61) +
                        int(x % 8 == x / 8 % 8 && y % 8 == y / 8 * 3 % 8);
                if (n >= 3 && n < 8 && x + 40 >= 16 * n && x + 24 < 16 * n && y >= 8 && y < 32)
                    a = a * 3 % 256;
                if (n == 8 && x % 8 == 1 && y % 8 == 0)
                    a ^= 1;
                if (n == 9)
                    a = int(x * 30 + y);
                p[(size_t(y) * w + x) * 4 + 3] = uint8_t(a);
            }
        return p;
    };
    std::vector<Bytes> pictures;
    for (size_t n = 0; n < 11; ++n)
        pictures.push_back(picture(n));
    std::vector<SimdLevel> levels = testing::fastLevels();
    levels.push_back(SimdLevel::Scalar);
    for (uint32_t type : {2u, 3u}) {
        const size_t chroma = type == 3 ? size_t(w) * h : size_t(w) * h / 2;
        // The lower half as a band of its own: its units from the texture's
        // middle, its tiles from tile row 3.
        const size_t lumaAt = size_t(w / 4) * 6 * (type == 3 ? 16 : 8), chromaAt = size_t(w / 8) * 3 * 16;
        for (SimdLevel level : levels) {
            SCOPED_TRACE(std::to_string(type) + " " + simdLevelName(level));
            YcocgTileMemory whole(w, h, type == 3), banded(w, h, type == 3), narrow(w - 8, h, type == 3),
                otherLayout(w, h, type != 3);
            const auto refine = [&](const Bytes& p, uint32_t rows, size_t band, YcocgTileMemory* memory,
                                    uint32_t firstTileRow) {
                Bytes t = testing::encodeTexture(type, p, w, h);
                const size_t lumaOf = band ? lumaAt : 0, chromaOf = chroma + (band ? chromaAt : 0);
                refineYcocgBandWith(level, type == 3, p.data() + band * size_t(w) * 24 * 4, w, rows, t.data() + lumaOf,
                                    t.data() + chromaOf, memory, firstTileRow);
                return t;
            };
            for (size_t n = 0; n < pictures.size(); ++n) {
                const Bytes& p = pictures[n];
                const Bytes alone = refine(p, h, 0, nullptr, 0);
                EXPECT_TRUE(refine(p, h, 0, &whole, 0) == alone) << "picture " << n;
                EXPECT_TRUE(refine(p, h, 0, &narrow, 0) == alone) << "picture " << n;
                EXPECT_TRUE(refine(p, h, 0, &otherLayout, 0) == alone) << "picture " << n;
                for (size_t band = 0; band < 2; ++band)
                    EXPECT_TRUE(refine(p, 24, band, &banded, uint32_t(band * 3)) == refine(p, 24, band, nullptr, 0))
                        << "picture " << n << " band " << band;
            }
            EXPECT_GT(whole.tilesTaken(), 0u);
            EXPECT_GT(banded.tilesTaken(), 0u);
            EXPECT_EQ(narrow.tilesTaken(), 0u);
            EXPECT_EQ(otherLayout.tilesTaken(), 0u);
        }
    }
}

// The compressor lends its memories to compressions on several threads at
// once: the same picture gives the same frame on every thread, the first
// time and after (when its tiles come from a memory).
TEST(DxtBest, CompressorMemoriesOnManyThreads)
{
    const uint32_t w = 64, h = 40;
    const Bytes picture = testing::makePicture(Content::Alphabet, w, h, 5);
    for (uint32_t type : {2u, 3u}) {
        SCOPED_TRACE(type);
        const FrameEncoder encoder(type, w, h, EncodeQuality::Best);
        const auto compress = [&] {
            Bytes f(encoder.textureBytes() + kFrameHeaderSize, 0);
            f.resize(encoder.compress(f.data(), picture.data(), int32_t(w * 4), getContext()->memory()));
            return f;
        };
        const Bytes first = compress();
        ASSERT_GT(first.size(), kFrameHeaderSize);
        std::vector<Bytes> frames(6 * 4);
        std::vector<std::thread> threads;
        for (size_t t = 0; t < 6; ++t)
            threads.emplace_back([&, t] {
                for (size_t k = 0; k < 4; ++k)
                    frames[t * 4 + k] = compress();
            });
        for (std::thread& t : threads)
            t.join();
        for (const Bytes& f : frames)
            EXPECT_TRUE(f == first);
    }
}

}  // namespace
}  // namespace nox
