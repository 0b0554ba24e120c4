// The FFmpeg movie writer's video path: order, timestamps, codec tag, failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <random>
#include <thread>

#include "codec/zemo3.h"
#include "core/memory.h"
#include "writer/ffmpeg_writer.h"
#include "writer/formats.h"
#include "writer_test_util.h"

namespace nox {
namespace {

using test::probeMovie;
using test::RawCodecInfo;
using test::ScratchDir;

constexpr uint32_t kW = 48;
constexpr uint32_t kH = 32;

// A picture that differs in every pixel and every frame.
void paint(uint8_t* data, uint64_t index, uint32_t w, uint32_t h, uint64_t stride)
{
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* p = data + y * stride + x * 4;
            p[0] = uint8_t(index * 7 + x);
            p[1] = uint8_t(index * 3 + y);
            p[2] = uint8_t(index >> 8);
            p[3] = uint8_t(255 - x - y);
        }
}

std::vector<uint8_t> expectedRaw(uint64_t index)
{
    std::vector<uint8_t> pic(kW * kH * 4);
    paint(pic.data(), index, kW, kH, kW * 4);
    return pic;
}

int64_t toFrames(int64_t pts, AVRational timeBase, AVRational frameRate)
{
    return av_rescale_q(pts, timeBase, AVRational{frameRate.den, frameRate.num});
}

// Frames compressed to Zemo 3 on eight threads in a shuffled order: the file
// holds them in frame order, each packet exactly the frame the compressor
// makes of that picture on its own.
class ShuffledZemo3 : public ::testing::TestWithParam<uint32_t> {};

TEST_P(ShuffledZemo3, FramesFromEightThreadsLandInFrameOrder)
{
    const uint32_t type = GetParam();
    ScratchDir dir;
    const std::string path = dir.file("order.mov");
    VideoCodecInfoZemo3 codec;
    codec.setFormatType(type);
    VideoStreamDescription desc(kW, kH, 25, 1, &codec);
    ASSERT_EQ(desc.fourCC, fourCC("ZMQ3"));
    constexpr uint64_t kFrames = 90;
    {
        VideoFormatWriterFFMPEG writer(desc, path, 25, 1, 4, kW, kH, 0, 0, 0);
        ASSERT_TRUE(writer.isOpen());
        EXPECT_TRUE(writer.isCustomCodec());
        EXPECT_EQ(writer.formatName(), "MOV");

        std::vector<uint64_t> order(kFrames);
        for (uint64_t i = 0; i < kFrames; ++i)
            order[i] = i;
        std::shuffle(order.begin(), order.end(), std::mt19937(1234 + type));
        std::atomic<size_t> next{0};
        std::atomic<int> refused{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t)
            threads.emplace_back([&] {
                for (size_t k; (k = next.fetch_add(1)) < kFrames;) {
                    const uint64_t index = order[k];
                    PixelsCached pixels(kW, kH, 4, uint64_t(kW) * kH * 4);
                    paint(pixels.data(), index, kW, kH, pixels.rowBytes());
                    if (!writer.addFrame(index, pixels))
                        ++refused;
                    if (index % 30 == 0)
                        writer.writePendingPackets(true);
                }
            });
        for (auto& t : threads)
            t.join();
        EXPECT_EQ(refused.load(), 0);
        EXPECT_TRUE(writer.writePendingPackets(true));
        EXPECT_EQ(writer.lastWrittenFrame(), int64_t(kFrames) - 1);
        EXPECT_EQ(writer.queuedVideoPackets(), 0u);
        EXPECT_GE(writer.scalerCount(), 1u);
        EXPECT_LE(writer.scalerCount(), 8u);
        EXPECT_GT(writer.getAverageEncodeTime(), 0.0);
    }
    auto movie = probeMovie(path);
    ASSERT_TRUE(movie);
    ASSERT_EQ(movie->streams.size(), 1u);
    const auto& st = movie->streams[0];
    EXPECT_EQ(st.type, AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(st.codecTag, MKTAG('Z', 'M', 'Q', '3'));
    EXPECT_EQ(st.width, int(kW));
    EXPECT_EQ(st.height, int(kH));
    auto video = movie->of(0);
    ASSERT_EQ(video.size(), kFrames);

    Zemo3Compressor reference(desc, type, false);
    std::vector<uint8_t> frame(reference.outputBound());
    for (uint64_t i = 0; i < kFrames; ++i) {
        EXPECT_EQ(toFrames(video[i].pts, st.timeBase, {25, 1}), int64_t(i));
        EXPECT_TRUE(video[i].key) << "every frame is a sync sample";
        std::vector<uint8_t> pic = expectedRaw(i);
        std::fill(frame.begin(), frame.end(), 0);
        int32_t size = reference.compress(frame.data(), pic.data(), uint32_t(frame.size()), 0, kW * 4);
        ASSERT_GT(size, 0);
        frame.resize(size_t(size));
        EXPECT_TRUE(video[i].data == frame) << "frame " << i;
        frame.resize(reference.outputBound());
    }
}

INSTANTIATE_TEST_SUITE_P(FormatTypes, ShuffledZemo3, ::testing::Values(0u, 1u, 2u, 3u));

TEST(FFmpegWriterVideo, MissingFirstFrameWritesNoVideoButStillTheTrailer)
{
    ScratchDir dir;
    const std::string path = dir.file("gap.mov");
    RawCodecInfo codec(fourCC("ZMQ3"));
    VideoStreamDescription desc(kW, kH, 25, 1, &codec);
    {
        VideoFormatWriterFFMPEG writer(desc, path, 25, 1, 4, kW, kH, 0, 0, 0);
        ASSERT_TRUE(writer.isOpen());
        for (uint64_t i = 1; i < 10; ++i) {
            PixelsCached pixels(kW, kH, 4, uint64_t(kW) * kH * 4);
            EXPECT_TRUE(writer.addFrame(i, pixels));
        }
        EXPECT_TRUE(writer.writePendingPackets(true));
        EXPECT_EQ(writer.lastWrittenFrame(), -1);
        EXPECT_EQ(writer.queuedVideoPackets(), 9u);
    }
    auto movie = probeMovie(path);
    // Without the trailer the container has no index and does not open; the
    // demuxer leaves out a track without samples.
    ASSERT_TRUE(movie) << "the trailer makes the file a readable movie";
    EXPECT_TRUE(movie->packets.empty());
}

TEST(FFmpegWriterVideo, NtscRateStampsFramesInTheMuxerTimeBase)
{
    ScratchDir dir;
    const std::string path = dir.file("ntsc.mov");
    RawCodecInfo codec(fourCC("ZMQ3"));
    VideoStreamDescription desc(kW, kH, 30000, 1001, &codec);
    {
        VideoFormatWriterFFMPEG writer(desc, path, 30000, 1001, 4, kW, kH, 0, 0, 0);
        ASSERT_TRUE(writer.isOpen());
        for (uint64_t i : {2, 0, 5, 3, 1, 4}) {
            PixelsCached pixels(kW, kH, 4, uint64_t(kW) * kH * 4);
            EXPECT_TRUE(writer.addFrame(i, pixels));
        }
    }
    auto movie = probeMovie(path);
    ASSERT_TRUE(movie);
    ASSERT_EQ(movie->streams.size(), 1u);
    EXPECT_EQ(movie->streams[0].timeBase.num, 1);
    EXPECT_EQ(movie->streams[0].timeBase.den, 30000);
    auto video = movie->of(0);
    ASSERT_EQ(video.size(), 6u);
    EXPECT_EQ(video[3].pts, 3003);
    EXPECT_EQ(video[3].dts, 3003);
    EXPECT_EQ(video[3].duration, 1001);
}

TEST(FFmpegWriterVideo, RefusedFramesQueueNothing)
{
    ScratchDir dir;
    RawCodecInfo codec(fourCC("ZMQ3"));
    VideoStreamDescription desc(kW, kH, 25, 1, &codec);
    VideoFormatWriterFFMPEG writer(desc, dir.file("refuse.mov"), 25, 1, 4, kW, kH, 0, 0, 0);
    ASSERT_TRUE(writer.isOpen());
    struct Case {
        const char* what;
        uint32_t w, h;
        uint16_t bpp;
    } cases[] = {
        {"bytes per pixel differ", kW, kH, 8},
        {"narrower than the stream", kW - 1, kH, 4},
        {"shorter than the stream", kW, kH - 1, 4},
    };
    for (const auto& c : cases) {
        PixelsCached pixels(c.w, c.h, c.bpp, uint64_t(c.w) * c.h * c.bpp);
        EXPECT_FALSE(writer.addFrame(0, pixels)) << c.what;
    }
    EXPECT_FALSE(writer.writeFrame(0, kW, kH, 4, kW * 4, nullptr));
    EXPECT_EQ(writer.queuedVideoPackets(), 0u);
    EXPECT_EQ(writer.lastWrittenFrame(), -1);
    // A larger buffer is fine: its top-left part is the picture.
    PixelsCached larger(kW + 8, kH + 3, 4, uint64_t(kW + 8) * (kH + 3) * 4);
    EXPECT_TRUE(writer.addFrame(0, larger));
    EXPECT_EQ(writer.lastWrittenFrame(), 0);
}

TEST(FFmpegWriterVideo, AFailedFrameEndsTheMovieBeforeIt)
{
    ScratchDir dir;
    const std::string path = dir.file("fail.mov");
    VideoStreamDescription desc(kW, kH, 25, 1, nullptr);
    desc.fourCC = fourCC("ZMQ3");
    auto compressor = std::make_unique<test::RawCompressor>(desc);
    compressor->failMarker = 0xEE;
    {
        VideoFormatWriterFFMPEG writer(std::move(compressor), path, 25, 1, 4, kW, kH, 0, 0, 0);
        ASSERT_TRUE(writer.isOpen());
        for (uint64_t i : {0, 1, 3, 2, 4}) {
            PixelsCached pixels(kW, kH, 4, uint64_t(kW) * kH * 4);
            paint(pixels.data(), i, kW, kH, pixels.rowBytes());
            if (i == 2)
                pixels.data()[0] = 0xEE;
            EXPECT_EQ(writer.addFrame(i, pixels), i != 2) << i;
        }
        EXPECT_TRUE(writer.writePendingPackets(true));
        EXPECT_EQ(writer.lastWrittenFrame(), 1);
        EXPECT_EQ(writer.queuedVideoPackets(), 2u);  // 3 and 4 wait for 2 forever
        EXPECT_EQ(writer.failure(), "frame 2 could not be compressed");
    }
    auto movie = probeMovie(path);
    ASSERT_TRUE(movie);
    auto video = movie->of(0);
    ASSERT_EQ(video.size(), 2u);
    EXPECT_TRUE(video[1].data == expectedRaw(1));
}

// Each source layout reaches the compressor as the stream's pixel format:
// a plain copy when they agree, a channel swap for BGRA sources.
TEST(FFmpegWriterVideo, SourceLayoutsReachTheCompressor)
{
    struct Case {
        uint32_t bytesPerPixel;
        bool bgra;
    } cases[] = {{2, false}, {4, false}, {8, false}, {4, true}};
    for (const auto& c : cases) {
        ScratchDir dir;
        const std::string path = dir.file("layout.mov");
        VideoStreamDescription desc(kW, kH, 25, 1, nullptr);
        desc.fourCC = fourCC("ZMQ3");
        desc.bytesPerPixel = c.bytesPerPixel;
        std::vector<uint8_t> source(size_t(kW) * kH * c.bytesPerPixel);
        for (size_t i = 0; i < source.size(); ++i)
            source[i] = uint8_t(i * 7 + (i >> 8));
        {
            VideoFormatWriterFFMPEG writer(std::make_unique<test::RawCompressor>(desc), path, 25, 1,
                                           c.bytesPerPixel, kW, kH, 0, 0, 0);
            ASSERT_TRUE(writer.isOpen());
            writer.setBgraOrder(c.bgra);
            EXPECT_TRUE(writer.setMetadata({{"title", "Zemo test"}}));
            EXPECT_TRUE(writer.writeFrame(0, kW, kH, c.bytesPerPixel, kW * c.bytesPerPixel, source.data()));
        }
        auto movie = probeMovie(path);
        ASSERT_TRUE(movie);
        EXPECT_EQ(movie->title, "Zemo test");
        auto video = movie->of(0);
        ASSERT_EQ(video.size(), 1u);
        if (c.bgra)
            for (size_t i = 0; i < source.size(); i += 4)
                std::swap(source[i], source[i + 2]);
        EXPECT_TRUE(video[0].data == source) << c.bytesPerPixel << (c.bgra ? " BGRA" : "");
    }
}

}  // namespace
}  // namespace nox
