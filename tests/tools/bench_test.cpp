// zemo3 bench as a user runs it (tiny pictures, so nothing here is timed),
// and the test content it and the benchmarks share.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "content/content.h"

namespace {

struct BenchRun {
    int code;
    std::string out, err;
};

BenchRun bench(const std::string& args)
{
    const std::string base = (std::filesystem::temp_directory_path() / ("zemo3-bench-" + std::to_string(getpid())))
                                 .string();
    const std::string command = std::string(ZEMO3_BINARY) + " bench " + args + " >" + base + ".out 2>" + base +
                                ".err </dev/null";
    const int status = std::system(command.c_str());
    auto slurp = [](const std::string& file) {
        std::ifstream in(file);
        std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        std::remove(file.c_str());
        return text;
    };
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(base + ".out"), slurp(base + ".err")};
}

std::vector<std::string> words(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> w;
    for (std::string s; in >> s;)
        w.push_back(s);
    return w;
}

double number(const std::string& text) { return text == "-" ? NAN : std::stod(text); }

TEST(BenchCommand, EveryTypeGetsItsRowsAndRatios)
{
    BenchRun r = bench("--size 64x48 --frames 3 --threads 2 --repeat 1 --module " + std::string(ZEMO_MODULE_PATH));
    ASSERT_EQ(r.code, 0) << r.err;
    // Rows: type, encoder (two words for ours), threads, fps, cpu ms, bytes/frame, PSNR RGB, PSNR A.
    std::map<std::string, int> rows;
    int ratioRows = 0;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> w = words(line);
        if (w.empty() || !std::isdigit(static_cast<unsigned char>(w[0][0])))
            continue;
        const int type = std::stoi(w[0]);
        ASSERT_TRUE(type >= 0 && type <= 3) << line;
        if (w.size() == 7) {  // the ratio table
            ++ratioRows;
            // Tiny pictures on a busy machine can print 0.00 for a time or
            // a ratio; what matters is that every figure is there.
            for (size_t i = 1; i < 6; ++i)
                EXPECT_GE(number(w[i]), 0) << line;
            EXPECT_TRUE(w[6] == "met" || w[6] == "missed") << line;
            continue;
        }
        const bool ours = w[1] == "zemo3";
        if (ours)
            w.erase(w.begin() + 1);
        ASSERT_EQ(w.size(), 8u) << line;
        ++rows[w[0] + (ours ? " ours " : " hap ") + w[2]];
        EXPECT_GT(number(w[3]), 0) << line;
        EXPECT_GE(number(w[4]), 0) << line;
        EXPECT_GT(number(w[5]), 0) << line;
        EXPECT_GT(number(w[6]), 12) << line;  // a decoded picture, not garbage
        // Alpha is compared exactly where the encoder keeps it.
        const bool alpha = ours ? (type == 1 || type == 3) : type == 1;
        EXPECT_EQ(std::isnan(number(w[7])), !alpha) << line;
    }
    EXPECT_EQ(ratioRows, 4);
    for (int type = 0; type < 4; ++type)
        for (const char* side : {" ours ", " hap "})
            for (const char* threads : {"1", "2"})
                EXPECT_EQ(rows[std::to_string(type) + side + threads], 1) << type << side << threads;
}

TEST(BenchCommand, BadArgumentsExitWithUsage)
{
    for (const char* args : {"--types 4", "--types 0,x", "--content nothing", "--frames 0", "--threads 0",
                             "--kernel fastest", "--size 0x10", "extra"}) {
        BenchRun r = bench(args);
        EXPECT_EQ(r.code, 2) << args;
        EXPECT_NE(r.err.find("zemo3: bench:"), std::string::npos) << args;
    }
    BenchRun help = bench("--help");
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("usage: zemo3 bench"), std::string::npos);
}

TEST(TestContent, EveryContentAtOddSizesIsDeterministicAndMatted)
{
    using namespace zemo3::content;
    for (const std::string& name : contentNames())
        for (auto [w, h] : {std::pair<uint32_t, uint32_t>{17, 9}, {64, 48}}) {
            SCOPED_TRACE(name + " " + std::to_string(w) + "x" + std::to_string(h));
            std::string error;
            std::vector<std::vector<uint8_t>> a, b;
            ASSERT_TRUE(renderClip({name}, w, h, 2, &a, &error)) << error;
            ASSERT_TRUE(renderClip({name}, w, h, 2, &b, &error)) << error;
            EXPECT_EQ(a, b);
            ASSERT_EQ(a[0].size(), size_t(w) * h * 4);
            std::vector<uint8_t> first;
            ASSERT_TRUE(renderContent(name, w, h, &first, &error));
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
    std::string error;
    std::vector<std::vector<uint8_t>> clip;
    EXPECT_TRUE(renderClip({"photo", "noise"}, 8, 8, 3, &clip, &error));
    EXPECT_FALSE(renderClip({"photo", "unknown"}, 8, 8, 3, &clip, &error));
    EXPECT_NE(error.find("unknown"), std::string::npos);
}

}  // namespace
