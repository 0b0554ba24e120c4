// The command's own argument parsing, and the steps most commands begin with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "cli.h"
#include "common/util.h"
#include "media/png.h"

namespace {

using namespace zemo3;

TEST(CommandLine, Rates)
{
    // Text, and the rate it gives.
    // clang-format off
    for (auto [text, num, den] : {std::tuple{"25", 25, 1}, {"29.97", 29970, 1000}, {"30000/1001", 30000, 1001},
                                  {"12.5", 12500, 1000}, {"23.9765", 23977, 1000}, {"25.000", 25, 1},
                                  {"999.999", 999999, 1000}}) {
        // clang-format on
        int32_t n = 0, d = 0;
        EXPECT_TRUE(parseRate(text, &n, &d)) << text;
        EXPECT_EQ(std::pair(n, d), std::pair(num, den)) << text;
    }
    for (const char* text : {"0", "fast", "30/0", "25x", "5000", "29.97/1", "30/1.5", "30x/1", "30/", "/2", "1e2",
                             " 25", "+25", "25.", "4294967321/1", "2000/2"}) {
        int32_t n = 0, d = 0;
        EXPECT_FALSE(parseRate(text, &n, &d)) << text;
    }
}

}  // namespace

// The steps commands begin with, each stopping with its exit code and one line on stderr.
TEST(CommandLine, ThePreludeStopsAtTheFirstStepThatFails)
{
    testutil::TempDir dir;
    const std::string absent = dir.file("absent.mov"), text = dir.file("text.txt"), wav = dir.file("sound.wav"),
                      png = dir.file("still.png");
    testutil::writeFile(text, testutil::Bytes(100, 'x'));
    const std::vector<uint8_t> rgb(16 * 8 * 3, 128);
    std::string error;
    ASSERT_TRUE(writePng(png, rgb.data(), 16, 8, false, &error)) << error;
    // A WAV file of 16-bit mono silence: sound and no picture.
    testutil::Bytes sound(44 + 800, 0);
    const char header[] =
        "RIFF\x44\x03\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\x80\x3e\0\0\x02\0\x10\0data\x20\x03\0\0";
    std::memcpy(sound.data(), header, 44);
    testutil::writeFile(wav, sound);
    struct Case {
        std::vector<std::string> args;
        MovieNeed need;
        int code;
        std::string says;  // after "zemo3: cmd: "; empty: the usage on stdout, or no word at all
    } cases[] = {
        {{"--help", "--bogus"}, MovieNeed::Any, EXIT_OK, ""},
        {{"--bogus"}, MovieNeed::Any, EXIT_USAGE, "unknown option '--bogus'"},
        {{"-o"}, MovieNeed::Any, EXIT_USAGE, "option --output needs a value"},
        {{}, MovieNeed::Any, EXIT_USAGE, "expected one MOVIE (see zemo3 cmd --help)"},
        {{"a.mov", "b.mov"}, MovieNeed::Any, EXIT_USAGE, "expected one MOVIE (see zemo3 cmd --help)"},
        {{absent}, MovieNeed::Any, EXIT_USAGE, "cannot open '" + absent + "': No such file or directory"},
        {{text}, MovieNeed::Any, EXIT_REJECTED, "'" + text + "'"},
        {{wav, "-o", "x"}, MovieNeed::Any, EXIT_OK, ""},
        {{wav}, MovieNeed::Video, EXIT_REJECTED, "'" + wav + "' has no video stream"},
        {{png}, MovieNeed::Video, EXIT_OK, ""},
        {{png}, MovieNeed::Zemo3Video, EXIT_REJECTED, "'" + png + "' has no Zemo 3 video stream"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "no arguments" : c.args[0]);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        CommandRun run("cmd", "usage: zemo3 cmd\n");
        MovieReader movie;
        const bool passed =
            run.parse(c.args, {"--output"}) && run.oneMovie() && run.movieExists() && run.openMovie(&movie, c.need);
        const std::string out = testing::internal::GetCapturedStdout(), err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(passed, c.code == EXIT_OK && c.args[0] != "--help");
        EXPECT_EQ(run.exitCode(), c.code);
        EXPECT_EQ(out, c.args.size() && c.args[0] == "--help" ? "usage: zemo3 cmd\n" : "");
        if (c.says.empty())
            EXPECT_EQ(err, "");
        else
            EXPECT_EQ(err.rfind("zemo3: cmd: " + c.says, 0), 0u) << err;
        EXPECT_LE(std::count(err.begin(), err.end(), '\n'), 1);
        EXPECT_EQ(passed && c.args.size() > 1 ? run.args().get("--output") : "x", "x") << "-o stands for --output";
    }
}
