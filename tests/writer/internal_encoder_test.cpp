// Writers given a description without a codec: FFmpeg's own h264 and GIF
// encoders, fed in frame order whatever order the frames arrive in.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>

#include "core/memory.h"
#include "writer/ffmpeg_writer.h"
#include "writer/formats.h"
#include "writer_test_util.h"

namespace nox {
namespace {

using test::probeMovie;
using test::ScratchDir;

constexpr uint32_t kW = 64;
constexpr uint32_t kH = 48;

struct InternalCase {
    const char* name;
    const char* fourcc;
    const char* file;
    AVCodecID codec;
};

class InternalEncoder : public ::testing::TestWithParam<InternalCase> {};

TEST_P(InternalEncoder, ShuffledFramesFromFourThreadsMakeAPlayableStream)
{
    const InternalCase& c = GetParam();
    const AVCodec* available = avcodec_find_encoder(c.codec);
    if (!available)
        GTEST_SKIP() << "this libavcodec has no " << avcodec_get_name(c.codec) << " encoder";

    ScratchDir dir;
    const std::string path = dir.file(c.file);
    VideoStreamDescription desc(kW, kH, 25, 1, nullptr);
    desc.fourCC = fourCC(*reinterpret_cast<const char(*)[5]>(c.fourcc));
    constexpr uint64_t kFrames = 40;
    {
        VideoFormatManager manager;
        manager.registerBasicFormats();
        auto writer = manager.createWriter(path, 25, 1, 4, kW, kH, desc, 0, 0, 0);
        if (!writer)
            GTEST_SKIP() << "the " << available->name << " encoder did not open here";
        EXPECT_FALSE(writer->isCustomCodec());

        std::vector<uint64_t> order(kFrames);
        for (uint64_t i = 0; i < kFrames; ++i)
            order[i] = i;
        std::shuffle(order.begin(), order.end(), std::mt19937(99));
        std::atomic<size_t> next{0};
        std::atomic<int> refused{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&] {
                for (size_t k; (k = next.fetch_add(1)) < kFrames;) {
                    PixelsCached pixels(kW, kH, 4, uint64_t(kW) * kH * 4);
                    // A bar that moves one column per frame.
                    for (uint32_t y = 0; y < kH; ++y)
                        std::fill_n(pixels.data() + y * pixels.rowBytes() + (order[k] % kW) * 4, 4, uint8_t(255));
                    if (!writer->addFrame(order[k], pixels))
                        ++refused;
                }
            });
        for (auto& t : threads)
            t.join();
        EXPECT_EQ(refused.load(), 0);
        EXPECT_TRUE(writer->writePendingPackets(true));
    }
    auto movie = probeMovie(path);
    ASSERT_TRUE(movie);
    ASSERT_EQ(movie->streams.size(), 1u);
    EXPECT_EQ(movie->streams[0].codecId, c.codec);
    EXPECT_EQ(movie->streams[0].width, int(kW));
    auto video = movie->of(0);
    ASSERT_EQ(video.size(), kFrames);
    // Presentation times are the frames 0..n-1, each once.
    std::vector<int64_t> frames;
    for (const auto& p : video)
        frames.push_back(av_rescale_q(p.pts, movie->streams[0].timeBase, AVRational{1, 25}));
    std::sort(frames.begin(), frames.end());
    for (uint64_t i = 0; i < kFrames; ++i)
        EXPECT_EQ(frames[i], int64_t(i));
    EXPECT_TRUE(video[0].key);
}

INSTANTIATE_TEST_SUITE_P(Codecs, InternalEncoder,
                         ::testing::Values(InternalCase{"H264Mov", "h264", "clip.mov", AV_CODEC_ID_H264},
                                           InternalCase{"H264Mp4", "h264", "clip.mp4", AV_CODEC_ID_H264},
                                           InternalCase{"Gif", "gif ", "clip.gif", AV_CODEC_ID_GIF}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(InternalEncoderSound, H264MoviesCarryAc3FromStereo32)
{
    if (!avcodec_find_encoder(AV_CODEC_ID_H264) || !avcodec_find_encoder(AV_CODEC_ID_AC3))
        GTEST_SKIP() << "this libavcodec lacks the h264 or AC-3 encoder";
    ScratchDir dir;
    const std::string path = dir.file("sound.mov");
    VideoStreamDescription desc(kW, kH, 25, 1, nullptr);
    desc.fourCC = fourCC("h264");
    {
        VideoFormatWriterFFMPEG writer(desc, path, 25, 1, 4, kW, kH, 2, 4, 48000);
        if (!writer.isOpen())
            GTEST_SKIP() << "the h264 encoder did not open here";
        const int frameSize = writer.getAudioFrameSize();
        ASSERT_GT(frameSize, 0);
        std::vector<int32_t> samples(size_t(frameSize) * 2);
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = int32_t((i % 200) * 10000000) - 1000000000;
        for (uint64_t i = 0; i < 8; ++i) {
            EXPECT_TRUE(writer.addAudio(samples.data(), 0, uint32_t(frameSize)));
            PixelsCached pixels(kW, kH, 4, uint64_t(kW) * kH * 4);
            EXPECT_TRUE(writer.addFrame(i, pixels));
        }
    }
    auto movie = probeMovie(path);
    ASSERT_TRUE(movie);
    ASSERT_EQ(movie->streams.size(), 2u);
    EXPECT_EQ(movie->streams[1].codecId, AV_CODEC_ID_AC3);
    EXPECT_EQ(movie->streams[1].channels, 2);
    EXPECT_FALSE(movie->of(1).empty());
    EXPECT_EQ(movie->of(0).size(), 8u);
}

TEST(InternalEncoderSetup, RateControlFollowsTheDescription)
{
    struct Case {
        double rateFactor;
        double keyFrameInterval;
        int32_t rateNum, rateDen;
        int64_t bitRate;
        int gop;
    } cases[] = {
        {-1.0, 0.5, 25, 1, 0, 12},                     // constant quality, a key frame every half second
        {0.5, 1.0, 30000, 1001, 640 * 480 * 6, 29},    // width × height × 12 × factor
        {0.001, 0.5, 25, 1, 640 * 480 * 12 / 100, 12}, // factor floor of 1 %
        {-1.0, 0.0, 25, 1, 0, 1},                      // at least every frame
    };
    for (const auto& c : cases) {
        VideoStreamDescription desc(640, 480, c.rateNum, c.rateDen, nullptr);
        desc.fourCC = fourCC("h264");
        desc.rateFactor = c.rateFactor;
        desc.keyFrameInterval = c.keyFrameInterval;
        FFMPEGInternalEncoder encoder(desc);
        encoder.setVideoContext(avcodec_alloc_context3(nullptr));
        encoder.configureVideoContext();
        EXPECT_EQ(encoder.videoContext()->bit_rate, c.bitRate) << c.rateFactor;
        EXPECT_EQ(encoder.videoContext()->gop_size, c.gop) << c.keyFrameInterval;
        EXPECT_EQ(encoder.videoContext()->max_b_frames, 1);
        EXPECT_EQ(encoder.videoContext()->pix_fmt, AV_PIX_FMT_YUV420P);
    }
    VideoStreamDescription gif(64, 48, 10, 1, nullptr);
    gif.fourCC = fourCC("gif ");
    FFMPEGInternalEncoder gifEncoder(gif);
    EXPECT_EQ(gifEncoder.findAudioCodec(2, 2, 48000), nullptr);  // no sound in GIF
    gifEncoder.setVideoContext(avcodec_alloc_context3(nullptr));
    gifEncoder.configureVideoContext();
    EXPECT_EQ(gifEncoder.videoContext()->pix_fmt, AV_PIX_FMT_RGB8);
}

}  // namespace
}  // namespace nox
