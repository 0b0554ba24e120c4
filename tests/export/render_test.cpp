// Whole renders through the module loaded by the emulated host, read back
// with libavformat: the file must hold exactly what the compressor makes of
// each rendered picture, in order, and exactly the sound that was added.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>

extern "C" {
#include <libavformat/avformat.h>
}

#include "codec/zemo3.h"
#include "core/context.h"
#include "host/options.h"
#include "hostsim/host.h"
#include "numbered.h"
#include "platform/platform.h"
#include "sources.h"

namespace {

using exporttest::Movie;
using exporttest::readMovie;

class Render : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = std::filesystem::temp_directory_path() /
               ("zemo3-render-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        std::string error;
        ASSERT_TRUE(host_.load(ZEMO_MODULE_PATH, &error)) << error;
        ASSERT_EQ(host_.callEntry(), A_Err_NONE);
    }
    void TearDown() override
    {
        if (host_.loaded())
            host_.unload();
        EXPECT_TRUE(host_.errors().empty()) << host_.errors().front();
        std::filesystem::remove_all(dir_);
    }

    AEIO_OutSpecH output(const hostsim::OutputSettings& settings, uint32_t formatType)
    {
        zexport::ExportOptions stored{};
        stored.flattened = 1;
        stored.formatType = formatType;
        stored.alphaType = 3;
        std::vector<uint8_t> bytes(sizeof stored);
        std::memcpy(bytes.data(), &stored, sizeof stored);
        AEIO_OutSpecH out = host_.addOutput(settings, &bytes);
        EXPECT_EQ(host_.initOutputSpec(out), A_Err_NONE);
        AEIO_SupportedDepthFlags depth = 0;
        EXPECT_EQ(host_.getDepths(out, &depth), A_Err_NONE);
        return out;
    }

    // An output without sound writing to `path`.
    static hostsim::OutputSettings silent(A_long width, A_long height, const std::string& path)
    {
        hostsim::OutputSettings settings;
        settings.width = width;
        settings.height = height;
        settings.soundRate = 0.0;
        settings.path = platform::utf8ToUtf16(path);
        return settings;
    }

    // The host's frame over tightly packed 8-bit ARGB pixels.
    static PF_EffectWorld world(std::vector<uint8_t>& pixels, A_long width, A_long height)
    {
        PF_EffectWorld w{};
        w.width = width;
        w.height = height;
        w.rowbytes = width * 4;
        w.data = pixels.data();
        return w;
    }

    std::filesystem::path dir_;
    hostsim::Host host_;
};

TEST_F(Render, FramesAndSoundReachTheFileExactly)
{
    for (uint32_t type : {1u, 3u}) {
        SCOPED_TRACE(type);
        zemo3::Composition comp;
        comp.width = 72;  // not a multiple of 16: padding is exercised
        comp.height = 40;
        comp.fpsNum = 30;
        comp.fpsDen = 1;
        comp.frames = 240;
        comp.sampleRate = 48000;
        comp.channels = 2;
        auto source = zemo3::openDemo(comp);

        hostsim::OutputSettings settings;
        settings.width = A_long(comp.width);
        settings.height = A_long(comp.height);
        settings.fps = 30 << 16;
        settings.soundRate = 48000.0;
        settings.channels = 2;
        settings.sampleSize = 2;
        const std::string path = (dir_ / ("type" + std::to_string(type) + ".mov")).string();
        settings.path = platform::utf8ToUtf16(path);
        AEIO_OutSpecH out = output(settings, type);
        ASSERT_EQ(host_.startAdding(out), A_Err_NONE);

        std::vector<std::vector<uint8_t>> expected;
        std::vector<uint8_t> soundAdded;
        nox::VideoCodecInfoZemo3 codec;
        codec.setFormatType(type);
        nox::VideoStreamDescription stream(comp.width, comp.height, 30, 1, &codec);
        auto compressor = codec.createCompressor(stream);
        std::vector<uint8_t> argb, rgba;
        std::vector<int16_t> pcm;
        uint32_t rowBytes = 0;
        uint64_t samples = 0;
        for (uint64_t n = 0; source->frame(n, &argb, &rowBytes); ++n) {
            PF_EffectWorld world{};
            world.width = A_long(comp.width);
            world.height = A_long(comp.height);
            world.rowbytes = A_long(rowBytes);
            world.data = argb.data();
            // The host's frame index is its own business: give it a jump.
            ASSERT_EQ(host_.addFrame(out, A_long(n * 3 + 7), world), A_Err_NONE);

            rgba.resize(argb.size());
            for (size_t i = 0; i < argb.size(); i += 4) {
                rgba[i] = argb[i + 1];
                rgba[i + 1] = argb[i + 2];
                rgba[i + 2] = argb[i + 3];
                rgba[i + 3] = argb[i];
            }
            std::vector<uint8_t> frame(compressor->outputBound(), 0);
            int32_t size = compressor->compress(frame.data(), rgba.data(), uint32_t(frame.size()), 0,
                                                int32_t(rowBytes));
            frame.resize(size_t(size));
            expected.push_back(std::move(frame));

            const uint64_t end = (n + 1) * 48000 / 30 + (n % 3);  // uneven chunks
            size_t got = source->sound(samples, size_t(end - samples), &pcm);
            ASSERT_EQ(host_.addSoundChunk(out, A_u_long(got), pcm.data()), A_Err_NONE);
            const auto* bytes = reinterpret_cast<const uint8_t*>(pcm.data());
            soundAdded.insert(soundAdded.end(), bytes, bytes + got * 4);
            samples += got;
        }
        ASSERT_EQ(host_.endAdding(out), A_Err_NONE);
        auto record = host_.options(out);
        ASSERT_TRUE(record.has_value());
        EXPECT_EQ(record->writer, nullptr);
        EXPECT_EQ(record->pendingFrames, nullptr);
        EXPECT_EQ(host_.disposeOutputOptions(out), A_Err_NONE);

        Movie movie = readMovie(path);
        EXPECT_EQ(movie.streams, 2);
        EXPECT_EQ(movie.videoTag, MKTAG('Z', 'M', 'Q', '3'));
        ASSERT_EQ(movie.frames.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            ASSERT_EQ(movie.frames[i], expected[i]) << "frame " << i;
            if (i > 0) {
                EXPECT_GT(movie.pts[i], movie.pts[i - 1]);
            }
        }
        EXPECT_EQ(movie.sound, soundAdded);
    }
}

TEST_F(Render, RefusedStartsLeaveNoWriter)
{
    struct Case {
        const char* what;
        std::string path;
        uint32_t type;
    } cases[] = {
        {"unwritable folder", "/nonexistent-zemo3/x.mov", 0},
        {"extension no format takes", (dir_ / "x.xyz").string(), 0},
        {"UV map has no encoder", (dir_ / "uv.mov").string(), 6},
        {"mask has no encoder", (dir_ / "mask.mov").string(), 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AEIO_OutSpecH out = output(silent(64, 32, c.path), c.type);
        EXPECT_EQ(host_.startAdding(out), A_Err_GENERIC);
        std::vector<uint8_t> pixels(64 * 32 * 4);
        EXPECT_EQ(host_.addFrame(out, 0, world(pixels, 64, 32)), A_Err_GENERIC);
        EXPECT_EQ(host_.endAdding(out), A_Err_NONE);
        EXPECT_EQ(host_.disposeOutputOptions(out), A_Err_NONE);
    }
    EXPECT_FALSE(std::filesystem::exists(dir_ / "uv.mov"));
}

TEST_F(Render, SoundWithoutSoundIsRefusedAndFramesStillLand)
{
    const std::string path = (dir_ / "silent.mov").string();
    AEIO_OutSpecH out = output(silent(32, 32, path), 2);
    ASSERT_EQ(host_.startAdding(out), A_Err_NONE);
    std::vector<uint8_t> pixels(32 * 32 * 4, 0x55);
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(host_.addFrame(out, i, world(pixels, 32, 32)), A_Err_NONE);
    int16_t chunk[64] = {};
    EXPECT_EQ(host_.addSoundChunk(out, 32, chunk), A_Err_GENERIC);
    ASSERT_EQ(host_.endAdding(out), A_Err_NONE);
    EXPECT_EQ(host_.disposeOutputOptions(out), A_Err_NONE);
    Movie movie = readMovie(path);
    EXPECT_EQ(movie.streams, 1);
    EXPECT_EQ(movie.frames.size(), 5u);
}

TEST_F(Render, DisposingAJobThatNeverEndedFinishesItsMovie)
{
    const std::string path = (dir_ / "unended.mov").string();
    AEIO_OutSpecH out = output(silent(48, 32, path), 1);
    ASSERT_EQ(host_.startAdding(out), A_Err_NONE);
    std::vector<uint8_t> pixels(48 * 32 * 4);
    for (int i = 0; i < 40; ++i) {
        std::fill(pixels.begin(), pixels.end(), uint8_t(i * 5));
        ASSERT_EQ(host_.addFrame(out, i, world(pixels, 48, 32)), A_Err_NONE);
    }
    // No EndAdding: the output module goes away mid-render.
    EXPECT_EQ(host_.disposeOutputOptions(out), A_Err_NONE);
    Movie movie = readMovie(path);
    EXPECT_EQ(movie.streams, 1);
    EXPECT_EQ(movie.frames.size(), 40u);
}

}  // namespace
