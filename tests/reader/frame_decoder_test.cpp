// Frame reader: round trips through every packer, headers, and malformed
// frames of every kind.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "codec/packers.h"
#include "codec/zemo3.h"
#include "reader/frame_decoder.h"
#include "unpack_content.h"

namespace nox {
namespace {

using testing::Content;
using testing::makeTexture;
using testing::textureBytes;

using testing::makeFrame;

std::vector<uint8_t> pack(uint32_t type, const std::vector<uint8_t>& texture, PackStatistics& stats) {
    return testing::packTexture(type, texture, &stats);
}

// Decodes into a buffer of exactly the texture size, so that a sanitizer
// sees a single byte written past it; the frame sits in an exact-size copy.
bool decodeExact(const FrameDecoder& d, const std::vector<uint8_t>& frame, std::vector<uint8_t>* out = nullptr) {
    std::vector<uint8_t> f(frame);
    std::vector<uint8_t> texture(d.textureBytes());
    const bool ok = decode(d, texture.data(), f.empty() ? nullptr : f.data(), f.size(), texture.size());
    if (out) *out = std::move(texture);
    return ok;
}

struct Size {
    uint32_t w, h;
};

// Every type on every content at odd sizes: packed and raw frames decode to
// the texture, and together the cases reach every code, op, form and run
// length class of the packers.
TEST(FrameDecoder, RoundTripsEveryTypeAndContent) {
    const Size sizes[] = {{1, 1}, {17, 9}, {33, 47}, {100, 75}, {250, 131}};
    const Content contents[] = {Content::Random, Content::Smooth, Content::Repetitive, Content::Still,
                                Content::Alphabet};
    for (uint32_t type = 0; type < 4; ++type) {
        PackStatistics stats;
        uint32_t packedFrames = 0;
        for (const Size s : sizes) {
            for (const Content c : contents) {
                SCOPED_TRACE(::testing::Message() << "type " << type << " " << s.w << "x" << s.h << " "
                                                  << testing::contentName(c));
                const uint32_t pw = padTo16(s.w), ph = padTo16(s.h);
                const auto texture = makeTexture(type, c, pw, ph, s.w * 31 + s.h);
                const FrameDecoder decoder(type, s.w, s.h);
                ASSERT_EQ(decoder.textureBytes(), texture.size());
                std::vector<uint8_t> out;
                ASSERT_TRUE(decodeExact(decoder, makeFrame(type, texture, 1), &out));
                EXPECT_EQ(out, texture);
                const auto packed = pack(type, texture, stats);
                if (packed.empty()) continue;
                ++packedFrames;
                ASSERT_TRUE(decodeExact(decoder, makeFrame(type, packed, 0), &out));
                EXPECT_EQ(out, texture);
            }
        }
        EXPECT_GE(packedFrames, 15u);
        SCOPED_TRACE(::testing::Message() << "type " << type);
        if (type < 2) {
            for (int code = 0; code < 4; ++code) {
                EXPECT_GT(stats.blockCodes[code], 0u) << "block code " << code;
                EXPECT_GT(stats.colourCodes[code], 0u) << "colour code " << code;
                EXPECT_GT(stats.indexCodes[code], 0u) << "index code " << code;
                if (type == 1) {
                    EXPECT_GT(stats.alphaCodes[code], 0u) << "alpha code " << code;
                }
            }
        } else {
            for (int op = 0; op < 18; ++op) EXPECT_GT(stats.ops[op], 0u) << "op " << op;
            for (int form = 0; form < 3; ++form) EXPECT_GT(stats.opForms[form], 0u) << "form " << form;
        }
        if (type != 0) {
            EXPECT_GT(stats.longRuns, 0u);
        }
    }
}

// Runs long enough for u16 continuations (more than 65 790 repeats), each
// reaching the end of the texture.
TEST(FrameDecoder, RoundTripsLongRuns) {
    for (uint32_t type = 1; type < 4; ++type) {
        SCOPED_TRACE(type);
        const uint32_t w = 1030, h = 1080;
        const auto texture = makeTexture(type, Content::Still, padTo16(w), padTo16(h), 1);
        PackStatistics stats;
        const auto packed = pack(type, texture, stats);
        ASSERT_FALSE(packed.empty());
        EXPECT_LT(packed.size(), 200u);
        EXPECT_GT(stats.runContinuations, 0u);
        std::vector<uint8_t> out;
        ASSERT_TRUE(decodeExact(FrameDecoder(type, w, h), makeFrame(type, packed, 0), &out));
        EXPECT_EQ(out, texture);
    }
}

TEST(FrameDecoder, ChecksHeaderTypeAndSizes) {
    const auto texture = makeTexture(0, Content::Smooth, 32, 16, 5);
    const FrameDecoder dxt1(0, 32, 16);
    const auto raw = makeFrame(0, texture, 1);
    EXPECT_TRUE(decodeExact(dxt1, raw));
    // A DXT1 frame read by decoders of other types or sizes.
    EXPECT_FALSE(decodeExact(FrameDecoder(1, 32, 16), raw));
    EXPECT_FALSE(decodeExact(FrameDecoder(4, 32, 16), raw));
    EXPECT_FALSE(decodeExact(FrameDecoder(0, 48, 16), raw));
    // Raw payload size must equal the texture size; payload kinds are 0 or 1.
    auto shorter = makeFrame(0, std::vector<uint8_t>(texture.begin(), texture.end() - 8), 1);
    EXPECT_FALSE(decodeExact(dxt1, shorter));
    auto kind2 = raw;
    kind2[6] = 2;
    EXPECT_FALSE(decodeExact(dxt1, kind2));
    // Payload size beyond the frame.
    auto longer = raw;
    longer[8] += 1;
    EXPECT_FALSE(decodeExact(dxt1, longer));
    // Version 3 or less makes the same tag type 4.
    auto old = raw;
    old[4] = 3;
    EXPECT_FALSE(decodeExact(dxt1, old));
    EXPECT_TRUE(decodeExact(FrameDecoder(4, 32, 16), old));
    // Capacity: zero or below the texture size.
    std::vector<uint8_t> dst(texture.size());
    EXPECT_FALSE(decode(dxt1, dst.data(), raw.data(), raw.size(), 0));
    EXPECT_FALSE(decode(dxt1, dst.data(), raw.data(), raw.size(), texture.size() - 1));
    // First word 0, frames shorter than their header.
    std::vector<uint8_t> zero(64, 0);
    EXPECT_FALSE(decodeExact(dxt1, zero));
    for (size_t n = 0; n < 12; ++n) EXPECT_FALSE(decodeExact(dxt1, std::vector<uint8_t>(raw.begin(), raw.begin() + n)));
    // The UV-map path is not read; types above 7 have no unpacker.
    EXPECT_FALSE(decodeExact(FrameDecoder(6, 4, 4), makeFrame(0, {}, 1)));
    EXPECT_EQ(FrameDecoder(8, 16, 16).unpacker(), nullptr);
}

// Version-3 frames: a 4-byte header (size, version, DXT5 bit, raw bit) and an
// LZF payload.
TEST(FrameDecoder, ReadsVersion3Frames) {
    const FrameDecoder dxt5v3(5, 16, 16);  // 256-byte texture
    // LZF: one literal 'A', then a back-reference of 7 + 246 + 2 = 255 bytes
    // at offset 1.
    const std::vector<uint8_t> lzf = {0x00, 'A', 0xE0, 0xF6, 0x00};
    std::vector<uint8_t> frame = {0x05, 0x00, 0x00, 0x40};
    frame.insert(frame.end(), lzf.begin(), lzf.end());
    std::vector<uint8_t> out;
    ASSERT_TRUE(decodeExact(dxt5v3, frame, &out));
    EXPECT_EQ(out, std::vector<uint8_t>(256, 'A'));
    // Bit 30 clear: DXT1, type 4; a type-5 decoder refuses it.
    frame[3] = 0x00;
    EXPECT_FALSE(decodeExact(dxt5v3, frame));
    EXPECT_TRUE(decodeExact(FrameDecoder(4, 16, 32), frame));
    // Versions above 3 in a 4-byte header still read as 3.
    frame[3] = 0x4F;
    EXPECT_TRUE(decodeExact(dxt5v3, frame));
    // Output longer than the texture, back-references before the start and
    // truncated literals are refused by the LZF reader.
    const std::vector<std::vector<uint8_t>> bad = {
        {0x00, 'A', 0xE0, 0xF7, 0x00}, {0x00, 'A', 0xE0, 0xF6, 0x01}, {0x05, 'A', 'B'}};
    for (const auto& payload : bad) {
        std::vector<uint8_t> f = {uint8_t(payload.size()), 0x00, 0x00, 0x40};
        f.insert(f.end(), payload.begin(), payload.end());
        EXPECT_FALSE(decodeExact(dxt5v3, f));
    }
    // Raw version-3 payload: bit 31 set, payload size = texture size.
    std::vector<uint8_t> raw = {0x00, 0x01, 0x00, 0xC0};
    raw.resize(4 + 256, 0x33);
    ASSERT_TRUE(decodeExact(dxt5v3, raw, &out));
    EXPECT_EQ(out, std::vector<uint8_t>(256, 0x33));
    raw[0] = 0x10;  // 0xC0000010: raw, 16 bytes, not the texture size
    EXPECT_FALSE(decodeExact(dxt5v3, raw));
}

}  // namespace
}  // namespace nox
