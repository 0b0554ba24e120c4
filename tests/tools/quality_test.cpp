// In process: the measures verify reports, argument parsing, and the test
// content bench renders.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "cli.h"
#include "content/content.h"
#include "quality.h"

namespace {

using namespace zemo3;

std::vector<uint8_t> texturedPicture(uint32_t w, uint32_t h)
{
    std::vector<uint8_t> p(size_t(w) * h * 4);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* px = &p[(size_t(y) * w + x) * 4];
            px[0] = uint8_t(40 + (x * 7 + y * 3) % 150), px[1] = uint8_t(60 + (x * x + y) % 120);
            px[2] = uint8_t(30 + (y * 11) % 180), px[3] = uint8_t(20 + (x * 5) % 200);
        }
    return p;
}

TEST(Quality, ChannelErrorsAndWhichChannelsCount)
{
    const uint32_t w = 24, h = 16;
    const std::vector<uint8_t> source = texturedPicture(w, h);
    struct Case {
        const char* name;
        int channel, delta;
        bool alpha;
        double mseAll;  // expected combined mean squared error, 0 for none
    } cases[] = {
        {"identical", 0, 0, true, 0},
        {"red off by two", 0, 2, false, 4.0 / 3},
        {"red off by two, alpha counted", 0, 2, true, 1},
        {"alpha ignored without alpha", 3, 9, false, 0},
        {"alpha counted with alpha", 3, 2, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> decoded = source;
        for (size_t i = size_t(c.channel); i < decoded.size(); i += 4)
            decoded[i] = uint8_t(decoded[i] + c.delta);
        FrameQuality q = comparePictures(decoded.data(), source.data(), w, h, w * 4, c.alpha);
        const double psnrAll = c.mseAll ? 10 * std::log10(65025.0 / c.mseAll) : INFINITY;
        EXPECT_TRUE(q.psnrAll == psnrAll || std::fabs(q.psnrAll - psnrAll) < 1e-9) << q.psnrAll;
        EXPECT_NEAR(q.mse[c.channel], double(c.delta * c.delta), 1e-12);
        if (c.delta == 2 && c.channel == 0) {
            EXPECT_NEAR(q.psnr[0], 42.1102, 1e-4);
        }
        EXPECT_LE(q.ssim, 1.0 + 1e-12);
        EXPECT_GT(q.ssim, c.channel == 3 && !c.alpha ? 0.999999 : 0.98);
    }
}

TEST(Quality, SsimFallsWithStructureNotWithSize)
{
    for (auto [w, h] : {std::pair<uint32_t, uint32_t>{4, 4}, {7, 9}, {8, 8}, {33, 17}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        const std::vector<uint8_t> a = texturedPicture(w, h);
        std::vector<uint8_t> inverted = a;
        for (auto& v : inverted)
            v = uint8_t(255 - v);
        EXPECT_NEAR(channelSsim(a.data(), a.data(), w, h, w * 4, 1), 1.0, 1e-12);
        EXPECT_LT(channelSsim(inverted.data(), a.data(), w, h, w * 4, 1), 0.3);
    }
}

TEST(Quality, TotalsPoolErrorsAndKeepTheWorstFrame)
{
    QualityTotals totals;
    const double mse[3] = {0, 8, 2}, ssim[3] = {1, 0.5, 0.9};
    for (int n = 0; n < 3; ++n) {
        FrameQuality q;
        for (int c = 0; c < 3; ++c)
            q.mse[c] = mse[n];
        q.psnrAll = psnrFromMse(mse[n]);
        q.ssim = ssim[n];
        totals.add(uint64_t(n), q);
    }
    // The overall figure is the PSNR of the mean MSE, not the mean PSNR
    // (which an error-free frame would make infinite).
    EXPECT_NEAR(totals.psnrAll(), psnrFromMse(10.0 / 3), 1e-9);
    EXPECT_NEAR(totals.psnr(1), psnrFromMse(10.0 / 3), 1e-9);
    EXPECT_NEAR(totals.ssim(), 0.8, 1e-12);
    EXPECT_EQ(totals.worstFrame, 1u);
}

TEST(CommandLine, RatesAndSizes)
{
    // Text, and the rate it gives (0/0: refused).
    for (auto [text, num, den] : {std::tuple{"25", 25, 1}, {"29.97", 29970, 1000}, {"30000/1001", 30000, 1001},
                                  {"12.5", 12500, 1000}, {"0", 0, 0}, {"fast", 0, 0}, {"30/0", 0, 0}, {"25x", 0, 0},
                                  {"5000", 0, 0}}) {
        int32_t n = 0, d = 0;
        EXPECT_EQ(parseRate(text, &n, &d), num != 0) << text;
        EXPECT_EQ(std::pair(num ? n : 0, num ? d : 0), std::pair(num, den)) << text;
    }
    uint32_t w = 0, h = 0;
    EXPECT_TRUE(parseSizeText("1920x1080", &w, &h));
    EXPECT_EQ(std::pair(w, h), std::pair(1920u, 1080u));
    for (const char* bad : {"1920", "0x10", "10x0", "x10", "99999x10", "10x-1"})
        EXPECT_FALSE(parseSizeText(bad, &w, &h)) << bad;
}

TEST(TestContent, EveryContentAtOddSizesIsDeterministicAndMatted)
{
    std::string error;
    for (const std::string& name : content::contentNames())
        for (auto [w, h] : {std::pair<uint32_t, uint32_t>{17, 9}, {64, 48}}) {
            SCOPED_TRACE(name + " " + std::to_string(w) + "x" + std::to_string(h));
            std::vector<std::vector<uint8_t>> a, b;
            std::vector<uint8_t> first;
            ASSERT_TRUE(content::renderClip({name}, w, h, 2, &a, &error)) << error;
            ASSERT_TRUE(content::renderClip({name}, w, h, 2, &b, &error)) << error;
            ASSERT_TRUE(content::renderContent(name, w, h, &first, &error)) << error;
            EXPECT_EQ(a, b);
            ASSERT_EQ(a[0].size(), size_t(w) * h * 4);
            EXPECT_EQ(first, a[0]);
            if (name == "noise")
                continue;  // no matte
            if (name != "smptehdbars" && w >= 64) {  // the bars stand still, the band needs room
                EXPECT_NE(a[0], a[1]);
            }
            // The matte's hard band leaves a transparent column, the centre stays opaque.
            const uint8_t* middle = &a[0][size_t(h / 2) * w * 4];
            EXPECT_EQ(middle[(w / 5) * 4 + 3], 0);
            EXPECT_EQ(middle[(w / 2) * 4 + 3], 255);
        }
    std::vector<std::vector<uint8_t>> clip;  // contents taken in turn
    EXPECT_TRUE(content::renderClip({"photo", "noise"}, 8, 8, 3, &clip, &error)) << error;
    EXPECT_EQ(clip.size(), 3u);
}

}  // namespace
