// The picture sizes and rates the commands take, at and past each edge, and
// the limit each refusal names.
#include <gtest/gtest.h>

#include "cli.h"
#include "common/movies.h"

extern "C" {
#include <libavutil/imgutils.h>
}

namespace {

TEST(Limits, SizesAtAndPastEachEdgeNameTheLimitPassed)
{
    const struct {
        const char* text;
        const char* said;  // nullptr: taken
    } cases[] = {
        {"16384x64", nullptr},
        {"16385x64", "the width 16385 is past 16384"},
        {"64x16384", nullptr},
        {"64x16385", "the height 16385 is past 16384"},
        {"16384x16128", nullptr},  // the most FFmpeg's picture area takes at this width
        {"16384x16129", "is past 268435454, FFmpeg's limit for one picture (at this width the height can be 16128"},
        {"16384x16384", "FFmpeg's limit for one picture"},
        {"1x1", nullptr},
        {"0x64", "--size must look like 1920x1080"},
        {"1920*1080", "--size must look like 1920x1080"},
        {"99999999999x1", "--size must look like 1920x1080"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        uint32_t w = 0, h = 0;
        std::string why;
        EXPECT_EQ(zemo3::parseSizeText(c.text, &w, &h, &why), c.said == nullptr) << why;
        if (c.said)
            EXPECT_NE(why.find(c.said), std::string::npos) << why;
        else  // FFmpeg itself agrees that the picture can be made
            EXPECT_EQ(av_image_check_size(w, h, 0, nullptr), 0);
    }
    EXPECT_LT(av_image_check_size(16384, 16129, 0, nullptr), 0);
}

TEST(Limits, CommandsRefuseBeforeAnythingStartsAndSayTheRange)
{
    testutil::TempDir dir;
    const std::string out = " -o " + dir.file("out.mov");
    const struct {
        std::string args;
        const char* said;
    } cases[] = {
        {"render --demo --size 16384x16384" + out, "FFmpeg's limit for one picture"},
        {"render --demo --size 17000x100" + out, "the width 17000 is past 16384"},
        {"render --demo --fps 1000" + out, "above 0 and below 1000 frames per second"},
        {"render --demo --fps 0" + out, "above 0 and below 1000 frames per second"},
        {"bench --size 100x20000", "the height 20000 is past 16384"},
        {"frame encode --type 3 --width 65536 --height 65536 " + dir.file("none.rgba") + " " + dir.file("f.zm3"),
         "65536x65536 is past the codec's limit"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const testutil::Run r = testutil::zemo3(c.args);
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir.file("out.mov")));
    }
}

}  // namespace
