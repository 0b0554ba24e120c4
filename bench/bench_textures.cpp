// Texture stage throughput, single thread, over a 1920x1088 picture of
// natural-looking content: blocks per second of the DXT1 colour block, the
// DXT5 alpha block, whole DXT1/DXT5 textures and the YCG6/YG10 encoders
// (counted in 4x4 blocks of the picture). The peer, FFmpeg's HAP encoder
// writing uncompressed DXT1 and DXT5 textures on one thread, runs on the
// same picture.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "codec/dxt.h"
#include "codec/ycocg.h"
#include "photo.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

namespace {

constexpr uint32_t kWidth = 1920, kHeight = 1088;
constexpr int64_t kBlocks = int64_t(kWidth / 4) * (kHeight / 4);

const std::vector<uint8_t>& picture() { return zemo3::bench::photo(kWidth, kHeight); }

// The picture's blocks gathered once, so the block benches time the encoder only.
const std::vector<uint8_t>& blocks()
{
    static const std::vector<uint8_t> b = [] {
        std::vector<uint8_t> out(size_t(kBlocks) * 64);
        uint8_t* dst = out.data();
        for (uint32_t y = 0; y < kHeight; y += 4)
            for (uint32_t x = 0; x < kWidth; x += 4, dst += 64)
                nox::fetchBlock(picture().data(), x, y, kWidth, kHeight, dst);
        return out;
    }();
    return b;
}

void setRate(benchmark::State& state)
{
    state.counters["blocks/s"] = benchmark::Counter(double(kBlocks), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_ColorBlock(benchmark::State& state)
{
    const uint8_t* in = blocks().data();
    std::vector<uint8_t> out(size_t(kBlocks) * 8);
    for (auto _ : state) {
        for (int64_t i = 0; i < kBlocks; ++i)
            nox::encodeColorBlock(&out[size_t(i) * 8], in + i * 64);
        benchmark::DoNotOptimize(out.data());
    }
    setRate(state);
}

// The scalar reference, for comparison with the default (SIMD) level.
void BM_ColorBlockScalar(benchmark::State& state)
{
    const uint8_t* in = blocks().data();
    std::vector<uint8_t> out(size_t(kBlocks) * 8);
    for (auto _ : state) {
        for (int64_t i = 0; i < kBlocks; ++i)
            nox::encodeColorBlockWith(nox::SimdLevel::Scalar, &out[size_t(i) * 8], in + i * 64);
        benchmark::DoNotOptimize(out.data());
    }
    setRate(state);
}

void BM_AlphaBlock(benchmark::State& state)
{
    const uint8_t* in = blocks().data();
    std::vector<uint8_t> out(size_t(kBlocks) * 8);
    for (auto _ : state) {
        for (int64_t i = 0; i < kBlocks; ++i)
            nox::encodeAlphaBlock(&out[size_t(i) * 8], in + i * 64);
        benchmark::DoNotOptimize(out.data());
    }
    setRate(state);
}

template <void (*Encode)(const uint8_t*, uint32_t, uint32_t, uint8_t*), size_t kBytesPerBlock>
void BM_DxtTexture(benchmark::State& state)
{
    std::vector<uint8_t> out(size_t(kBlocks) * kBytesPerBlock);
    for (auto _ : state) {
        Encode(picture().data(), kWidth, kHeight, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    setRate(state);
}

template <int (*Encode)(const uint8_t*, uint32_t, uint32_t, uint8_t*), size_t kTextureBytes>
void BM_YcocgTexture(benchmark::State& state)
{
    std::vector<uint8_t> out(kTextureBytes);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Encode(picture().data(), kWidth, kHeight, out.data()));
        benchmark::DoNotOptimize(out.data());
    }
    setRate(state);
}

// FFmpeg's HAP encoder with the given texture format ("hap" is DXT1,
// "hap_alpha" DXT5), no second-stage compression, one chunk, one thread.
void peerHap(benchmark::State& state, const char* format)
{
    const AVCodec* codec = avcodec_find_encoder_by_name("hap");
    AVCodecContext* ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!ctx) {
        state.SkipWithError("FFmpeg has no HAP encoder");
        return;
    }
    ctx->width = int(kWidth);
    ctx->height = int(kHeight);
    ctx->pix_fmt = AV_PIX_FMT_RGBA;
    ctx->time_base = AVRational{1, 25};
    ctx->thread_count = 1;
    av_opt_set(ctx->priv_data, "format", format, 0);
    av_opt_set(ctx->priv_data, "compressor", "none", 0);
    av_opt_set_int(ctx->priv_data, "chunks", 1, 0);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    frame->format = AV_PIX_FMT_RGBA;
    frame->width = int(kWidth);
    frame->height = int(kHeight);
    if (avcodec_open2(ctx, codec, nullptr) < 0 || av_frame_get_buffer(frame, 0) < 0) {
        state.SkipWithError("cannot open the HAP encoder");
    } else {
        for (uint32_t y = 0; y < kHeight; ++y)
            std::memcpy(frame->data[0] + size_t(y) * size_t(frame->linesize[0]), &picture()[size_t(y) * kWidth * 4],
                        size_t(kWidth) * 4);
        int64_t pts = 0;
        for (auto _ : state) {
            frame->pts = pts++;
            if (avcodec_send_frame(ctx, frame) < 0 || avcodec_receive_packet(ctx, packet) < 0) {
                state.SkipWithError("HAP encoding failed");
                break;
            }
            av_packet_unref(packet);
        }
        setRate(state);
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
}

void BM_PeerHapDxt1(benchmark::State& state) { peerHap(state, "hap"); }
void BM_PeerHapDxt5(benchmark::State& state) { peerHap(state, "hap_alpha"); }

int ycg6Scalar(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture)
{
    return nox::encodeYcg6With(nox::SimdLevel::Scalar, picture, width, height, texture);
}

BENCHMARK(BM_ColorBlock)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColorBlockScalar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AlphaBlock)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DxtTexture<nox::encodeDxt1Texture, 8>)->Name("BM_Dxt1Texture")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DxtTexture<nox::encodeDxt5Texture, 16>)->Name("BM_Dxt5Texture")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerHapDxt1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerHapDxt5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_YcocgTexture<nox::encodeYcg6, size_t(kWidth) * kHeight * 3 / 4>)
    ->Name("BM_Ycg6")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_YcocgTexture<ycg6Scalar, size_t(kWidth) * kHeight * 3 / 4>)
    ->Name("BM_Ycg6Scalar")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_YcocgTexture<nox::encodeYg10, size_t(kWidth) * kHeight * 5 / 4>)
    ->Name("BM_Yg10")
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
