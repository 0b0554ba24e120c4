// zemo3 render --start/--end, join and cut as a render farm uses them: ranges
// rendered apart through the real module join into the very bytes of the
// whole render, and parts that cannot be joined are refused with nothing
// written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "common/movies.h"

namespace {

using testutil::zemo3;

std::string render(const std::string& options, const std::string& out)
{
    const testutil::Run r =
        zemo3("render --demo --size 96x64 --duration 1 " + options + " -o " + out + " --module " + ZEMO_MODULE_PATH);
    return r.code == 0 ? "" : r.err;
}

// The files in a folder: a finished command leaves no partial file behind.
std::vector<std::string> files(const testutil::TempDir& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(JoinCommands, RangesJoinIntoTheWholeRenderAndCutsEqualRangeRenders)
{
    // NTSC rates (sound chunks of 1601 and 1602 samples) and whole ones, in
    // every type.
    for (const char* options : {"--fps 30000/1001 --compression high-alpha", "--fps 25 --compression normal",
                                "--fps 29.97 --compression high", "--fps 30 --compression normal-alpha"}) {
        SCOPED_TRACE(options);
        testutil::TempDir dir;
        ASSERT_EQ(render(options, dir.file("whole.mov")), "");
        // The last range ends past the composition, as farm managers hand it.
        const char* ranges[] = {"--end 6", "--start 7 --end 7", "--start 8 --end 99999"};
        std::string segments;
        for (int i = 0; i < 3; ++i) {
            const std::string segment = dir.file("seg" + std::to_string(i) + ".mov");
            ASSERT_EQ(render(std::string(options) + " " + ranges[i], segment), "");
            segments += " " + segment;
        }
        const testutil::Run join = zemo3("join" + segments + " -o " + dir.file("joined.mov"));
        ASSERT_EQ(join.code, 0) << join.err;
        EXPECT_NE(join.out.find("Progress: 100%"), std::string::npos) << join.out;
        EXPECT_EQ(testutil::slurp(dir.file("joined.mov")), testutil::slurp(dir.file("whole.mov")));

        for (int i = 0; i < 3; ++i) {
            const std::string cut = dir.file("cut" + std::to_string(i) + ".mov");
            const testutil::Run r = zemo3("cut " + dir.file("whole.mov") + " -o " + cut + " " + ranges[i]);
            ASSERT_EQ(r.code, 0) << r.err;
            EXPECT_EQ(testutil::slurp(cut), testutil::slurp(dir.file("seg" + std::to_string(i) + ".mov"))) << i;
        }
        EXPECT_EQ(files(dir), std::vector<std::string>({"cut0.mov", "cut1.mov", "cut2.mov", "joined.mov", "seg0.mov",
                                                        "seg1.mov", "seg2.mov", "whole.mov"}));
    }
}

TEST(JoinCommands, RefusesPartsThatDifferOrAreDamagedAndWritesNothing)
{
    testutil::TempDir dir;
    const std::string first = dir.file("first.mov");
    ASSERT_EQ(render("--fps 25", first), "");
    auto rendered = [&](const char* options) {
        return [=](const std::string& part) { return render(options, part) == ""; };
    };
    auto remuxed = [&](std::function<bool(int64_t, AVPacket*)> damage, uint32_t tag = 0) {
        return [=](const std::string& part) { return testutil::remux(first, part, damage, tag); };
    };
    const struct {
        const char* name;
        std::function<bool(const std::string&)> make;  // null: no such file
        std::string said;
        int code = 1;
    } cases[] = {
        {"type.mov", rendered("--fps 25 --compression high"), "differs from '" + first + "' in format type"},
        {"size.mov", rendered("--fps 25 --size 64x64"), "in picture size (64x64 against 96x64)"},
        {"rate.mov", rendered("--fps 30"), "in frame rate (30 against 25)"},
        {"silent.mov", rendered("--fps 25 --no-sound"), "in sound"},
        {"tagged.mov", remuxed([](int64_t, AVPacket*) { return true; }, MKTAG('Z', 'M', 'Q', '4')),
         "is not a Zemo 3 movie"},
        {"frames.mov", remuxed(testutil::damageThreeFrames), "is damaged: frame 2"},
        {"dropped.mov", remuxed([](int64_t n, AVPacket*) { return n != 10; }), "frame 10 is missing"},
        {"truncated.mov",
         [&](const std::string& part) {
             const std::string whole = testutil::slurp(first);
             std::ofstream(part, std::ios::binary).write(whole.data(), std::streamsize(whole.size() * 2 / 3));
             return true;
         },
         "truncated.mov'"},
        {"missing.mov", nullptr, "cannot open", 2},
        {"first.mov", nullptr, "is one of the movies being joined", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string part = dir.file(c.name);
        ASSERT_TRUE(!c.make || c.make(part));
        const std::vector<std::string> before = files(dir);
        const std::string output = std::string(c.name) == "first.mov" ? first : dir.file("out.mov");
        const testutil::Run r = zemo3("join " + first + " " + part + " -o " + output);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(part), std::string::npos) << "names the file: " << r.err;
        EXPECT_EQ(files(dir), before) << "a refused join writes nothing";
    }
    // A cut with nothing in its range, and a range the wrong way round.
    for (const char* range : {"--start 25", "--start 5 --end 4"}) {
        const testutil::Run r = zemo3("cut " + first + " -o " + dir.file("out.mov") + " " + range);
        EXPECT_NE(r.code, 0) << range;
        EXPECT_FALSE(std::filesystem::exists(dir.file("out.mov"))) << range;
    }
}

#ifndef _WIN32
// Farm machines of the host application run Windows: ranges rendered by the
// Win64 build under Wine join, there and here, into the frames and sound of
// a whole render here.
TEST(Win64, RangesRenderedThereJoinIntoTheWholeRenderHere)
{
    const char* windows = std::getenv("ZEMO_WIN64_ZEMO3");
    if (!windows || !*windows)
        GTEST_SKIP() << "no Win64 build to compare with (ZEMO_WIN64_ZEMO3)";
    testutil::TempDir dir;
    const std::string options = " --demo --size 160x90 --duration 1 --fps 30000/1001 --compression high ";
    ASSERT_EQ(zemo3("render" + options + "-o " + dir.file("whole.mov")).code, 0);
    for (const char* range : {"--end 13", "--start 14"}) {
        const std::string out = dir.file(std::string("seg") + (range[2] == 'e' ? "0" : "1") + ".mov");
        const testutil::Run r = testutil::run(std::string(windows) + " render" + options + range + " -o " + out);
        ASSERT_EQ(r.code, 0) << r.err;
    }
    const std::string segments = " " + dir.file("seg0.mov") + " " + dir.file("seg1.mov");
    const testutil::Run there =
        testutil::run(std::string(windows) + " join" + segments + " -o " + dir.file("there.mov"));
    ASSERT_EQ(there.code, 0) << there.err;
    ASSERT_EQ(zemo3("join" + segments + " -o " + dir.file("here.mov")).code, 0);
    EXPECT_EQ(testutil::slurp(dir.file("there.mov")), testutil::slurp(dir.file("here.mov")));
    EXPECT_EQ(testutil::slurp(dir.file("there.mov")), testutil::slurp(dir.file("whole.mov")));
    const testutil::Movie whole = testutil::readMovie(dir.file("whole.mov"));
    for (const char* joined : {"there.mov", "here.mov"}) {
        const testutil::Movie movie = testutil::readMovie(dir.file(joined));
        EXPECT_TRUE(movie.frames() == whole.frames()) << joined;
        EXPECT_TRUE(movie.sound() == whole.sound()) << joined;
    }
}
#endif

}  // namespace
