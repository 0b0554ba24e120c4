#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <thread>

#include "codec/dxt.h"
#include "codec/packers.h"
#include "codec/zemo3.h"
#include "core/context.h"

using namespace nox;

namespace {

// Test pictures: noise, smooth gradients with soft alpha, and a still one.
std::vector<uint8_t> picture(uint32_t w, uint32_t h, int kind, uint32_t seed = 1)
{
    std::vector<uint8_t> p(size_t(w) * h * 4);
    std::mt19937 rng(seed);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* px = &p[(size_t(y) * w + x) * 4];
            if (kind == 0) {
                for (int c = 0; c < 4; ++c)
                    px[c] = uint8_t(rng());
            } else if (kind == 1) {
                px[0] = uint8_t(x * 255 / (w ? w : 1));
                px[1] = uint8_t(y * 255 / (h ? h : 1));
                px[2] = uint8_t((x + y) * 2);
                px[3] = uint8_t(255 - (x * 3 + y) % 256);
            } else {
                px[0] = 40, px[1] = 90, px[2] = 200, px[3] = 255;
            }
        }
    return p;
}

std::vector<uint8_t> compressWith(const FrameEncoder& e, const std::vector<uint8_t>& pixels, uint32_t stride)
{
    std::vector<uint8_t> out(e.textureBytes() + kFrameHeaderSize, 0);
    uint32_t n = e.compress(out.data(), pixels.data(), int32_t(stride), getContext()->memory());
    out.resize(n);
    return out;
}

std::vector<uint8_t> compress(uint32_t type, uint32_t w, uint32_t h, const std::vector<uint8_t>& pixels)
{
    return compressWith(FrameEncoder(type, w, h), pixels, w * 4);
}

}  // namespace

TEST(Zemo3Frame, TextureSizesAndBounds)
{
    struct {
        uint32_t type, w, h, size;
    } cases[] = {
        {0, 1920, 1080, 1044480}, {1, 1920, 1080, 2088960}, {2, 1920, 1080, 1566720}, {3, 1920, 1080, 2611200},
        {4, 1920, 1080, 1044480}, {5, 1920, 1080, 2088960}, {6, 1920, 1080, 1920 * 1080 * 8},
        {7, 1920, 1080, 1920 * 1080 * 2}, {8, 1920, 1080, 0},  {0, 17, 17, 512},
        {2, 17, 17, 768},         {3, 32, 32, 1280},        {0, 0, 0, 0},
    };
    for (auto& c : cases) {
        EXPECT_EQ(textureSize(c.type, c.w, c.h), c.size) << c.type << " " << c.w << "x" << c.h;
        if (c.type <= 5) {  // padded and unpadded arguments agree
            EXPECT_EQ(textureSize(c.type, padTo16(c.w), padTo16(c.h)), c.size);
        }
    }
    VideoStreamDescription stream(1920, 1080, 30, 1, nullptr);
    const uint32_t bounds[] = {1044492, 2088972, 1566732, 2611212};
    for (uint32_t t = 0; t < 4; ++t)
        EXPECT_EQ(Zemo3Compressor(stream, t, false).outputBound(), bounds[t]);
}

// Sizes whose frames or working pictures pass 2^31 bytes have no texture size
// and no compressor, instead of sizes wrapped around in 32 bits.
TEST(Zemo3Frame, SizesPastTheFrameLimitAreRefused)
{
    struct {
        uint32_t type, w, h, size;
        bool fits;
    } cases[] = {
        {0, 23168, 23168, 268378112, true},  {0, 23184, 23184, 268748928, false},
        {1, 46336, 46336, 2147024896, false}, {1, 46352, 46352, 0, false},
        {2, 65536, 16384, 805306368, false}, {3, 65536, 32768, 0, false},
        {0, 0xFFFFFFFFu, 1, 0, false},       {6, 0x10000, 0x8000, 0, false},
        {0, 0, 1080, 0, false},              {0, 16, 16, 128, true},
    };
    uint8_t small[64] = {};
    for (auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + " " + std::to_string(c.w) + "x" + std::to_string(c.h));
        EXPECT_EQ(textureSize(c.type, c.w, c.h), c.size);
        EXPECT_EQ(frameSizeFits(c.type, c.w, c.h), c.fits);
        if (!c.fits) {
            // Refused before any picture is touched.
            EXPECT_EQ(FrameEncoder(c.type, c.w, c.h).compress(small, small, 64, getContext()->memory()), 0u);
            VideoCodecInfoZemo3 codec;
            codec.setFormatType(c.type);
            VideoStreamDescription stream(c.w, c.h, 30, 1, &codec);
            EXPECT_EQ(codec.createCompressor(stream), nullptr);
        }
    }
}

TEST(Zemo3Frame, HeaderAndPayloadKinds)
{
    auto still = picture(64, 48, 2);
    auto frame = compress(0, 64, 48, still);
    ASSERT_GT(frame.size(), 12u);
    const uint8_t head[] = {0x31, 0x54, 0x58, 0x44, 0x04, 0x00, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(frame.data(), head, 8), 0);
    FrameHeader h = readFrameHeader(frame.data());
    EXPECT_EQ(h.payloadSize, frame.size() - 12);
    EXPECT_LT(frame.size(), textureSize(0, 64, 48) / 4);

    // Noise does not shrink: stored raw, exactly the texture plus the header.
    const uint32_t tags[] = {kTagDXT1, kTagDXT5, kTagYCG6, kTagYG10};
    for (uint32_t t = 0; t < 4; ++t) {
        auto noise = picture(48, 32, 0, 7 + t);
        auto f = compress(t, 48, 32, noise);
        ASSERT_EQ(f.size(), textureSize(t, 48, 32) + 12u) << t;
        FrameHeader r = readFrameHeader(f.data());
        EXPECT_EQ(r.tag, tags[t]);
        EXPECT_EQ(r.version, 4);
        EXPECT_EQ(r.payloadKind, 1);
        EXPECT_EQ(r.payloadSize, textureSize(t, 48, 32));
        EXPECT_EQ(formatTypeOf(r.tag, r.version), t);
    }
}

TEST(Zemo3Frame, UnsupportedTypesFail)
{
    auto p = picture(32, 32, 1);
    for (uint32_t t : {4u, 5u, 6u, 7u, 9u}) {
        std::vector<uint8_t> out(64 * 64 * 8 + 12, 0xEE);
        FrameEncoder e(t, 32, 32);
        EXPECT_EQ(e.compress(out.data(), p.data(), 32 * 4, getContext()->memory()), 0u) << t;
        EXPECT_EQ(out[0], 0xEE);  // untouched
    }
}

TEST(Zemo3Frame, AlphaIgnoredWithoutAlphaAndPaddingIsTransparentBlack)
{
    auto a = picture(37, 21, 1);
    auto b = a;
    for (size_t i = 3; i < b.size(); i += 4)
        b[i] = uint8_t(i * 7);
    for (uint32_t t : {0u, 2u})
        EXPECT_EQ(compress(t, 37, 21, a), compress(t, 37, 21, b)) << t;
    for (uint32_t t : {1u, 3u})
        EXPECT_NE(compress(t, 37, 21, a), compress(t, 37, 21, b)) << t;

    // A 17x17 picture equals a 32x32 one whose extra area is (0, 0, 0, 0), for
    // the alpha-keeping types; without alpha the padding's alpha stays 0 while
    // the picture's own alpha becomes 255.
    auto small = picture(17, 17, 1);
    std::vector<uint8_t> padded(32 * 32 * 4, 0);
    for (int y = 0; y < 17; ++y)
        std::memcpy(&padded[size_t(y) * 32 * 4], &small[size_t(y) * 17 * 4], 17 * 4);
    for (uint32_t t : {1u, 3u})
        EXPECT_EQ(compress(t, 17, 17, small), compress(t, 32, 32, padded)) << t;
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 17; ++x)
            padded[(size_t(y) * 32 + x) * 4 + 3] = 255;
    std::vector<uint8_t> texture(textureSize(0, 32, 32));
    encodeDxt1Texture(padded.data(), 32, 32, texture.data());
    auto frame = compress(0, 17, 17, small);
    FrameHeader h = readFrameHeader(frame.data());
    if (h.payloadKind == 1) {
        EXPECT_EQ(std::vector<uint8_t>(frame.begin() + 12, frame.end()), texture);
    } else {
        std::vector<uint8_t> packed(packDxtBound(uint32_t(texture.size())));
        uint32_t n = packDxt1(texture.data(), uint32_t(texture.size()), packed.data(), uint32_t(packed.size()));
        packed.resize(n);
        EXPECT_EQ(std::vector<uint8_t>(frame.begin() + 12, frame.end()), packed);
    }
}

TEST(Zemo3Frame, RowStrideAndRecycledBuffersDoNotChangeOutput)
{
    const uint32_t w = 50, h = 30;
    auto p = picture(w, h, 1);
    // The same picture with rows 256 bytes apart and junk in the gaps.
    std::vector<uint8_t> strided(size_t(h) * 256, 0x5A);
    for (uint32_t y = 0; y < h; ++y)
        std::memcpy(&strided[size_t(y) * 256], &p[size_t(y) * w * 4], w * 4);
    for (uint32_t t = 0; t < 4; ++t) {
        FrameEncoder e(t, w, h);
        auto first = compressWith(e, p, w * 4);
        compressWith(e, picture(w, h, 0, 99), w * 4);  // dirties the pooled blocks
        EXPECT_EQ(compressWith(e, strided, 256), first) << t;
    }
}

TEST(Zemo3Frame, ConcurrentCompressCallsAgree)
{
    VideoStreamDescription stream(160, 90, 25, 1, nullptr);
    for (uint32_t t = 0; t < 4; ++t) {
        Zemo3Compressor c(stream, t, false);
        auto p = picture(160, 90, 1, t);
        std::vector<std::vector<uint8_t>> results(6, std::vector<uint8_t>(c.outputBound(), 0));
        std::vector<int32_t> sizes(6);
        std::vector<std::thread> ts;
        for (int i = 0; i < 6; ++i)
            ts.emplace_back([&, i] {
                for (int k = 0; k < 5; ++k) {
                    std::fill(results[size_t(i)].begin(), results[size_t(i)].end(), 0);
                    sizes[size_t(i)] = c.compress(results[size_t(i)].data(), p.data(), c.outputBound(), 0, 160 * 4);
                }
            });
        for (auto& th : ts)
            th.join();
        for (int i = 1; i < 6; ++i) {
            EXPECT_EQ(sizes[size_t(i)], sizes[0]);
            EXPECT_EQ(results[size_t(i)], results[0]);
        }
        EXPECT_GT(sizes[0], 12);
    }
}

TEST(Zemo3Codec, DescriptionParametersAndCompressors)
{
    VideoCodecInfoZemo3 info;
    EXPECT_EQ(info.fourCC(), fourCC("ZMQ3"));
    EXPECT_EQ(info.codecType(), 1);
    EXPECT_EQ(info.displayName(), "Zemo ZMQ3");
    info.fourCCParam().setValue(fourCC("ZMQI"));
    EXPECT_EQ(info.displayName(), "Zemo ZMQI");
    info.fourCCParam().setValue(fourCC("ABCD"));
    EXPECT_EQ(info.displayName(), "Zemo");
    info.fourCCParam().setValue(fourCC("ZMQ3"));

    const auto& choices = info.formatTypeParam().choices();
    ASSERT_EQ(choices.size(), 6u);
    const char* names[] = {"Normal Quality, No Alpha", "Normal Quality, With Alpha", "High Quality, No Alpha",
                           "High Quality, With Alpha", "UV Map", "MASK"};
    const uint32_t values[] = {0, 1, 2, 3, 6, 7};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(choices[i].value, values[i]);
        EXPECT_EQ(choices[i].name, names[i]);
    }

    info.setFormatType(3);
    info.dxtOnlyParam().setValue(true);
    auto copy = info.clone();
    auto* z = dynamic_cast<VideoCodecInfoZemo3*>(copy.get());
    ASSERT_NE(z, nullptr);
    EXPECT_EQ(z->formatType(), 3u);
    EXPECT_TRUE(z->dxtOnlyParam().value());
    EXPECT_EQ(z->fourCC(), fourCC("ZMQ3"));

    VideoStreamDescription stream(1920, 1080, 30, 1, &info);
    EXPECT_EQ(stream.fourCC, fourCC("ZMQ3"));
    EXPECT_EQ(stream.codecName, "Zemo");
    EXPECT_EQ(stream.bytesPerPixel, 4u);
    EXPECT_EQ(stream.codec, &info);
    auto compressor = info.createCompressor(stream);
    ASSERT_NE(compressor, nullptr);
    EXPECT_EQ(compressor->outputBound(), 2611212u);
    EXPECT_TRUE(compressor->isCustomCodec());
    EXPECT_EQ(stream.bytesPerPixel, 4u);
    EXPECT_TRUE(static_cast<Zemo3Compressor*>(compressor.get())->dxtOnly());

    struct {
        uint32_t type, bpp;
        const PixelLayout* layout;
    } layouts[] = {{6, 8, &kLayoutRGBA16}, {7, 2, &kLayoutGray16}, {0, 4, &kLayoutRGBA8}};
    for (auto& l : layouts) {
        info.setFormatType(l.type);
        VideoStreamDescription s(64, 64, 30, 1, &info);
        EXPECT_EQ(s.bytesPerPixel, l.bpp);
        auto c = info.createCompressor(s);
        EXPECT_EQ(s.bytesPerPixel, l.bpp);
        EXPECT_EQ(s.pixelLayout, l.layout);
    }
}

TEST(Zemo3Codec, NamesAndTags)
{
    const char* expected[] = {"Normal Quality, No Alpha", "Normal Quality, With Alpha", "High Quality, No Alpha",
                              "High Quality, With Alpha", "Normal Quality, No Alpha", "Normal Quality, With Alpha",
                              "UV Map", "MASK", "Normal Quality, No Alpha", "Normal Quality, No Alpha"};
    for (uint32_t t = 0; t < 10; ++t)
        EXPECT_STREQ(formatTypeName(t), expected[t]) << t;
    struct {
        uint32_t tag;
        uint8_t version;
        uint32_t type;
    } cases[] = {{kTagDXT1, 4, 0}, {kTagDXT1, 3, 4}, {kTagDXT5, 9, 1}, {kTagDXT5, 0, 5}, {kTagYCG6, 4, 2},
                 {kTagYG10, 4, 3}, {kTagUVA0, 4, 6}, {kTagMSK0, 4, 7}, {0x12345678, 4, 4}};
    for (auto& c : cases)
        EXPECT_EQ(formatTypeOf(c.tag, c.version), c.type);
    for (uint32_t t = 0; t < 8; ++t)
        EXPECT_EQ(formatTypeOf(tagForFormatType(t), t == 4 || t == 5 ? 3 : 4), t);
}
