// The ordered-write path under stress: the export job's frame tasks on a
// pool of 16 workers, each held up for a random while inside the writer,
// flushes asked for at random from the workers, from the host thread and
// from a thread of their own, and memory reported low at random so that the
// host thread drains. Every movie must hold every frame once, in order. A
// watchdog ends the program (naming the seed) instead of letting a deadlock
// hang it. ZEMO_STRESS_SEED repeats a run; ZEMO_STRESS_ITERATIONS sets its length.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>

#include "core/context.h"
#include "core/threads.h"
#include "export_job.h"
#include "module.h"
#include "numbered.h"
#include "platform/platform.h"
#include "writer/formats.h"

using namespace exporttest;

namespace {

constexpr uint8_t kWorkers = 16;

uint64_t mix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// A real writer whose frames take a random while and sometimes ask for a
// flush of their own, waiting or not.
class StallingWriter : public nox::VideoFormatWriter {
public:
    StallingWriter(std::unique_ptr<nox::VideoFormatWriter> inner, uint64_t salt)
        : VideoFormatWriter(inner->description(), inner->path(), inner->frameRateNum(), inner->frameRateDen(),
                            inner->bytesPerPixel(), inner->width(), inner->height(), inner->channels(),
                            inner->bytesPerSample(), inner->sampleRate(), inner->formatName()),
          inner_(std::move(inner)),
          salt_(salt)
    {
    }
    bool isCustomCodec() const override { return inner_->isCustomCodec(); }
    bool isOpen() const override { return inner_->isOpen(); }
    std::string failure() const override { return inner_->failure(); }
    bool writePendingPackets(bool wait) override { return inner_->writePendingPackets(wait); }
    bool writeFrame(uint64_t frameIndex, uint32_t width, uint32_t height, uint32_t bytesPerPixel, uint64_t stride,
                    const uint8_t* data) override
    {
        const uint64_t r = mix(salt_ ^ frameIndex);
        if (r % 4 != 0)
            std::this_thread::sleep_for(std::chrono::microseconds(r % 700));
        const bool ok = inner_->writeFrame(frameIndex, width, height, bytesPerPixel, stride, data);
        if ((r >> 20) % 5 == 0)
            inner_->writePendingPackets((r >> 30) & 1);
        return ok;
    }

private:
    std::unique_ptr<nox::VideoFormatWriter> inner_;
    uint64_t salt_;
};

std::atomic<bool> g_lowMemory{false};
uint64_t probe() { return g_lowMemory.load() ? 100ull << 20 : 16ull << 30; }

// Ends the program when no iteration finishes for `limit`.
class Watchdog {
public:
    Watchdog(std::chrono::seconds limit, std::string what) : what_(std::move(what))
    {
        thread_ = std::thread([this, limit] {
            std::unique_lock<std::mutex> lock(mutex_);
            uint64_t seen = progress_;
            while (!done_) {
                if (!changed_.wait_for(lock, limit, [&] { return done_ || progress_ != seen; })) {
                    std::fprintf(stderr, "ordered-write stress: no progress in %lld s (%s, iteration %llu); "
                                         "a deadlock?\n",
                                 static_cast<long long>(limit.count()), what_.c_str(),
                                 static_cast<unsigned long long>(progress_));
                    std::fflush(stderr);
                    std::abort();
                }
                seen = progress_;
            }
        });
    }
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    void tick()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++progress_;
        }
        changed_.notify_all();
    }

private:
    std::string what_;
    std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t progress_ = 0;
    bool done_ = false;
    std::thread thread_;
};

class OrderedWrite : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The pool is process-wide: this suite runs on one of 16 workers.
        if (!nox::currentContext()) {
            nox::useVideoFormats();
            nox::TaskManager::instance(kWorkers);
            nox::bringUp(nox::createContext(132));
        } else if (nox::TaskManager::instance(kWorkers)->workerCount() != kWorkers) {
            nox::TaskManager::destroyInstance();
            nox::TaskManager::instance(kWorkers);
        }
        platform::setAvailableMemoryProbe(&probe);
    }
    static void TearDownTestSuite()
    {
        platform::setAvailableMemoryProbe(nullptr);
        nox::TaskManager::destroyInstance();
        nox::TaskManager::instance(nox::TaskManager::defaultWorkerCount());
    }
};

TEST_F(OrderedWrite, ManyWorkersStallsAndFlushesNeitherReorderNorDrop)
{
    ASSERT_EQ(nox::TaskManager::instance(kWorkers)->workerCount(), kWorkers);
    const char* seedText = std::getenv("ZEMO_STRESS_SEED");
    const uint32_t seed = seedText ? uint32_t(std::strtoul(seedText, nullptr, 10)) : std::random_device{}();
    const char* iterationsText = std::getenv("ZEMO_STRESS_ITERATIONS");
    const int iterations = iterationsText ? std::atoi(iterationsText) : 40;
    SCOPED_TRACE("ZEMO_STRESS_SEED=" + std::to_string(seed));
    std::mt19937 rng(seed);

    const auto dir = std::filesystem::temp_directory_path() / ("zemo3-ordered-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    Watchdog watchdog(std::chrono::seconds(60), "ZEMO_STRESS_SEED=" + std::to_string(seed));
    constexpr uint32_t kW = 48, kH = 32;  // padded to 48x32 by the codec: no blank rows
    uint64_t totalFrames = 0;

    for (int iteration = 0; iteration < iterations; ++iteration) {
        SCOPED_TRACE("iteration " + std::to_string(iteration));
        const std::string path = (dir / "stress.mov").string();
        nox::VideoCodecInfoZemo3 codec;
        codec.setFormatType(0);
        nox::VideoStreamDescription stream(kW, kH, 30, 1, &codec);
        auto inner = nox::videoFormatManager(nox::getContext())
                         ->createWriter(path, 30, 1, 4, kW, kH, stream, 0, 0, 0);
        ASSERT_NE(inner, nullptr);
        zexport::ExportOptions record{};
        record.writer = new StallingWriter(std::move(inner), mix(seed) ^ uint64_t(iteration) << 40);
        record.pendingFrames = new zexport::PendingFrames;

        // Flushes from a thread of their own, waiting or not, all through the job.
        struct Flusher {
            std::atomic<bool> stop{false};
            std::thread thread;
            void end()
            {
                stop = true;
                if (thread.joinable())
                    thread.join();
            }
            ~Flusher() { end(); }
        } flusher;
        flusher.thread = std::thread([&, salt = mix(seed + uint64_t(iteration))] {
            for (uint64_t k = 0; !flusher.stop.load(); ++k) {
                const uint64_t r = mix(salt + k);
                record.writer->writePendingPackets(r & 1);
                std::this_thread::sleep_for(std::chrono::microseconds(r % 300));
            }
        });

        const uint64_t frames = 40 + rng() % 120;
        std::vector<uint8_t> argb;
        for (uint64_t n = 0; n < frames; ++n) {
            g_lowMemory = rng() % 10 == 0;
            paintNumber(argb, kW, kH, n);
            const PF_EffectWorld world = argbWorld(argb, kW, kH);
            ASSERT_EQ(zexport::addFrameLocked(record, &world), A_Err_NONE) << "frame " << n;
            if (rng() % 7 == 0)
                record.writer->writePendingPackets(rng() % 2);
        }
        g_lowMemory = false;
        flusher.end();
        EXPECT_EQ(record.writer->failure(), "");
        zexport::finishJob(record);  // collects every task, flushes, writes the trailer
        delete record.pendingFrames;

        Movie movie = readMovie(path);
        ASSERT_EQ(movie.frames.size(), frames);
        for (uint64_t n = 0; n < frames; ++n)
            ASSERT_EQ(movie.frames[n], expectedFrame(0, kW, kH, n)) << "frame " << n;
        totalFrames += frames;
        watchdog.tick();
    }
    std::printf("ordered-write stress: %d iterations, %llu frames, %u workers, seed %u\n", iterations,
                static_cast<unsigned long long>(totalFrames), unsigned(kWorkers), seed);
    std::filesystem::remove_all(dir);
}

}  // namespace
