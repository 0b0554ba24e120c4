// Byte packers: exact bytes where a format detail is pinned, and the op-stream
// forms and table coder (round trips through the reader's op-stream decoder).
#include <gtest/gtest.h>

#include <atomic>
#include <numeric>
#include <thread>
#include <tuple>
#include <vector>

#include "codec/opstream.h"
#include "common/textures.h"
#include "common/util.h"
#include "core/bytes.h"

namespace nox {
namespace {

using testing::Bytes;
using testing::cat;
using testing::packTexture;

Bytes block8(uint32_t colour, uint32_t index) { return cat({testing::u32(colour), testing::u32(index)}); }

Bytes repeat(const Bytes& unit, size_t times)
{
    Bytes out;
    while (times--)
        out.insert(out.end(), unit.begin(), unit.end());
    return out;
}

// Exact packed bytes where a format detail is pinned (empty: declined).
TEST(Packers, PinnedBytes)
{
    const Bytes b = block8(0x12345678, 0x9ABCDEF0), unit = {9, 3, 1, 2, 3, 4, 5, 6};
    const Bytes chroma = {7, 7, 0, 0, 0, 0, 0, 0, 8, 8, 0, 0, 0, 0, 0, 0},
                noChroma = {28, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    Bytes b16(16);
    std::iota(b16.begin(), b16.end(), uint8_t(1));
    // clang-format off
    const Bytes u[4] = {{1, 2, 10, 11, 12, 13, 14, 15}, {3, 4, 20, 21, 22, 23, 24, 25},
                        {3, 4, 10, 11, 12, 13, 14, 15}, {5, 6, 30, 31, 32, 33, 34, 35}};
    const struct {
        uint32_t type;
        Bytes in, out;
    } cases[] = {
        // One DXT1 block: block + zero control word = 12 bytes, longer than 8.
        {0, block8(1, 2), {}},
        // 17 identical blocks: 16 codes of 1 fill exactly one word, none follows.
        {0, repeat(b, 17), cat({b, {0x55, 0x55, 0x55, 0x55}})},
        // DXT5 blocks all identical: one code 0 with run length n/16 - 2; 300
        // repeats: byte 255 then u16 44; 255 + 65535 + 7: 255, u16 65535, u16 7;
        // 255 + 65535: a piece of 65535 says more follows, so a last u16 0 ends it.
        {1, repeat(b16, 10), cat({b16, {0, 0, 0, 0}, {8}})},
        {1, repeat(b16, 301), cat({b16, {0, 0, 0, 0}, {255, 44, 0}})},
        {1, repeat(b16, 255 + 65535 + 7 + 2), cat({b16, {0, 0, 0, 0}, {255, 255, 255, 7, 0}})},
        {1, repeat(b16, 255 + 65535 + 2), cat({b16, {0, 0, 0, 0}, {255, 255, 255, 0, 0}})},
        // Luma units of one YCG6 tile: 4 identical units are 3 ops of value 1
        // and no data (data length 16, single-value form 01 01); a lone chroma
        // unit has no ops (two raw forms of 0 ops).
        {2, cat({repeat(unit, 4), chroma}), cat({{16, 0, 0, 0, 3, 0, 0, 0}, unit, {1, 1}, noChroma, chroma, {0, 0}})},
        // Two tiles: 7 repeats are one op 0 with run length 3 (data length 17,
        // one op in raw form 00 00); the second chroma unit is op 1 in each half.
        {2, cat({repeat(unit, 8), chroma, chroma}),
         cat({{17, 0, 0, 0, 1, 0, 0, 0}, unit, {3}, {0, 0}, {28, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}, chroma, {0, 1}, {0, 1}})},
        // A composite op in full: unit 2 takes the endpoints of unit 1 (+10) and
        // the index bits 2 units back (+4, u16 distance - 1 = 1): op 17, data
        // 01 00; units 1 and 3 are op 3 (8 literals each); three ops of two
        // values are not shorter coded: raw.
        {2, cat({u[0], u[1], u[2], u[3], Bytes(16, 0)}),
         cat({{34, 0, 0, 0, 3, 0, 0, 0}, u[0], u[1], {1, 0}, u[3], {0, 3, 17, 3}, noChroma, Bytes(16, 0), {0, 0}})},
    };
    // clang-format on
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(packTexture(cases[i].type, cases[i].in), cases[i].out) << i;
    PackStatistics s;
    packTexture(1, repeat(b16, 255 + 65535 + 7 + 2), &s);
    EXPECT_EQ(s.runContinuations, 1u);
}

TEST(Packers, Dxt1ReferencesAndCapacity)
{
    // Below the capacity bound the packer declines.
    const Bytes in = repeat(block8(0x12345678, 0x9ABCDEF0), 64);
    Bytes out(packDxtBound(512));
    EXPECT_EQ(packDxt1(in.data(), 512, out.data(), packDxtBound(512) - 1), 0u);
    EXPECT_EQ(packDxt1(in.data(), 512, out.data(), packDxtBound(512)), 24u);

    // A colour word 300 blocks back and a new index word: codes 0, 3 with
    // u16 300 - 258 = 42, 0 with the 4 literal bytes, at the very end.
    const Bytes tex = cat(
        {block8(0xCAFE1234, 0x11111111), repeat(block8(0x0F0F0F0F, 0x22222222), 299), block8(0xCAFE1234, 0x77665544)});
    PackStatistics s;
    const Bytes p = packTexture(0, tex, &s);
    EXPECT_EQ(std::tuple(s.colourCodes[3], s.indexCodes[0], s.blockCodes[1]), std::tuple(1u, 2u, 298u));
    // 3 + 298 + 3 = 304 codes fill 19 words; the last one, reserved at code
    // 288 and so placed right before the block's 6 bytes, is 13 codes of 1,
    // then 0, 3, 0 (0x31555555).
    ASSERT_GE(p.size(), 10u);
    EXPECT_EQ(Bytes(p.end() - 10, p.end()), (Bytes{0x55, 0x55, 0x55, 0x31, 42, 0, 0x44, 0x55, 0x66, 0x77}));
    Bytes restored(tex.size());
    EXPECT_EQ(unpackDxt1(p.data(), restored.data(), p.size(), tex.size()), p.size());
    EXPECT_EQ(restored, tex);
}

// DXT5, same alpha, new colours: one code 1 whose run covers every following
// block that keeps the alpha (14 of 16 here); those get colour codes only.
// Lengths that are not whole blocks or tiles are declined.
TEST(Packers, AlphaRunsAndDeclines)
{
    Bytes b(16);
    std::iota(b.begin(), b.end(), uint8_t(1));
    Bytes c = b, d = b, e = b;
    c[8] ^= 0xFF, d[12] ^= 0xFF, e[9] ^= 0xFF;
    PackStatistics s;
    const Bytes p = packTexture(1, repeat(cat({b, c, d, e}), 4), &s);
    ASSERT_GT(p.size(), 20u);
    EXPECT_EQ(p[16] & 3, 1);  // first code of the first control word
    EXPECT_EQ(p[20], 14);     // run length r
    EXPECT_EQ(s.alphaCodes[0] + s.alphaCodes[1] + s.alphaCodes[2] + s.alphaCodes[3], 1u);

    const Bytes hundred(100, 1);
    Bytes out(4096);
    EXPECT_EQ(packYcg6(out.data(), 4096, hundred.data(), 100), 0u);
    EXPECT_EQ(packYg10(out.data(), 4096, hundred.data(), 100), 0u);
    EXPECT_EQ(packYcg6(out.data(), 4096, hundred.data(), 0), 0u);
    EXPECT_EQ(packDxt1(hundred.data(), 100, out.data(), 4096), 0u);  // not whole blocks
    EXPECT_EQ(packDxt5(hundred.data(), 40, out.data(), 4096), 0u);
    // Random units, every 32nd a copy of the one before, pack only a little
    // shorter than themselves: the compressor's capacity still holds them.
    Bytes t = testing::makePicture(testing::Content::Random, 64, 48, 2);
    for (size_t u = 32; u < t.size() / 8; u += 32)
        std::copy_n(&t[8 * u - 8], 8, &t[8 * u]);
    const size_t r = packTexture(2, t).size();
    EXPECT_TRUE(r > t.size() * 31 / 32 + 64 && r < t.size()) << r;
}

// An alpha half seen 65 537 blocks back is still a reference (u16 65 535);
// one block further it is written out.
TEST(Packers, AlphaReferenceReach)
{
    for (uint32_t d : {65537u, 65538u}) {
        Bytes t((d + 1) * 16, 0);
        for (uint32_t b = 1; b < d; ++b)
            t[b * 16] = uint8_t(1 + b % 2);
        PackStatistics s;
        packTexture(1, t, &s);
        EXPECT_EQ(s.alphaCodes[3], d == 65537 ? 2u : 3u) << d;
    }
}

// A unit stream's earlier units are found by a hash table of unit numbers
// modulo 65 536. Unit 65 536's slot still holding unit 0's number must mean
// unit 0 (the farthest a distance reaches), taken only where it is equal:
// here unit 0 is another value with the same hash, and unit 65 537 equals
// unit 1, 65 536 back. The units between leave that slot alone. (h64 is
// the packer's own hash, written out here to make the collision.)
TEST(Packers, UnitReferenceReach)
{
    const auto h64 = [](uint64_t x) { return uint32_t((x * 0x9E3779B185EBCA87ull) >> 48); };
    const uint64_t a = 0x0123456789ABCDEFull;
    uint64_t b = a + 1;
    while (h64(b) != h64(a))
        ++b;
    const uint32_t tiles = 16385;  // 65 540 luma units, then the chroma
    Bytes t(size_t(tiles) * 48, 0);
    uint64_t v = 1;
    for (uint32_t j = 0; j < 4 * tiles; ++j) {
        uint64_t x = j == 0 ? a : j == 65536 ? b : 0;
        if (j == 65537)
            x = loadLe64(t.data() + 8);
        while (x == 0) {
            v = v * 6364136223846793005ull + 1442695040888963407ull;
            x = h64(v) == h64(a) || h64(v >> 16) == h64(a) ? 0 : v;
        }
        storeLe64(t.data() + 8 * j, x);
    }
    const Bytes p = packTexture(2, t);
    Bytes restored(t.size());
    ASSERT_EQ(unpackYcg6(p.data(), restored.data(), p.size(), restored.size()), p.size());
    EXPECT_TRUE(restored == t);
    EXPECT_EQ(testing::unpackersDisagree(2, p, t.size()), "");
}

// Packed bytes of fixed synthetic textures, pinned: any change to what the
// packers write shows here.
TEST(Packers, GoldenOutput)
{
    const uint64_t golden[4] = {2371702051630260295ull, 2871697402291896047ull, 3283321314748775984ull,
                                659302066244337917ull};
    const UnpackFunction unpack[4] = {unpackDxt1, unpackDxt5, unpackYcg6, unpackYg10};
    for (uint32_t type = 0; type < 4; ++type) {
        const Bytes t = testing::makeAlphabetUnits(2100, 2024 + type, 1, false), p = packTexture(type, t);
        EXPECT_EQ(testutil::fnv1a(p), golden[type]) << type;
        Bytes restored(t.size());
        EXPECT_EQ(unpack[type](p.data(), restored.data(), p.size(), restored.size()), p.size());
        EXPECT_EQ(restored, t);
    }
}

// Packers on many threads that each live for a few calls, as a job's
// threads come and go: the same bytes as on one thread, every size of work
// area lent and taken back (a thread's leftovers once damaged the heap on
// Win64 as threads ended).
TEST(Packers, OnShortLivedThreads)
{
    // Three lengths per type, whole tiles of either YCoCg type (48 and 80 bytes).
    std::vector<Bytes> textures, packed;
    for (uint32_t i = 0; i < 12; ++i) {
        textures.push_back(testing::makeAlphabetUnits(size_t(240) * (1 + 20 * (i / 4)), 77 + i, 1, false));
        packed.push_back(packTexture(i % 4, textures.back()));
        ASSERT_FALSE(packed.back().empty()) << i;
    }
    std::atomic<int> wrong{0};
    for (uint32_t round = 0; round < 150; ++round) {
        std::vector<std::thread> threads;
        for (uint32_t k = 0; k < 6; ++k)
            threads.emplace_back([&, k] {
                for (uint32_t c = 0; c < 3; ++c) {
                    const uint32_t i = (round + k * 5 + c * 7) % 12;
                    if (packTexture(i % 4, textures[i]) != packed[i])
                        ++wrong;
                }
            });
        for (std::thread& t : threads)
            t.join();
    }
    EXPECT_EQ(wrong.load(), 0);
}

Bytes writeOps(const Bytes& ops, OpStreamForm* form = nullptr)
{
    Bytes out(ops.size() + 64);
    const size_t n = writeOpStream(ops.data(), uint32_t(ops.size()), out.data(), out.size(), form);
    EXPECT_GT(n, 0u);
    out.resize(n);
    return out;
}

// Writes and reads back the ops; the reader is given trailing bytes and must
// find the end itself, writing no byte past the n ops.
OpStreamForm expectRoundTrip(const Bytes& ops)
{
    OpStreamForm form;
    const Bytes stream = writeOps(ops, &form), padded = cat({stream, {0xAB, 0xCD, 0xEF}});
    Bytes back(ops.size() + 1, 0xEE);
    EXPECT_EQ(readOpStream(padded.data(), padded.size(), back.data(), uint32_t(ops.size())), stream.size());
    EXPECT_EQ(Bytes(back.begin(), back.end() - 1), ops);
    EXPECT_EQ(back.back(), 0xEE);
    EXPECT_LE(stream.size(), ops.size() + 1);
    return form;
}

TEST(OpStream, Forms)
{
    EXPECT_EQ(writeOps({}), Bytes{0});
    EXPECT_EQ(writeOps({5}), (Bytes{0, 5}));
    EXPECT_EQ(writeOps(Bytes(1000, 7)), (Bytes{1, 7}));
    EXPECT_EQ(writeOps({1, 2, 1}), (Bytes{0, 1, 2, 1}));
    // Two equally frequent values: frequencies 512 and 512 in 10-bit fields
    // after the tag 2 (bits 02 08 20 00), one bit per op, 64 + 10 + 32 = 106
    // bits in the coded part.
    const Bytes coded = writeOps(repeat({0, 1}, 32));
    EXPECT_EQ(Bytes(coded.begin(), coded.begin() + 8), (Bytes{0x02, 0x08, 0x20, 0x00, 106, 0, 0, 0}));
    EXPECT_EQ(coded.size(), 4u + 14);
    EXPECT_EQ(expectRoundTrip(repeat({0, 1}, 32)), OP_FORM_CODED);

    std::mt19937 rng(11);
    for (uint32_t n : {2u, 3u, 17u, 100u, 1000u, 5000u, 40000u}) {
        for (int shape = 0; shape < 5; ++shape) {
            SCOPED_TRACE(::testing::Message() << n << " ops, shape " << shape);
            Bytes ops(n);
            // Uniform, geometric, two values skewed, one value with noise, and
            // one value after every other value once in a row at the start:
            // ops of the longest codes (10 bits) one after another, more of
            // them than a 64-bit window holds.
            for (uint32_t i = 0; i < n; ++i)
                ops[i] = uint8_t(shape == 0   ? rng() % 18
                                 : shape == 1 ? std::min(17, int(std::countr_zero(rng() | 0x20000)))
                                 : shape == 2 ? (rng() % 50 == 0 ? 17 : 3)
                                 : shape == 3 ? (rng() % 3 == 0 ? rng() % 18 : 13)
                                              : (i < 18 ? i : 3));
            const OpStreamForm form = expectRoundTrip(ops);
            EXPECT_TRUE(n < 1000 || form == OP_FORM_CODED);
        }
    }
}

// From about 140 000 ops on, a value that occurs once can scale to a
// frequency of 0 despite the count boost (the scale is floored, and the
// carried remainder may be small just then). It must still get 1, taken from
// the largest frequency, and the stream must decode. This distribution (found
// by search) hits the case at value 10.
TEST(OpStream, RareValueKeepsFrequencyOne)
{
    const uint32_t counts[18] = {50557, 36303, 4748, 13071, 16134, 20525, 37324, 23793, 47025,
                                 39213, 1,     1429, 49374, 4595,  48761, 17513, 12866, 42532};
    const uint32_t n = std::accumulate(counts, counts + 18, 0u);
    uint16_t f[18];
    uint32_t raised = 0;
    ASSERT_TRUE(normaliseOpCounts(counts, n, f, &raised));
    EXPECT_EQ(std::tuple(raised, f[10], *std::min_element(f, f + 18), std::accumulate(f, f + 18, 0u)),
              std::tuple(1u, 1, 1, 1024u));
    Bytes ops;
    for (uint32_t s = 0; s < 18; ++s)
        ops.insert(ops.end(), counts[s], uint8_t(s));
    std::shuffle(ops.begin(), ops.end(), std::mt19937(n));
    expectRoundTrip(ops);
    // Smaller streams with a value seen once never need the lift.
    for (uint32_t m = 2000; m < 140000; m += 997) {
        uint32_t c[18];
        for (uint32_t s = 0; s < 18; ++s)
            c[s] = s == 17 ? 1 : (m - 1) / 17;
        c[0] += (m - 1) % 17;
        ASSERT_TRUE(normaliseOpCounts(c, m, f, &raised));
        EXPECT_EQ(std::tuple(raised, std::accumulate(f, f + 18, 0u)), std::tuple(0u, 1024u)) << m;
    }
}

TEST(OpStream, RejectsMalformedStreams)
{
    Bytes ops(3000);
    std::mt19937 rng(5);
    for (auto& op : ops)
        op = uint8_t(rng() % 18);
    const Bytes s = writeOps(ops);
    Bytes back(ops.size());
    auto reads = [&](const Bytes& stream, size_t len, uint32_t n) {
        return readOpStream(stream.data(), len, back.data(), n);
    };
    // Every truncation, and the form tag 3.
    for (size_t len = 0; len < s.size(); ++len)
        EXPECT_EQ(reads(s, len, 3000), 0u) << len;
    Bytes bad = s;
    bad[0] |= 3;
    EXPECT_EQ(reads(bad, bad.size(), 3000), 0u);
    // Bit counts reaching past the stream, too small for the start state, or
    // one off (the bits no longer end at the field): 64 alternating ops have
    // their field at byte 4.
    const Bytes two = writeOps(repeat({0, 1}, 32));
    for (uint32_t total : {0u, 41u, 105u, 107u, 200u, 0xFFFFFFFFu}) {
        bad = two;
        std::memcpy(&bad[4], &total, 4);
        EXPECT_EQ(reads(bad, bad.size(), 64), 0u) << total;
    }
    // Asking for more ops than were coded runs out of bits; a single-value
    // form with a value beyond 17.
    back.resize(4000);
    EXPECT_EQ(reads(s, s.size(), 4000), 0u);
    EXPECT_EQ(reads(Bytes{1, 18}, 2, 5), 0u);
}

}  // namespace
}  // namespace nox
