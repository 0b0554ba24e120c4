#include <gtest/gtest.h>

#include <stdexcept>

#include "core/logger.h"
#include "log_capture.h"

using nox::LogSection;

TEST(Logger, TagsAndMask)
{
    LogCapture capture;
    struct Case {
        uint32_t level;
        const char* line;  // nullptr: not delivered
    } cases[] = {
        {nox::LOG_INFO, "   INFO: m"},
        {nox::LOG_WARNING, "WARNING: m"},
        {nox::LOG_ERROR, "  ERROR: m"},
        {nox::LOG_DEBUG, nullptr},       // DEBUG is never in the mask
        {3, "UNKNOWN: m"},               // combined bits pass when any is enabled
        {8 | 16, nullptr},
        {0, nullptr},
        {12, "UNKNOWN: m"},
    };
    std::vector<std::string> expected;
    for (const Case& c : cases) {
        nox::log(c.level, "m");
        if (c.line)
            expected.emplace_back(c.line);
    }
    EXPECT_EQ(LogCapture::take(), expected);
    EXPECT_STREQ(nox::logLevelTag(nox::LOG_DEBUG), "  DEBUG: ");
    for (uint32_t l : {1u, 2u, 4u, 8u, 3u, 99u})
        EXPECT_EQ(std::string(nox::logLevelTag(l)).size(), 9u);
}

TEST(Logger, SectionsIndentAndSurviveExceptions)
{
    LogCapture capture;
    {
        LogSection outer("open");
        nox::log(nox::LOG_WARNING, "inside");
        try {
            LogSection inner("inner");
            throw std::runtime_error("x");
        } catch (const std::runtime_error&) {
        }
        nox::log(nox::LOG_INFO, "after throw");
        outer.close("closed");
    }
    nox::log(nox::LOG_INFO, "top");
    // Closing at indent 0 stays at 0.
    nox::logOutdent();
    nox::log(nox::LOG_INFO, "still top");
    EXPECT_EQ(LogCapture::take(), (std::vector<std::string>{
                                      "   INFO: open",
                                      "WARNING:     inside",
                                      "   INFO:     inner",
                                      "   INFO:     after throw",
                                      "   INFO: closed",
                                      "   INFO: top",
                                      "   INFO: still top",
                                  }));
    EXPECT_EQ(nox::logIndent(), 0u);
}

TEST(Logger, FormattedAndComposedMessages)
{
    LogCapture capture;
    std::string big(5000, 'x');
    nox::logf(nox::LOG_INFO, "%s|%d", big.c_str(), 42);
    nox::logf(nox::LOG_DEBUG, "%s", "never");
    nox::logParts(nox::LOG_ERROR, "flag ", true, " ", false, " pi ", 3.14159, " n ", 12345);
    auto lines = LogCapture::take();
    ASSERT_EQ(lines.size(), 2u);
    // Long messages are kept whole rather than cut at the 4,095-character buffer.
    EXPECT_EQ(lines[0], "   INFO: " + big + "|42");
    EXPECT_EQ(lines[1], "  ERROR: flag true false pi 3.14 n 12345");
}

TEST(Logger, NoSinkMeansNothingDelivered)
{
    nox::LogSink before = nox::setLogSink(nullptr);
    nox::log(nox::LOG_ERROR, "dropped");
    EXPECT_EQ(nox::logSink(), nullptr);
    nox::setLogSink(before);
}
