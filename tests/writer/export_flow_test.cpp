// The writer driven the way an export drives it: frames compressed on the
// core's worker pool with a bounded number in flight, a waiting flush after
// every 30th frame, sound added from the submitting thread meanwhile, and a
// final flush before the writer is destroyed.
#include <gtest/gtest.h>

#include <deque>
#include <memory>

#include "codec/zemo3.h"
#include "core/memory.h"
#include "core/threads.h"
#include "writer/formats.h"
#include "writer_test_util.h"

namespace nox {
namespace {

using test::probeMovie;
using test::ScratchDir;

TEST(ExportFlow, WorkerPoolFramesAndHostSoundMakeOneOrderedMovie)
{
    constexpr uint32_t kW = 64, kH = 36;
    constexpr uint64_t kFrames = 75;
    constexpr uint32_t kSamplesPerFrame = 1600;  // 48 kHz at 30 fps
    ScratchDir dir;
    const std::string path = dir.file("export.mov");

    VideoFormatManager manager;
    manager.registerBasicFormats();
    VideoCodecInfoZemo3 codec;
    codec.setFormatType(ZEMO3_HIGH);
    VideoStreamDescription desc(kW, kH, 30, 1, &codec);
    std::unique_ptr<VideoFormatWriter> writer =
        manager.createWriter(path, 30, 1, desc.bytesPerPixel, kW, kH, desc, 2, 2, 48000);
    ASSERT_TRUE(writer);

    TaskManager* pool = TaskManager::instance(4);
    const size_t inFlight = pool->workerCount();
    std::deque<std::unique_ptr<TaskHandle>> tasks;
    std::vector<int16_t> sound(size_t(kSamplesPerFrame) * 2);
    for (uint64_t n = 0; n < kFrames; ++n) {
        while (tasks.size() >= inFlight) {
            tasks.front()->wait(true);
            tasks.pop_front();
        }
        auto pixels = std::make_shared<PixelsCached>(kW, kH, 4, uint64_t(kW) * kH * 4);
        for (uint64_t i = 0; i < pixels->size(); ++i)
            pixels->data()[i] = uint8_t(i * 13 + n * 5);
        auto task = std::make_unique<TaskHandle>();
        VideoFormatWriter* w = writer.get();
        ASSERT_TRUE(task->start(1, 0, [w, pixels, n] {
            w->addFrame(n, *pixels);
            if (n % 30 == 0)
                w->writePendingPackets(true);
        }));
        tasks.push_back(std::move(task));
        for (size_t i = 0; i < sound.size(); ++i)
            sound[i] = int16_t(n * 100 + i);
        EXPECT_TRUE(writer->addAudio(sound.data(), n * kSamplesPerFrame, kSamplesPerFrame));
    }
    while (!tasks.empty()) {
        tasks.front()->wait(true);
        tasks.pop_front();
    }
    EXPECT_TRUE(writer->writePendingPackets(true));
    writer.reset();
    TaskManager::destroyInstance();

    auto movie = probeMovie(path);
    ASSERT_TRUE(movie);
    ASSERT_EQ(movie->streams.size(), 2u);
    auto video = movie->of(0);
    ASSERT_EQ(video.size(), kFrames);
    for (uint64_t i = 0; i < kFrames; ++i)
        EXPECT_EQ(av_rescale_q(video[i].pts, movie->streams[0].timeBase, AVRational{1, 30}), int64_t(i));
    int64_t samples = 0;
    for (const auto& p : movie->of(1)) {
        EXPECT_EQ(p.pts, samples);
        samples += int64_t(p.data.size() / 4);
    }
    EXPECT_EQ(samples, int64_t(kFrames) * kSamplesPerFrame);
}

}  // namespace
}  // namespace nox
