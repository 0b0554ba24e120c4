// Byte packers: exact bytes where a format detail is pinned, and the op-stream
// forms and table coder (round trips through the reader's op-stream decoder).
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <random>
#include <vector>

#include <thread>

#include "codec/opstream.h"
#include "codec/packers.h"
#include "reader/frame_decoder.h"

namespace nox {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes block8(uint32_t colour, uint32_t index) {
    Bytes b(8);
    std::memcpy(&b[0], &colour, 4);
    std::memcpy(&b[4], &index, 4);
    return b;
}

Bytes repeat(const Bytes& unit, size_t times) {
    Bytes out;
    for (size_t k = 0; k < times; ++k) out.insert(out.end(), unit.begin(), unit.end());
    return out;
}

Bytes packed(uint32_t type, const Bytes& in, PackStatistics* stats = nullptr) {
    const uint32_t n = uint32_t(in.size());
    Bytes out((type < 2 ? packDxtBound(n) : packYcocgBound(n)) + 16);
    const uint32_t cap = uint32_t(out.size() - 16);
    PackStatistics local;
    PackStatistics& s = stats ? *stats : local;
    uint32_t r = 0;
    switch (type) {
    case 0: r = packDxt1(in.data(), n, out.data(), cap, s); break;
    case 1: r = packDxt5(in.data(), n, out.data(), cap, s); break;
    case 2: r = packYcg6(out.data(), cap, in.data(), n, s); break;
    default: r = packYg10(out.data(), cap, in.data(), n, s); break;
    }
    // The plain entry points write the same bytes as the counting ones.
    Bytes plain(out.size());
    uint32_t r2 = 0;
    switch (type) {
    case 0: r2 = packDxt1(in.data(), n, plain.data(), cap); break;
    case 1: r2 = packDxt5(in.data(), n, plain.data(), cap); break;
    case 2: r2 = packYcg6(plain.data(), cap, in.data(), n); break;
    default: r2 = packYg10(plain.data(), cap, in.data(), n); break;
    }
    EXPECT_EQ(r, r2);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + r, plain.begin()));
    out.resize(r);
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(Packers, Dxt1PinnedBytes) {
    // One block: block + zero control word = 12 bytes, longer than 8: declined.
    EXPECT_TRUE(packed(0, block8(1, 2)).empty());
    // 17 identical blocks: 16 codes of 1 fill exactly one word, none follows.
    const Bytes b = block8(0x12345678, 0x9ABCDEF0);
    EXPECT_EQ(packed(0, repeat(b, 17)), cat({b, {0x55, 0x55, 0x55, 0x55}}));
    // Below the capacity bound the packer declines.
    const Bytes in = repeat(b, 64);
    Bytes out(packDxtBound(512));
    EXPECT_EQ(packDxt1(in.data(), 512, out.data(), packDxtBound(512) - 1), 0u);
    EXPECT_EQ(packDxt1(in.data(), 512, out.data(), packDxtBound(512)), 24u);

    // A colour word 300 blocks back and a new index word: codes 0, 3 with
    // u16 300 - 258 = 42, 0 with the 4 literal bytes, at the very end.
    Bytes tex = cat({block8(0xCAFE1234, 0x11111111), repeat(block8(0x0F0F0F0F, 0x22222222), 299),
                     block8(0xCAFE1234, 0x77665544)});
    PackStatistics s;
    const Bytes p = packed(0, tex, &s);
    ASSERT_GE(p.size(), 6u);
    EXPECT_EQ(Bytes(p.end() - 6, p.end()), (Bytes{42, 0, 0x44, 0x55, 0x66, 0x77}));
    EXPECT_EQ(s.colourCodes[3], 1u);
    EXPECT_EQ(s.indexCodes[0], 2u);
    EXPECT_EQ(s.blockCodes[1], 298u);
    // 3 + 298 + 3 = 304 codes fill 19 words; the last one, reserved at code
    // 288 and so placed right before the block's 6 bytes, ends in 0, 3, 0.
    uint32_t word;
    std::memcpy(&word, &p[p.size() - 10], 4);
    EXPECT_EQ(word, 0x31555555u);  // 13 codes of 1, then 0, 3, 0
    Bytes restored(tex.size());
    EXPECT_EQ(unpackDxt1(p.data(), restored.data(), p.size(), tex.size()), p.size());
    EXPECT_EQ(restored, tex);
}

TEST(Packers, Dxt5PinnedBytes) {
    Bytes b(16);
    std::iota(b.begin(), b.end(), uint8_t(1));
    // All blocks identical: one code 0 with run length n/16 - 2.
    EXPECT_EQ(packed(1, repeat(b, 10)), cat({b, {0, 0, 0, 0}, {8}}));
    // 300 repeats: run length 299 = byte 255 then u16 44.
    EXPECT_EQ(packed(1, repeat(b, 301)), cat({b, {0, 0, 0, 0}, {255, 44, 0}}));
    // 255 + 65535 + 7 repeats: 255, u16 65535, u16 7.
    PackStatistics s;
    EXPECT_EQ(packed(1, repeat(b, 255 + 65535 + 7 + 2), &s), cat({b, {0, 0, 0, 0}, {255, 255, 255, 7, 0}}));
    EXPECT_EQ(s.runContinuations, 1u);
    // Same alpha, new colours: one code 1 whose run covers every following
    // block that keeps the alpha (14 of 16 here); those get colour codes only.
    Bytes c = b;
    c[8] ^= 0xFF;
    Bytes d = b;
    d[12] ^= 0xFF;
    Bytes e = b;
    e[9] ^= 0xFF;
    const Bytes tex = cat({b, c, d, e});
    PackStatistics s2;
    const Bytes p = packed(1, repeat(tex, 4), &s2);
    ASSERT_FALSE(p.empty());
    EXPECT_EQ(p[16] & 3, 1);  // first code of the first control word
    EXPECT_EQ(p[20], 14);     // run length r
    EXPECT_EQ(s2.alphaCodes[0] + s2.alphaCodes[1] + s2.alphaCodes[2] + s2.alphaCodes[3], 1u);
}

// Luma units of one YCG6 tile: 4 identical units are 3 ops of value 1 and no
// data (data length 16, single-value form 01 01); a lone chroma unit has no
// ops (two raw forms of 0 ops).
TEST(Packers, YcocgPinnedBytes) {
    const Bytes unit = {9, 3, 1, 2, 3, 4, 5, 6};
    const Bytes chroma = {7, 7, 0, 0, 0, 0, 0, 0, 8, 8, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(packed(2, cat({repeat(unit, 4), chroma})),
              cat({{16, 0, 0, 0, 3, 0, 0, 0}, unit, {1, 1}, {28, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, chroma, {0, 0}}));
    // Two tiles: 7 repeats are one op 0 with run length 3 (data length 17,
    // one op in raw form 00 00); the second chroma unit is op 1 in each half.
    EXPECT_EQ(packed(2, cat({repeat(unit, 8), chroma, chroma})),
              cat({{17, 0, 0, 0, 1, 0, 0, 0}, unit, {3}, {0, 0},
                   {28, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}, chroma, {0, 1}, {0, 1}}));
    // Lengths that are not whole tiles are declined.
    const Bytes hundred(100, 1);
    Bytes out(4096);
    EXPECT_EQ(packYcg6(out.data(), 4096, hundred.data(), 100), 0u);
    EXPECT_EQ(packYg10(out.data(), 4096, hundred.data(), 100), 0u);
    EXPECT_EQ(packYcg6(out.data(), 4096, hundred.data(), 0), 0u);
    // A capacity too small for the result: declined, nothing written beyond it.
    std::mt19937 rng(3);
    Bytes noise(480);
    for (auto& x : noise) x = uint8_t(rng());
    Bytes small(100 + 1, 0xEE);
    EXPECT_EQ(packYcg6(small.data(), 100, noise.data(), 480), 0u);
    EXPECT_EQ(small[100], 0xEE);
}

// A composite op in full: endpoints equal to the previous unit's (+10), index
// bits 2 units back (+4, u16 distance - 1 = 1): op 17, data 01 00.
TEST(Packers, CompositeOpBytes) {
    const Bytes a = {1, 2, 10, 11, 12, 13, 14, 15};
    const Bytes b = {3, 4, 20, 21, 22, 23, 24, 25};
    const Bytes c = {3, 4, 10, 11, 12, 13, 14, 15};
    const Bytes d = {5, 6, 30, 31, 32, 33, 34, 35};
    const Bytes chroma(16, 0);
    const Bytes p = packed(2, cat({a, b, c, d, chroma}));
    // Units b and d are op 3 (8 literals each), c is op 17.
    ASSERT_GE(p.size(), 16u + 8 + 2 + 8);
    EXPECT_EQ(Bytes(p.begin() + 16, p.begin() + 34), cat({b, {1, 0}, d}));
    const uint32_t dataLength = p[0];
    EXPECT_EQ(dataLength, 34u);
    // Three ops with two values: the coded form would not be shorter, raw.
    EXPECT_EQ(Bytes(p.begin() + 34, p.begin() + 38), (Bytes{0, 3, 17, 3}));
}

uint64_t fnv1a(const Bytes& b) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (uint8_t x : b) h = (h ^ x) * 0x100000001B3ull;
    return h;
}

// 8-byte units from small alphabets of endpoints and index pieces, with
// repeats and copies from earlier units: every kind of match, few long runs.
Bytes mixedUnits(size_t bytes, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes t(bytes);
    uint32_t alphabet[8];
    for (auto& a : alphabet) a = rng();
    for (size_t o = 0; o < bytes; o += 8) {
        const uint32_t r = o == 0 ? 9 : rng() % 10;
        if (r < 2) {
            std::memcpy(&t[o], &t[o - 8], 8);
        } else if (r < 4) {
            std::memcpy(&t[o], &t[8 * (rng() % (o / 8))], 8);
        } else if (r < 8) {
            for (int b = 0; b < 8; b += 2) {
                const uint32_t a = alphabet[rng() % 8];
                std::memcpy(&t[o + b], &a, 2);
            }
            if (r == 7) std::memcpy(&t[o + 2], &t[8 * (rng() % (o / 8)) + 2], 6);
        } else {
            for (int b = 0; b < 8; ++b) t[o + b] = uint8_t(rng());
        }
    }
    return t;
}

// Packed bytes of fixed synthetic textures, pinned: any change to what the
// packers write shows here. Also packs them on four threads at once (each
// thread keeps its own work area) and compares with the single-thread result.
TEST(Packers, GoldenOutputAndThreads) {
    struct Golden {
        uint32_t type;
        size_t size;
        uint64_t hash;
    };
    const Golden golden[] = {
        {0, 7387, 11672831558023658821ull},
        {1, 11671, 1776694249445439673ull},
        {2, 10067, 12219216972092853979ull},
        {3, 11992, 12091364921043688276ull},
    };
    std::vector<Bytes> textures, results;
    for (const Golden& g : golden) {
        textures.push_back(mixedUnits(240 * 70, 2024 + g.type));
        results.push_back(packed(g.type, textures.back()));
        EXPECT_EQ(results.back().size(), g.size) << g.type;
        EXPECT_EQ(fnv1a(results.back()), g.hash) << g.type;
        const UnpackFunction unpack[4] = {unpackDxt1, unpackDxt5, unpackYcg6, unpackYg10};
        Bytes restored(textures.back().size());
        EXPECT_EQ(unpack[g.type](results.back().data(), restored.data(), results.back().size(), restored.size()),
                  results.back().size());
        EXPECT_EQ(restored, textures.back());
    }
    std::vector<Bytes> threaded(4);
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round) threaded[t] = packed(golden[t].type, textures[t]);
        });
    }
    for (auto& th : threads) th.join();
    for (uint32_t t = 0; t < 4; ++t) EXPECT_EQ(threaded[t], results[t]) << t;
}

Bytes writeOps(const Bytes& ops, OpStreamForm* form = nullptr) {
    Bytes out(ops.size() + 64);
    const size_t n = writeOpStream(ops.data(), uint32_t(ops.size()), out.data(), out.size(), form);
    EXPECT_GT(n, 0u);
    out.resize(n);
    return out;
}

void expectRoundTrip(const Bytes& ops) {
    OpStreamForm form;
    const Bytes stream = writeOps(ops, &form);
    // The reader is given trailing bytes: it must find the end itself.
    Bytes padded = cat({stream, {0xAB, 0xCD, 0xEF}});
    Bytes back(ops.size() + 1, 0xEE);
    ASSERT_EQ(readOpStream(padded.data(), padded.size(), back.data(), uint32_t(ops.size())), stream.size());
    EXPECT_TRUE(std::equal(ops.begin(), ops.end(), back.begin()));
    EXPECT_EQ(back[ops.size()], 0xEE);
}

TEST(OpStream, Forms) {
    EXPECT_EQ(writeOps({}), Bytes{0});
    EXPECT_EQ(writeOps({5}), (Bytes{0, 5}));
    EXPECT_EQ(writeOps(Bytes(1000, 7)), (Bytes{1, 7}));
    EXPECT_EQ(writeOps({1, 2, 1}), (Bytes{0, 1, 2, 1}));
    // Two equally frequent values: frequencies 512 and 512 in 10-bit fields
    // after the tag 2 (bits 02 08 20 00), one bit per op, 64 + 10 + 32 = 106
    // bits in the coded part.
    Bytes alternating(64);
    for (size_t j = 0; j < 64; ++j) alternating[j] = uint8_t(j & 1);
    OpStreamForm form;
    const Bytes coded = writeOps(alternating, &form);
    EXPECT_EQ(form, OP_FORM_CODED);
    EXPECT_EQ(Bytes(coded.begin(), coded.begin() + 8), (Bytes{0x02, 0x08, 0x20, 0x00, 106, 0, 0, 0}));
    EXPECT_EQ(coded.size(), 4u + 14);
    expectRoundTrip(alternating);
}

TEST(OpStream, RoundTripsDistributions) {
    std::mt19937 rng(11);
    for (uint32_t n : {2u, 3u, 17u, 100u, 1000u, 5000u, 40000u}) {
        for (int shape = 0; shape < 4; ++shape) {
            SCOPED_TRACE(::testing::Message() << n << " ops, shape " << shape);
            Bytes ops(n);
            for (auto& op : ops) {
                switch (shape) {
                case 0: op = uint8_t(rng() % 18); break;           // uniform
                case 1: op = uint8_t(std::min(17, int(std::countr_zero(rng() | 0x20000)))); break;  // geometric
                case 2: op = uint8_t(rng() % 50 == 0 ? 17 : 3); break;  // two values, skewed
                default: op = uint8_t(rng() % 3 == 0 ? rng() % 18 : 13); break;
                }
            }
            expectRoundTrip(ops);
            OpStreamForm form;
            const Bytes s = writeOps(ops, &form);
            if (n >= 1000) {
                EXPECT_EQ(form, OP_FORM_CODED);
            }
            EXPECT_LE(s.size(), size_t(n) + 1);
        }
    }
}

// From about 140 000 ops on, a value that occurs once can scale to a
// frequency of 0 despite the count boost (the scale is floored, and the
// carried remainder may be small just then). It must still get 1, taken from
// the largest frequency, and the stream must decode. This distribution (found
// by search) hits the case at value 10.
TEST(OpStream, RareValueKeepsFrequencyOne) {
    const uint32_t counts[18] = {50557, 36303, 4748,  13071, 16134, 20525, 37324, 23793, 47025,
                                 39213, 1,     1429,  49374, 4595,  48761, 17513, 12866, 42532};
    const uint32_t n = std::accumulate(counts, counts + 18, 0u);
    ASSERT_EQ(n, 465764u);
    uint16_t f[18];
    uint32_t raised = 0;
    ASSERT_TRUE(normaliseOpCounts(counts, n, f, &raised));
    EXPECT_EQ(raised, 1u);
    EXPECT_EQ(f[10], 1);
    EXPECT_EQ(std::accumulate(f, f + 18, 0u), 1024u);
    for (uint32_t s = 0; s < 18; ++s) EXPECT_GE(f[s], 1) << s;
    Bytes ops;
    ops.reserve(n);
    for (uint32_t s = 0; s < 18; ++s) ops.insert(ops.end(), counts[s], uint8_t(s));
    std::shuffle(ops.begin(), ops.end(), std::mt19937(n));
    expectRoundTrip(ops);
    // Smaller streams with a value seen once never need the lift.
    for (uint32_t m = 2000; m < 140000; m += 997) {
        uint32_t c[18];
        for (uint32_t s = 0; s < 18; ++s) c[s] = s == 17 ? 1 : (m - 1) / 17;
        c[0] += (m - 1) % 17;
        ASSERT_TRUE(normaliseOpCounts(c, m, f, &raised));
        EXPECT_EQ(raised, 0u) << m;
        EXPECT_EQ(std::accumulate(f, f + 18, 0u), 1024u);
    }
}

TEST(OpStream, RejectsMalformedStreams) {
    Bytes ops(3000);
    std::mt19937 rng(5);
    for (auto& op : ops) op = uint8_t(rng() % 18);
    const Bytes s = writeOps(ops);
    Bytes back(ops.size());
    // Every truncation, and the form tag 3.
    for (size_t len = 0; len < s.size(); ++len)
        EXPECT_EQ(readOpStream(s.data(), len, back.data(), uint32_t(ops.size())), 0u) << len;
    Bytes bad = s;
    bad[0] |= 3;
    EXPECT_EQ(readOpStream(bad.data(), bad.size(), back.data(), uint32_t(ops.size())), 0u);
    // Bit counts reaching past the stream, too small for the start state, or
    // one off (the bits no longer end at the field): the 64 alternating ops
    // of the Forms test have their field at byte 4.
    Bytes alternating(64);
    for (size_t j = 0; j < 64; ++j) alternating[j] = uint8_t(j & 1);
    const Bytes two = writeOps(alternating);
    for (uint32_t total : {0u, 41u, 105u, 107u, 200u, 0xFFFFFFFFu}) {
        bad = two;
        std::memcpy(&bad[4], &total, 4);
        EXPECT_EQ(readOpStream(bad.data(), bad.size(), back.data(), 64), 0u) << total;
    }
    // Asking for more ops than were coded runs out of bits.
    EXPECT_EQ(readOpStream(s.data(), s.size(), Bytes(4000).data(), 4000), 0u);
    // A single-value form with a value beyond 17.
    EXPECT_EQ(readOpStream(Bytes{1, 18}.data(), 2, back.data(), 5), 0u);
}

}  // namespace
}  // namespace nox
