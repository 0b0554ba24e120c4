#include "codec/stream.h"

#include <gtest/gtest.h>

namespace nox {
namespace {

// A codec that fills the record and notes what it saw while doing so.
class ProbeCodec : public VideoCodecInfo {
public:
    std::unique_ptr<VideoCodecInfo> clone() const override { return std::make_unique<ProbeCodec>(); }
    int codecType() const override { return 42; }
    void describeStream(VideoStreamDescription& stream) const override
    {
        ++calls;
        codecSeen = stream.codec;
        sizeSeen = stream.width * 10000 + stream.height;
        stream.fourCC = nox::fourCC("ABCD");
        stream.codecName = "Probe";
        stream.bytesPerPixel = 8;
        stream.pixelLayout = &kLayoutRGBA16;
    }
    mutable int calls = 0;
    mutable VideoCodecInfo* codecSeen = reinterpret_cast<VideoCodecInfo*>(1);
    mutable uint32_t sizeSeen = 0;
};

class NullCompressor : public Compressor {
public:
    using Compressor::Compressor;
    uint32_t outputBound() const override { return 1; }
    int32_t compress(uint8_t*, const uint8_t*, uint32_t, int32_t, int32_t) override { return 0; }
};

void expectDefaultsBesideCodecFields(const VideoStreamDescription& s)
{
    EXPECT_EQ(s.reserved0, 0u);
    EXPECT_EQ(s.reserved1, 0u);
    EXPECT_EQ(s.reserved2, 0u);
    EXPECT_EQ(s.reserved3, 0u);
    EXPECT_EQ(s.reservedFlag0, 0);
    EXPECT_EQ(s.codecField0, 2u);
    EXPECT_EQ(s.reserved4, 2u);
    EXPECT_EQ(s.reserved5, 2u);
    EXPECT_EQ(s.codecFlag0, 1);
    EXPECT_EQ(s.reservedFlag1, 0);
    EXPECT_EQ(s.rateFactor, -1.0);
    EXPECT_EQ(s.keyFrameInterval, 0.5);
}

TEST(VideoStreamDescription, DefaultsWithoutCodec)
{
    const VideoStreamDescription s(1920, 1080, 30000, 1001, nullptr);
    EXPECT_EQ(s.fourCC, 0x30303030u);
    EXPECT_EQ(fourCCToString(s.fourCC), "0000");
    EXPECT_TRUE(s.codecName.empty());
    EXPECT_EQ(s.width, 1920u);
    EXPECT_EQ(s.height, 1080u);
    EXPECT_EQ(s.bytesPerPixel, 4u);
    EXPECT_EQ(s.pixelLayout, &kLayoutRGBA8);
    EXPECT_EQ(s.frameRateNum, 30000);
    EXPECT_EQ(s.frameRateDen, 1001);
    EXPECT_EQ(s.codec, nullptr);
    expectDefaultsBesideCodecFields(s);
    expectDefaultsBesideCodecFields(VideoStreamDescription());
}

TEST(VideoStreamDescription, CodecFillsTheRecordBeforeItIsStored)
{
    ProbeCodec codec;
    const VideoStreamDescription s(640, 360, 25, 1, &codec);
    EXPECT_EQ(codec.calls, 1);
    EXPECT_EQ(codec.codecSeen, nullptr);
    EXPECT_EQ(codec.sizeSeen, 640u * 10000 + 360);  // size set before the codec runs
    EXPECT_EQ(s.codec, &codec);
    EXPECT_EQ(fourCCToString(s.fourCC), "ABCD");
    EXPECT_EQ(s.codecName, "Probe");
    EXPECT_EQ(s.bytesPerPixel, 8u);
    EXPECT_EQ(s.pixelLayout->bytesPerPixel, 8u);
    EXPECT_EQ(s.frameRateNum, 25);
    expectDefaultsBesideCodecFields(s);

    // Copies carry every field, the codec pointer included.
    const VideoStreamDescription copy = s;
    EXPECT_EQ(copy.codec, &codec);
    EXPECT_EQ(copy.codecName, "Probe");
}

TEST(VideoCodecInfo, BaseBehaviour)
{
    ProbeCodec codec;
    EXPECT_EQ(codec.fourCC(), kAnyCodec);
    EXPECT_EQ(codec.params().name(), "Params");
    EXPECT_EQ(codec.params().find("Four CC").get(), &codec.fourCCParam());
    codec.fourCCParam().setValue(fourCC("ZMQ3"));
    EXPECT_EQ(codec.fourCC(), 0x5A4D5133u);
    EXPECT_EQ(fourCCToString(codec.fourCC()), "ZMQ3");

    VideoStreamDescription s(16, 16, 30, 1, nullptr);
    EXPECT_EQ(codec.VideoCodecInfo::displayName(), "");
    EXPECT_EQ(codec.VideoCodecInfo::createCompressor(s), nullptr);
    EXPECT_EQ(codec.VideoCodecInfo::createDecompressor(s, nullptr), nullptr);

    // The base compressor is no custom codec and keeps its own copy.
    NullCompressor compressor(s);
    s.width = 99;
    EXPECT_FALSE(compressor.isCustomCodec());
    EXPECT_EQ(compressor.stream().width, 16u);
}

}  // namespace
}  // namespace nox
