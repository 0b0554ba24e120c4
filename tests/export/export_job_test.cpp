// The export job's frame and sound paths with a real writer and workers and a replaceable memory probe.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include "core/threads.h"
#include "export_job.h"
#include "module.h"
#include "numbered.h"
#include "platform/platform.h"

using namespace zexport;
using namespace exporttest;

namespace {

// The vector loop and its tail agree with the byte definition at every width
// around the vector size; the row padding of either side is left alone.
TEST(ExportPixels, ArgbBecomesRgbaLikeTheByteLoopAndDeepValuesAreScaled)
{
    uint32_t seed = 12345;
    for (A_long width = 1; width <= 37; ++width) {
        const A_long height = 3, rowbytes = width * 4 + 8;
        const size_t outRow = size_t(width) * 4 + 4;
        Bytes argb(size_t(rowbytes) * height), out(outRow * height, 0x5A);  // exact sizes: ASan sees overruns
        for (uint8_t& b : argb)
            b = uint8_t((seed = seed * 1103515245u + 12345u) >> 24);
        convertPixels(argbWorld(argb, width, height, rowbytes), false, out.data(), outRow);
        for (size_t y = 0; y < size_t(height); ++y)
            for (size_t i = 0; i < outRow; ++i)
                ASSERT_EQ(out[y * outRow + i],
                          i < outRow - 4 ? argb[y * size_t(rowbytes) + i / 4 * 4 + (i + 1) % 4] : 0x5A)
                    << "width " << width << " byte " << i << " row " << y;
    }
    // 16 bits: A, R, G, B in the host's 0..32768.
    const uint16_t values[8] = {32768, 16384, 32766, 32767, 0, 1, 12345, 32768};
    Bytes deep(reinterpret_cast<const uint8_t*>(values), reinterpret_cast<const uint8_t*>(values + 8));
    uint16_t out16[8] = {};
    PF_EffectWorld world = argbWorld(deep, 2, 1, 16);
    world.world_flags = 1;
    convertPixels(world, true, reinterpret_cast<uint8_t*>(out16), 16);
    EXPECT_EQ(std::vector<uint16_t>(out16, out16 + 8),
              (std::vector<uint16_t>{32768, 65532, 65535, 65535, 2, 24690, 65535, 0}));
}

// --------------------------------------------------------------- frame path

std::atomic<uint64_t> g_availableBytes{16ull << 30};
uint64_t probe() { return g_availableBytes; }

class FramePath : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        useCore();
        platform::setAvailableMemoryProbe(&probe);
    }
    static void TearDownTestSuite() { platform::setAvailableMemoryProbe(nullptr); }
    void TearDown() override
    {
        delete record_.pendingFrames;
        g_availableBytes = 16ull << 30;
    }

    HookedWriter* start(uint32_t channels = 0, uint32_t width = 64, uint32_t height = 48)
    {
        delete record_.pendingFrames;
        record_ = ExportOptions{};
        record_.writer = hookedWriter(dir_.file("job.mov"), width, height, channels);
        record_.pendingFrames = new PendingFrames;
        EXPECT_NE(record_.writer, nullptr);
        return static_cast<HookedWriter*>(record_.writer);
    }
    A_Err add()
    {
        const PF_EffectWorld world = argbWorld(pixels_, 64, 48);
        return addFrameLocked(record_, &world);
    }
    size_t outstanding() const { return record_.pendingFrames->tasks.size(); }

    testutil::TempDir dir_;
    ExportOptions record_{};
    Bytes pixels_ = Bytes(64 * 48 * 4, 0x40);
};

TEST_F(FramePath, OutstandingFramesStayWithinTheWorkerCount)
{
    HookedWriter* w = start();
    const size_t workers = nox::TaskManager::instance(8)->workerCount();
    // Workers held inside the writer: the job must wait once every worker has a frame.
    nox::SyncEvent hold(true);
    w->onFrame = [&](uint64_t, bool before) {
        if (before)
            hold.wait();
    };
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        hold.signal();
    });
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(add(), A_Err_NONE);
        EXPECT_LE(outstanding(), workers) << i;
    }
    release.join();
    EXPECT_EQ(record_.framesAdded, 40u);
    finishJob(record_);
}

TEST_F(FramePath, LowMemoryKeepsOneFrameOutAndFlushesFollowFrameZeroAndEveryThirtieth)
{
    HookedWriter* w = start();
    uint64_t last = 0;
    std::vector<uint64_t> flushes;  // the frame written just before each waiting flush
    w->onFrame = [&](uint64_t n, bool before) { last = before ? n : last; };
    w->onFlush = [&](bool wait) {
        if (wait)
            flushes.push_back(last);
    };
    g_availableBytes = 200ull << 20;  // under 300 MB
    for (int i = 0; i < 95; ++i) {
        ASSERT_EQ(add(), A_Err_NONE);
        EXPECT_EQ(outstanding(), 1u) << i;
    }
    for (auto& h : record_.pendingFrames->tasks)
        h->wait(true);
    EXPECT_EQ(flushes, (std::vector<uint64_t>{0, 30, 60, 90}));
    finishJob(record_);
    // Low also when five frames would not fit.
    g_availableBytes = 1000ull << 20;
    EXPECT_FALSE(memoryIsLow(100ull << 20));
    EXPECT_TRUE(memoryIsLow(201ull << 20));
}

// Deep frames (for the types that carry 8 bits) and worlds described
// inconsistently are refused after collecting the frames outstanding, and not counted.
TEST_F(FramePath, BadWorldsAndDeepFramesAreRefusedAndNotCounted)
{
    start();
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(add(), A_Err_NONE);
    Bytes data(64 * 48 * 8);
    const struct {
        A_long flags, width, height, rowbytes;
    } cases[] = {{1, 64, 48, 512},  {0, 64, 0, 256},           {0, 0, 48, 256},  {0, 64, 48, 100},
                 {0, 64, 48, -256}, {0, 64, 1 << 20, 1 << 20}, {0, 32, 48, 256}, {0, 64, 40, 256}};
    for (const auto& c : cases) {
        PF_EffectWorld world = argbWorld(data, c.width, c.height, c.rowbytes);
        world.world_flags = c.flags;
        EXPECT_EQ(addFrameLocked(record_, &world), A_Err_GENERIC) << c.width << "x" << c.height << " " << c.flags;
        EXPECT_EQ(outstanding(), 0u);
    }
    PF_EffectWorld noPixels = argbWorld(data, 64, 48, 256);
    noPixels.data = nullptr;
    EXPECT_EQ(addFrameLocked(record_, &noPixels), A_Err_GENERIC);
    EXPECT_EQ(record_.framesAdded, 3u);
    EXPECT_EQ(add(), A_Err_NONE);
    finishJob(record_);
}

TEST_F(FramePath, SoundPositionsRunOnFromTheJobsCount)
{
    HookedWriter* w = start(2);
    std::vector<int16_t> chunk(2 * 16000, 100);
    for (A_u_long samples : {16000, 16000, 16000, 1600})
        ASSERT_EQ(addSoundLocked(record_, samples, chunk.data()), A_Err_NONE);
    EXPECT_EQ(w->positions, (std::vector<uint64_t>{0, 16000, 32000, 48000}));
    EXPECT_EQ(record_.samplesAdded, 49600u);
    finishJob(record_);
    // A writer made without sound refuses chunks and does not count them.
    start(0);
    EXPECT_EQ(addSoundLocked(record_, 1600, chunk.data()), A_Err_GENERIC);
    EXPECT_EQ(record_.samplesAdded, 0u);
    finishJob(record_);
}

// ------------------------------------------------------ ordered-write stress

// 16 workers stalled at random inside the writer, flushes at random from the workers, the host thread and a
// thread of their own, memory low at random: every movie holds every frame once, in order.
// ZEMO_STRESS_SEED repeats a run; ZEMO_STRESS_ITERATIONS sets its length.
using OrderedWrite = FramePath;

TEST_F(OrderedWrite, ManyWorkersStallsAndFlushesNeitherReorderNorDrop)
{
    // The pool is process-wide: 16 workers for this test, the default again afterwards.
    nox::TaskManager::destroyInstance();
    ASSERT_EQ(nox::TaskManager::instance(16)->workerCount(), 16);
    const char* seedText = std::getenv("ZEMO_STRESS_SEED");
    const char* iterationsText = std::getenv("ZEMO_STRESS_ITERATIONS");
    const uint32_t seed = seedText ? uint32_t(std::strtoul(seedText, nullptr, 10)) : std::random_device{}();
    const int iterations = iterationsText ? std::atoi(iterationsText) : 40;
    const std::string run = "ZEMO_STRESS_SEED=" + std::to_string(seed);
    SCOPED_TRACE(run);
    std::mt19937 rng(seed);
    auto mix = [](uint64_t x) { return std::mt19937_64(x)(); };
    // A deadlock must not hang the program: an iteration that takes a minute ends it, naming the run.
    std::atomic<int> ticks{0};
    std::jthread watchdog([&](std::stop_token stop) {
        auto last = std::chrono::steady_clock::now();
        for (int seen = 0; !stop.stop_requested(); std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
            if (ticks != seen)
                seen = ticks, last = std::chrono::steady_clock::now();
            if (std::chrono::steady_clock::now() - last > std::chrono::seconds(60)) {
                std::fprintf(stderr, "ordered-write stress: no progress in 60 s (%s); a deadlock?\n", run.c_str());
                std::abort();
            }
        }
    });
    constexpr uint32_t kW = 48, kH = 32;  // no padding by the codec: no blank rows
    for (int iteration = 0; iteration < iterations; ++iteration, ++ticks) {
        SCOPED_TRACE("iteration " + std::to_string(iteration));
        const std::string path = dir_.file("job.mov");
        HookedWriter* w = start(0, kW, kH);
        ASSERT_NE(w, nullptr);
        ExportOptions& record = record_;
        const uint64_t salt = mix(seed) ^ uint64_t(iteration) << 40;
        w->onFrame = [w, salt, mix](uint64_t n, bool before) {
            const uint64_t r = mix(salt ^ n);
            if (before && r % 4 != 0)
                std::this_thread::sleep_for(std::chrono::microseconds(r % 700));
            if (!before && (r >> 20) % 5 == 0)
                w->inner->writePendingPackets((r >> 30) & 1);
        };
        std::atomic<bool> stop{false};
        std::thread flusher([&, salt = mix(seed + uint64_t(iteration))] {
            for (uint64_t k = 0; !stop; ++k) {
                w->writePendingPackets(mix(salt + k) & 1);
                std::this_thread::sleep_for(std::chrono::microseconds(mix(salt + k) % 300));
            }
        });
        const uint64_t frames = 40 + rng() % 120;
        Bytes argb;
        for (uint64_t n = 0; n < frames; ++n) {
            g_availableBytes = rng() % 10 == 0 ? 100ull << 20 : 16ull << 30;
            paintNumber(argb, kW, kH, n);
            const PF_EffectWorld world = argbWorld(argb, kW, kH);
            EXPECT_EQ(addFrameLocked(record, &world), A_Err_NONE) << "frame " << n;
            if (rng() % 7 == 0)
                w->writePendingPackets(rng() % 2);
        }
        g_availableBytes = 16ull << 30;
        stop = true;
        flusher.join();
        EXPECT_EQ(w->failure(), "");
        finishJob(record);  // collects every task, flushes, writes the trailer
        const std::vector<Bytes> written = testutil::readMovie(path).frames();
        ASSERT_EQ(written.size(), frames);
        for (uint64_t n = 0; n < frames; ++n)
            ASSERT_EQ(written[n], expectedFrame(0, kW, kH, n)) << "frame " << n;
    }
    nox::TaskManager::destroyInstance();
    nox::TaskManager::instance(nox::TaskManager::defaultWorkerCount());
}

}  // namespace
