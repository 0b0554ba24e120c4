// `cmake --install` under a prefix of the user's: every file lands inside
// it, the players' plug-ins where their players find them through their
// path variables, and nothing goes into a player's own folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "common/util.h"

namespace {

TEST(Install, UnderAPrefixEverythingStaysInsideIt)
{
    const testutil::TempDir prefix;
    const std::string root = prefix.path().string();
    const auto r = testutil::run(std::string(ZEMO_CMAKE) + " --install " + ZEMO_BUILD_DIR + " --prefix " + root);
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    std::istringstream lines(r.out);
    int installed = 0;
    for (std::string line; std::getline(lines, line);) {
        for (const char* verb : {"-- Installing: ", "-- Up-to-date: "})
            if (line.rfind(verb, 0) == 0) {
                ++installed;
                EXPECT_EQ(line.compare(std::char_traits<char>::length(verb), root.size(), root), 0) << line;
            }
    }
    EXPECT_GT(installed, 5) << r.out;

    const std::string plugins = root + "/lib/gstreamer-1.0";
    EXPECT_TRUE(std::filesystem::exists(plugins + "/libgstzemo3.so"));
#if !ZEMO_SANITIZED  // an instrumented plug-in cannot load into gst-inspect
    // The GStreamer registry of this test only, scanned from the prefix.
    const auto inspect = testutil::run({{"GST_PLUGIN_PATH", plugins}, {"GST_REGISTRY", prefix.file("registry.bin")}},
                                       "gst-inspect-1.0 zemo3dec");
    EXPECT_EQ(inspect.code, 0) << inspect.err;
    EXPECT_NE(inspect.out.find(plugins + "/libgstzemo3.so"), std::string::npos) << inspect.out;
#endif
}

}  // namespace
