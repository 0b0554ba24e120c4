// The render helper with the real module: what a feed gives lands in the
// movie in order, the sound in chunks of one frame's duration, and a render
// that fails names its step.
#include <gtest/gtest.h>

#include <cstring>

#include "common/movies.h"
#include "emulated_host/render.h"
#include "media/movie.h"

namespace {

using testutil::Bytes;

int16_t sample(uint64_t i, int channel) { return int16_t(uint16_t(i * 2 + uint64_t(channel)) * 7919u); }

// Flat pictures, frame n grey at 20 + 24 n, in rows padded with black;
// a stereo sound that never repeats. It keeps what it was asked.
class CountingFeed : public emulated_host::RenderFeed {
public:
    CountingFeed(uint32_t width, uint32_t height, uint64_t pictures)
        : width_(width), height_(height), pictures_(pictures)
    {
    }
    bool picture(uint64_t n, const uint8_t** argb, size_t* rowBytes) override
    {
        asked.push_back(n);
        if (n >= pictures_)
            return false;
        *rowBytes = size_t(width_) * 4 + 8;
        rows_.assign(*rowBytes * height_, 0);
        for (size_t y = 0; y < height_; ++y) {
            uint8_t* row = &rows_[y * *rowBytes];
            std::memset(row, 20 + 24 * int(n), size_t(width_) * 4);
            for (size_t x = 0; x < width_; ++x)
                row[x * 4] = 255;
        }
        *argb = rows_.data();
        return true;
    }
    size_t sound(uint64_t start, size_t count, std::vector<int16_t>* samples) override
    {
        chunks.push_back({start, count});
        samples->resize(count * 2);
        for (size_t i = 0; i < count * 2; ++i)
            (*samples)[i] = sample(start + i / 2, int(i % 2));
        return count;
    }
    void progress(uint64_t frames, bool last) override { progressed.push_back({frames, last}); }

    std::vector<uint64_t> asked;
    std::vector<std::pair<uint64_t, size_t>> chunks;
    std::vector<std::pair<uint64_t, bool>> progressed;

private:
    uint32_t width_, height_;
    uint64_t pictures_;
    Bytes rows_;
};

// Two renders in one session: the feed's nine pictures with sound at an NTSC
// rate, then a silent one that stops at its limit without asking for more.
TEST(ModuleSession, RendersTheFeedInOrderWithSoundInFrameChunks)
{
    testutil::TempDir dir;
    emulated_host::ModuleSession session;
    std::string error;
    ASSERT_EQ(session.open(ZEMO_MODULE_PATH, &error), emulated_host::RenderStep::Done) << error;
    struct Case {
        const char* file;
        uint32_t sampleRate, type;
        uint64_t limit, frames, asked;
    } cases[] = {{"sound.mov", 44100, 1, UINT64_MAX, 9, 10}, {"silent.mov", 0, 2, 4, 4, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        emulated_host::RenderJob job;
        job.path = dir.file(c.file);
        job.width = 40, job.height = 24;
        job.fpsNum = 30000, job.fpsDen = 1001;
        job.sampleRate = c.sampleRate, job.channels = 2;
        job.formatType = c.type;
        job.frameLimit = c.limit;
        CountingFeed feed(40, 24, 9);
        const emulated_host::RenderResult r = session.render(job, feed);
        EXPECT_EQ(r.failed, emulated_host::RenderStep::Done);
        EXPECT_EQ(r.frames, c.frames);
        EXPECT_EQ(r.formatType, c.type);
        EXPECT_GT(r.seconds, 0);
        EXPECT_EQ(feed.asked.size(), c.asked);
        ASSERT_EQ(feed.progressed.size(), c.frames + 1);
        EXPECT_EQ(feed.progressed.back(), std::make_pair(c.frames, true));
        ASSERT_EQ(feed.chunks.size(), c.sampleRate ? c.frames : 0);
        for (uint64_t n = 0, end = 0; n < feed.chunks.size(); ++n) {
            EXPECT_EQ(feed.chunks[n].first, end) << n;
            end = (n + 1) * c.sampleRate * 1001 / 30000;
            EXPECT_EQ(feed.chunks[n].first + feed.chunks[n].second, end) << n;
        }
        EXPECT_EQ(r.samples, c.frames * c.sampleRate * 1001 / 30000);

        const testutil::Movie movie = testutil::readMovie(job.path);
        const std::vector<Bytes> frames = movie.frames();
        ASSERT_EQ(frames.size(), c.frames);
        nox::FramePictures pictures(40, 24);
        std::vector<uint8_t> rgba;
        std::string why;
        for (size_t n = 0; n < frames.size(); ++n) {
            ASSERT_TRUE(pictures.decode(frames[n].data(), frames[n].size(), &rgba, nullptr, &why)) << why;
            for (size_t i = 0; i < rgba.size(); ++i)
                ASSERT_NEAR(rgba[i], i % 4 == 3 ? 255 : 20 + 24 * n, 4) << "frame " << n << " byte " << i;
        }
        const Bytes sound = movie.sound();
        ASSERT_EQ(sound.size(), r.samples * 4);
        for (size_t i = 0; i < sound.size() / 2; ++i) {
            int16_t v;
            std::memcpy(&v, &sound[i * 2], 2);
            ASSERT_EQ(v, sample(i / 2, int(i % 2))) << i;
        }
    }
    session.close();
    EXPECT_TRUE(session.errors().empty()) << session.errors().front();
}

TEST(ModuleSession, NamesTheStepThatFailed)
{
    testutil::TempDir dir;
    using emulated_host::RenderStep;
    struct Case {
        const char* name;
        const char* module;
        const char* failing;  // a host member that answers 61, set before the module loads
        std::string path;
        RenderStep step;
    } cases[] = {
        {"no module", "/nonexistent-zemo3/module.so", nullptr, "", RenderStep::Load},
        {"registration refused", ZEMO_MODULE_PATH, "AEGP_RegisterWithAEGP", "", RenderStep::Register},
        {"no options handle", ZEMO_MODULE_PATH, "AEGP_GetOutSpecOptionsHandle", dir.file("x.mov"),
         RenderStep::InitOutputSpec},
        {"no folder for the movie", ZEMO_MODULE_PATH, nullptr, "/nonexistent-zemo3/x.mov", RenderStep::StartAdding},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        emulated_host::ModuleSession session;
        if (c.failing)
            session.host().failMember(c.failing, 61);
        std::string error;
        const RenderStep opened = session.open(c.module, &error);
        if (c.step <= RenderStep::Register) {
            EXPECT_EQ(opened, c.step);
            EXPECT_FALSE(error.empty());
            continue;
        }
        ASSERT_EQ(opened, RenderStep::Done) << error;
        emulated_host::RenderJob job;
        job.path = c.path;
        job.width = 16, job.height = 16;
        CountingFeed feed(16, 16, 3);
        const emulated_host::RenderResult r = session.render(job, feed);
        EXPECT_EQ(r.failed, c.step);
        EXPECT_NE(r.err, A_Err_NONE);
        EXPECT_EQ(r.frames, 0u);
        EXPECT_TRUE(feed.asked.empty());
    }
}

}  // namespace
