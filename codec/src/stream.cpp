#include "codec/stream.h"

namespace nox {

const PixelLayout kLayoutRGBA8{"RGBA8", 4, 4, 8};
const PixelLayout kLayoutRGBA16{"RGBA16", 8, 4, 16};
const PixelLayout kLayoutGray16{"GRAY16", 2, 1, 16};

std::string fourCCToString(CodecFourCC code)
{
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i)
        s[size_t(i)] = char((code >> (24 - 8 * i)) & 0xFF);
    return s;
}

VideoStreamDescription::VideoStreamDescription(uint32_t w, uint32_t h, int32_t rateNum, int32_t rateDen,
                                               VideoCodecInfo* c)
    : width(w), height(h), frameRateNum(rateNum), frameRateDen(rateDen)
{
    // The codec fills the record before it is stored, so it sees codec == null.
    if (c)
        c->describeStream(*this);
    codec = c;
}

VideoCodecInfo::VideoCodecInfo()
    : params_(std::make_shared<Params>("Params")),
      fourCC_(std::make_shared<ChoiceParam<CodecFourCC>>("Four CC", kAnyCodec))
{
    params_->add(fourCC_);
}

VideoCodecInfo::~VideoCodecInfo() = default;

CodecFourCC VideoCodecInfo::fourCC() const { return fourCC_->value(); }
void VideoCodecInfo::describeStream(VideoStreamDescription&) const {}
std::string VideoCodecInfo::displayName() const { return {}; }
std::unique_ptr<Compressor> VideoCodecInfo::createCompressor(VideoStreamDescription&) const { return nullptr; }
void* VideoCodecInfo::createDecompressor(VideoStreamDescription&, const void*) const { return nullptr; }

}  // namespace nox
