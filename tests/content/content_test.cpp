// The test content the benchmarks and the command render.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "content/content.h"

namespace {

using namespace zemo3;

TEST(TestContent, EveryContentAtOddSizesIsDeterministicAndMatted)
{
    std::string error;
    for (const std::string& name : content::contentNames())
        // 2160 lines: the screen's pixels doubled.
        for (auto [w, h] : {std::pair<uint32_t, uint32_t>{17, 9}, {64, 48}, {24, 2160}}) {
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
                continue;                            // no matte
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
