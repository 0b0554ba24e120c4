// zemo3 play on Mesa's software GL (llvmpipe decodes S3TC and RGTC itself):
// offscreen, on bad input, and in a window on Xvfb. bound_test.cpp holds the
// GPU's pictures against the CPU decode.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/movies.h"

namespace {

using testutil::zemo3;

class GpuPath : public testutil::EveryTypeSuite<101, 59, 3> {};

// Offscreen: every frame as numbered PNG files, the same whether the frames
// are restored into mapped pixel-buffer objects (this GL maps them for good)
// or copied into them (a GL 3.3 without buffer storage); verify --gpu reports
// the bound. (Frame limits and the player's counts: session_test.cpp.)
TEST_F(GpuPath, PlayOffscreenDumpsTheFrames)
{
    const auto dump = dir_->path() / "dump", copied = dir_->path() / "copied";
    auto r = zemo3("play " + movie(3) + " --offscreen --dump " + dump.string());
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("9 frames drawn offscreen ("), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("OpenGL 4."), std::string::npos) << r.out;
    r = testutil::run({{"MESA_GL_VERSION_OVERRIDE", "3.3"}, {"MESA_EXTENSION_OVERRIDE", "-GL_ARB_buffer_storage"}},
                      std::string(ZEMO3_BINARY) + " play " + movie(3) + " --offscreen --dump " + copied.string());
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("OpenGL 3.3"), std::string::npos) << r.out;
    for (int i = 0; i < 9; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "frame_%05d.png", i);
        const std::string picture = testutil::slurp((dump / name).string());
        EXPECT_EQ(picture.substr(1, 3), "PNG") << name;
        EXPECT_TRUE(picture == testutil::slurp((copied / name).string())) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(dump / "frame_00009.png"));
    r = zemo3("verify --gpu " + movie(2));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("largest difference"), std::string::npos) << r.out;
}

// Bad input gets a message and a non-zero exit; damaged frames are skipped
// and their count said.
TEST_F(GpuPath, BadInputIsRefused)
{
    const std::string other = dir_->file("other.nut"), damaged = dir_->file("bad.mov");
    ASSERT_EQ(zemo3("decode " + movie(0) + " -o " + other).code, 0);
    ASSERT_TRUE(testutil::remux(movie(1), damaged, testutil::damageThreeFrames));
    const std::pair<std::string, std::string> noS3tc{"MESA_EXTENSION_OVERRIDE", "-GL_EXT_texture_compression_s3tc"};
    const struct {
        std::vector<std::pair<std::string, std::string>> environment;
        std::string args;
        int code;
        const char* says;
    } cases[] = {
        {{}, "play " + other + " --offscreen", 1, "Zemo 3"},
        {{noS3tc}, "play " + movie(0) + " --offscreen", 1, "S3TC"},
        {{}, "play " + damaged + " --offscreen", 0, "3 damaged frames skipped"},
        {{}, "play " + movie(2) + " --offscreen --dump " + other + "/dump", 2, "frame_00000.png"},
    };
    for (const auto& c : cases) {
        const auto r = testutil::run(c.environment, std::string(ZEMO3_BINARY) + " " + c.args);
        EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.err;
        EXPECT_NE((r.err + r.out).find(c.says), std::string::npos) << c.args << "\n" << r.err << r.out;
    }
}

// A real window (GLX on Xvfb): the demo plays until 60 frames are shown (in a
// loop: frames dropped on a busy machine only take longer) and the window's
// last picture is saved.
TEST_F(GpuPath, PlaysInAWindow)
{
    if (std::system("command -v xvfb-run > /dev/null") != 0)
        GTEST_SKIP() << "xvfb-run is not installed";
    const std::string demo = dir_->file("demo.mov");
    ASSERT_EQ(zemo3("render --demo --duration 2.5 -o " + demo + " --module " + ZEMO_MODULE_PATH).code, 0);
    const auto shot = dir_->path() / "play.png";
    const auto r = testutil::run({{"SDL_AUDIODRIVER", "dummy"}},
                                 "xvfb-run -a -s '-screen 0 1280x800x24' " + std::string(ZEMO3_BINARY) + " play " +
                                     demo + " --frames 60 --loop --status --screenshot " + shot.string());
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("60 frames shown"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(testutil::slurp(shot.string()).substr(1, 3), "PNG");
}

}  // namespace
