// The picture sizes and rates the commands take, at and past each edge, and
// the limit each refusal names.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

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
        // clang-format off
        {"16384x64", nullptr}, {"16385x64", "the width 16385 is past 16384"},
        {"64x16384", nullptr}, {"64x16385", "the height 16385 is past 16384"},
        {"16384x16128", nullptr},  // the most FFmpeg's picture area takes at this width
        {"16384x16129", "is past 268435454, FFmpeg's limit for one picture (at this width the height can be 16128"},
        {"16384x16384", "FFmpeg's limit for one picture"}, {"1x1", nullptr},
        {"0x64", "--size must look like 1920x1080"}, {"10x-1", "--size must look like 1920x1080"},
        {"1920*1080", "--size must look like 1920x1080"}, {"99999999999x1", "--size must look like 1920x1080"},
        // clang-format on
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
        {"render --demo --fps 30x/1" + out, "above 0 and below 1000 frames per second"},  // the rest: cli_test's Rates
        {"bench --size 100x20000", "the height 20000 is past 16384"},
        {"frame encode --type 3 --width 16385 --height 16 " + dir.file("none.rgba") + " " + dir.file("f.zm3"),
         "--width must be a number from 1 to 16384"},
        {"core --tasks x", "--tasks must be a number from 1 to 1000000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const testutil::Run r = testutil::zemo3(c.args);
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir.file("out.mov")));
    }
}

// Pictures one pixel wide or high render through the module and verify against their demo.
TEST(Limits, OnePixelSidesRenderAndVerify)
{
    testutil::TempDir dir;
    for (const char* size : {"1x1", "1x40", "40x1"}) {
        SCOPED_TRACE(size);
        const std::string demo = std::string(" --demo --size ") + size + " --duration 0.2 --no-sound";
        ASSERT_EQ(testutil::zemo3("render" + demo + " -o " + dir.file("one.mov")).code, 0);
        const testutil::Run r = testutil::zemo3("verify " + dir.file("one.mov") + demo);
        EXPECT_EQ(r.code, 0) << r.err << r.out;
    }
}

#ifndef _WIN32
// A folder with little room: a 4 MB tmpfs where the test may mount one, else
// a 4 MB limit on the size of the files the command writes (with SIGXFSZ
// ignored, a write past it fails as on a full disk, in the system's words).
class SmallFolder {
public:
    explicit SmallFolder(const std::string& path) : path_(path)
    {
        std::filesystem::create_directories(path);
        mounted_ = std::system(("mount -t tmpfs -o size=4m tmpfs '" + path + "' 2>/dev/null").c_str()) == 0;
    }
    ~SmallFolder()
    {
        if (mounted_ && std::system(("umount '" + path_ + "'").c_str()) != 0)
            ADD_FAILURE() << "umount " << path_;
    }
    // The command line that runs `command` with the folder's limit.
    std::string limited(const std::string& command) const
    {
        return mounted_ ? command : "sh -c \"trap '' XFSZ; ulimit -f 4096; exec " + command + "\"";
    }
    // What the system says when the folder is full.
    const char* reason() const { return mounted_ ? "no space left on device while writing '" : " while writing '"; }

private:
    std::string path_;
    bool mounted_ = false;
};

TEST(Limits, AFullDiskSaysSoAndLeavesNoMovie)
{
    testutil::TempDir dir;
    const std::string movie = dir.file("clip.mov");
    ASSERT_EQ(testutil::zemo3("render --demo --size 640x360 --duration 3 -o " + movie).code, 0);
    const SmallFolder small(dir.file("small"));
    std::vector<std::string> programs = {ZEMO3_BINARY};
    if (const char* windows = std::getenv("ZEMO_WIN64_ZEMO3"); windows && *windows)
        programs.push_back(windows);  // the Win64 build under Wine, on the same folder
    for (const std::string& zemo3 : programs) {
        for (const auto& [args, code] :
             {std::pair<std::string, int>{"render --demo -o ", 1}, {"decode " + movie + " -o ", 2}}) {
            const std::string out = dir.file(args[0] == 'r' ? "small/out.mov" : "small/out.mkv");
            SCOPED_TRACE(zemo3 + " " + args);
            const testutil::Run r = testutil::run(small.limited(zemo3 + " " + args + out));
            EXPECT_EQ(r.code, code) << r.err;
            // Wine hands the Win64 build a full disk as "Invalid argument":
            // there only the name of what was being written is checked.
            const std::string said =
                zemo3 == ZEMO3_BINARY ? small.reason() + out + "'" : " while writing '" + out + "'";
            EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
            EXPECT_TRUE(std::filesystem::is_empty(dir.file("small"))) << "nothing is left behind";
        }
    }
}
#endif

}  // namespace
