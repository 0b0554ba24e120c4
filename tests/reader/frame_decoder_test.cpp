// Frame reader: round trips through every packer and from the frame
// compressor, headers, version-3 frames (pictures rebuilt in bands:
// reader/pipeline).
#include <gtest/gtest.h>

#include "common/textures.h"
#include "core/memory.h"
#include "reader/pictures.h"

namespace nox {
namespace {

using testing::Bytes;
using testing::Content;
using testing::decodes;
using testing::makeFrame;

// Every type on every content at odd sizes: packed and raw frames decode to
// the texture, and together the cases reach every code, op, form and run
// length class of the packers (u16 continuations at the largest size, with
// runs reaching the end of the texture).
TEST(FrameDecoder, RoundTripsEveryTypeAndContent)
{
    const std::pair<uint32_t, uint32_t> sizes[] = {{1, 1}, {17, 9}, {33, 47}, {100, 75}, {250, 131}, {1030, 1080}};
    for (uint32_t type = 0; type < 4; ++type) {
        PackStatistics stats;
        uint32_t packedFrames = 0;
        for (const auto& [w, h] : sizes) {
            for (const Content c :
                 {Content::Random, Content::Smooth, Content::Repetitive, Content::Still, Content::Alphabet}) {
                SCOPED_TRACE(::testing::Message()
                             << "type " << type << " " << w << "x" << h << " " << testing::contentName(c));
                const auto texture = testing::makeTexture(type, c, padTo16(w), padTo16(h), w * 31 + h);
                const FrameDecoder decoder(type, w, h);
                ASSERT_EQ(decoder.textureBytes(), texture.size());
                const auto packed = testing::packTexture(type, texture, &stats);
                packedFrames += !packed.empty();
                for (uint8_t raw = packed.empty(); raw < 2; ++raw) {  // the packed frame where there is one, the raw
                    Bytes out;
                    ASSERT_TRUE(decodes(decoder, makeFrame(type, raw ? texture : packed, raw), &out)) << int(raw);
                    EXPECT_EQ(out, texture) << int(raw);
                }
            }
        }
        SCOPED_TRACE(::testing::Message() << "type " << type);
        EXPECT_GE(packedFrames, 18u);
        for (int code = 0; code < 4 && type < 2; ++code) {
            EXPECT_GT(stats.blockCodes[code], 0u) << "block code " << code;
            EXPECT_GT(stats.colourCodes[code], 0u) << "colour code " << code;
            EXPECT_GT(stats.indexCodes[code], 0u) << "index code " << code;
            EXPECT_TRUE(type == 0 || stats.alphaCodes[code] > 0) << "alpha code " << code;
        }
        for (int op = 0; op < 18 && type >= 2; ++op)
            EXPECT_GT(stats.ops[op], 0u) << "op " << op;
        for (int form = 0; form < 3 && type >= 2; ++form)
            EXPECT_GT(stats.opForms[form], 0u) << "form " << form;
        EXPECT_TRUE(type == 0 || (stats.longRuns > 0 && stats.runContinuations > 0));
    }
}

// Version-4 headers (type, size, payload kind and size, version), and
// version-3 frames: a 4-byte header (size, version, DXT5 bit, raw bit) and an
// LZF payload.
TEST(FrameDecoder, ChecksHeadersAndReadsVersion3Frames)
{
    const auto texture = testing::makeTexture(0, Content::Smooth, 32, 16, 5);
    const Bytes raw = makeFrame(0, texture, 1);
    // LZF: one literal 'A', then a back-reference of 7 + 246 + 2 = 255 bytes at offset 1.
    const Bytes lzf = {0x05, 0x00, 0x00, 0x40, 0x00, 'A', 0xE0, 0xF6, 0x00};
    const Bytes raw3 = testing::cat({{0x00, 0x01, 0x00, 0xC0}, Bytes(256, 0x33)});  // raw, 256 bytes
    auto with = [](Bytes f, size_t at, int v) {
        f[at] = uint8_t(v);
        return f;
    };
    const struct {
        uint32_t type, w, h;
        Bytes frame;
        bool ok;
        Bytes texture = {};
    } cases[] = {
        {0, 32, 16, raw, true, texture},
        {1, 32, 16, raw, false},
        {4, 32, 16, raw, false},
        {0, 48, 16, raw, false},                                                         // another type or size
        {0, 32, 16, makeFrame(0, Bytes(texture.begin(), texture.end() - 8), 1), false},  // raw, not the texture size
        {0, 32, 16, with(raw, 6, 2), false},                                             // payload kind 2
        {0, 32, 16, with(raw, 8, raw[8] + 1), false},  // payload size beyond the frame
        {0, 32, 16, with(raw, 4, 3), false},
        {4, 32, 16, with(raw, 4, 3), true},     // version 3: the tag means type 4
        {0, 32, 16, Bytes(64, 0), false},       // first word 0
        {6, 4, 4, makeFrame(0, {}, 1), false},  // the UV-map path is not read
        {5, 16, 16, lzf, true, Bytes(256, 'A')},
        {5, 16, 16, with(lzf, 3, 0), false},
        {4, 16, 32, with(lzf, 3, 0), true},     // bit 30 clear: DXT1, type 4
        {5, 16, 16, with(lzf, 3, 0x4F), true},  // versions above 3 read as 3
        // LZF output longer than the texture, a back-reference before the start, truncated literals.
        {5, 16, 16, with(lzf, 7, 0xF7), false},
        {5, 16, 16, with(lzf, 8, 1), false},
        {5, 16, 16, {0x03, 0x00, 0x00, 0x40, 0x05, 'A', 'B'}, false},
        {5, 16, 16, raw3, true, Bytes(256, 0x33)},
        {5, 16, 16, with(raw3, 0, 0x10), false},  // raw of 16 bytes
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        Bytes out;
        EXPECT_EQ(decodes(FrameDecoder(cases[i].type, cases[i].w, cases[i].h), cases[i].frame, &out), cases[i].ok) << i;
        EXPECT_TRUE(cases[i].texture.empty() || out == cases[i].texture) << i;
    }
    // Capacity zero or below the texture size, no destination, frames shorter
    // than their header; types above 7 have no unpacker.
    Bytes dst(texture.size());
    EXPECT_FALSE(decode(FrameDecoder(0, 32, 16), dst.data(), raw.data(), raw.size(), 0));
    EXPECT_FALSE(decode(FrameDecoder(0, 32, 16), dst.data(), raw.data(), raw.size(), texture.size() - 1));
    EXPECT_FALSE(decode(FrameDecoder(0, 32, 16), nullptr, raw.data(), raw.size(), texture.size()));
    for (size_t n = 0; n < 12; ++n)
        EXPECT_FALSE(decodes(FrameDecoder(0, 32, 16), Bytes(raw.begin(), raw.begin() + n)));
    EXPECT_EQ(FrameDecoder(8, 16, 16).unpacker(), nullptr);
}

// The texture of a w x h picture: padded to 16 with transparent black,
// alpha forced to 255 where the type drops it.
Bytes expectedTexture(uint32_t type, const Bytes& picture, uint32_t w, uint32_t h)
{
    const uint32_t pw = padTo16(w), ph = padTo16(h);
    Bytes padded(size_t(pw) * ph * 4, 0);
    for (uint32_t i = 0; i < w * h; ++i) {
        uint8_t* d = &padded[(size_t(i / w) * pw + i % w) * 4];
        std::memcpy(d, &picture[size_t(i) * 4], 4);
        d[3] = type % 2 ? d[3] : 255;
    }
    return testing::encodeTexture(type, padded, pw, ph);
}

// Pictures with packed rows (encoded where they lie, band by band) and with
// rows 20 bytes further apart, junk between them (always through the scratch
// copy), give the same frame, whatever the destination and the pooled buffers
// held. The header: the tag's bytes in the file, version 4.
TEST(CompressedFrames, DecodeToTheirTexture)
{
    MemoryManager::PreallocatedMemory pool;
    const std::pair<uint32_t, uint32_t> sizes[] = {{1, 1},   {17, 17}, {33, 20}, {160, 90}, {64, 64},
                                                   {64, 60}, {64, 56}, {48, 36}, {32, 8},   {16, 1},
                                                   {16, 12}, {50, 40}, {96, 17}};
    for (uint32_t type = 0; type < 4; ++type) {
        int packedFrames = 0, rawFrames = 0;
        for (const auto& [w, h] : sizes) {
            for (const Content c : {Content::Random, Content::Smooth, Content::Repetitive, Content::Still}) {
                SCOPED_TRACE(::testing::Message()
                             << "type " << type << " " << w << "x" << h << " " << testing::contentName(c));
                const Bytes picture = testing::makePicture(c, w, h, w + h);
                const uint32_t stride = w * 4 + 20;
                Bytes strided(size_t(stride) * h, 0x5A);
                for (uint32_t y = 0; y < h; ++y)
                    std::copy_n(&picture[size_t(y) * w * 4], w * 4, &strided[size_t(y) * stride]);
                const FrameEncoder encoder(type, w, h);
                Bytes frame(textureSize(type, w, h) + 12, 0), fromPacked(frame.size(), 0xA5);
                const uint32_t length = encoder.compress(frame.data(), strided.data(), int32_t(stride), pool);
                ASSERT_GT(length, 12u);
                ASSERT_LE(length, frame.size());
                frame.resize(length);
                ASSERT_EQ(encoder.compress(fromPacked.data(), picture.data(), int32_t(w * 4), pool), length);
                EXPECT_TRUE(std::equal(frame.begin(), frame.end(), fromPacked.begin()));
                (frame[6] == 0 ? packedFrames : rawFrames)++;
                const char* tag = &"1TXD5TXD6GCY01GY"[4 * type];
                EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 8),
                          testing::cat({Bytes(tag, tag + 4), {4, 0, frame[6], 0}}));
                EXPECT_EQ(readFrameHeader(frame.data()).payloadSize, length - 12);
                Bytes texture;
                ASSERT_TRUE(testing::decodes(FrameDecoder(type, w, h), frame, &texture));
                EXPECT_EQ(texture, expectedTexture(type, picture, w, h));
            }
        }
        // Random pictures do not shrink as DXT textures and are stored raw
        // (YCoCg blocks of noise still share endpoints and do shrink).
        EXPECT_GT(packedFrames, 0) << type;
        EXPECT_TRUE(type >= 2 || rawFrames > 0) << type;
    }
}

}  // namespace
}  // namespace nox
