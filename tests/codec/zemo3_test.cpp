// The frame compressor's sizes and limits, the codec description the host
// reads, and the stream record it fills (compress calls from many threads on
// one compressor: the writer's ShuffledZemo3 test).
#include <gtest/gtest.h>

#include <tuple>

#include "codec/zemo3.h"
#include "common/textures.h"
#include "core/context.h"

namespace nox {
namespace {

// Texture sizes (types 0 to 5 pad to 16; padded and unpadded sides agree),
// frame bounds, and sizes whose frames (with their header) or working pictures pass 2^31 bytes,
// which have no texture size and no compressor instead of sizes wrapped in 32
// bits. Types without an encoder here and refused sizes fail before the
// destination or the picture is touched.
TEST(Zemo3Frame, SizesAndLimits)
{
    struct {
        uint32_t type, w, h, size;
        bool fits;
    } cases[] = {
        // clang-format off
        {0, 1920, 1080, 1044480, true}, {1, 1920, 1080, 2088960, true}, {2, 1920, 1080, 1566720, true},
        {3, 1920, 1080, 2611200, true}, {4, 1920, 1080, 1044480, true}, {5, 1920, 1080, 2088960, true},
        {6, 1920, 1080, 16588800, true}, {7, 1920, 1080, 4147200, true}, {8, 1920, 1080, 0, false},
        {9, 16, 16, 0, false}, {0, 17, 17, 512, true}, {2, 17, 17, 768, true}, {3, 32, 32, 1280, true},
        {0, 16, 16, 128, true}, {0, 0, 0, 0, false}, {0, 0, 1080, 0, false},
        {0, 23168, 23168, 268378112, true}, {0, 23184, 23184, 268748928, false},
        {1, 46336, 46336, 2147024896, false}, {1, 46352, 46352, 0, false},
        {2, 65536, 16384, 805306368, false}, {3, 65536, 32768, 0, false},
        {0, 0xFFFFFFFFu, 1, 0, false}, {6, 0x10000, 0x8000, 0, false}, {0, 65536, 65536, 0, false},
        // clang-format on
    };
    uint8_t small[64];
    for (auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + " " + std::to_string(c.w) + "x" + std::to_string(c.h));
        EXPECT_EQ(std::tuple(textureSize(c.type, c.w, c.h), frameSizeFits(c.type, c.w, c.h)),
                  std::tuple(c.size, c.fits));
        EXPECT_EQ(c.type <= 5 && c.fits ? textureSize(c.type, padTo16(c.w), padTo16(c.h)) : c.size, c.size);
        VideoCodecInfoZemo3 codec;
        codec.setFormatType(c.type);
        VideoStreamDescription stream(c.w, c.h, 30, 1, &codec);
        const auto compressor = codec.createCompressor(stream);
        EXPECT_EQ(std::tuple(compressor != nullptr, compressor ? compressor->outputBound() : 0),
                  std::tuple(c.fits, c.fits ? c.size + 12 : 0));
        if (!c.fits || c.type > 3) {
            std::memset(small, 0xEE, sizeof small);
            EXPECT_EQ(FrameEncoder(c.type, c.w, c.h).compress(small, small, 64, getContext()->memory()), 0u);
            EXPECT_EQ(small[0], 0xEE);
        }
    }
}

// What the host and the options dialog read: the names, values and tags of the
// format types, the Four CC choices, and the record and compressor the codec
// makes for each type.
TEST(Zemo3Codec, DescriptionAndCompressors)
{
    // clang-format off
    const char* names[] = {"Normal Quality, No Alpha", "Normal Quality, With Alpha", "High Quality, No Alpha",
                           "High Quality, With Alpha", "UV Map", "MASK"};
    // clang-format on
    for (uint32_t t = 0; t < 10; ++t)  // the names by type: options_test (the host's sub-type)
        EXPECT_EQ(formatTypeOf(tagForFormatType(t), t == 4 || t == 5 ? 3 : 4), t < 8 ? t : 0) << t;
    EXPECT_EQ(formatTypeOf(kTagDXT5, 0), 5u);
    EXPECT_EQ(formatTypeOf(kTagDXT1, 3), 4u);
    EXPECT_EQ(formatTypeOf(0x12345678, 4), 4u);

    VideoCodecInfoZemo3 info;
    EXPECT_EQ(info.codecType(), 1);
    const auto& choices = info.formatTypeParam().choices();
    ASSERT_EQ(choices.size(), 6u);
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(std::tie(choices[i].value, choices[i].name),
                  std::tuple(std::array{0u, 1u, 2u, 3u, 6u, 7u}[i], names[i]));
    EXPECT_EQ(info.fourCC(), fourCC("ZMQ3"));
    for (auto [code, name] :
         {std::pair{fourCC("ZMQ3"), "Zemo ZMQ3"}, {fourCC("ABCD"), "Zemo"}, {fourCC("ZMQI"), "Zemo ZMQI"}}) {
        info.fourCCParam().setValue(code);
        EXPECT_EQ(info.displayName(), name);
    }

    // Copies keep every setting.
    info.setFormatType(3);
    info.dxtOnlyParam().setValue(true);
    const auto copy = info.clone();
    auto* z = dynamic_cast<VideoCodecInfoZemo3*>(copy.get());
    ASSERT_NE(z, nullptr);
    EXPECT_EQ(std::tuple(z->formatType(), z->dxtOnlyParam().value(), z->fourCC()),
              std::tuple(3u, true, fourCC("ZMQI")));

    VideoStreamDescription stream(1920, 1080, 30, 1, &info);
    EXPECT_EQ(std::tuple(stream.fourCC, stream.codecName), std::tuple(fourCC("ZMQI"), "Zemo"));
    auto compressor = info.createCompressor(stream);
    ASSERT_NE(compressor, nullptr);
    EXPECT_TRUE(compressor->isCustomCodec());
    EXPECT_TRUE(static_cast<Zemo3Compressor*>(compressor.get())->dxtOnly());
    // Frames of 16-bit RGBA for the UV map, one 16-bit channel for the mask,
    // 8-bit RGBA otherwise; the record says so before and after the
    // compressor is made.
    for (auto [type, bpp, layout] :
         {std::tuple{6u, 8u, &kLayoutRGBA16}, {7u, 2u, &kLayoutGray16}, {0u, 4u, &kLayoutRGBA8}}) {
        info.setFormatType(type);
        VideoStreamDescription s(64, 64, 30, 1, &info);
        s.pixelLayout = &kLayoutRGBA16;  // the compressor sets the 8-bit layout too
        EXPECT_EQ(s.bytesPerPixel, bpp);
        const auto c = info.createCompressor(s);
        EXPECT_EQ(std::tuple(s.bytesPerPixel, s.pixelLayout), std::tuple(bpp, layout));
    }
}

// Notes what the record held when it was asked to fill it.
class ProbeCodec : public VideoCodecInfo {
public:
    std::unique_ptr<VideoCodecInfo> clone() const override { return std::make_unique<ProbeCodec>(); }
    int codecType() const override { return 42; }
    void describeStream(VideoStreamDescription& stream) const override
    {
        codecSeen = stream.codec;
        sizeSeen = stream.width * 10000 + stream.height;
        stream.codecName = "Probe";
    }
    mutable VideoCodecInfo* codecSeen = reinterpret_cast<VideoCodecInfo*>(1);
    mutable uint32_t sizeSeen = 0;
};

class NullCompressor : public Compressor {
public:
    using Compressor::Compressor;
    uint32_t outputBound() const override { return 1; }
    int32_t compress(uint8_t*, const uint8_t*, uint32_t, int32_t, int32_t) override { return 0; }
};

// The codec fills the record before it is stored, seeing the size set; copies
// carry the codec; the base classes.
TEST(VideoStreamDescription, CodecFillsTheRecordFirst)
{
    ProbeCodec codec;
    const VideoStreamDescription s(640, 360, 25, 1, &codec);
    EXPECT_EQ(std::tuple(codec.codecSeen, codec.sizeSeen, s.codecName),
              std::tuple(nullptr, 640u * 10000 + 360, "Probe"));
    EXPECT_EQ(VideoStreamDescription(s).codec, &codec);
    EXPECT_EQ(fourCCToString(VideoStreamDescription(16, 16, 30, 1, nullptr).fourCC), "0000");
    EXPECT_EQ(codec.fourCC(), kAnyCodec);
    codec.fourCCParam().setValue(fourCC("ZMQ3"));
    EXPECT_EQ(fourCCToString(codec.fourCC()), "ZMQ3");
    VideoStreamDescription base(16, 16, 30, 1, nullptr);
    EXPECT_EQ(codec.VideoCodecInfo::createCompressor(base), nullptr);
    // The base compressor is no custom codec and keeps its own copy.
    NullCompressor compressor(base);
    base.width = 99;
    EXPECT_FALSE(compressor.isCustomCodec());
    EXPECT_EQ(compressor.stream().width, 16u);
}

}  // namespace
}  // namespace nox
