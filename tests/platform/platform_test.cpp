// Text conversion between the host's UTF-16 and the UTF-8 that file names
// and FFmpeg take, the memory probe the export job consults, and the files
// and folders the commands use.
#include <gtest/gtest.h>

#include "platform/platform.h"

TEST(Platform, Utf16AndUtf8)
{
    struct Case {
        std::u16string utf16;
        std::string utf8;
        bool roundTrips;  // false: malformed input, replaced by U+FFFD
    } cases[] = {
        {u"", "", true},
        {u"clip.mov", "clip.mov", true},
        {u"\u00dcbung \u2013 \u65e5\u672c.mov",
         "\xc3\x9c"
         "bung \xe2\x80\x93 \xe6\x97\xa5\xe6\x9c\xac.mov",
         true},
        {u"\u007f\u0080\u07ff\u0800\uffff", "\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf", true},
        {u"\uffff\U00010000\U0001F3AC\U0010FFFF", "\xef\xbf\xbf\xf0\x90\x80\x80\xf0\x9f\x8e\xac\xf4\x8f\xbf\xbf", true},
        {u"a\xd800z\xdc00", "a\xef\xbf\xbdz\xef\xbf\xbd", false},  // unpaired surrogates
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::utf16ToUtf8(c.utf16), c.utf8);
        EXPECT_EQ(platform::utf16ToUtf8(c.utf16.c_str()), c.utf8);
        EXPECT_EQ(c.roundTrips ? platform::utf8ToUtf16(c.utf8) : c.utf16, c.utf16) << c.utf8;
    }
    EXPECT_EQ(platform::utf16ToUtf8(static_cast<const char16_t*>(nullptr)), "");
    EXPECT_EQ(platform::utf16ToUtf8(std::u16string_view(u"\U00010000", 1)), "\xef\xbf\xbd") << "a pair cut at the end";
    // Bytes that are not UTF-8 each become one U+FFFD; what follows them is kept.
    const std::pair<std::string, std::u16string> bad[] = {{"\x80x", u"\ufffdx"},
                                                          {"\xc3", u"\ufffd"},
                                                          {"\xe6\x97", u"\ufffd\ufffd"},
                                                          {"\xc3(", u"\ufffd("},
                                                          {"\xf8\x88\x80\x80\x80", u"\ufffd\ufffd\ufffd\ufffd\ufffd"}};
    for (const auto& [in, out] : bad)
        EXPECT_EQ(platform::utf8ToUtf16(in), out);
}

TEST(Platform, MemoryProbeCanBeReplaced)
{
    EXPECT_GT(platform::availablePhysicalMemory(), 0u);
    platform::setAvailableMemoryProbe([] { return uint64_t(12345); });
    EXPECT_EQ(platform::availablePhysicalMemory(), 12345u);
    platform::setAvailableMemoryProbe(nullptr);
    EXPECT_NE(platform::availablePhysicalMemory(), 12345u);
    EXPECT_GE(platform::processorCount(), 1u);
#ifndef _WIN32
    uint64_t busy = 0, total = 0;  // the kernel's counters
    ASSERT_TRUE(platform::sampleProcessorTimes(&busy, &total) && total > 0 && busy <= total) << busy << " of " << total;
    EXPECT_GE(platform::loadAverage(), 0.0);
#endif
}

// Files and folders by UTF-8 name, below the system's temporary folder.
TEST(Platform, FilesAndFolders)
{
    const std::string temp = platform::temporaryFolder();
    ASSERT_TRUE(platform::isDirectory(temp)) << temp;
    EXPECT_NE(temp.back(), '/');
    const std::string root = temp + "/zemo3-platform-" + std::to_string(platform::processId());
    const std::string folder = root +
                               "/\xc3\x9c"
                               "bung/\xe6\x97\xa5";  // Übung/日
    ASSERT_TRUE(platform::makeDirectories(folder));
    EXPECT_TRUE(platform::makeDirectories(folder)) << "already there";
    const std::string file = folder + "/f.bin", missing = folder + "/none/f.bin";
    std::string reason;
    ASSERT_TRUE(platform::canAppend(file, &reason)) << reason;
    EXPECT_EQ(platform::fileSize(file), 0u) << "made empty";
    const uint8_t bytes[5] = {1, 2, 3, 4, 5};
    ASSERT_TRUE(platform::writeFileAtomic(file, bytes, 5, &reason)) << reason;
    EXPECT_TRUE(platform::canAppend(file, &reason));
    EXPECT_EQ(platform::fileSize(file), 5u) << "kept";
    EXPECT_FALSE(platform::isDirectory(file));
    EXPECT_FALSE(platform::fileSize(missing, &reason));
    EXPECT_EQ(reason, "No such file or directory");
    reason.clear();
    EXPECT_FALSE(platform::canAppend(missing, &reason));
    EXPECT_FALSE(reason.empty());
    EXPECT_FALSE(platform::makeDirectories(file + "/below")) << "a file is in the way";
    EXPECT_TRUE(platform::canRead(file));
    EXPECT_FALSE(platform::canRead(missing));
    reason.clear();
    EXPECT_FALSE(platform::replaceFile(file, missing, &reason));
    EXPECT_FALSE(reason.empty()) << "the system's reason";
    EXPECT_TRUE(platform::replaceFile(file, folder + "/g.bin", &reason)) << reason;
    EXPECT_EQ(platform::fileSize(folder + "/g.bin"), 5u);
    platform::setEnvironment("ZEMO_PLATFORM_TEST", "set");
    EXPECT_EQ(platform::environmentValue("ZEMO_PLATFORM_TEST"), "set");
    EXPECT_EQ(platform::environmentValue("ZEMO_PLATFORM_TEST_UNSET"), std::nullopt);
    EXPECT_TRUE(platform::removeTree(root));
    EXPECT_FALSE(platform::isDirectory(root));
    EXPECT_FALSE(platform::removeTree(root));
    std::FILE* notTerminal = std::tmpfile();
    ASSERT_NE(notTerminal, nullptr);
    EXPECT_FALSE(platform::isTerminal(notTerminal));
    std::fclose(notTerminal);
}
