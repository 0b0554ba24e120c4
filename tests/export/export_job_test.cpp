// The export job's computations and its frame and sound paths, run in this
// process with a real writer, real worker threads and a replaceable memory probe.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "codec/zemo3.h"
#include "core/context.h"
#include "core/threads.h"
#include "export_job.h"
#include "module.h"
#include "platform/platform.h"
#include "writer/formats.h"

using namespace zexport;

namespace {

struct RateCase {
    A_Fixed fixed;
    int32_t num, den;
};

TEST(ExportRates, FixedPointRatesBecomeFractions)
{
    const RateCase cases[] = {
        {1964114, 148861, 4967},  // 29.97
        {1571291, 91900, 3833},   // 23.976
        {3928228, 297722, 4967},  // 59.94
        {24 << 16, 24, 1},        {25 << 16, 25, 1}, {30 << 16, 30, 1}, {50 << 16, 50, 1}, {60 << 16, 60, 1},
        {(25 << 16) / 2, 25, 2},  // 12.5
        {0, 0, 1},
        {-(25 << 16), -25, 1},
        {1, 0, 1},  // 1/65536 is closer to 0 than to anything over 5000 or less
    };
    for (const RateCase& c : cases) {
        auto [num, den] = doubleToRational(c.fixed, 5000);
        EXPECT_EQ(num, c.num) << c.fixed;
        EXPECT_EQ(den, c.den) << c.fixed;
        EXPECT_LE(den, 5000);
    }
}

TEST(ExportPixels, ArgbBecomesRgbaAndDeepValuesAreScaled)
{
    // Two rows of two pixels, each row padded to 12 bytes; the padding must
    // not reach the buffer.
    uint8_t argb[24] = {0x80, 0x10, 0x20, 0x30, 0xFF, 0x01, 0x02, 0x03, 0xEE, 0xEE, 0xEE, 0xEE,
                        0x00, 0xAA, 0xBB, 0xCC, 0x7F, 0x04, 0x05, 0x06, 0xEE, 0xEE, 0xEE, 0xEE};
    PF_EffectWorld world{};
    world.width = 2;
    world.height = 2;
    world.rowbytes = 12;
    world.data = argb;
    std::vector<uint8_t> out(24, 0);
    convertPixels(world, false, out.data(), 12);
    const std::vector<uint8_t> expected = {0x10, 0x20, 0x30, 0x80, 0x01, 0x02, 0x03, 0xFF, 0, 0, 0, 0,
                                           0xAA, 0xBB, 0xCC, 0x00, 0x04, 0x05, 0x06, 0x7F, 0, 0, 0, 0};
    EXPECT_EQ(out, expected);

    // 16 bits: A, R, G, B in the host's 0..32768.
    const uint16_t deep[8] = {32768, 16384, 32766, 32767, 0, 1, 12345, 32768};
    PF_EffectWorld world16{};
    world16.world_flags = 1;
    world16.width = 2;
    world16.height = 1;
    world16.rowbytes = 16;
    world16.data = const_cast<uint16_t*>(deep);
    uint16_t out16[8] = {};
    convertPixels(world16, true, reinterpret_cast<uint8_t*>(out16), 16);
    const uint16_t expected16[8] = {32768, 65532, 65535, 65535, 2, 24690, 65535, 0};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(out16[i], expected16[i]) << i;
}

// The vector loop and its tail agree with the byte definition on every width
// around the vector size, with row padding the conversion must leave alone.
TEST(ExportPixels, EveryWidthConvertsLikeTheByteLoop)
{
    uint32_t seed = 12345;
    for (A_long width = 1; width <= 37; ++width) {
        const A_long height = 3, rowbytes = width * 4 + 8;
        std::vector<uint8_t> argb(size_t(rowbytes) * height);
        for (uint8_t& b : argb)
            b = uint8_t((seed = seed * 1103515245u + 12345u) >> 24);
        PF_EffectWorld world{};
        world.width = width;
        world.height = height;
        world.rowbytes = rowbytes;
        world.data = argb.data();
        std::vector<uint8_t> out(size_t(width) * 4 * height, 0x5A);
        convertPixels(world, false, out.data(), uint64_t(width) * 4);
        for (A_long y = 0; y < height; ++y)
            for (A_long x = 0; x < width; ++x)
                for (int c = 0; c < 4; ++c)
                    ASSERT_EQ(out[size_t(y * width + x) * 4 + c], argb[size_t(y * rowbytes + x * 4 + (c + 1) % 4)])
                        << "width " << width << " x " << x << " y " << y;
    }
}

// --------------------------------------------------------------- frame path

uint64_t g_availableBytes = 16ull << 30;
uint64_t probe() { return g_availableBytes; }

// A real writer behind a recorder that notes what the job asks of it.
class RecordingWriter : public nox::VideoFormatWriter {
public:
    explicit RecordingWriter(std::unique_ptr<nox::VideoFormatWriter> inner)
        : VideoFormatWriter(inner->description(), inner->path(), inner->frameRateNum(), inner->frameRateDen(),
                            inner->bytesPerPixel(), inner->width(), inner->height(), inner->channels(),
                            inner->bytesPerSample(), inner->sampleRate(), inner->formatName()),
          inner_(std::move(inner))
    {
    }
    bool isCustomCodec() const override { return inner_->isCustomCodec(); }
    bool isOpen() const override { return inner_->isOpen(); }
    bool addAudio(const void* samples, uint64_t position, uint32_t count) override
    {
        positions.push_back(position);
        return inner_->addAudio(samples, position, count);
    }
    bool writePendingPackets(bool wait) override
    {
        if (wait) {
            std::lock_guard<std::mutex> lock(mutex);
            flushesAfter.push_back(lastFrame);
        }
        return inner_->writePendingPackets(wait);
    }
    bool writeFrame(uint64_t frameIndex, uint32_t width, uint32_t height, uint32_t bytesPerPixel, uint64_t stride,
                    const uint8_t* data) override
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            lastFrame = frameIndex;
            framesSeen++;
        }
        if (gate)
            gate->wait();
        return inner_->writeFrame(frameIndex, width, height, bytesPerPixel, stride, data);
    }

    std::mutex mutex;
    uint64_t lastFrame = 0;
    int framesSeen = 0;
    std::vector<uint64_t> flushesAfter;  // frame written just before each waiting flush
    std::vector<uint64_t> positions;
    nox::SyncEvent* gate = nullptr;  // holds workers inside writeFrame while set

private:
    std::unique_ptr<nox::VideoFormatWriter> inner_;
};

class FramePath : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        nox::useVideoFormats();
        nox::Noxcore* context = nox::createContext(132);
        nox::bringUp(context);
        platform::setAvailableMemoryProbe(&probe);
    }

    void SetUp() override
    {
        dir_ = std::filesystem::temp_directory_path() /
               ("zemo3-export-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        g_availableBytes = 16ull << 30;
    }
    void TearDown() override
    {
        delete record_.pendingFrames;
        std::filesystem::remove_all(dir_);
    }

    RecordingWriter* start(uint32_t channels = 0)
    {
        codec_.setFormatType(0);
        nox::VideoStreamDescription stream(64, 48, 30, 1, &codec_);
        auto inner = nox::videoFormatManager(nox::getContext())
                         ->createWriter((dir_ / "job.mov").string(), 30, 1, 4, 64, 48, stream, channels,
                                        channels ? 2 : 0, channels ? 48000 : 0);
        EXPECT_NE(inner, nullptr);
        auto* writer = new RecordingWriter(std::move(inner));
        delete record_.pendingFrames;
        record_ = ExportOptions{};
        record_.writer = writer;
        record_.pendingFrames = new PendingFrames;
        return writer;
    }

    A_Err add(A_long flags = 0)
    {
        pixels_.assign(64 * 48 * (flags ? 8 : 4), 0x40);
        PF_EffectWorld world{};
        world.world_flags = flags;
        world.width = 64;
        world.height = 48;
        world.rowbytes = 64 * (flags ? 8 : 4);
        world.data = pixels_.data();
        return addFrameLocked(record_, &world);
    }

    void end()
    {
        for (auto& h : record_.pendingFrames->tasks)
            h->wait(true);
        record_.pendingFrames->tasks.clear();
        record_.writer->writePendingPackets(true);
        delete record_.writer;
        record_.writer = nullptr;
    }

    std::filesystem::path dir_;
    nox::VideoCodecInfoZemo3 codec_;
    ExportOptions record_{};
    std::vector<uint8_t> pixels_;
};

TEST_F(FramePath, OutstandingFramesStayWithinTheWorkerCount)
{
    start();
    const size_t workers = nox::TaskManager::instance(8)->workerCount();
    // The workers are held inside the writer for a while, so the job must
    // stop and wait once it has as many frames out as there are workers.
    nox::SyncEvent hold(true);
    static_cast<RecordingWriter*>(record_.writer)->gate = &hold;
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        hold.signal();
    });
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(add(), A_Err_NONE);
        EXPECT_LE(record_.pendingFrames->tasks.size(), workers) << i;
    }
    release.join();
    EXPECT_EQ(record_.framesAdded, 40u);
    end();
}

TEST_F(FramePath, LowMemoryLeavesOnlyTheNewFrameOutstanding)
{
    start();
    g_availableBytes = 200ull << 20;  // under 300 MB
    for (int i = 0; i < 12; ++i) {
        ASSERT_EQ(add(), A_Err_NONE);
        EXPECT_EQ(record_.pendingFrames->tasks.size(), 1u) << i;
    }
    EXPECT_TRUE(memoryIsLow(1000));
    g_availableBytes = 1000ull << 20;
    EXPECT_FALSE(memoryIsLow(100ull << 20));
    EXPECT_TRUE(memoryIsLow(201ull << 20));  // five frames would not fit
    end();
}

TEST_F(FramePath, FlushAfterFrameZeroAndEveryThirtieth)
{
    RecordingWriter* w = start();
    g_availableBytes = 200ull << 20;  // one frame at a time keeps the order plain
    for (int i = 0; i < 95; ++i)
        ASSERT_EQ(add(), A_Err_NONE);
    for (auto& h : record_.pendingFrames->tasks)
        h->wait(true);
    EXPECT_EQ(w->flushesAfter, (std::vector<uint64_t>{0, 30, 60, 90}));
    end();
}

TEST_F(FramePath, DeepFrameIsRefusedAfterCollectingPendingFrames)
{
    RecordingWriter* w = start();
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(add(), A_Err_NONE);
    EXPECT_EQ(add(1), A_Err_GENERIC);
    EXPECT_TRUE(record_.pendingFrames->tasks.empty());
    EXPECT_EQ(record_.framesAdded, 3u);  // the number does not advance
    EXPECT_LE(w->framesSeen, 3);
    ASSERT_EQ(add(), A_Err_NONE);
    end();
}

TEST_F(FramePath, BadWorldsAreRefused)
{
    start();
    std::vector<uint8_t> data(64 * 48 * 4);
    struct Case {
        A_long width, height, rowbytes;
    } cases[] = {{64, 0, 256},  {0, 48, 256},  {64, 48, 100}, {64, 48, -256}, {64, 1 << 20, 1 << 20},
                 {32, 48, 256}, {64, 40, 256}};  // the last two are smaller than the movie
    for (const Case& c : cases) {
        PF_EffectWorld world{};
        world.width = c.width;
        world.height = c.height;
        world.rowbytes = c.rowbytes;
        world.data = data.data();
        EXPECT_EQ(addFrameLocked(record_, &world), A_Err_GENERIC) << c.width << "x" << c.height;
    }
    EXPECT_EQ(record_.framesAdded, 0u);
    end();
}

TEST_F(FramePath, SoundPositionsRunOnFromTheJobsCount)
{
    RecordingWriter* w = start(2);
    std::vector<int16_t> chunk(2 * 16000, 100);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(addSoundLocked(record_, 16000, chunk.data()), A_Err_NONE);
    ASSERT_EQ(addSoundLocked(record_, 1600, chunk.data()), A_Err_NONE);
    EXPECT_EQ(w->positions, (std::vector<uint64_t>{0, 16000, 32000, 48000}));
    EXPECT_EQ(record_.samplesAdded, 49600u);
    end();

    // A writer made without sound refuses chunks and does not count them.
    start(0);
    EXPECT_EQ(addSoundLocked(record_, 1600, chunk.data()), A_Err_GENERIC);
    EXPECT_EQ(record_.samplesAdded, 0u);
    end();
}

}  // namespace
