// Throughput of the movie writer: 1920x1080 frames compressed to Zemo 3 and
// written to a .mov from N threads, per format type, beside a raw-copy peer
// that shows what conversion and muxing alone cost.
//
//   bench_writer --benchmark_filter=Zemo3/2   # format type 2
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "codec/zemo3.h"
#include "photo.h"
#include "platform/platform.h"
#include "writer/ffmpeg_writer.h"

namespace {

constexpr uint32_t kW = 1920;
constexpr uint32_t kH = 1080;
constexpr uint64_t kFramesPerIteration = 8;

const std::vector<uint8_t>& picture() { return zemo3::bench::photo(kW, kH); }

std::string scratchPath() { return platform::temporaryFolder() + "/zemo-bench-writer.mov"; }

// Adds frames 0..n-1 from `threads` threads, then flushes and finishes.
void writeMovie(nox::VideoFormatWriterFFMPEG& writer, int threads, uint64_t frames)
{
    const uint8_t* data = picture().data();
    std::atomic<uint64_t> next{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&] {
            for (uint64_t i; (i = next.fetch_add(1)) < frames;) {
                writer.writeFrame(i, kW, kH, 4, uint64_t(kW) * 4, data);
                if (i % 30 == 0)
                    writer.writePendingPackets(true);
            }
        });
    for (auto& t : pool)
        t.join();
    writer.writePendingPackets(true);
}

void Zemo3(benchmark::State& state)
{
    const auto type = uint32_t(state.range(0));
    const int threads = int(state.range(1));
    nox::VideoCodecInfoZemo3 codec;
    codec.setFormatType(type);
    nox::VideoStreamDescription desc(kW, kH, 25, 1, &codec);
    picture();
    uint64_t frames = 0;
    double encodeMs = 0;
    for (auto _ : state) {
        nox::VideoFormatWriterFFMPEG writer(desc, scratchPath(), 25, 1, 4, kW, kH, 0, 0, 0);
        if (!writer.isOpen()) {
            state.SkipWithError("writer did not open");
            break;
        }
        writeMovie(writer, threads, kFramesPerIteration);
        frames += kFramesPerIteration;
        encodeMs = writer.getAverageEncodeTime();
    }
    state.counters["frames/s"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
    state.counters["encode_ms"] = encodeMs;
    state.SetLabel(nox::formatTypeName(type));
    platform::removeFile(scratchPath());
}
BENCHMARK(Zemo3)
    ->ArgsProduct({{0, 1, 2, 3}, {1, 2}})
    ->ArgNames({"type", "threads"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The peer: a compressor that only copies the pixels, so the frame rate is
// bounded by conversion, allocation and muxing.
class CopyCompressor : public nox::Compressor {
public:
    using Compressor::Compressor;
    uint32_t outputBound() const override { return stream_.width * stream_.height * 4; }
    bool isCustomCodec() const override { return true; }
    int32_t compress(uint8_t* destination, const uint8_t* pixels, uint32_t, int32_t, int32_t rowStride) override
    {
        for (uint32_t y = 0; y < stream_.height; ++y)
            std::memcpy(destination + size_t(y) * stream_.width * 4, pixels + size_t(y) * size_t(rowStride),
                        size_t(stream_.width) * 4);
        return int32_t(outputBound());
    }
};

void RawCopy(benchmark::State& state)
{
    const int threads = int(state.range(0));
    nox::VideoStreamDescription desc(kW, kH, 25, 1, nullptr);
    desc.fourCC = nox::fourCC("ZMQ3");
    picture();
    uint64_t frames = 0;
    for (auto _ : state) {
        nox::VideoFormatWriterFFMPEG writer(std::make_unique<CopyCompressor>(desc), scratchPath(), 25, 1, 4, kW, kH, 0,
                                            0, 0);
        if (!writer.isOpen()) {
            state.SkipWithError("writer did not open");
            break;
        }
        writeMovie(writer, threads, kFramesPerIteration);
        frames += kFramesPerIteration;
    }
    state.counters["frames/s"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
    platform::removeFile(scratchPath());
}
BENCHMARK(RawCopy)->Arg(1)->Arg(2)->ArgNames({"threads"})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
