// The audio path: PCM by sample size, default channel layouts, sample-position
// timestamps, and movies without sound.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>

#include "core/memory.h"
#include "writer/ffmpeg_writer.h"
#include "writer_test_util.h"

namespace nox {
namespace {

using test::probeMovie;
using test::RawCodecInfo;
using test::ScratchDir;

constexpr uint32_t kW = 32;
constexpr uint32_t kH = 16;

struct AudioCase {
    const char* name;
    uint32_t channels;
    uint32_t bytesPerSample;
    uint32_t sampleRate;
    uint32_t chunk;
    AVCodecID codec;
    uint64_t layout;
};

class FFmpegWriterAudio : public ::testing::TestWithParam<AudioCase> {};

TEST_P(FFmpegWriterAudio, ChunksBecomePacketsStampedBySamplePosition)
{
    const AudioCase& c = GetParam();
    ScratchDir dir;
    const std::string path = dir.file("sound.mov");
    RawCodecInfo codec(fourCC("ZMQ3"));
    VideoStreamDescription desc(kW, kH, 30, 1, &codec);
    constexpr uint32_t kChunks = 6;
    const size_t chunkBytes = size_t(c.chunk) * c.channels * c.bytesPerSample;
    std::vector<uint8_t> sound(chunkBytes * kChunks);
    for (size_t i = 0; i < sound.size(); ++i)
        sound[i] = uint8_t(i * 31 + (i >> 9));
    {
        VideoFormatWriterFFMPEG writer(desc, path, 30, 1, 4, kW, kH, c.channels, c.bytesPerSample, c.sampleRate);
        ASSERT_TRUE(writer.isOpen());
        EXPECT_EQ(writer.getAudioFrameSize(), 0);  // PCM takes chunks of any size
        for (uint32_t k = 0; k < kChunks; ++k) {
            // The position argument jumps about; the timestamps must not.
            const uint64_t position = (k % 2) ? 1000000u * k : 7;
            EXPECT_TRUE(writer.addAudio(sound.data() + k * chunkBytes, position, c.chunk));
            PixelsCached pixels(kW, kH, 4, uint64_t(kW) * kH * 4);
            EXPECT_TRUE(writer.addFrame(k, pixels));
        }
        EXPECT_TRUE(writer.writePendingPackets(true));
        EXPECT_EQ(writer.queuedAudioPackets(), 0u);
    }
    auto movie = probeMovie(path);
    ASSERT_TRUE(movie);
    ASSERT_EQ(movie->streams.size(), 2u);
    const auto& st = movie->streams[1];
    EXPECT_EQ(st.type, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(st.codecId, c.codec);
    EXPECT_EQ(st.channels, int(c.channels));
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, int(c.channels));
    EXPECT_EQ(st.channelMask, layout.u.mask);
    if (c.layout) {
        EXPECT_EQ(st.channelMask, c.layout);
    }
    EXPECT_EQ(st.sampleRate, int(c.sampleRate));
    EXPECT_EQ(st.timeBase.num, 1);
    EXPECT_EQ(st.timeBase.den, int(c.sampleRate));

    // The demuxer may cut stored PCM into smaller packets; what must hold is
    // that the samples are the caller's bytes in order, every packet's pts
    // is the sample position where it starts, and each chunk starts a packet.
    auto audio = movie->of(1);
    std::vector<uint8_t> read;
    std::vector<int64_t> starts;
    const size_t frameBytes = size_t(c.channels) * c.bytesPerSample;
    for (const auto& p : audio) {
        EXPECT_EQ(p.pts, int64_t(read.size() / frameBytes));
        starts.push_back(p.pts);
        read.insert(read.end(), p.data.begin(), p.data.end());
    }
    EXPECT_TRUE(read == sound);
    for (uint32_t k = 0; k < kChunks; ++k)
        EXPECT_NE(std::find(starts.begin(), starts.end(), int64_t(k) * c.chunk), starts.end()) << "chunk " << k;
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, FFmpegWriterAudio,
    ::testing::Values(AudioCase{"Stereo16", 2, 2, 48000, 1600, AV_CODEC_ID_PCM_S16LE, AV_CH_LAYOUT_STEREO},
                      AudioCase{"SixChannels", 6, 2, 48000, 1600, AV_CODEC_ID_PCM_S16LE, 0},
                      AudioCase{"MonoU8", 1, 1, 44100, 1470, AV_CODEC_ID_PCM_U8, AV_CH_LAYOUT_MONO},
                      AudioCase{"Stereo32", 2, 4, 48000, 1600, AV_CODEC_ID_PCM_S32LE, AV_CH_LAYOUT_STEREO}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FFmpegWriterAudioPath, SampleSizeChoosesThePcmEncoder)
{
    VideoStreamDescription desc(kW, kH, 25, 1, nullptr);
    FFMPEGCustomEncoder encoder(std::make_unique<test::RawCompressor>(desc));
    struct Case {
        uint32_t bytes;
        AVCodecID id;
    } cases[] = {{1, AV_CODEC_ID_PCM_U8}, {2, AV_CODEC_ID_PCM_S16LE}, {3, AV_CODEC_ID_PCM_S32LE},
                 {4, AV_CODEC_ID_PCM_S32LE}};
    for (const auto& c : cases) {
        const AVCodec* codec = encoder.findAudioCodec(2, c.bytes, 48000);
        ASSERT_NE(codec, nullptr) << c.bytes;
        EXPECT_EQ(codec->id, c.id) << c.bytes;
    }
}

// The packets themselves, before a demuxer regroups them: one per chunk,
// stamped from the running sample position and numbered in order.
TEST(FFmpegWriterAudioPath, EncoderStampsPacketsFromTheRunningSamplePosition)
{
    VideoStreamDescription desc(kW, kH, 25, 1, nullptr);
    FFMPEGCustomEncoder encoder(std::make_unique<test::RawCompressor>(desc));
    const AVCodec* codec = encoder.findAudioCodec(2, 2, 48000);
    ASSERT_NE(codec, nullptr);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    ASSERT_NE(context, nullptr);
    encoder.setAudioContext(context);
    av_channel_layout_default(&context->ch_layout, 2);
    context->sample_fmt = codec->sample_fmts[0];
    context->sample_rate = 48000;
    context->time_base = AVRational{1, 48000};
    ASSERT_GE(avcodec_open2(context, codec, nullptr), 0);

    std::vector<int16_t> samples(2 * 1600);
    for (uint32_t k = 0; k < 4; ++k) {
        AVFrame* frame = av_frame_alloc();
        frame->nb_samples = 1600;
        frame->format = context->sample_fmt;
        frame->sample_rate = 48000;
        av_channel_layout_copy(&frame->ch_layout, &context->ch_layout);
        ASSERT_GE(avcodec_fill_audio_frame(frame, 2, context->sample_fmt,
                                           reinterpret_cast<const uint8_t*>(samples.data()), 6400, 1), 0);
        bool failed = true;
        PacketList packets = encoder.encodeAudio(frame, 1, AVRational{1, 48000}, failed);
        av_frame_free(&frame);
        EXPECT_FALSE(failed);
        ASSERT_EQ(packets.size(), 1u);
        EXPECT_EQ(packets[0].sequence, k);
        EXPECT_EQ(packets[0].packet->size, 6400);
        EXPECT_EQ(packets[0].packet->pts, int64_t(k) * 1600);
        EXPECT_EQ(packets[0].packet->dts, int64_t(k) * 1600);
        EXPECT_EQ(packets[0].packet->duration, 1600);
        EXPECT_EQ(packets[0].packet->stream_index, 1);
    }
    // Draining: nothing is held back, and a second drain is no error.
    for (int i = 0; i < 2; ++i) {
        bool failed = true;
        EXPECT_TRUE(encoder.encodeAudio(nullptr, 1, AVRational{1, 48000}, failed).empty());
        EXPECT_FALSE(failed);
    }
}

TEST(FFmpegWriterAudioPath, MovieWithoutSoundHasOneStream)
{
    ScratchDir dir;
    const std::string path = dir.file("silent.mov");
    RawCodecInfo codec(fourCC("ZMQ3"));
    VideoStreamDescription desc(kW, kH, 25, 1, &codec);
    {
        VideoFormatWriterFFMPEG writer(desc, path, 25, 1, 4, kW, kH, 0, 0, 0);
        ASSERT_TRUE(writer.isOpen());
        EXPECT_EQ(writer.getAudioFrameSize(), 0);
        int16_t samples[8] = {};
        EXPECT_FALSE(writer.addAudio(samples, 0, 4));  // no audio stream to take it
        PixelsCached pixels(kW, kH, 4, uint64_t(kW) * kH * 4);
        EXPECT_TRUE(writer.addFrame(0, pixels));
    }
    auto movie = probeMovie(path);
    ASSERT_TRUE(movie);
    ASSERT_EQ(movie->streams.size(), 1u);
    EXPECT_EQ(movie->streams[0].type, AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(movie->packets.size(), 1u);
}

}  // namespace
}  // namespace nox
