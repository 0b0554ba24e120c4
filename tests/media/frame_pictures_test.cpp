// Frames to pictures as verify, decode and inspect read them: the header in
// words, and a frame whose tag does not fit its payload (the refusals that
// every reader shares are tests/reader/pipeline's).
#include <gtest/gtest.h>

#include <cstring>

#include "codec/zemo3.h"
#include "core/context.h"
#include "media/movie.h"
#include "media/reference.h"

namespace {

using namespace zemo3;

// Frame 0 of the demo at 96x64 as the module writes it at high quality (type 2).
std::vector<uint8_t> highQualityFrame()
{
    ReferenceRequest request;
    request.demo = true;
    request.width = 96, request.height = 64;
    Reference ref;
    std::string error;
    std::vector<uint8_t> rgba;
    EXPECT_TRUE(openReference(request, 0, 0, &ref, &error) && referencePicture(ref, 0, &rgba)) << error;
    const nox::FrameEncoder encoder(2, 96, 64);
    std::vector<uint8_t> frame(encoder.textureBytes() + nox::kFrameHeaderSize);
    frame.resize(encoder.compress(frame.data(), rgba.data(), 96 * 4, nox::getContext()->memory()));
    return frame;
}

TEST(FramePictures, ReadHeadersAndRefuseAFrameOfAnotherTag)
{
    const uint32_t w = 96, h = 64;
    const std::vector<uint8_t> frame = highQualityFrame();
    FramePictures pictures(w, h);
    std::vector<uint8_t> rgba;
    FramePictures::Header header;
    std::string why;
    ASSERT_TRUE(pictures.decode(frame.data(), frame.size(), &rgba, &header, &why)) << why;
    EXPECT_EQ(std::pair(header.type, frameTagText(header.tag)), std::pair(2u, std::string("YCG6")));
    EXPECT_EQ(rgba.size(), size_t(w) * h * 4);
    EXPECT_EQ(rgba[3], 255) << "no alpha stored: opaque";
    std::vector<uint8_t> dxt1 = frame;
    std::memcpy(dxt1.data(), "1TXD", 4);
    EXPECT_FALSE(pictures.decode(dxt1.data(), dxt1.size(), &rgba, nullptr, &why));
    EXPECT_NE(why.find("malformed"), std::string::npos) << why;
}

}  // namespace
