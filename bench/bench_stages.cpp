// Every stage of the frame compressor on its own, per format type, on each
// test content at 1920x1080 (textures over the padded 1920x1088), at every
// instruction-set level this processor runs:
//
//   encode/<texture>/<level>/<content>    whole-texture block encoders
//   pack/<texture>/<level>/<content>      byte packers on that texture
//   unpack/<texture>/<content>            the reader's unpackers (not on noise)
//   compress/<type>/<level>/<content>     Zemo3Compressor::compress
//
// Rates count frames (items/s) and bytes of the 8-bit RGBA picture (bytes/s),
// so stages of one type add up. "ratio" is packed bytes / texture bytes.
//
//   bench_stages --benchmark_filter='compress/.*/photo'
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "codec/dxt.h"
#include "codec/packers.h"
#include "codec/ycocg.h"
#include "codec/zemo3.h"
#include "content/content.h"
#include "reader/frame_decoder.h"

namespace {

constexpr uint32_t kWidth = 1920, kHeight = 1080;
constexpr uint32_t kPaddedHeight = nox::padTo16(kHeight);
constexpr int64_t kPictureBytes = int64_t(kWidth) * kHeight * 4;

using Bytes = std::vector<uint8_t>;

const char* const kTextures[4] = {"dxt1", "dxt5", "ycg6", "yg10"};

std::mutex g_cacheLock;

// Frame 0 of the content, rendered once.
const Bytes& picture(const std::string& content)
{
    static std::map<std::string, Bytes> cache;
    std::lock_guard<std::mutex> lock(g_cacheLock);
    Bytes& p = cache[content];
    if (p.empty()) {
        std::string error;
        if (!zemo3::content::renderContent(content, kWidth, kHeight, &p, &error))
            std::fprintf(stderr, "bench_stages: %s\n", error.c_str());
    }
    return p;
}

// The picture as the compressor's scratch holds it: padded to 1920x1088 with
// transparent black, alpha forced to 255 for the types that drop it.
const Bytes& scratch(const std::string& content, uint32_t type)
{
    static std::map<std::pair<std::string, bool>, Bytes> cache;
    const bool keepAlpha = nox::typeHasAlpha(type);
    const Bytes& source = picture(content);
    std::lock_guard<std::mutex> lock(g_cacheLock);
    Bytes& s = cache[{content, keepAlpha}];
    if (s.empty() && !source.empty()) {
        s.assign(size_t(kWidth) * kPaddedHeight * 4, 0);
        std::memcpy(s.data(), source.data(), source.size());
        if (!keepAlpha)
            for (size_t i = 3; i < source.size(); i += 4)
                s[i] = 255;
    }
    return s;
}

void encodeTexture(uint32_t type, const uint8_t* picture, uint8_t* texture)
{
    switch (type) {
    case 0:
        nox::encodeDxt1Texture(picture, kWidth, kPaddedHeight, texture);
        break;
    case 1:
        nox::encodeDxt5Texture(picture, kWidth, kPaddedHeight, texture);
        break;
    case 2:
        nox::encodeYcg6(picture, kWidth, kPaddedHeight, texture);
        break;
    default:
        nox::encodeYg10(picture, kWidth, kPaddedHeight, texture);
        break;
    }
}

// The texture of the content, encoded once (every level writes the same bytes).
const Bytes& texture(const std::string& content, uint32_t type)
{
    static std::map<std::pair<std::string, uint32_t>, Bytes> cache;
    const Bytes& s = scratch(content, type);
    std::lock_guard<std::mutex> lock(g_cacheLock);
    Bytes& t = cache[{content, type}];
    if (t.empty() && !s.empty()) {
        t.assign(nox::textureSize(type, kWidth, kHeight), 0);
        encodeTexture(type, s.data(), t.data());
    }
    return t;
}

uint32_t pack(uint32_t type, const Bytes& t, Bytes& out)
{
    const auto n = uint32_t(t.size()), capacity = uint32_t(out.size());
    switch (type) {
    case 0:
        return nox::packDxt1(t.data(), n, out.data(), capacity);
    case 1:
        return nox::packDxt5(t.data(), n, out.data(), capacity);
    case 2:
        return nox::packYcg6(out.data(), capacity, t.data(), n);
    default:
        return nox::packYg10(out.data(), capacity, t.data(), n);
    }
}

uint32_t packBound(uint32_t type, uint32_t n) { return type < 2 ? nox::packDxtBound(n) : nox::packYcocgBound(n); }

// Runs the plain entry points at one level for the length of a benchmark.
class LevelCap {
public:
    explicit LevelCap(nox::SimdLevel level) { nox::capSimdLevel(level); }
    ~LevelCap() { nox::capSimdLevel(nox::SimdLevel::Avx512); }
};

void countFrames(benchmark::State& state)
{
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * kPictureBytes);
}

void encodeStage(benchmark::State& state, uint32_t type, nox::SimdLevel level, const std::string& content)
{
    const Bytes& s = scratch(content, type);
    if (s.empty())
        return state.SkipWithError("no content");
    Bytes out(nox::textureSize(type, kWidth, kHeight));
    LevelCap cap(level);
    for (auto _ : state) {
        encodeTexture(type, s.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    if (out != texture(content, type))
        state.SkipWithError("this level wrote other bytes");
    countFrames(state);
}

void packStage(benchmark::State& state, uint32_t type, nox::SimdLevel level, const std::string& content)
{
    const Bytes& t = texture(content, type);
    if (t.empty())
        return state.SkipWithError("no content");
    Bytes out(packBound(type, uint32_t(t.size())));
    LevelCap cap(level);
    uint32_t packed = 0;
    for (auto _ : state) {
        packed = pack(type, t, out);
        benchmark::DoNotOptimize(out.data());
    }
    countFrames(state);
    state.counters["ratio"] = packed ? double(packed) / double(t.size()) : 1.0;
}

void unpackStage(benchmark::State& state, uint32_t type, const std::string& content)
{
    const Bytes& t = texture(content, type);
    if (t.empty())
        return state.SkipWithError("no content");
    Bytes packed(packBound(type, uint32_t(t.size())));
    const uint32_t n = pack(type, t, packed);
    if (n == 0 || n > t.size()) {
        state.SkipWithError("the texture is stored raw, nothing to unpack");
        return;
    }
    const nox::UnpackFunction unpack[4] = {nox::unpackDxt1, nox::unpackDxt5, nox::unpackYcg6, nox::unpackYg10};
    Bytes restored(t.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(unpack[type](packed.data(), restored.data(), n, restored.size()));
        benchmark::DoNotOptimize(restored.data());
    }
    if (restored != t)
        state.SkipWithError("round trip differs");
    countFrames(state);
}

void compressStage(benchmark::State& state, uint32_t type, nox::SimdLevel level, const std::string& content)
{
    const Bytes& p = picture(content);
    if (p.empty())
        return state.SkipWithError("no content");
    nox::VideoStreamDescription stream(kWidth, kHeight, 25, 1, nullptr);
    nox::Zemo3Compressor compressor(stream, type, false);
    Bytes out(compressor.outputBound());
    LevelCap cap(level);
    int32_t size = 0;
    for (auto _ : state) {
        // The export hands the compressor a zero-filled destination.
        std::memset(out.data(), 0, out.size());
        size = compressor.compress(out.data(), p.data(), uint32_t(out.size()), 0, int32_t(kWidth * 4));
        benchmark::DoNotOptimize(out.data());
    }
    if (size <= 0)
        state.SkipWithError("compress failed");
    countFrames(state);
    state.counters["frame_bytes"] = double(size);
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<nox::SimdLevel> levels;
    for (nox::SimdLevel level : nox::kSimdLevels)
        if (nox::simdLevelSupported(level))
            levels.push_back(level);
    const auto& contents = zemo3::content::contentNames();
    auto add = [](const std::string& name, auto fn) {
        benchmark::RegisterBenchmark(name.c_str(), fn)->Unit(benchmark::kMillisecond);
    };
    for (uint32_t type = 0; type < 4; ++type)
        for (nox::SimdLevel level : levels)
            for (const std::string& c : contents)
                add(std::string("encode/") + kTextures[type] + "/" + nox::simdLevelName(level) + "/" + c,
                    [=](benchmark::State& s) { encodeStage(s, type, level, c); });
    for (uint32_t type = 0; type < 4; ++type)
        for (nox::SimdLevel level : levels)
            for (const std::string& c : contents)
                add(std::string("pack/") + kTextures[type] + "/" + nox::simdLevelName(level) + "/" + c,
                    [=](benchmark::State& s) { packStage(s, type, level, c); });
    // Noise is stored raw (nothing to unpack), so the unpackers run on the rest.
    for (uint32_t type = 0; type < 4; ++type)
        for (const std::string& c : zemo3::content::naturalContentNames())
            add(std::string("unpack/") + kTextures[type] + "/" + c,
                [=](benchmark::State& s) { unpackStage(s, type, c); });
    for (uint32_t type = 0; type < 4; ++type)
        for (nox::SimdLevel level : levels)
            for (const std::string& c : contents)
                add("compress/" + std::to_string(type) + "/" + nox::simdLevelName(level) + "/" + c,
                    [=](benchmark::State& s) { compressStage(s, type, level, c); });
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
