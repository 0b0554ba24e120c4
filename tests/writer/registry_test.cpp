// The format registry: extensions, FourCC rules, writer creation and failure,
// and its creation by the core's bring-up.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "codec/zemo3.h"
#include "core/context.h"
#include "core/logger.h"
#include "writer/formats.h"
#include "writer_test_util.h"

namespace nox {
namespace {

using test::openDescriptorCount;
using test::RawCodecInfo;
using test::ScratchDir;

TEST(FormatRegistry, GetExtension)
{
    struct Case {
        const char* path;
        const char* extension;
    } cases[] = {
        {"/out/Clip.MOV", "mov"},   {"clip.mov", "mov"},         {"/a.b/clip", ""},
        {"/out/clip.tar.GZ", "gz"}, {"/out/", ""},               {"", ""},
        {"noext", ""},              {"/dir.x/name.Mp4", "mp4"}, {"C:\\out\\Clip.MOV", "mov"},
        {"trailing.", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(getExtension(c.path), c.extension) << c.path;
}

TEST(FormatRegistry, CanWriteFollowsPatternsAndCodecs)
{
    VideoFormatFFMPEG movies;
    ImageVideoFormat images;
    struct Case {
        const VideoFormat* format;
        const char* extension;
        CodecFourCC code;
        bool accepted;
    } cases[] = {
        {&movies, "mov", fourCC("ZMQ3"), true},
        {&movies, "MOV", fourCC("ZMQ3"), true},   // lower-cased first
        {&movies, "mp", fourCC("ZMQ3"), true},    // a substring of "*.mp4"
        {&movies, "", fourCC("ZMQ3"), true},      // the empty extension is in every pattern list
        {&movies, "mov", kAnyCodec, true},
        {&movies, "gif", fourCC("gif "), true},
        {&movies, "mov", fourCC("h264"), true},
        {&movies, "mov", fourCC("DXT1"), false},  // not a listed codec
        {&movies, "mkv", fourCC("ZMQ3"), false},
        {&movies, "png", kAnyCodec, false},
        {&images, "png", kAnyCodec, true},
        {&images, "", kAnyCodec, true},
        {&images, "png", fourCC("ZMQ3"), false},  // no codecs: no real FourCC
        {&images, "mov", kAnyCodec, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.format->canWrite(c.extension, c.code), c.accepted)
            << c.format->name() << " " << c.extension << " " << fourCCToString(c.code);
    EXPECT_TRUE(movies.canHandle("/x/y.Mov"));
    EXPECT_FALSE(movies.canHandle("/x/y.mkv"));
    EXPECT_EQ(movies.codecs().size(), 6u);
    EXPECT_EQ(movies.codecs()[1], fourCC("ZMQ3"));
    EXPECT_FALSE(movies.isImageFormat());
    EXPECT_TRUE(images.isImageFormat());
}

TEST(FormatRegistry, CreateWriterPicksTheFormatOrGivesNull)
{
    ScratchDir dir;
    VideoFormatManager manager;
    manager.registerBasicFormats();
    ASSERT_EQ(manager.formats().size(), 2u);
    VideoCodecInfoZemo3 zmq3;
    RawCodecInfo dxt1(fourCC("DXT1"));

    struct Case {
        std::string path;
        VideoCodecInfo* codec;
        bool opens;
    } cases[] = {
        {dir.file("Clip.MOV"), &zmq3, true},
        {dir.file("clip.mov"), &dxt1, false},          // FourCC no format lists
        {dir.file("clip.mkv"), &zmq3, false},          // extension no format accepts
        {dir.file("clip"), &zmq3, false},              // accepted by the patterns, no muxer guessed
        {dir.file("clip.mp"), &zmq3, false},           // likewise
        {dir.file("clip.mov"), nullptr, false},        // "0000" without codec: refused in the header, file removed
        {dir.file("clip.mp4"), &zmq3, false},          // the mp4 muxer refuses the tag: file removed
        {"/nonexistent-zemo-dir/clip.mov", &zmq3, false},  // unwritable: fails at open
    };
    for (const auto& c : cases) {
        const size_t fds = openDescriptorCount();
        VideoStreamDescription desc(32, 16, 25, 1, c.codec);
        auto writer = manager.createWriter(c.path, 25, 1, 4, 32, 16, desc, 0, 0, 0);
        EXPECT_EQ(writer != nullptr, c.opens) << c.path;
        if (writer) {
            EXPECT_EQ(writer->path(), c.path);
            EXPECT_EQ(writer->formatName(), "MOV");
            writer.reset();
            EXPECT_TRUE(std::filesystem::exists(c.path));
        } else {
            EXPECT_FALSE(std::filesystem::exists(c.path)) << c.path << ": a failed writer leaves no file";
        }
        EXPECT_EQ(openDescriptorCount(), fds) << c.path;
    }
}

std::mutex g_linesLock;
std::vector<std::string> g_lines;
void collectLine(const char* line)
{
    std::lock_guard<std::mutex> guard(g_linesLock);
    g_lines.emplace_back(line);
}

TEST(FormatRegistry, BringUpWithTheExportMaskCreatesTheRegistry)
{
    useVideoFormats();
    useVideoFormats();  // idempotent
    LogSink previous = setLogSink(&collectLine);
    // A context of its own rather than the process-wide one, which other
    // tests of this program already use for their pixel buffers.
    auto owned = std::make_unique<Noxcore>(132);
    Noxcore* context = owned.get();
    ASSERT_TRUE(bringUp(context));
    setLogSink(previous);

    VideoFormatManager* manager = videoFormatManager(context);
    ASSERT_NE(manager, nullptr);
    ASSERT_EQ(manager->formats().size(), 2u);
    EXPECT_EQ(manager->formats()[0]->name(), "FFMPEG video file");
    EXPECT_EQ(manager->formats()[1]->name(), "Image file");

    std::vector<std::string> formatLines;
    for (const auto& line : g_lines)
        if (line.find("VideoFormatManager") != std::string::npos || line.find("formats") != std::string::npos)
            formatLines.push_back(line);
    const std::vector<std::string> expected = {
        "   INFO:     Creating VideoFormatManager",
        "   INFO:         Registering basic formats",
        "   INFO:         Registered 2 formats",
        "   INFO:     Created VideoFormatManager",
    };
    EXPECT_EQ(formatLines, expected);

    shutdown(context);
    destroyManagers(context);
    EXPECT_EQ(videoFormatManager(context), nullptr);
    EXPECT_EQ(videoFormatManager(nullptr), nullptr);
}

}  // namespace
}  // namespace nox
