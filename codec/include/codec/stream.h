// The video stream description and the two interfaces through which the
// movie writer reaches any codec: the codec description (VideoCodecInfo) and
// the frame compressor it makes (Compressor).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/params.h"

namespace nox {

// A FourCC as a number: first character in the most significant byte.
using CodecFourCC = uint32_t;

constexpr CodecFourCC fourCC(const char (&code)[5])
{
    return (uint32_t(uint8_t(code[0])) << 24) | (uint32_t(uint8_t(code[1])) << 16) | (uint32_t(uint8_t(code[2])) << 8) |
           uint32_t(uint8_t(code[3]));
}
// "0000": no particular codec asked for.
constexpr CodecFourCC kAnyCodec = fourCC("0000");

std::string fourCCToString(CodecFourCC code);

// Pixel layout of the frames a writer takes: bytes per pixel and channels.
struct PixelLayout {
    const char* name;
    uint32_t bytesPerPixel;
    uint32_t channels;
    uint32_t bitsPerChannel;
};
extern const PixelLayout kLayoutRGBA8;   // 4 bytes: R, G, B, A
extern const PixelLayout kLayoutRGBA16;  // 8 bytes: R, G, B, A as 16-bit
extern const PixelLayout kLayoutGray16;  // 2 bytes: one 16-bit channel

class VideoCodecInfo;

// The plain record describing a video stream to produce; copied by value.
struct VideoStreamDescription {
    CodecFourCC fourCC = kAnyCodec;
    std::string codecName;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t reserved0 = 0;
    uint32_t reserved1 = 0;
    uint32_t bytesPerPixel = 4;
    uint32_t reserved2 = 0;
    uint32_t reserved3 = 0;
    uint8_t reservedFlag0 = 0;
    uint32_t codecField0 = 2;  // set to 2 by codecs; not read on the export path
    uint32_t reserved4 = 2;
    const PixelLayout* pixelLayout = &kLayoutRGBA8;
    uint32_t reserved5 = 2;
    uint8_t codecFlag0 = 1;  // set to 1 by codecs; not read on the export path
    uint8_t reservedFlag1 = 0;
    int32_t frameRateNum = 0;
    int32_t frameRateDen = 1;
    double rateFactor = -1.0;
    double keyFrameInterval = 0.5;
    VideoCodecInfo* codec = nullptr;  // not owned

    VideoStreamDescription() = default;
    // Sets every field to its default and the given size and rate; when a
    // codec is given it fills the record first, and only then is it stored.
    VideoStreamDescription(uint32_t width, uint32_t height, int32_t rateNum, int32_t rateDen, VideoCodecInfo* codec);
};

class Compressor;

// Abstract codec description. Its settings are parameters in the container
// "Params"; every description has the choice parameter "Four CC".
class VideoCodecInfo {
public:
    VideoCodecInfo();
    virtual ~VideoCodecInfo();

    virtual std::unique_ptr<VideoCodecInfo> clone() const = 0;
    virtual CodecFourCC fourCC() const;
    // 1 Zemo 3, 2 Zemo 4, 3 Photo JPEG, 4 ProRes, 5 HAP, 6 GIF.
    virtual int codecType() const = 0;
    virtual void describeStream(VideoStreamDescription& stream) const;
    virtual std::string displayName() const;
    // A new compressor for the stream, owned by the caller; null when the
    // codec cannot encode or memory is short.
    virtual std::unique_ptr<Compressor> createCompressor(VideoStreamDescription& stream) const;
    // The reading side's decompressor; not offered by this build.
    virtual void* createDecompressor(VideoStreamDescription& stream, const void* frame) const;

    Params& params() const { return *params_; }
    ChoiceParam<CodecFourCC>& fourCCParam() const { return *fourCC_; }

protected:
    std::shared_ptr<Params> params_;
    std::shared_ptr<ChoiceParam<CodecFourCC>> fourCC_;
};

// Abstract frame compressor; holds a copy of the stream description.
class Compressor {
public:
    explicit Compressor(const VideoStreamDescription& stream) : stream_(stream) {}
    virtual ~Compressor() = default;

    // Largest frame compress() can return, in bytes.
    virtual uint32_t outputBound() const = 0;
    virtual bool isCustomCodec() const { return false; }
    // Compresses one picture into destination (at least outputBound() bytes),
    // writing every byte up to the length it returns whatever destination
    // held; returns that length, 0 on failure. Must accept concurrent calls.
    virtual int32_t compress(uint8_t* destination, const uint8_t* pixels, uint32_t destinationCapacity,
                             int32_t frameValue, int32_t rowStride) = 0;

    const VideoStreamDescription& stream() const { return stream_; }

protected:
    VideoStreamDescription stream_;
};

}  // namespace nox
