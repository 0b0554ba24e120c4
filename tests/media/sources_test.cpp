// Composition sources, reference pictures and PNG files in process: the demo
// as render, verify and inspect see it, and pictures written as PNG files
// coming back through FFmpeg as a media source and as a reference.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "common/util.h"
#include "media/png.h"
#include "media/reference.h"
#include "media/sources.h"

namespace {

using namespace zemo3;
using testutil::Bytes;

// A source's pictures as packed ARGB rows, to the end.
std::vector<Bytes> allPictures(Source& source)
{
    const Composition& c = source.composition();
    std::vector<Bytes> out;
    SourcePicture p;
    for (uint64_t n = 0; source.frame(n, &p); ++n) {
        out.emplace_back(size_t(c.width) * c.height * 4);
        for (uint32_t y = 0; y < c.height; ++y)
            std::memcpy(&out.back()[size_t(y) * c.width * 4], p.data + size_t(y) * p.rowBytes, size_t(c.width) * 4);
    }
    return out;
}

// The demo at three sizes and rates: the same pictures every time and into
// padded rows, partly transparent, and sound for exactly its frames asked in
// uneven pieces, 440 Hz left and 660 Hz right.
TEST(Sources, TheDemoIsTheSameEveryTimeWithItsLengthAndTone)
{
    struct Case {
        uint32_t width, height;
        int32_t fpsNum, fpsDen;
        uint64_t frames;
        uint32_t sampleRate;
    } cases[] = {{96, 64, 30, 1, 12, 48000}, {33, 17, 30000, 1001, 7, 44100}, {8, 8, 25, 1, 3, 0}};
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.width) + "x" + std::to_string(k.height));
        Composition c;
        c.width = k.width, c.height = k.height, c.fpsNum = k.fpsNum, c.fpsDen = k.fpsDen, c.frames = k.frames;
        c.sampleRate = k.sampleRate, c.channels = k.sampleRate ? 2 : 0;
        const auto a = openDemo(c);
        const std::vector<Bytes> pictures = allPictures(*a);
        ASSERT_EQ(pictures.size(), k.frames);
        EXPECT_TRUE(allPictures(*openDemo(c)) == pictures);
        const uint32_t stride = k.width * 4 + 12;
        Bytes padded(size_t(stride) * k.height);
        renderDemoFrame(c, k.frames - 1, padded.data(), stride);
        EXPECT_EQ(std::memcmp(padded.data() + stride, pictures.back().data() + k.width * 4, k.width * 4), 0);
        size_t transparent = 0;
        for (size_t i = 0; i < pictures[0].size(); i += 4)
            transparent += pictures[0][i] < 255;
        EXPECT_TRUE(transparent > 0 && transparent < pictures[0].size() / 4) << transparent;

        const uint64_t total = k.frames * k.sampleRate * uint64_t(k.fpsDen) / uint64_t(k.fpsNum);
        std::vector<int16_t> piece, all;
        for (size_t got; (got = a->sound(all.size() / 2, 999, &piece)) > 0;)
            all.insert(all.end(), piece.begin(), piece.begin() + ptrdiff_t(got * 2));
        ASSERT_EQ(all.size() / 2, total);
        for (int ch = 0; ch < 2 && total; ++ch) {
            int crossings = 0, peak = 0;
            for (size_t i = 1; i < total; ++i) {
                crossings += (all[i * 2 + ch] >= 0) != (all[(i - 1) * 2 + ch] >= 0);
                peak = std::max(peak, std::abs(int(all[i * 2 + ch])));
            }
            const double seconds = double(total) / k.sampleRate;
            EXPECT_NEAR(crossings / seconds / 2, ch ? 660 : 440, 2 / seconds) << "channel " << ch;
            EXPECT_NEAR(peak, 8192, 40);
        }
    }
}

// A demo reference fills in what is not asked (5 s at 30 fps with sound) as a
// render does, and hands out pictures as the compressor takes them: RGBA from
// the demo's ARGB.
TEST(Sources, ADemoReferenceTakesRendersDefaults)
{
    struct Case {
        ReferenceRequest request;
        std::vector<uint64_t> framesWidthHeightRate;
    } cases[] = {
        {{true, "", 0, 0, 0, 0, -1, true}, {150, 1280, 720, 48000}},
        {{true, "", 96, 64, 25, 1, 2, true}, {50, 96, 64, 48000}},
        {{true, "", 96, 64, 30000, 1001, 1, false}, {30, 96, 64, 0}},
        // A rate the host cannot carry leaves the demo's own, as in a render.
        {{true, "", 96, 64, 1, 1000000, 2, true}, {60, 96, 64, 48000}},
    };
    for (const Case& c : cases) {
        Reference ref;
        std::string error;
        ASSERT_TRUE(openReference(c.request, 320, 240, &ref, &error)) << error;
        const Composition& comp = ref.source->composition();
        EXPECT_TRUE(ref.exactLength);
        EXPECT_EQ(std::vector<uint64_t>({ref.frames, comp.width, comp.height, comp.sampleRate}),
                  c.framesWidthHeightRate);
        Bytes rgba, argb(size_t(comp.width) * comp.height * 4);
        ASSERT_TRUE(referencePicture(ref, 0, &rgba));
        renderDemoFrame(comp, 1, argb.data(), comp.width * 4);
        ASSERT_TRUE(referencePicture(ref, 1, &rgba));
        for (size_t i = 0; i < argb.size(); i += 4)
            ASSERT_TRUE(rgba[i + 3] == argb[i] && std::memcmp(&rgba[i], &argb[i + 1], 3) == 0) << i;
    }
}

// PNG pictures written here, read back by FFmpeg as a picture sequence: as a
// source in ARGB, as a reference in RGBA limited by a duration; without alpha
// opaque, scaled to a size asked.
TEST(Sources, PngSequencesComeBackAsWritten)
{
    testutil::TempDir dir;
    const uint32_t w = 40, h = 30;
    std::vector<Bytes> rgba(5, Bytes(size_t(w) * h * 4));
    std::string error;
    for (size_t n = 0; n < rgba.size(); ++n) {
        for (size_t i = 0; i < rgba[n].size(); ++i)
            rgba[n][i] = uint8_t(i % 4 == 3 ? 255 - i / 4 % 200 : (i * 13 + n * 41) ^ (i >> 5));
        const std::string name = dir.file("seq_00" + std::to_string(n) + ".png");
        ASSERT_TRUE(writePng(name, rgba[n].data(), w, h, true, &error)) << error;
    }
    const auto source = openMedia(dir.file("seq_%03d.png"), 0, 0, 25, 1, true, &error);
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(std::vector<int64_t>(
                  {source->composition().width, source->composition().fpsNum, source->composition().sampleRate}),
              std::vector<int64_t>({w, 25, 0}));
    const std::vector<Bytes> argb = allPictures(*source);
    ASSERT_EQ(argb.size(), rgba.size());
    for (size_t n = 0; n < argb.size(); ++n)
        for (size_t i = 0; i < argb[n].size(); i += 4)
            ASSERT_TRUE(argb[n][i] == rgba[n][i + 3] && std::memcmp(&argb[n][i + 1], &rgba[n][i], 3) == 0) << n;

    ReferenceRequest request;
    request.path = dir.file("seq_%03d.png");
    request.fpsNum = 25, request.fpsDen = 1, request.duration = 0.12;  // three pictures
    Reference ref;
    ASSERT_TRUE(openReference(request, w, h, &ref, &error)) << error;
    Bytes picture;
    for (uint64_t n = 0; n < 3; ++n)
        EXPECT_TRUE(referencePicture(ref, n, &picture) && picture == rgba[n]) << n;
    EXPECT_FALSE(referencePicture(ref, 3, &picture));

    const Bytes rgb(size_t(w) * h * 3, 90);
    ASSERT_TRUE(writePng(dir.file("rgb.png"), rgb.data(), w, h, false, &error)) << error;
    const auto opaque = openMedia(dir.file("rgb.png"), 20, 15, 0, 0, true, &error);
    ASSERT_TRUE(opaque) << error;
    const std::vector<Bytes> small = allPictures(*opaque);
    ASSERT_EQ(small.size(), 1u);
    ASSERT_EQ(small[0].size(), 20u * 15 * 4);
    for (size_t i = 0; i < small[0].size(); i += 4)
        ASSERT_TRUE(small[0][i] == 255 && small[0][i + 1] == 90) << i;

    EXPECT_FALSE(openMedia(dir.file("absent.mkv"), 0, 0, 0, 0, true, &error));
    EXPECT_EQ(error.rfind("cannot open '" + dir.file("absent.mkv") + "'", 0), 0u) << error;
    EXPECT_FALSE(writePng(dir.file("none/x.png"), rgba[0].data(), w, h, true, &error));
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
}

}  // namespace
