// The GPU's pictures against the CPU decode on textures no encoder would
// make: every frame of every type replaced by random texture bytes (raw
// payloads), the worst case for the palette and colour arithmetic, where
// pictures from real content rarely reach the largest differences.
#include <gtest/gtest.h>

#include <random>

#include "common/movies.h"
#include "player/gpu.h"
#include "reader/frame_decoder.h"

extern "C" {
#include <libavcodec/packet.h>
}

namespace {

class GpuBound : public testutil::EveryTypeSuite<96, 54, 5> {};

// The GPU's pictures of every frame of a movie of `type`, against the CPU
// decode: within the bound in every channel.
zemo3::gpu::Comparison expectWithinBound(const std::string& movie, uint32_t type, int64_t frames)
{
    zemo3::gpu::Comparison c;
    std::string error;
    EXPECT_TRUE(zemo3::gpu::compareWithCpu(movie, &c, &error)) << error;
    EXPECT_EQ(c.frames, frames);
    for (int ch = 0; ch < 4; ++ch)
        EXPECT_LE(c.maxDifference[ch], zemo3::gpu::boundFor(type, ch)) << "channel " << ch;
    return c;
}

TEST_F(GpuBound, RandomTexturesStayWithinTheBound)
{
    std::mt19937 random(2026);
    for (uint32_t type = 0; type < 4; ++type) {
        SCOPED_TRACE(testutil::kCompressions[type]);
        const std::string out = dir_->file("random" + std::to_string(type) + ".mov");
        const uint32_t texture = nox::FrameDecoder(type, 96, 54).textureBytes();
        ASSERT_TRUE(testutil::remux(movie(int(type)), out, [&](int64_t, AVPacket* p) {
            nox::FrameFacts facts;
            if (!nox::readFrameFacts(p->data, size_t(p->size), &facts) || facts.headerSize != 12)
                return false;
            std::vector<uint8_t> frame(p->data, p->data + 12);
            frame[6] = 1;  // a raw payload: the texture as it is
            for (int i = 0; i < 4; ++i)
                frame[8 + i] = uint8_t(texture >> (8 * i));
            for (uint32_t i = 0; i < texture; ++i)
                frame.push_back(uint8_t(random()));
            AVPacket* copy = av_packet_alloc();
            av_new_packet(copy, int(frame.size()));
            std::copy(frame.begin(), frame.end(), copy->data);
            av_packet_copy_props(copy, p);
            av_packet_unref(p);
            av_packet_move_ref(p, copy);
            av_packet_free(&copy);
            return true;
        }));
        const zemo3::gpu::Comparison c = expectWithinBound(out, type, 15);
        std::printf("%-13s random textures: largest differences R %d G %d B %d A %d\n", testutil::kCompressions[type],
                    c.maxDifference[0], c.maxDifference[1], c.maxDifference[2], c.maxDifference[3]);
    }
}

// A real photograph (ImageMagick's built-in rose, saturated reds and fine
// detail) under a moving matte, through the module in every type: the
// GPU's pictures stay within the bound.
TEST_F(GpuBound, APhotographUnderAMovingMatteStaysWithinTheBound)
{
    for (int n = 0; n < 5; ++n) {
        const std::string frame = dir_->file("rose_" + std::to_string(n) + ".png");
        const testutil::Run r =
            testutil::run("convert rose: -resize '96x54!' \\( -size 54x96 gradient: -rotate 90 -roll +" +
                          std::to_string(17 * n) + "+0 \\) -alpha off -compose CopyOpacity -composite " + frame);
        if (r.code != 0)
            GTEST_SKIP() << "no ImageMagick to make the photograph's frames: " << r.err;
    }
    for (uint32_t type = 0; type < 4; ++type) {
        SCOPED_TRACE(testutil::kCompressions[type]);
        const std::string out = dir_->file(std::string("rose-") + testutil::kCompressions[type] + ".mov");
        const testutil::Run r =
            testutil::zemo3("render " + dir_->file("rose_%d.png") + " --fps 25 --compression " +
                            testutil::kCompressions[type] + " -o " + out + " --module " + ZEMO_MODULE_PATH);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_GT(expectWithinBound(out, type, 5).psnr, 50);
    }
}

}  // namespace
