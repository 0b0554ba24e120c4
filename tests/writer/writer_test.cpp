// The movie writers: the format registry, the FFmpeg writer's video and sound
// paths with our compressor (order, timestamps, failures), and FFmpeg's own h264 and GIF encoders.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

#include "codec/zemo3.h"
#include "common/movies.h"
#include "common/textures.h"
#include "common/util.h"
#include "core/memory.h"
#include "writer/ffmpeg_writer.h"
#include "writer/formats.h"

namespace nox {
namespace {

constexpr uint32_t kW = 48;
constexpr uint32_t kH = 32;

// FFmpeg logs to stderr; only its errors are kept, so that a failure's context stays readable.
const int quietFfmpeg = (av_log_set_level(AV_LOG_ERROR), 0);

// Files and other handles the process holds open.
size_t openDescriptorCount()
{
#ifdef _WIN32
    DWORD n = 0;
    GetProcessHandleCount(GetCurrentProcess(), &n);
    return n;
#else
    return size_t(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
#endif
}

// Stores each frame as its raw pixels.
class RawCompressor : public Compressor {
public:
    explicit RawCompressor(const VideoStreamDescription& stream) : Compressor(stream) {}
    uint32_t outputBound() const override { return stream_.width * stream_.height * stream_.bytesPerPixel; }
    bool isCustomCodec() const override { return true; }
    int32_t compress(uint8_t* destination, const uint8_t* pixels, uint32_t capacity, int32_t,
                     int32_t rowStride) override
    {
        const uint32_t row = stream_.width * stream_.bytesPerPixel;
        if ((failMarker >= 0 && pixels[0] == failMarker) || capacity < row * stream_.height)
            return 0;
        for (uint32_t y = 0; y < stream_.height; ++y)
            std::memcpy(destination + size_t(y) * row, pixels + size_t(y) * size_t(rowStride), row);
        return int32_t(row * stream_.height);
    }
    int failMarker = -1;  // a frame whose first byte equals this fails to compress
};

// Hands frames 0..n-1 to `add` from `threads` threads in a shuffled order; returns how many it refused.
int addShuffled(uint64_t n, int threads, uint32_t seed, const std::function<bool(uint64_t)>& add)
{
    std::vector<uint64_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), std::mt19937(seed));
    std::atomic<size_t> next{0};
    std::atomic<int> refused{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&] {
            for (size_t k; (k = next++) < n;)
                refused += !add(order[k]);
        });
    for (auto& t : pool)
        t.join();
    return refused;
}

// A pooled buffer holding a random picture of kW x kH, the index its seed, in its top-left corner, as the export
// hands frames over.
std::unique_ptr<PixelsCached> pixels(uint64_t index, uint32_t pad = 0)
{
    auto p = std::make_unique<PixelsCached>(kW + pad, kH + pad, 4, uint64_t(kW + pad) * (kH + pad) * 4);
    const auto pic = testing::makePicture(testing::Content::Random, kW, kH, uint32_t(index));
    for (uint32_t y = 0; y < kH; ++y)
        std::copy_n(&pic[size_t(y) * kW * 4], kW * 4, p->data() + y * p->rowBytes());
    return p;
}

TEST(FormatRegistry, GetExtension)
{
    // clang-format off
    const char* cases[][2] = {{"/out/Clip.MOV", "mov"}, {"clip.mov", "mov"}, {"/a.b/clip", ""}, {"/out/", ""},
                              {"/out/clip.tar.GZ", "gz"}, {"", ""}, {"noext", ""}, {"/dir.x/name.Mp4", "mp4"},
                              {"trailing.", ""}, {"C:\\out\\Clip.MOV", "mov"}};
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(getExtension(c[0]), c[1]) << c[0];
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
        {&movies, "mov", fourCC("ZMQ3"), true},  {&movies, "MOV", fourCC("ZMQ3"), true},  // lower-cased first
        {&movies, "mp", fourCC("ZMQ3"), true},                                            // a substring of "*.mp4"
        {&movies, "", fourCC("ZMQ3"), true},  // the empty extension is in every pattern list
        {&movies, "mov", kAnyCodec, true},       {&movies, "gif", fourCC("gif "), true},
        {&movies, "mov", fourCC("h264"), true},  {&movies, "mov", fourCC("DXT1"), false},  // not a listed codec
        {&movies, "mkv", fourCC("ZMQ3"), false}, {&movies, "png", kAnyCodec, false},
        {&images, "png", kAnyCodec, true},       {&images, "", kAnyCodec, true},
        {&images, "png", fourCC("ZMQ3"), false},  // no codecs: no real FourCC
        {&images, "mov", kAnyCodec, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.format->canWrite(c.extension, c.code), c.accepted)
            << c.format->name() << " " << c.extension << " " << fourCCToString(c.code);
    EXPECT_TRUE(movies.canHandle("/x/y.Mov"));
    EXPECT_FALSE(movies.canHandle("/x/y.mkv"));
    EXPECT_FALSE(movies.isImageFormat());
    EXPECT_TRUE(images.isImageFormat());
}

TEST(FormatRegistry, CreateWriterPicksTheFormatOrLeavesNothing)
{
    testutil::TempDir dir;
    VideoFormatManager manager;
    manager.registerBasicFormats();
    VideoCodecInfoZemo3 zmq3;
    struct Case {
        std::string path;
        CodecFourCC code;  // with our codec for ZMQ3, without a codec otherwise
        bool opens;
    } cases[] = {
        {dir.file("Opens.MOV"), fourCC("ZMQ3"), true},
        {dir.file("clip.mov"), fourCC("DXT1"), false},              // FourCC no format lists
        {dir.file("clip.mkv"), fourCC("ZMQ3"), false},              // extension no format accepts
        {dir.file("clip"), fourCC("ZMQ3"), false},                  // accepted by the patterns, no muxer guessed
        {dir.file("clip.mp"), fourCC("ZMQ3"), false},               // likewise
        {dir.file("clip.mov"), kAnyCodec, false},                   // "0000" without codec: refused in the header
        {dir.file("clip.mp4"), fourCC("ZMQ3"), false},              // the mp4 muxer refuses the tag
        {"/nonexistent-zemo-dir/clip.mov", fourCC("ZMQ3"), false},  // unwritable: fails at open
    };
    for (const auto& c : cases) {
        const size_t fds = openDescriptorCount();
        VideoStreamDescription desc(32, 16, 25, 1, c.code == fourCC("ZMQ3") ? &zmq3 : nullptr);
        desc.fourCC = c.code;
        auto writer = manager.createWriter(c.path, 25, 1, 4, 32, 16, desc, 0, 0, 0);
        EXPECT_EQ(writer != nullptr, c.opens) << c.path;
        EXPECT_EQ(writer ? writer->path() : c.path, c.path);
        writer.reset();
        EXPECT_EQ(std::filesystem::exists(c.path), c.opens) << c.path << ": a failed writer leaves no file";
        EXPECT_EQ(openDescriptorCount(), fds) << c.path;
    }
    // No frame rate, in the call or in the stream's description: nothing opens.
    for (auto [num, den, streamNum, streamDen] :
         {std::tuple{0, 1, 25, 1}, {25, 0, 25, 1}, {25, 1, 0, 1}, {25, 1, 25, 0}}) {
        VideoStreamDescription desc(32, 16, streamNum, streamDen, &zmq3);
        desc.fourCC = fourCC("ZMQ3");
        EXPECT_EQ(manager.createWriter(dir.file("rate.mov"), num, den, 4, 32, 16, desc, 0, 0, 0), nullptr) << num;
    }
}

// Frames compressed to Zemo 3 on eight threads in a shuffled order: the file
// holds them in frame order, each packet exactly the frame the compressor
// makes of that picture on its own.
class ShuffledZemo3 : public ::testing::TestWithParam<uint32_t> {};

TEST_P(ShuffledZemo3, FramesFromEightThreadsLandInFrameOrder)
{
    const uint32_t type = GetParam();
    testutil::TempDir dir;
    const std::string path = dir.file("order.mov");
    VideoCodecInfoZemo3 codec;
    codec.setFormatType(type);
    VideoStreamDescription desc(kW, kH, 25, 1, &codec);
    constexpr uint64_t kFrames = 90;
    {
        VideoFormatWriterFFMPEG writer(desc, path, 25, 1, 4, kW, kH, 0, 0, 0);
        ASSERT_TRUE(writer.isOpen());
        const auto add = [&](uint64_t i) {
            const bool added = writer.addFrame(i, *pixels(i));
            if (i % 30 == 0)
                writer.writePendingPackets(true);
            return added;
        };
        EXPECT_EQ(addShuffled(kFrames, 8, 1234 + type, add), 0);
        EXPECT_TRUE(writer.writePendingPackets(true));
        EXPECT_EQ(writer.lastWrittenFrame(), int64_t(kFrames) - 1);
        EXPECT_EQ(writer.queuedVideoPackets(), 0u);
        EXPECT_LE(writer.scalerCount(), 8u);  // one pixel converter per thread at most, reused
    }
    const auto movie = testutil::readMovie(path);
    ASSERT_EQ(movie.streams.size(), 1u);
    const auto& st = movie.streams[0];
    EXPECT_EQ(std::tuple(st.tag, st.width, st.height),
              std::tuple(uint32_t(MKTAG('Z', 'M', 'Q', '3')), int(kW), int(kH)));
    const auto video = movie.of(AVMEDIA_TYPE_VIDEO);
    ASSERT_EQ(video.size(), kFrames);
    Zemo3Compressor reference(desc, type, false);
    for (uint64_t i = 0; i < kFrames; ++i) {
        EXPECT_EQ(av_rescale_q(video[i].pts, st.timeBase, AVRational{1, 25}), int64_t(i));
        EXPECT_TRUE(video[i].key) << "every frame is a sync sample";
        testutil::Bytes frame(reference.outputBound(), 0);
        const auto pic = testing::makePicture(testing::Content::Random, kW, kH, uint32_t(i));
        frame.resize(size_t(reference.compress(frame.data(), pic.data(), uint32_t(frame.size()), 0, kW * 4)));
        EXPECT_TRUE(video[i].data == frame) << "frame " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(FormatTypes, ShuffledZemo3, ::testing::Values(0u, 1u, 2u, 3u));

// Frames in the given order through a raw compressor that fails on `failing`: a missing first frame
// holds everything back (the trailer still makes a readable movie), a failed frame ends the movie before
// it, timestamps survive the muxer's time base; frames too small or of another depth are refused.
TEST(FFmpegWriterVideo, GapsFailuresRefusalsAndRatesShapeTheMovie)
{
    struct Case {
        std::vector<uint64_t> frames;
        int32_t rateNum, rateDen;
        uint32_t pad;
        uint64_t failing;
        int64_t lastWritten;
        size_t queued;
    } cases[] = {
        {{1, 2, 3, 4, 5, 6, 7, 8, 9}, 25, 1, 0, 99, -1, 9},
        {{2, 0, 5, 3, 1, 4}, 30000, 1001, 5, 99, 5, 0},
        {{0, 1, 3, 2, 4}, 25, 1, 0, 2, 1, 2},  // 3 and 4 wait for 2 forever
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frames.size());
        testutil::TempDir dir;
        VideoStreamDescription desc(kW, kH, c.rateNum, c.rateDen, nullptr);
        desc.fourCC = fourCC("ZMQ3");
        auto compressor = std::make_unique<RawCompressor>(desc);
        compressor->failMarker = 0xEE;
        {
            VideoFormatWriterFFMPEG writer(std::move(compressor), dir.file("m.mov"), c.rateNum, c.rateDen, 4, kW, kH, 0,
                                           0, 0);
            ASSERT_TRUE(writer.isOpen());
            int16_t samples[8] = {};
            EXPECT_FALSE(writer.addAudio(samples, 0, 4));  // no sound stream to take it
            for (auto [w, h, bpp] : {std::tuple{kW, kH, 8u}, {kW - 1, kH, 4u}, {kW, kH - 1, 4u}})
                EXPECT_FALSE(writer.addFrame(0, PixelsCached(w, h, uint16_t(bpp), uint64_t(w) * h * bpp)));
            EXPECT_FALSE(writer.writeFrame(0, kW, kH, 4, kW * 4, nullptr));
            for (uint64_t i : c.frames) {
                auto p = pixels(i, c.pad);
                p->data()[0] = i == c.failing ? 0xEE : 0;
                EXPECT_EQ(writer.addFrame(i, *p), i != c.failing) << i;
            }
            EXPECT_TRUE(writer.writePendingPackets(true));
            EXPECT_EQ(writer.lastWrittenFrame(), c.lastWritten);
            EXPECT_EQ(writer.queuedVideoPackets(), c.queued);
            EXPECT_EQ(writer.failure(), c.failing < 99 ? "frame 2 could not be compressed" : "");
        }
        const auto movie = testutil::readMovie(dir.file("m.mov"));
        ASSERT_TRUE(movie.opened);
        ASSERT_EQ(movie.packets.size(), size_t(c.lastWritten + 1));
        for (size_t i = 0; i < movie.packets.size(); ++i) {
            const auto& p = movie.packets[i];
            const AVRational frame{c.rateDen, c.rateNum}, timeBase = movie.streams[0].timeBase;
            EXPECT_EQ(av_rescale_q(p.pts, timeBase, frame), int64_t(i));
            EXPECT_EQ(p.dts, p.pts);
            EXPECT_EQ(av_rescale_q(p.duration, timeBase, frame), 1);
            auto expected = testing::makePicture(testing::Content::Random, kW, kH, uint32_t(i));
            expected[0] = 0;
            EXPECT_TRUE(p.data == expected) << "frame " << i;
        }
    }
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
        testutil::TempDir dir;
        VideoStreamDescription desc(kW, kH, 25, 1, nullptr);
        desc.fourCC = fourCC("ZMQ3");
        desc.bytesPerPixel = c.bytesPerPixel;
        testutil::Bytes source(size_t(kW) * kH * c.bytesPerPixel);
        for (size_t i = 0; i < source.size(); ++i)
            source[i] = uint8_t(i * 7 + (i >> 8));
        {
            VideoFormatWriterFFMPEG writer(std::make_unique<RawCompressor>(desc), dir.file("layout.mov"), 25, 1,
                                           c.bytesPerPixel, kW, kH, 0, 0, 0);
            ASSERT_TRUE(writer.isOpen());
            writer.setBgraOrder(c.bgra);
            EXPECT_TRUE(writer.setMetadata({{"title", "Zemo test"}}));
            EXPECT_TRUE(writer.writeFrame(0, kW, kH, c.bytesPerPixel, kW * c.bytesPerPixel, source.data()));
        }
        const auto movie = testutil::readMovie(dir.file("layout.mov"));
        EXPECT_EQ(movie.title, "Zemo test");
        if (c.bgra)
            for (size_t i = 0; i < source.size(); i += 4)
                std::swap(source[i], source[i + 2]);
        EXPECT_TRUE(movie.frames() == std::vector<testutil::Bytes>{source}) << c.bytesPerPixel << " " << c.bgra;
    }
}

// Chunks of every sample layout become packets stamped by sample position.
TEST(FFmpegWriterAudio, PcmByLayoutStampedBySamplePosition)
{
    struct Case {
        uint32_t channels, bytesPerSample, sampleRate, chunk;
        AVCodecID codec;
    } cases[] = {{2, 2, 48000, 1600, AV_CODEC_ID_PCM_S16LE},
                 {6, 2, 48000, 1600, AV_CODEC_ID_PCM_S16LE},
                 {1, 1, 44100, 1471, AV_CODEC_ID_PCM_U8},  // an odd byte count
                 {2, 4, 48000, 1600, AV_CODEC_ID_PCM_S32LE}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.channels) + " channels of " + std::to_string(c.bytesPerSample) + " bytes");
        constexpr uint32_t kChunks = 6;
        testutil::TempDir dir;
        VideoCodecInfoZemo3 codec;
        VideoStreamDescription desc(kW, kH, 30, 1, &codec);
        const size_t chunkBytes = size_t(c.chunk) * c.channels * c.bytesPerSample;
        testutil::Bytes sound(chunkBytes * kChunks);
        for (size_t i = 0; i < sound.size(); ++i)
            sound[i] = uint8_t(i * 31 + (i >> 9));
        {
            VideoFormatWriterFFMPEG writer(desc, dir.file("sound.mov"), 30, 1, 4, kW, kH, c.channels, c.bytesPerSample,
                                           c.sampleRate);
            ASSERT_TRUE(writer.isOpen());
            EXPECT_EQ(writer.getAudioFrameSize(), 0);  // PCM takes chunks of any size
            for (uint32_t k = 0; k < kChunks; ++k) {
                // The position argument jumps about; the timestamps must not.
                EXPECT_TRUE(writer.addAudio(sound.data() + k * chunkBytes, k % 2 ? 1000000u * k : 7, c.chunk));
                EXPECT_TRUE(writer.addFrame(k, PixelsCached(kW, kH, 4, uint64_t(kW) * kH * 4)));
            }
            EXPECT_TRUE(writer.writePendingPackets(true));
            EXPECT_EQ(writer.queuedAudioPackets(), 0u);
        }
        const auto movie = testutil::readMovie(dir.file("sound.mov"));
        ASSERT_EQ(movie.streams.size(), 2u);
        // PCM of the sample size, the default layout of the channel count, one tick per sample.
        const auto& st = movie.streams[1];
        AVChannelLayout layout{};
        av_channel_layout_default(&layout, int(c.channels));
        EXPECT_EQ(std::tuple(st.type, st.codecId, st.channels, st.channelMask, st.sampleRate, st.timeBase.num,
                             st.timeBase.den),
                  std::tuple(AVMEDIA_TYPE_AUDIO, c.codec, int(c.channels), layout.u.mask, int(c.sampleRate), 1,
                             int(c.sampleRate)));
        // The demuxer may cut stored PCM into smaller packets; what must hold is
        // that the samples are the caller's bytes in order, every packet's pts
        // is the sample position where it starts, and each chunk starts a packet.
        const size_t frameBytes = size_t(c.channels) * c.bytesPerSample;
        std::vector<int64_t> starts;
        size_t read = 0;
        for (const auto& p : movie.of(AVMEDIA_TYPE_AUDIO)) {
            EXPECT_EQ(p.pts, int64_t(read / frameBytes));
            starts.push_back(p.pts);
            read += p.data.size();
        }
        EXPECT_TRUE(movie.sound() == sound);
        for (uint32_t k = 0; k < kChunks; ++k)
            EXPECT_NE(std::find(starts.begin(), starts.end(), int64_t(k) * c.chunk), starts.end()) << "chunk " << k;
    }
}

// Shuffled frames from four threads make a playable stream in frame order; h264 movies carry
// AC-3 made from 32-bit stereo sound.
TEST(InternalEncoder, ShuffledFramesAndSoundMakeAPlayableMovie)
{
    struct Case {
        CodecFourCC fourcc;
        const char* file;
        AVCodecID codec;
        uint32_t channels;
    } cases[] = {{fourCC("h264"), "clip.mov", AV_CODEC_ID_H264, 2},
                 {fourCC("h264"), "clip.mp4", AV_CODEC_ID_H264, 0},
                 {fourCC("gif "), "clip.gif", AV_CODEC_ID_GIF, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        if (!avcodec_find_encoder(c.codec) || !avcodec_find_encoder(AV_CODEC_ID_AC3))
            continue;  // this libavcodec lacks an encoder
        testutil::TempDir dir;
        VideoStreamDescription desc(kW, kH, 25, 1, nullptr);
        desc.fourCC = c.fourcc;
        constexpr uint64_t kFrames = 40;
        {
            VideoFormatManager manager;
            manager.registerBasicFormats();
            auto writer = manager.createWriter(dir.file(c.file), 25, 1, 4, kW, kH, desc, c.channels, 4, 48000);
            ASSERT_NE(writer, nullptr);
            EXPECT_FALSE(writer->isCustomCodec());
            if (c.channels) {  // whole codec frames of sound, as the host is told to give them
                const int frameSize = writer->getAudioFrameSize();
                ASSERT_GT(frameSize, 0);
                std::vector<int32_t> samples(size_t(frameSize) * 2);
                for (size_t i = 0; i < samples.size(); ++i)
                    samples[i] = int32_t((i % 200) * 10000000) - 1000000000;
                for (int i = 0; i < 8; ++i)
                    EXPECT_TRUE(writer->addAudio(samples.data(), 0, uint32_t(frameSize)));
            }
            const auto add = [&](uint64_t i) {  // a bar that moves one column per frame
                PixelsCached pixels(kW, kH, 4, uint64_t(kW) * kH * 4);
                for (uint32_t y = 0; y < kH; ++y)
                    std::fill_n(pixels.data() + y * pixels.rowBytes() + (i % kW) * 4, 4, uint8_t(255));
                return writer->addFrame(i, pixels);
            };
            const double start = platform::monotonicMilliseconds();
            EXPECT_EQ(addShuffled(kFrames, 4, 99, add), 0);
            EXPECT_TRUE(writer->writePendingPackets(true));
            const double mean = writer->getAverageEncodeTime();  // of the last frames, each within the whole run
            EXPECT_TRUE(mean > 0 && mean <= platform::monotonicMilliseconds() - start) << mean;
        }
        const auto movie = testutil::readMovie(dir.file(c.file));
        ASSERT_EQ(movie.streams.size(), 1u + (c.channels > 0));
        EXPECT_EQ(std::tuple(movie.streams[0].codecId, movie.streams[0].width), std::tuple(c.codec, int(kW)));
        if (c.channels) {
            EXPECT_EQ(std::tuple(movie.streams[1].codecId, movie.streams[1].channels), std::tuple(AV_CODEC_ID_AC3, 2));
            EXPECT_FALSE(movie.sound().empty());
        }
        const auto video = movie.of(AVMEDIA_TYPE_VIDEO);
        ASSERT_EQ(video.size(), kFrames);
        // Presentation times are the frames 0..n-1, each once.
        std::vector<int64_t> frames;
        for (const auto& p : video)
            frames.push_back(av_rescale_q(p.pts, movie.streams[0].timeBase, AVRational{1, 25}));
        std::sort(frames.begin(), frames.end());
        for (uint64_t i = 0; i < kFrames; ++i)
            EXPECT_EQ(frames[i], int64_t(i));
        EXPECT_TRUE(video[0].key);
    }
}

// The AC-3 encoder takes float planes: interleaved 32-bit stereo becomes left, then right.
TEST(InternalEncoderSound, Stereo32BecomesFloatPlanes)
{
    VideoStreamDescription desc(kW, kH, 25, 1, nullptr);
    desc.fourCC = fourCC("h264");
    FFMPEGInternalEncoder encoder(desc);
    AVCodecContext* context = avcodec_alloc_context3(encoder.findAudioCodec(2, 4, 48000));
    context->sample_fmt = AV_SAMPLE_FMT_FLTP;
    encoder.setAudioContext(context);
    const int32_t interleaved[6] = {INT32_MIN, 1 << 30, -(1 << 29), 0, 1 << 28, -(1 << 27)};
    const auto converted = encoder.convertAudio(interleaved, 4, 3, 2);
    ASSERT_EQ(converted.size(), 6 * sizeof(float));
    const float expected[6] = {-1.0f, -0.25f, 0.125f, 0.5f, 0.0f, -0.0625f};
    for (size_t i = 0; i < 6; ++i)
        EXPECT_NEAR(reinterpret_cast<const float*>(converted.data())[i], expected[i], 1e-6f) << i;
}

TEST(InternalEncoderSetup, RateControlFollowsTheStreamSettings)
{
    struct Case {
        double rateFactor, keyFrameInterval;
        int32_t rateNum, rateDen;
        int64_t bitRate;
        int gop;
    } cases[] = {
        {-1.0, 0.5, 25, 1, 0, 12},                      // constant quality, a key frame every half second
        {0.5, 1.0, 30000, 1001, 640 * 480 * 6, 29},     // width × height × 12 × factor
        {0.001, 0.5, 25, 1, 640 * 480 * 12 / 100, 12},  // factor floor of 1 %
        {-1.0, 0.0, 25, 1, 0, 1},                       // at least every frame
    };
    for (const auto& c : cases) {
        VideoStreamDescription desc(640, 480, c.rateNum, c.rateDen, nullptr);
        desc.fourCC = fourCC("h264");
        desc.rateFactor = c.rateFactor;
        desc.keyFrameInterval = c.keyFrameInterval;
        FFMPEGInternalEncoder encoder(desc);
        encoder.setVideoContext(avcodec_alloc_context3(nullptr));
        encoder.configureVideoContext();
        const AVCodecContext* v = encoder.videoContext();
        EXPECT_EQ(std::tuple(v->bit_rate, v->gop_size, v->max_b_frames, v->pix_fmt),
                  std::tuple(c.bitRate, c.gop, 1, AV_PIX_FMT_YUV420P))
            << c.rateFactor << " " << c.keyFrameInterval;
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
