// The frame and render commands as a user runs them: round trips through the
// real binary, and the exit codes and messages of what goes wrong (nothing
// may be left behind on failure).
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "cli.h"
#include "codec/zemo3.h"
#include "core/context.h"

namespace {

namespace fs = std::filesystem;

struct Result {
    int code;
    std::string out, err;
};

class Commands : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() /
               ("zemo3-cmd-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    Result zemo3(const std::string& args) const
    {
        const std::string out = path("stdout"), err = path("stderr");
        const std::string command = std::string(ZEMO3_BINARY) + " " + args + " >" + out + " 2>" + err +
                                    " </dev/null";
        int status = std::system(command.c_str());
        Result r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out), slurp(err)};
        return r;
    }

    static std::string slurp(const std::string& file)
    {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    void write(const std::string& name, const std::vector<uint8_t>& bytes) const
    {
        std::ofstream(path(name), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                          std::streamsize(bytes.size()));
    }

    fs::path dir_;
};

TEST_F(Commands, FrameEncodeAndDecodeRoundTripEveryType)
{
    const uint32_t w = 37, h = 21, stride = 160;  // odd size, padded rows
    std::vector<uint8_t> picture(size_t(stride) * h);
    for (size_t i = 0; i < picture.size(); ++i)
        picture[i] = uint8_t((i * 7) ^ (i >> 5));
    write("in.rgba", picture);
    for (uint32_t type = 0; type < 4; ++type) {
        SCOPED_TRACE(type);
        Result enc = zemo3("frame encode --type " + std::to_string(type) + " --width 37 --height 21 --row-bytes 160 " +
                        path("in.rgba") + " " + path("f.zm3"));
        ASSERT_EQ(enc.code, 0) << enc.err;
        Result dec = zemo3("frame decode --width 37 --height 21 " + path("f.zm3") + " " + path("f.tex"));
        ASSERT_EQ(dec.code, 0) << dec.err;
        Result info = zemo3("frame info " + path("f.zm3"));
        EXPECT_EQ(info.code, 0);
        EXPECT_NE(info.out.find(nox::formatTypeName(type)), std::string::npos) << info.out;

        // The file holds what the compressor makes of the picture, and the
        // decoded texture is that frame's texture.
        nox::FrameEncoder encoder(type, w, h);
        std::vector<uint8_t> frame(encoder.textureBytes() + 12, 0);
        frame.resize(encoder.compress(frame.data(), picture.data(), stride, nox::getContext()->memory()));
        const std::string file = slurp(path("f.zm3"));
        EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.end()), frame);
        EXPECT_EQ(slurp(path("f.tex")).size(), nox::textureSize(type, w, h));
    }
}

TEST_F(Commands, FailuresExitWithTheirCodeAndLeaveNothing)
{
    write("small.rgba", std::vector<uint8_t>(100, 1));
    std::vector<uint8_t> pic(64 * 64 * 4);
    for (size_t i = 0; i < pic.size(); ++i)
        pic[i] = uint8_t(i * 2654435761u >> 13);
    write("pic.rgba", pic);
    ASSERT_EQ(zemo3("frame encode --type 1 --width 64 --height 64 " + path("pic.rgba") + " " + path("good.zm3")).code,
              0);
    const std::string good = slurp(path("good.zm3"));
    ASSERT_GT(good.size(), 1000u);
    write("cut.zm3", std::vector<uint8_t>(good.begin(), good.begin() + ptrdiff_t(good.size() / 2)));

    struct Case {
        std::string args;
        int code;
        const char* message;
        const char* leftover;  // a file that must not exist afterwards
    } cases[] = {
        {"frame encode --type 9 --width 4 --height 4 " + path("pic.rgba") + " " + path("x.zm3"), 2, "--type", "x.zm3"},
        {"frame encode --type 0 --width 64 --height 64 " + path("small.rgba") + " " + path("x.zm3"), 2, "holds 100 bytes",
         "x.zm3"},
        {"frame encode --type 0 --width 64 --height 64 " + path("missing.rgba") + " " + path("x.zm3"), 2,
         "cannot open", "x.zm3"},
        {"frame encode --type 0 --height 64 " + path("pic.rgba") + " " + path("x.zm3"), 2, "--width", "x.zm3"},
        {"frame decode --width 64 --height 64 " + path("cut.zm3") + " " + path("x.tex"), 1, "not a valid", "x.tex"},
        {"frame decode --width 64 --height 64 --type 0 " + path("good.zm3") + " " + path("x.tex"), 1, "not a valid",
         "x.tex"},
        {"frame decode --width 64 --height 64 " + path("good.zm3") + " /nonexistent-zemo3/x.tex", 2, "cannot write",
         nullptr},
        {"frame bogus", 2, "unknown sub-command", nullptr},
        {"render " + path("missing.mp4") + " -o " + path("r.mov"), 2, "cannot open", "r.mov"},
        {"render --demo --duration 0.1 -o /nonexistent-zemo3/r.mov", 2, "cannot write", nullptr},
        {"render --demo --compression best -o " + path("r.mov"), 2, "unknown compression", "r.mov"},
        {"render --demo --fps fast -o " + path("r.mov"), 2, "--fps", "r.mov"},
        {"render --demo", 2, "-o OUT.mov is required", nullptr},
        {"nonsense", 2, "unknown command", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        Result r = zemo3(c.args);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.err.rfind("zemo3: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line: " << r.err;
        if (c.leftover) {
            EXPECT_FALSE(fs::exists(path(c.leftover)));
            EXPECT_FALSE(fs::exists(path(std::string(c.leftover) + ".partial")));
        }
    }
}

TEST_F(Commands, EveryCommandHasHelp)
{
    for (const char* command : {"frame", "render", "verify", "decode", "inspect", "options", "core"}) {
        Result r = zemo3(std::string(command) + " --help");
        EXPECT_EQ(r.code, 0) << command;
        EXPECT_NE(r.out.find("usage: zemo3"), std::string::npos) << command;
    }
    Result all = zemo3("--help");
    EXPECT_EQ(all.code, 0);
    for (const char* command : {"frame", "render", "verify", "decode", "inspect", "options", "core"})
        EXPECT_NE(all.out.find(command), std::string::npos) << command;
}

TEST(RateParsing, RatesAndSizes)
{
    struct {
        const char* text;
        bool ok;
        int32_t num, den;
    } rates[] = {{"25", true, 25, 1},       {"29.97", true, 29970, 1000}, {"30000/1001", true, 30000, 1001},
                 {"12.5", true, 12500, 1000}, {"0", false, 0, 0},         {"fast", false, 0, 0},
                 {"30/0", false, 0, 0},       {"25x", false, 0, 0},       {"5000", false, 0, 0}};
    for (const auto& c : rates) {
        int32_t num = 0, den = 0;
        EXPECT_EQ(zemo3::parseRate(c.text, &num, &den), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(num, c.num) << c.text;
            EXPECT_EQ(den, c.den) << c.text;
        }
    }
    uint32_t w = 0, h = 0;
    EXPECT_TRUE(zemo3::parseSizeText("1920x1080", &w, &h));
    EXPECT_EQ(w, 1920u);
    EXPECT_EQ(h, 1080u);
    for (const char* bad : {"1920", "0x10", "10x0", "x10", "99999x10", "10x-1"})
        EXPECT_FALSE(zemo3::parseSizeText(bad, &w, &h)) << bad;
}

}  // namespace
