// Malformed frames: truncations and hand-made payloads with
// runs, distances and slot references that reach outside what was restored.
// Destinations are exactly the texture size so a sanitizer catches overruns.
#include <gtest/gtest.h>

#include <algorithm>

#include "codec/opstream.h"
#include "common/textures.h"

namespace nox {
namespace {

using testing::Bytes;
using testing::cat;
using testing::decodes;
using testing::u32;

Bytes frameOf(uint32_t type, const Bytes& payload) { return testing::makeFrame(type, payload, 0); }

// Payloads cut short (with the header telling the cut length, and with the
// header left as it was) never decode (flipped bytes: fuzz_decode_replay).
TEST(MalformedFrames, Truncations)
{
    for (uint32_t type = 0; type < 4; ++type) {
        SCOPED_TRACE(type);
        const uint32_t w = 45, h = 29;
        auto texture = testing::makeTexture(type, testing::Content::Alphabet, padTo16(w), padTo16(h), 99);
        std::copy_n("\xA5\x5A\xC3\x3C\x96\x69\x0F\xF0", 8, texture.end() - 8);  // last words like no other
        const Bytes payload = testing::packTexture(type, texture);
        ASSERT_FALSE(payload.empty());
        const FrameDecoder d(type, w, h);
        const Bytes full = frameOf(type, payload);
        Bytes out;
        ASSERT_TRUE(decodes(d, full, &out));
        ASSERT_EQ(out, texture);
        for (size_t len = 0; len < payload.size(); ++len) {
            EXPECT_FALSE(decodes(d, frameOf(type, Bytes(payload.begin(), payload.begin() + len)))) << len;
            EXPECT_FALSE(decodes(d, Bytes(full.begin(), full.begin() + 12 + len))) << len;
        }
    }
}

TEST(MalformedFrames, DxtReferencesAndRuns)
{
    const Bytes block(8, 0x11);
    const FrameDecoder dxt1(0, 4, 4);  // 16 blocks of 8 bytes after padding
    const FrameDecoder dxt5(1, 4, 4);  // 16 blocks of 16 bytes
    // DXT1, block 1: code 2 with byte 0 (distance 2), code 3 (258), and a
    // split block whose colour word reaches back 3 blocks: all before block 0.
    for (const Bytes& tail : {Bytes{2, 0, 0, 0, 0}, Bytes{3, 0, 0, 0, 0, 0}, Bytes{0x20, 0, 0, 0, 1}})
        EXPECT_FALSE(decodes(dxt1, frameOf(0, cat({block, tail}))));
    // A valid one for contrast: 15 codes of 1.
    EXPECT_TRUE(decodes(dxt1, frameOf(0, cat({block, {0x55, 0x55, 0x55, 0x15}}))));

    const Bytes block16(16, 0x22);
    // Whole-block run longer than the texture (15 blocks remain: v + 1 > 15).
    EXPECT_FALSE(decodes(dxt5, frameOf(1, cat({block16, {0, 0, 0, 0}, {15}}))));
    EXPECT_TRUE(decodes(dxt5, frameOf(1, cat({block16, {0, 0, 0, 0}, {14}}))));
    // The same with a long encoding that never ends (u16 pieces of 65535).
    EXPECT_FALSE(decodes(dxt5, frameOf(1, cat({block16, {0, 0, 0, 0}, {255}, Bytes(4000, 0xFF)}))));
    // Alpha run (code 1) past the end; alpha reference 2 + 0 blocks back at block 1.
    EXPECT_FALSE(decodes(dxt5, frameOf(1, cat({block16, {1, 0, 0, 0}, {15}, Bytes(8, 0)}))));
    EXPECT_FALSE(decodes(dxt5, frameOf(1, cat({block16, {2, 0, 0, 0}, {0, 0}, Bytes(8, 0)}))));
}

// YCG6 streams: the luma stream of unit 0, data and ops.
const Bytes kUnit = {9, 3, 1, 2, 3, 4, 5, 6};

Bytes lumaStream(const Bytes& data, const Bytes& ops)
{
    return cat({u32(uint32_t(16 + data.size())), u32(uint32_t(ops.size())), kUnit, data, {0}, ops});
}

Bytes patched(Bytes s, size_t at, const Bytes& v)
{
    std::copy(v.begin(), v.end(), s.begin() + std::ptrdiff_t(at));
    return s;
}

TEST(MalformedFrames, UnitStreams)
{
    const FrameDecoder d(2, 8, 8);  // padded to 16x16: 16 luma units, 4 chroma units
    // Contrast: 15 repeats as one run (op 0, run length 11) plus the chroma
    // stream of 4 units with 3 op-1 repeats per half.
    const Bytes good = lumaStream({11}, {0}), chroma4 = cat({u32(28), u32(3), u32(3), Bytes(16, 7), {1, 1}, {1, 1}});
    Bytes out;
    ASSERT_TRUE(decodes(d, frameOf(2, cat({good, chroma4})), &out));
    EXPECT_EQ(Bytes(out.begin() + 8, out.begin() + 16), kUnit);

    // Unit 1 as a whole-unit reference (d = 1) or with its endpoints from the
    // hash slot of unit 0, then a run over the remaining 14 units; each bad
    // case changes one thing.
    const uint8_t slot = uint8_t((0x0309u * 0x9E3779B1u) >> 24);
    const Bytes literal6 = {1, 1, 2, 2, 3, 3};
    EXPECT_TRUE(decodes(d, frameOf(2, cat({lumaStream({0, 0, 10}, {2, 0}), chroma4}))));
    EXPECT_TRUE(decodes(d, frameOf(2, cat({lumaStream({0, 0, 1, 1, 10}, {7, 0}), chroma4}))));  // op 7, d = 1
    ASSERT_TRUE(decodes(d, frameOf(2, cat({lumaStream(cat({{slot}, literal6, {10}}), {8, 0}), chroma4})), &out));
    EXPECT_EQ(Bytes(out.begin() + 8, out.begin() + 16), cat({{9, 3}, literal6}));
    // Op 4: piece 1 from the slot of unit 0's (1, 2, 3), endpoints and piece 2 literal.
    const uint8_t pieceSlot = uint8_t((0x030201u * 0x9E3779B1u) >> 24);
    ASSERT_TRUE(decodes(d, frameOf(2, cat({lumaStream({pieceSlot, 1, 1, 2, 2, 2, 10}, {4, 0}), chroma4})), &out));
    EXPECT_EQ(Bytes(out.begin() + 8, out.begin() + 16), Bytes({1, 1, 1, 2, 3, 2, 2, 2}));

    const std::pair<Bytes, Bytes> bad[] = {
        {lumaStream({12}, {0}), chroma4},                           // run one unit too long
        {lumaStream({0}, cat({Bytes(12, 1), {0}})), chroma4},       // a run (4 units at least) with 3 units left
        {lumaStream({255, 0xFF, 0xFF, 0xFF, 0xFF}, {0}), chroma4},  // run length that never ends
        {lumaStream({1, 0, 10}, {2, 0}), chroma4},                  // distance 2 at unit 1
        {lumaStream({1, 0, 9}, {2, 2, 0}), chroma4},                // the same, with unit 2 taking those bytes
        // Index bits 2 units back at unit 1 (op 7); the rest would decode if op 7 were skipped.
        {lumaStream({1, 0, 0, 4}, {7, 0, 2, 0}), chroma4},
        {lumaStream(cat({{uint8_t(slot + 1)}, literal6, {10}}), {8, 0}), chroma4},  // empty hash slot
        {lumaStream({10}, {18, 0}), chroma4},                                       // no such op
        {lumaStream({11, 0}, {0}), chroma4},                                        // data left over
        {lumaStream({11}, {0, 1}), chroma4},                                        // ops left over
        {lumaStream({}, Bytes(16, 1)), chroma4},                                    // more ops than units
        {patched(good, 0, u32(1000)), chroma4},                                     // data length beyond the stream
        {patched(good, 4, u32(0xFFFFFFFF)), chroma4},                               // op count beyond the units
        {patched(good, 17, {3}), chroma4},                                          // op-stream form tag 3
        // Chroma halves: op counts beyond the units.
        {good, cat({u32(28), u32(4), u32(3), Bytes(16, 7), {0, 1, 1, 1, 1}, {1, 1}})},
        {good, cat({u32(28), u32(9), u32(3), Bytes(16, 7), {1, 1}, {1, 1}})},
        {good, cat({u32(29), u32(3), u32(3), Bytes(16, 7), {0}, {0, 0, 1, 1}, {1, 1}})},  // a run at unit 1 of 4
    };
    for (size_t i = 0; i < std::size(bad); ++i) {
        const Bytes p = cat({bad[i].first, bad[i].second});  // the unpacker itself refuses it, not only the decoder
        EXPECT_TRUE(!decodes(d, frameOf(2, p)) && unpackYcg6(p.data(), out.data(), p.size(), out.size()) == 0) << i;
        EXPECT_EQ(testing::unpackersDisagree(2, p, out.size()), "") << i;  // the reference as well
    }
    // 64x48 (192 luma units, 48 chroma units): op 4 at unit 1 takes piece 1 from an empty slot. Its
    // 6 data bytes read as ops 0, 2, 2 and 0 (a run of x + 4, two units from a distance, a run of
    // the rest) would decode, as they do after op 1: an unpacker that went on after the empty
    // slot, its data not taken, accepts the stream.
    const FrameDecoder wide(2, 64, 48);
    const uint8_t x = uint8_t(pieceSlot + 1);
    const Bytes data = {x, 0, 0, 0, 0, uint8_t(180 - x)},
                chroma48 = cat({u32(30), u32(1), u32(1), Bytes(16, 7), {43, 43}, {1, 0}, {1, 0}});
    EXPECT_TRUE(decodes(wide, frameOf(2, cat({lumaStream(data, {1, 0, 2, 2, 0}), chroma48}))));
    const Bytes emptyPiece = cat({lumaStream(data, {4, 0, 2, 2, 0}), chroma48});
    out.resize(nox::textureSize(2, 64, 48));
    EXPECT_FALSE(decodes(wide, frameOf(2, emptyPiece)));
    EXPECT_EQ(testing::unpackersDisagree(2, emptyPiece, out.size()), "");
    // A run that leaves 3 luma units, then 150 literal units: the ops that
    // find no unit left are refused before they write one, wherever they
    // fall (behind the texture a guard that no byte may reach).
    Bytes literals = {184};
    for (int k = 0; k < 150; ++k)
        literals.insert(literals.end(), {1, 2, 3, 4, 5, 6, 7, 8});
    Bytes overrun = cat({lumaStream(literals, cat({{0}, Bytes(150, 3)})), chroma48});
    Bytes guarded(out.size() + 4096, 0xA5);
    EXPECT_EQ(unpackYcg6(overrun.data(), guarded.data(), overrun.size(), out.size()), 0u);
    EXPECT_EQ(std::count(guarded.begin() + std::ptrdiff_t(out.size()), guarded.end(), 0xA5), 4096);
    EXPECT_EQ(testing::unpackersDisagree(2, overrun, out.size()), "");
    // 16x32: 32 luma units in one run, 8 chroma units; in the first chroma
    // half a run of 4 (op 0, run byte 0), then a row of op 1s that must end at
    // the last unit: 3 fit, 4 do not.
    const FrameDecoder d8(2, 16, 32);
    auto chroma8 = [](const Bytes& ops) {
        return cat({u32(29), u32(uint32_t(ops.size())), u32(7), Bytes(16, 7), {0}, {0}, ops, {1, 1}});
    };
    EXPECT_TRUE(decodes(d8, frameOf(2, cat({lumaStream({27}, {0}), chroma8({0, 1, 1, 1})}))));
    EXPECT_FALSE(decodes(d8, frameOf(2, cat({lumaStream({27}, {0}), chroma8({0, 1, 1, 1, 1})}))));
    // A texture of a tile and a half is refused, though the payload holds a whole tile.
    for (uint32_t type : {2u, 3u}) {
        const size_t tile = type == 2 ? 48 : 80;
        const Bytes packed = testing::packTexture(type, Bytes(tile, 9));
        const auto unpack = type == 2 ? unpackYcg6 : unpackYg10;
        out.resize(2 * tile);
        EXPECT_EQ(unpack(packed.data(), out.data(), packed.size(), tile), packed.size());
        EXPECT_EQ(unpack(packed.data(), out.data(), packed.size(), tile + tile / 2), 0u);
    }
}

// A coded op stream whose decoding ends at the bit count but not in the
// coder's first state (its lowest bit flipped), or whose bits run out
// before its last op (one op more announced), is refused.
TEST(MalformedFrames, CodedOpStreamEnds)
{
    const FrameDecoder d(2, 16, 64);  // 64 luma units, 16 chroma units
    Bytes ops, data;
    for (uint32_t j = 1; j < 64; ++j) {
        const bool copy = j % 3 == 0 || j % 7 == 0;  // op 2 (d = 1) among op 1s
        ops.push_back(copy ? 2 : 1);
        if (copy)
            data.insert(data.end(), {0, 0});
    }
    Bytes coded(256);
    OpStreamForm form;
    coded.resize(writeOpStream(ops.data(), uint32_t(ops.size()), coded.data(), coded.size(), &form));
    ASSERT_EQ(form, OP_FORM_CODED);
    // The bit count: the u32 after the frequencies, counting the bits to the end.
    size_t count = 0;
    for (size_t k = 2; k + 4 < coded.size() && !count; ++k)
        if ((testing::loadU32(coded.data() + k) + 7) / 8 == coded.size() - k)
            count = k;
    ASSERT_NE(count, 0u);
    const Bytes chroma = cat({u32(28), u32(15), u32(15), Bytes(16, 7), {1, 1}, {1, 1}});
    auto payload = [&](const Bytes& stream, uint32_t n) {
        return cat({u32(uint32_t(16 + data.size())), u32(n), kUnit, data, stream, chroma});
    };
    EXPECT_TRUE(decodes(d, frameOf(2, payload(coded, 63))));
    Bytes flipped = coded;
    flipped[count + 4] ^= 1;
    for (const Bytes& p : {payload(flipped, 63), payload(coded, 62)}) {
        EXPECT_FALSE(decodes(d, frameOf(2, p)));
        EXPECT_EQ(testing::unpackersDisagree(2, p, d.textureBytes()), "");
    }
}

// The YG10 luma-and-alpha stream refers 65 536 units back at unit 1.
TEST(MalformedFrames, FarDistances)
{
    const FrameDecoder d(3, 8, 8);  // 16 luma+alpha units, 4 chroma units
    const Bytes pairs = cat({u32(30), u32(1), u32(0), Bytes(16, 5), {0xFF, 0xFF}, {0, 2}, {0}});
    const Bytes chroma = cat({u32(28), u32(3), u32(3), Bytes(16, 7), {1, 1}, {1, 1}});
    EXPECT_FALSE(decodes(d, frameOf(3, cat({pairs, chroma}))));
}

}  // namespace
}  // namespace nox
