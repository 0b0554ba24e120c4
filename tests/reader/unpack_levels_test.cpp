// The fast unpackers against the reference ones: the same result and, when
// they accept, the same bytes, for every level this processor runs and with
// a YCoCg payload's two streams restored at once, on payloads the packers
// wrote and on the same payloads damaged in every way a byte can be.
#include <gtest/gtest.h>

#include <random>

#include "common/textures.h"

namespace nox {
namespace {

using testing::Bytes;
using testing::Content;

// t packed as the compressor packs it: every unpacker agrees on the
// payload, and the fast one at `level` restores t's bytes from it.
void expectRestored(uint32_t type, const Bytes& t, const Bytes& payload, SimdLevel level)
{
    ASSERT_EQ(testing::unpackersDisagree(type, payload, t.size()), "");
    Bytes out(t.size());
    ASSERT_EQ(unpackPayload(type, payload.data(), out.data(), payload.size(), t.size(), {.level = level}),
              payload.size());
    EXPECT_EQ(out, t);
}

// Payloads of every type and content at sizes that put blocks across
// control words, stretches and groups in every position: packed ones as
// the compressor writes them, and each cut short, with bytes flipped one at a
// time in the first hundred and at random further on, and with random bytes
// written over a stretch.
TEST(UnpackLevels, AgreeWithTheReferenceOnWrittenAndDamagedPayloads)
{
    std::mt19937 rng(17);
    for (uint32_t type = 0; type < 4; ++type) {
        for (const Content c : {Content::Alphabet, Content::Smooth, Content::Repetitive, Content::Random}) {
            for (const auto& [w, h] : {std::pair{16u, 16u}, {48u, 32u}, {272u, 64u}}) {
                SCOPED_TRACE(testing::contentName(c) + std::string(" type ") + std::to_string(type) + " " +
                             std::to_string(w) + "x" + std::to_string(h));
                const Bytes t = testing::makeTexture(type, c, w, h, w + type);
                const Bytes payload = testing::packTexture(type, t);
                if (payload.empty() || payload.size() > t.size())
                    continue;  // stored raw
                ASSERT_EQ(testing::unpackersDisagree(type, payload, t.size()), "");
                for (size_t len : {size_t(0), size_t(1), payload.size() / 3, payload.size() - 1})
                    EXPECT_EQ(testing::unpackersDisagree(type, Bytes(payload.begin(), payload.begin() + len), t.size()),
                              "")
                        << "cut to " << len;
                for (size_t i = 0; i < payload.size() && i < 100 + 200 * (w == 16); ++i) {
                    const size_t at = i < 100 ? i : rng() % payload.size();
                    Bytes damaged = payload;
                    damaged[at] ^= uint8_t(1u << (rng() % 8));
                    EXPECT_EQ(testing::unpackersDisagree(type, damaged, t.size()), "") << "bit flipped at " << at;
                }
                Bytes overwritten = payload;
                for (size_t i = payload.size() / 2; i < payload.size() && i < payload.size() / 2 + 40; ++i)
                    overwritten[i] = uint8_t(rng());
                EXPECT_EQ(testing::unpackersDisagree(type, overwritten, t.size()), "");
            }
        }
    }
}

// A texture of many units: long runs, far distances and the coder's whole
// range, and the stretch and group logic over thousands of units.
TEST(UnpackLevels, AgreeOnLargeTextures)
{
    for (uint32_t type = 0; type < 4; ++type) {
        SCOPED_TRACE(type);
        const Bytes t = testing::makeTexture(type, Content::Alphabet, 1024, 768, 5 + type);
        const Bytes payload = testing::packTexture(type, t);
        ASSERT_FALSE(payload.empty());
        ASSERT_EQ(testing::unpackersDisagree(type, payload, t.size()), "");
        Bytes out(t.size());
        ASSERT_EQ(unpackPayload(type, payload.data(), out.data(), payload.size(), t.size(),
                                {.level = SimdLevel::Avx512, .twoStreams = true}),
                  payload.size());
        EXPECT_EQ(out, t);
    }
}

// Textures whose streams' ops are nearly all of one kind, which the fast
// unpackers restore by a way of its own (and the few others by the whole
// one): units copied whole from far back, units of fresh endpoints and index
// bytes, and units of fresh endpoints whose index bytes come from far back,
// and the last two mixed (the distance way takes both); with runs of 1 to 24
// units between them, and 1 unit in 32 of another kind (fresh bytes, or the
// previous unit's endpoints with fresh index bytes). At two sizes: the
// larger has more than 65 536 units in its first stream, from which on a
// distance cannot reach past unit 0.
TEST(UnpackLevels, AgreeOnStreamsOfOneKindOfOp)
{
    enum Kind { Whole, LiteralIndex, DistanceIndex, Mixed };
    for (const auto& [w, h] : {std::pair{256u, 128u}, {1024u, 1088u}}) {
        for (const Kind kind : {Whole, LiteralIndex, DistanceIndex, Mixed}) {
            for (uint32_t type : {2u, 3u}) {
                SCOPED_TRACE(std::to_string(kind) + " type " + std::to_string(type) + " " + std::to_string(w) + "x" +
                             std::to_string(h));
                std::mt19937 rng(kind * 7 + type + w);
                Bytes t(textureSize(type, w, h));
                // Each stream (8-byte units from the first stream's end on
                // are halves of the second's) ends in runs and then 15 units
                // copied from far back; but a first stream of single units
                // of whole copies, whose last 16 units are a fresh one, 4
                // more of it and 11 fresh ones: a short run 15 units from the
                // end, which the whole-copy loop must not write as 16 (the
                // 16th unit is the second stream's first, which with two
                // streams the other thread writes).
                const size_t units = t.size() / 8, first = type == 2 ? t.size() / 48 * 4 : t.size() / 80 * 8;
                const bool shortRunAtTheEnd = kind == Whole && type == 2;
                for (size_t u = 0; u < units; ++u) {
                    uint8_t* x = &t[u * 8];
                    const size_t back = 1 + rng() % std::max<size_t>(1, std::min<size_t>(u, 3000));
                    const uint32_t pick = rng() % 32;
                    const size_t end = u < first ? first : units;
                    const bool shortRun = shortRunAtTheEnd && end == first;
                    const size_t tail = shortRun ? 16 : 15;
                    if (shortRun && end - u <= tail) {
                        if (end - u > 11 && end - u < 16)
                            std::memcpy(x, x - 8, 8);
                        else
                            for (int b = 0; b < 8; ++b)
                                x[b] = uint8_t(rng());
                    } else if (end - u <= tail) {
                        std::memcpy(x, x - 8 * (100 + 37 * (end - u)), 8);
                    } else if (end - u < 40) {
                        const size_t n = std::min<size_t>(end - u - tail, 1 + rng() % 24);
                        for (size_t k = 0; k < n; ++k)
                            std::memcpy(x + 8 * k, x - 8, 8);
                        u += n - 1;
                    } else if (u < 64 || pick == 0) {
                        for (int b = 0; b < 8; ++b)
                            x[b] = uint8_t(rng());
                        if (u >= 64 && rng() % 2)
                            std::memcpy(x, x - 8, 2);
                    } else if (pick < 4) {
                        const size_t n = std::min<size_t>(end - u - tail, 1 + rng() % 24);
                        for (size_t k = 0; k < n; ++k)
                            std::memcpy(x + 8 * k, x - 8, 8);
                        u += n - 1;
                    } else if (kind == Whole) {
                        std::memcpy(x, x - 8 * back, 8);
                    } else {
                        x[0] = uint8_t(rng()), x[1] = uint8_t(rng());
                        if (kind == LiteralIndex || (kind == Mixed && rng() % 2))
                            for (int b = 2; b < 8; ++b)
                                x[b] = uint8_t(rng());
                        else
                            std::memcpy(x + 2, x - 8 * back + 2, 6);
                    }
                }
                const Bytes payload = testing::packTexture(type, t);
                ASSERT_FALSE(payload.empty());
                expectRestored(type, t, payload, SimdLevel::Sse2);
                for (size_t i = 0; i < 60; ++i) {
                    Bytes damaged = payload;
                    damaged[rng() % damaged.size()] ^= uint8_t(1u << (rng() % 8));
                    EXPECT_EQ(testing::unpackersDisagree(type, damaged, t.size()), "");
                }
            }
        }
    }
}

// DXT textures that end in a flat area (blocks that repeat the one before,
// whole control words of them), of block counts around a control word's 16
// and the fast unpacker's stores of 4 blocks, with the flat area starting
// at several blocks; as packed, and followed by more control words of
// repeats than the texture has blocks left. Also DXT1 payloads of nothing
// but repeats, whose last word's unused codes are repeats too.
TEST(UnpackLevels, AgreeOnFlatAreasUpToTheTexturesEnd)
{
    std::mt19937 rng(29);
    for (uint32_t type = 0; type < 2; ++type) {
        const size_t block = type ? 16 : 8;
        for (const size_t blocks : {20u, 33u, 47u, 48u, 49u, 51u, 64u, 66u, 100u, 1031u}) {
            for (const size_t flatFrom : {1u, 5u, 17u}) {
                SCOPED_TRACE("type " + std::to_string(type) + ", " + std::to_string(blocks) + " blocks, flat from " +
                             std::to_string(flatFrom));
                Bytes t(blocks * block);
                for (size_t b = 0; b < blocks; ++b)
                    for (size_t i = 0; i < block; ++i)
                        t[b * block + i] = b < flatFrom ? uint8_t(rng()) : t[(flatFrom - 1) * block + i];
                const Bytes payload = testing::packTexture(type, t);
                expectRestored(type, t, payload, SimdLevel::Sse2);
                Bytes more = payload;
                more.insert(more.end(), 40, 0x55);
                EXPECT_EQ(testing::unpackersDisagree(type, more, t.size()), "");
            }
            if (type == 0) {
                Bytes repeats{1, 2, 3, 4, 5, 6, 7, 8};
                repeats.insert(repeats.end(), (blocks + 14) / 16 * 4 + 24, 0x55);
                EXPECT_EQ(testing::unpackersDisagree(type, repeats, blocks * 8), "") << blocks << " blocks";
            }
        }
    }
}

// LZF as version-3 payloads hold it: literal runs of 1 to 32 bytes, and
// back-references of 3 to 264 bytes from 1 to 8192 bytes back, found by the
// last place of each 3 bytes (references that overlap what they write
// included).
Bytes lzfPack(const Bytes& in)
{
    Bytes out;
    std::vector<uint32_t> last(1 << 16, UINT32_MAX);
    size_t literal = 0;  // where the pending literal run starts
    auto flush = [&](size_t end) {
        for (; literal < end; literal += 32) {
            const size_t n = std::min<size_t>(32, end - literal);
            out.push_back(uint8_t(n - 1));
            out.insert(out.end(), in.begin() + long(literal), in.begin() + long(literal + n));
        }
        literal = end;
    };
    for (size_t i = 0; i + 3 <= in.size();) {
        const uint32_t h = (uint32_t(in[i]) << 8 ^ uint32_t(in[i + 1]) << 4 ^ in[i + 2]) & 0xFFFF;
        const uint32_t at = last[h];
        last[h] = uint32_t(i);
        size_t n = 0;
        if (at != UINT32_MAX && i - at <= 8192)
            while (i + n < in.size() && n < 264 && in[at + n] == in[i + n])
                ++n;
        if (n < 3) {
            ++i;
            continue;
        }
        flush(i);
        const size_t back = i - at - 1, length = n - 2;
        out.push_back(uint8_t(std::min<size_t>(length, 7) << 5 | back >> 8));
        if (length >= 7)
            out.push_back(uint8_t(length - 7));
        out.push_back(uint8_t(back));
        i += n;
        literal = i;
    }
    flush(in.size());
    return out;
}

// Version-3 payloads (LZF, types 4 to 7) of pictures, textures and noise,
// whole, cut short, with bits flipped, and into a texture a byte too small
// or larger than they fill: the fast unpacker gives the reference's
// (liblzf's) results.
TEST(UnpackLevels, AgreeOnVersion3Payloads)
{
    std::mt19937 rng(3);
    for (const Content c : {Content::Smooth, Content::Repetitive, Content::Random, Content::Still}) {
        for (const uint32_t size : {16u, 40u, 300u, 4096u, 70000u}) {
            SCOPED_TRACE(testing::contentName(c) + std::string(" ") + std::to_string(size));
            Bytes plain = testing::makePicture(c, 64, (size + 255) / 256, size);
            plain.resize(size);
            const Bytes payload = lzfPack(plain);
            const size_t n = payload.size();
            ASSERT_EQ(testing::unpackersDisagree(4, payload, size), "");
            Bytes out(size);
            EXPECT_EQ(unpackPayload(5, payload.data(), out.data(), n, size, {.level = SimdLevel::Sse2}), size);
            EXPECT_EQ(out, plain);
            // A byte too small, and larger than what the payload holds (the
            // rest untouched).
            EXPECT_EQ(testing::unpackersDisagree(4, payload, size - 1), "");
            EXPECT_EQ(testing::unpackersDisagree(4, payload, size + 40), "");
            for (size_t len : {size_t(1), size_t(n / 2), size_t(n - 1)})
                EXPECT_EQ(testing::unpackersDisagree(4, Bytes(payload.begin(), payload.begin() + len), size), "");
            for (int i = 0; i < 40; ++i) {
                Bytes damaged = payload;
                damaged[rng() % n] ^= uint8_t(1u << (rng() % 8));
                EXPECT_EQ(testing::unpackersDisagree(4, damaged, size), "");
            }
        }
    }
}

}  // namespace
}  // namespace nox
