// What verify and decode spend per frame, single thread, at 1920x1080: the
// frame reader restoring the texture, the CPU rebuild of RGBA from the
// texture (at each instruction-set level: scalar, sse2, sse41, avx2), both
// together, and the whole of FramePictures (the checks with the payload's
// use, as verify and the players read frames), for each exported type.
// Throughput is counted in bytes of the 8-bit RGBA picture (1920*1080*4 per
// frame).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "codec/zemo3.h"
#include "photo.h"
#include "reader/frame_decoder.h"
#include "reader/pictures.h"
#include "reader/texture.h"

namespace {

constexpr uint32_t kWidth = 1920, kHeight = 1080;
constexpr int64_t kPictureBytes = int64_t(kWidth) * kHeight * 4;

const std::vector<uint8_t>& picture() { return zemo3::bench::photo(kWidth, kHeight); }

// One compressed frame per type, made once.
const std::vector<uint8_t>& frame(uint32_t type)
{
    static std::vector<uint8_t> frames[4];
    if (frames[type].empty()) {
        static const std::vector<uint8_t> pixels = picture();
        nox::VideoCodecInfoZemo3 info;
        info.setFormatType(type);
        nox::VideoStreamDescription stream(kWidth, kHeight, 30, 1, &info);
        auto compressor = info.createCompressor(stream);
        frames[type].assign(compressor->outputBound(), 0);
        const int32_t n = compressor->compress(frames[type].data(), pixels.data(), uint32_t(frames[type].size()), 0,
                                               int32_t(kWidth * 4));
        frames[type].resize(size_t(std::max(n, 0)));
    }
    return frames[type];
}

void BM_FrameToTexture(benchmark::State& state)
{
    const uint32_t type = uint32_t(state.range(0));
    const std::vector<uint8_t>& f = frame(type);
    nox::FrameDecoder decoder(type, kWidth, kHeight);
    std::vector<uint8_t> texture(decoder.textureBytes());
    for (auto _ : state) {
        if (!nox::decode(decoder, texture.data(), f.data(), f.size(), texture.size()))
            state.SkipWithError("frame does not decode");
        benchmark::DoNotOptimize(texture.data());
    }
    state.SetBytesProcessed(state.iterations() * kPictureBytes);
    state.SetLabel(nox::formatTypeName(type));
}

// Arguments: type, instruction-set level.
void BM_TextureToRgba(benchmark::State& state)
{
    const uint32_t type = uint32_t(state.range(0));
    const auto level = nox::SimdLevel(state.range(1));
    if (!nox::simdLevelSupported(level)) {
        state.SkipWithError("level not supported here");
        return;
    }
    const std::vector<uint8_t>& f = frame(type);
    nox::FrameDecoder decoder(type, kWidth, kHeight);
    std::vector<uint8_t> texture(decoder.textureBytes()), rgba(static_cast<size_t>(kPictureBytes));
    nox::decode(decoder, texture.data(), f.data(), f.size(), texture.size());
    for (auto _ : state) {
        nox::textureToRgbaRowsWith(level, type, texture.data(), texture.size(), kWidth, kHeight, 0, kHeight,
                                   rgba.data(), kWidth * 4);
        benchmark::DoNotOptimize(rgba.data());
    }
    state.SetBytesProcessed(state.iterations() * kPictureBytes);
    state.SetLabel(std::string(nox::formatTypeName(type)) + ", " + nox::simdLevelName(level));
}

void BM_FrameToRgba(benchmark::State& state)
{
    const uint32_t type = uint32_t(state.range(0));
    const std::vector<uint8_t>& f = frame(type);
    std::vector<uint8_t> texture, rgba(static_cast<size_t>(kPictureBytes));
    for (auto _ : state) {
        // As verify does it: a decoder per frame from the frame's own type.
        nox::FrameDecoder decoder(type, kWidth, kHeight);
        texture.resize(decoder.textureBytes());
        if (!nox::decode(decoder, texture.data(), f.data(), f.size(), texture.size()))
            state.SkipWithError("frame does not decode");
        nox::textureToRgba(type, texture.data(), texture.size(), kWidth, kHeight, rgba.data(), kWidth * 4);
        benchmark::DoNotOptimize(rgba.data());
    }
    state.SetBytesProcessed(state.iterations() * kPictureBytes);
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(nox::formatTypeName(type));
}

void BM_FramePictures(benchmark::State& state)
{
    const uint32_t type = uint32_t(state.range(0));
    const std::vector<uint8_t>& f = frame(type);
    nox::FramePictures pictures(kWidth, kHeight);
    std::vector<uint8_t> rgba;
    std::string why;
    for (auto _ : state) {
        if (!pictures.decode(f.data(), f.size(), &rgba, nullptr, &why))
            state.SkipWithError(why.c_str());
        benchmark::DoNotOptimize(rgba.data());
    }
    state.SetBytesProcessed(state.iterations() * kPictureBytes);
    state.SetLabel(nox::formatTypeName(type));
}

BENCHMARK(BM_FrameToTexture)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextureToRgba)->ArgsProduct({{0, 1, 2, 3}, {0, 1, 2, 3}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameToRgba)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FramePictures)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
