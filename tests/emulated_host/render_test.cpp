// The render helper with the real module: what a feed gives lands in the
// movie in order, the sound in chunks of one frame's duration, and a render
// that fails names its step.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

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

// The module's entry brings up the core, once in a process as in the host:
// the tests that render share one session.
class ModuleSession : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        session_ = new emulated_host::ModuleSession;
        std::string error;
        ASSERT_EQ(session_->open(ZEMO_MODULE_PATH, &error), emulated_host::RenderStep::Done) << error;
    }
    static void TearDownTestSuite()
    {
        session_->close();
        for (const std::string& e : session_->errors())
            ADD_FAILURE() << "host: " << e;
        delete session_;
    }
    static inline emulated_host::ModuleSession* session_ = nullptr;
    testutil::TempDir dir_;
};

// Two renders in one session: the feed's nine pictures with sound at an NTSC
// rate, then a silent one that stops at its limit without asking for more.
TEST_F(ModuleSession, RendersTheFeedInOrderWithSoundInFrameChunks)
{
    struct Case {
        const char* file;
        uint32_t sampleRate, type;
        uint64_t limit, frames, asked;
    } cases[] = {{"sound.mov", 44100, 1, UINT64_MAX, 9, 10}, {"silent.mov", 0, 2, 4, 4, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        emulated_host::RenderJob job;
        job.path = dir_.file(c.file);
        job.width = 40, job.height = 24;
        job.fpsNum = 30000, job.fpsDen = 1001;
        job.sampleRate = c.sampleRate, job.channels = 2;
        job.formatType = c.type;
        job.frameLimit = c.limit;
        CountingFeed feed(40, 24, 9);
        const emulated_host::RenderResult r = session_->render(job, feed);
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
}

// A module that does not load or register ends a session before it starts.
TEST(ModuleSessionOpen, NamesTheStepThatFailed)
{
    using emulated_host::RenderStep;
    for (const auto& [module, failing, step] : {std::tuple{"/nonexistent-zemo3/module.so", "", RenderStep::Load},
                                                {ZEMO_MODULE_PATH, "AEGP_RegisterWithAEGP", RenderStep::Register}}) {
        SCOPED_TRACE(module);
        emulated_host::ModuleSession session;
        if (*failing)
            session.host().failMember(failing, 61);
        std::string error;
        EXPECT_EQ(session.open(module, &error), step);
        EXPECT_NE(error.find(step == RenderStep::Load ? "/nonexistent-zemo3/module.so" : "(error 61)"),
                  std::string::npos)
            << error;
    }
}

// A render the module refuses before its first frame asks the feed for nothing.
TEST_F(ModuleSession, NamesTheStepThatFailed)
{
    using emulated_host::RenderStep;
    struct Case {
        const char* failing;  // a host member that answers 61
        std::string path;
        RenderStep step;
    } cases[] = {
        {"AEGP_GetOutSpecOptionsHandle", dir_.file("x.mov"), RenderStep::InitOutputSpec},
        {nullptr, "/nonexistent-zemo3/x.mov", RenderStep::StartAdding},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        if (c.failing)
            session_->host().failMember(c.failing, 61);
        emulated_host::RenderJob job;
        job.path = c.path;
        job.width = 16, job.height = 16;
        CountingFeed feed(16, 16, 3);
        const emulated_host::RenderResult r = session_->render(job, feed);
        session_->host().clearFaults();
        EXPECT_EQ(r.failed, c.step);
        EXPECT_NE(r.err, A_Err_NONE);
        EXPECT_EQ(r.frames, 0u);
        EXPECT_TRUE(feed.asked.empty());
    }
}

}  // namespace
