// The measures verify reports, and the frame checks it makes before decoding.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "codec/zemo3.h"
#include "movie.h"
#include "quality.h"

namespace {

using namespace zemo3;

std::vector<uint8_t> texturedPicture(uint32_t w, uint32_t h)
{
    std::vector<uint8_t> p(size_t(w) * h * 4);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* px = &p[(size_t(y) * w + x) * 4];
            px[0] = uint8_t(40 + (x * 7 + y * 3) % 150);
            px[1] = uint8_t(60 + (x * x + y) % 120);
            px[2] = uint8_t(30 + (y * 11) % 180);
            px[3] = uint8_t(20 + (x * 5) % 200);
        }
    return p;
}

TEST(Quality, ChannelErrorsAndWhichChannelsCount)
{
    const uint32_t w = 24, h = 16;
    const std::vector<uint8_t> source = texturedPicture(w, h);
    struct Case {
        const char* name;
        int channel;  // channel changed, -1 none
        int delta;
        bool alpha;
        double psnrAll;  // expected combined PSNR
    } cases[] = {
        {"identical", -1, 0, true, INFINITY},
        // MSE 4 in R alone: 42.11 dB in R; combined over three channels MSE 4/3.
        {"red off by two", 0, 2, false, 10 * std::log10(65025.0 / (4.0 / 3))},
        {"red off by two, alpha counted", 0, 2, true, 10 * std::log10(65025.0 / 1.0)},
        {"alpha ignored without alpha", 3, 9, false, INFINITY},
        {"alpha counted with alpha", 3, 2, true, 10 * std::log10(65025.0 / 1.0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> decoded = source;
        if (c.channel >= 0)
            for (size_t i = size_t(c.channel); i < decoded.size(); i += 4)
                decoded[i] = uint8_t(decoded[i] + c.delta);
        FrameQuality q = comparePictures(decoded.data(), source.data(), w, h, w * 4, c.alpha);
        if (std::isinf(c.psnrAll)) {
            EXPECT_TRUE(std::isinf(q.psnrAll));
        } else {
            EXPECT_NEAR(q.psnrAll, c.psnrAll, 1e-9);
        }
        if (c.channel >= 0) {
            EXPECT_NEAR(q.mse[c.channel], double(c.delta * c.delta), 1e-12);
        }
        if (c.channel == 0) {
            EXPECT_NEAR(q.psnr[0], 42.1102, 1e-4);
        }
        EXPECT_LE(q.ssim, 1.0 + 1e-12);
        EXPECT_GT(q.ssim, c.channel == 3 && !c.alpha ? 0.999999 : 0.98);
    }
}

TEST(Quality, SsimFallsWithStructureNotWithSize)
{
    struct Case {
        uint32_t w, h;
    } sizes[] = {{4, 4}, {7, 9}, {8, 8}, {33, 17}};
    for (const Case& s : sizes) {
        SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h));
        const std::vector<uint8_t> a = texturedPicture(s.w, s.h);
        std::vector<uint8_t> inverted = a;
        for (auto& v : inverted)
            v = uint8_t(255 - v);
        EXPECT_NEAR(channelSsim(a.data(), a.data(), s.w, s.h, s.w * 4, 1), 1.0, 1e-12);
        EXPECT_LT(channelSsim(inverted.data(), a.data(), s.w, s.h, s.w * 4, 1), 0.3);
    }
}

TEST(Quality, TotalsPoolErrorsAndKeepTheWorstFrame)
{
    QualityTotals totals;
    FrameQuality perfect, poor, fair;
    for (int c = 0; c < 3; ++c)
        perfect.mse[c] = 0, poor.mse[c] = 8, fair.mse[c] = 2;
    perfect.psnrAll = INFINITY, poor.psnrAll = psnrFromMse(8), fair.psnrAll = psnrFromMse(2);
    perfect.ssim = 1, poor.ssim = 0.5, fair.ssim = 0.9;
    totals.add(0, perfect);
    totals.add(1, poor);
    totals.add(2, fair);
    // The overall figure is the PSNR of the mean MSE, not the mean PSNR
    // (which an error-free frame would make infinite).
    EXPECT_NEAR(totals.psnrAll(), psnrFromMse(10.0 / 3), 1e-9);
    EXPECT_NEAR(totals.psnr(1), psnrFromMse(10.0 / 3), 1e-9);
    EXPECT_NEAR(totals.ssim(), 0.8, 1e-12);
    EXPECT_EQ(totals.worstFrame, 1u);
}

TEST(FramePictures, HeadersAndRefusals)
{
    const uint32_t w = 20, h = 12;
    std::vector<uint8_t> picture = texturedPicture(w, h);
    nox::VideoCodecInfoZemo3 info;
    info.setFormatType(2);
    nox::VideoStreamDescription stream(w, h, 30, 1, &info);
    auto compressor = info.createCompressor(stream);
    std::vector<uint8_t> frame(compressor->outputBound(), 0);
    frame.resize(size_t(compressor->compress(frame.data(), picture.data(), uint32_t(frame.size()), 0, int32_t(w * 4))));
    ASSERT_GT(frame.size(), 12u);

    FramePictures pictures(w, h);
    std::vector<uint8_t> rgba;
    FramePictures::Header header;
    std::string why;
    ASSERT_TRUE(pictures.decode(frame.data(), frame.size(), &rgba, &header, &why)) << why;
    EXPECT_EQ(header.type, 2u);
    EXPECT_EQ(frameTagText(header.tag), "YCG6");
    EXPECT_EQ(rgba.size(), size_t(w) * h * 4);
    EXPECT_EQ(rgba[3], 255) << "no alpha stored: opaque";

    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* reason;
    } cases[] = {
        {"three bytes", {1, 2, 3}, "too short"},
        {"zero word", std::vector<uint8_t>(64, 0), "zero word"},
        {"one byte more", [&] { auto f = frame; f.push_back(0); return f; }(), "header announces"},
        {"one byte less", [&] { auto f = frame; f.pop_back(); return f; }(), "header announces"},
        {"mask frame", [&] { auto f = frame; std::memcpy(f.data(), "0KSM", 4); return f; }(), "no picture"},
        {"wrong kind for its tag", [&] { auto f = frame; std::memcpy(f.data(), "1TXD", 4); return f; }(), "malformed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(pictures.decode(c.bytes.data(), c.bytes.size(), &rgba, nullptr, &why));
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    }

    // The 4-byte header of older frames.
    struct Old {
        uint32_t word;
        uint32_t type;
        unsigned kind;
    } olds[] = {{0x40000010u, 5, 0}, {0xC0000010u, 5, 1}, {0x03000020u, 4, 0}};
    for (const Old& o : olds) {
        const uint8_t bytes[4] = {uint8_t(o.word), uint8_t(o.word >> 8), uint8_t(o.word >> 16), uint8_t(o.word >> 24)};
        ASSERT_TRUE(FramePictures::readHeader(bytes, 4, &header));
        EXPECT_EQ(header.type, o.type);
        EXPECT_EQ(header.payloadKind, o.kind);
        EXPECT_EQ(header.headerSize, 4u);
        EXPECT_EQ(header.payloadSize, o.word & 0xFFFFFFu);
    }
}

}  // namespace
