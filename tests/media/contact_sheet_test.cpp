// zemo3 inspect's contact sheet: which frames it takes, how it lays them out
// (alone or beside their source), and what a thumbnail looks like.
#include <gtest/gtest.h>

#include <cstring>

#include "common/util.h"
#include "media/contact_sheet.h"

namespace {

using namespace zemo3;
using testutil::Bytes;

// The frames spread over what the container lists (or the first ones when it
// lists none or fewer), the thumbnails' size, the sheet's, and each picture
// at its place: a frame that does not decode shows the bare checkerboard, a
// source the reference's picture of that very frame.
TEST(ContactSheet, TakesTheFramesAndLaysThemOut)
{
    constexpr uint32_t g = ContactSheet::kGap;
    struct Case {
        uint32_t width, height;
        int64_t listed;
        uint64_t count;
        bool reference;
        std::vector<uint64_t> frames;
        uint32_t thumbWidth, thumbHeight, sheetWidth, sheetHeight;
        uint32_t longest = 0;  // asked size; 0: the default
        bool beside = false;   // another movie's frames on the right
    } cases[] = {
        {640, 360, 100, 12, false, {0, 9, 18, 27, 36, 45, 54, 63, 72, 81, 90, 99}, 240, 135, g + 4 * 246, g + 3 * 141},
        {101, 59, 5, 12, false, {0, 1, 2, 3, 4}, 101, 59, g + 4 * 107, g + 2 * 65},
        {1000, 2000, 0, 3, false, {0, 1, 2}, 120, 240, g + 3 * 126, g + 246},
        {300, 300, 10, 1, false, {0}, 240, 240, g + 246, g + 246},
        {64, 48, 10, 4, true, {0, 3, 6, 9}, 64, 48, g + 3 * (2 * 64 + 2 * g), g + 2 * 54},
        {64, 48, 10, 3, true, {0, 4, 9}, 192, 144, g + 2 * (3 * 192 + 3 * g), g + 2 * 150, 192, true},
        {640, 360, 0, 3, false, {0, 1, 2}, 64, 36, g + 3 * (2 * 64 + 2 * g), g + 42, 64, true},
    };
    const Bytes junk(64, 0x5A);
    MoviePacket packet;
    packet.kind = MoviePacket::VIDEO, packet.data = junk.data(), packet.size = junk.size();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + ", " + std::to_string(c.count));
        MovieInfo info;
        info.width = c.width, info.height = c.height, info.indexedFrames = c.listed;
        ReferenceRequest request{true, "", c.width, c.height, 30, 1, 1, false};
        Reference ref, again;
        std::string error;
        if (c.reference) {
            ASSERT_TRUE(openReference(request, c.width, c.height, &ref, &error)) << error;
            ASSERT_TRUE(openReference(request, c.width, c.height, &again, &error)) << error;
        }
        ContactSheet sheet(info, c.count, ref, c.longest);
        for (uint64_t n = 0; n < 100; ++n) {
            if (sheet.wants(n)) {
                EXPECT_FALSE(sheet.add(n, packet, &error)) << n;
                EXPECT_FALSE(c.beside && sheet.addBeside(packet, &error)) << n;
            }
        }
        EXPECT_EQ(sheet.frames(), c.frames);
        EXPECT_EQ(sheet.thumbWidth(), c.thumbWidth);
        EXPECT_EQ(sheet.thumbHeight(), c.thumbHeight);
        uint32_t w = 0, h = 0;
        const Bytes canvas = sheet.compose(&w, &h);
        ASSERT_EQ(std::vector<uint32_t>({w, h}), std::vector<uint32_t>({c.sheetWidth, c.sheetHeight}));
        ASSERT_EQ(canvas.size(), size_t(w) * h * 3);
        auto at = [&](uint32_t x, uint32_t y) { return canvas[(size_t(y) * w + x) * 3]; };
        EXPECT_EQ(at(0, 0), 40);
        const uint32_t pictures = 1 + c.reference + c.beside, cols = 5 - pictures;
        const uint32_t cellWidth = pictures * c.thumbWidth + (pictures - 1) * g;
        for (size_t i = 0; i < c.frames.size(); ++i) {
            const uint32_t x0 = g + uint32_t(i % cols) * (cellWidth + g),
                           y0 = g + uint32_t(i / cols) * (c.thumbHeight + g);
            // The frame, and the other movie's, do not decode: the checkerboard.
            for (uint32_t p = c.reference; p < pictures; ++p) {
                const uint32_t x = x0 + p * (c.thumbWidth + g);
                EXPECT_EQ(std::vector<int>({at(x, y0), at(x + 8, y0), at(x + 8, y0 + 8)}),
                          std::vector<int>({150, 200, 150}))
                    << "cell " << i << ", picture " << p;
            }
            if (!c.reference)
                continue;
            Bytes rgba;
            for (uint64_t n = i ? c.frames[i - 1] + 1 : 0; n <= c.frames[i]; ++n)
                ASSERT_TRUE(referencePicture(again, n, &rgba));
            const Bytes source = sheetThumbnail(rgba, c.width, c.height, c.thumbWidth, c.thumbHeight);
            for (uint32_t y = 0; y < c.thumbHeight; ++y)
                ASSERT_EQ(std::memcmp(&canvas[(size_t(y0 + y) * w + x0) * 3], &source[size_t(y) * c.thumbWidth * 3],
                                      size_t(c.thumbWidth) * 3),
                          0)
                    << "cell " << i << ", row " << y;
        }
    }
}

// A uniform picture, scaled down or not, over the checkerboard's dark and
// light squares: straight alpha, rounded to nearest.
TEST(ContactSheet, ThumbnailsLieOverTheCheckerboard)
{
    struct Case {
        uint32_t size, thumb;
        uint8_t rgba[4];
        uint8_t dark[3], light[3];
    } cases[] = {
        {16, 16, {0, 0, 0, 0}, {150, 150, 150}, {200, 200, 200}},
        {32, 16, {255, 0, 0, 255}, {255, 0, 0}, {255, 0, 0}},
        {16, 16, {255, 255, 255, 128}, {203, 203, 203}, {228, 228, 228}},
        {48, 24, {0, 0, 255, 64}, {112, 112, 176}, {150, 150, 214}},
    };
    for (const Case& c : cases) {
        Bytes rgba(size_t(c.size) * c.size * 4);
        for (size_t i = 0; i < rgba.size(); ++i)
            rgba[i] = c.rgba[i % 4];
        const Bytes rgb = sheetThumbnail(rgba, c.size, c.size, c.thumb, c.thumb);
        ASSERT_EQ(rgb.size(), size_t(c.thumb) * c.thumb * 3);
        for (uint32_t y = 0; y < c.thumb; ++y)
            for (uint32_t x = 0; x < c.thumb; ++x) {
                const uint8_t* want = ((x / 8 + y / 8) & 1) ? c.light : c.dark;
                ASSERT_EQ(std::memcmp(&rgb[(size_t(y) * c.thumb + x) * 3], want, 3), 0)
                    << int(c.rgba[3]) << " at " << x << "," << y << ": " << int(rgb[(size_t(y) * c.thumb + x) * 3]);
            }
    }
    // Scaled up, each pixel is repeated, not blended with its neighbours: a
    // block's edges stay as sharp as they are.
    const Bytes pair = {0, 0, 0, 255, 255, 255, 255, 255};
    const Bytes up = sheetThumbnail(pair, 2, 1, 8, 4);
    for (size_t i = 0; i < up.size(); ++i)
        ASSERT_EQ(int(up[i]), i / 3 % 8 < 4 ? 0 : 255) << "byte " << i;
}

}  // namespace
