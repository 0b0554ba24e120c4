// The render helper with the real module: what a feed gives lands in the
// movie in order, the sound in chunks of one frame's duration, and a render
// that fails names its step.
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "common/movies.h"
#include "emulated_host/render.h"
#include "media/movie.h"

namespace {

using testutil::Bytes;

int16_t sample(uint64_t i, int channel) { return int16_t(uint16_t(i * 2 + uint64_t(channel)) * 7919u); }

constexpr uint32_t kW = 40, kH = 24;

// Nine flat pictures, frame n grey at 20 + 24 n, in rows padded with black;
// a stereo sound that never repeats. It keeps what it was asked.
class CountingFeed : public emulated_host::RenderFeed {
public:
    bool picture(uint64_t n, const uint8_t** argb, size_t* rowBytes) override
    {
        asked.push_back(n);
        if (n >= 9)
            return false;
        *rowBytes = kW * 4 + 8;
        rows_.assign(*rowBytes * kH, 0);
        for (size_t y = 0; y < kH; ++y)
            for (size_t x = 0; x < kW * 4; ++x)
                rows_[y * *rowBytes + x] = x % 4 ? uint8_t(20 + 24 * n) : 255;
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
        job.width = kW, job.height = kH;
        job.fpsNum = 30000, job.fpsDen = 1001;
        job.sampleRate = c.sampleRate, job.channels = 2;
        job.formatType = c.type;
        job.frameLimit = c.limit;
        CountingFeed feed;
        const emulated_host::RenderResult r = session_->render(job, feed);
        // Sound runs at the movie's rate: 30000/1001 is written as 141009/4705.
        const uint64_t samples = c.frames * c.sampleRate * 4705 / 141009;
        EXPECT_EQ(std::vector<uint64_t>({uint64_t(r.failed), r.frames, r.formatType, r.samples, feed.asked.size(),
                                         feed.progressed.size(), feed.chunks.size()}),
                  std::vector<uint64_t>({uint64_t(emulated_host::RenderStep::Done), c.frames, c.type, samples, c.asked,
                                         c.frames + 1, c.sampleRate ? c.frames : 0}));
        EXPECT_GT(r.seconds, 0);
        for (uint64_t n = 0; n < feed.asked.size(); ++n)
            EXPECT_EQ(feed.asked[n], n);
        EXPECT_TRUE(!feed.progressed.empty() && feed.progressed.back() == std::make_pair(c.frames, true));
        for (uint64_t n = 0; n < feed.chunks.size(); ++n) {
            const uint64_t start = n * c.sampleRate * 4705 / 141009, end = (n + 1) * c.sampleRate * 4705 / 141009;
            EXPECT_EQ(feed.chunks[n], std::make_pair(start, size_t(end - start))) << n;
        }

        const testutil::Movie movie = testutil::readMovie(job.path);
        const std::vector<Bytes> frames = movie.frames();
        ASSERT_EQ(frames.size(), c.frames);
        nox::FramePictures pictures(kW, kH);
        std::vector<uint8_t> rgba;
        std::string why;
        for (size_t n = 0; n < frames.size(); ++n) {
            ASSERT_TRUE(pictures.decode(frames[n].data(), frames[n].size(), &rgba, nullptr, &why)) << why;
            for (size_t i = 0; i < rgba.size(); ++i)
                ASSERT_NEAR(rgba[i], i % 4 == 3 ? 255 : 20 + 24 * n, 4) << "frame " << n << " byte " << i;
        }
        std::vector<int16_t> expected;
        feed.sound(0, size_t(samples), &expected);
        const Bytes sound = movie.sound();
        const auto* stored = reinterpret_cast<const uint8_t*>(expected.data());
        EXPECT_TRUE(sound.size() == samples * 4 && sound == Bytes(stored, stored + expected.size() * 2));
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

// The log suite is not the compositing application's: a host without it
// renders as before and hears nothing.
TEST(ModuleSessionOpen, AHostWithoutTheLogSuiteHearsNothing)
{
    emulated_host::ModuleSession session;
    session.host().withholdSuite(kZemoLogSuite, kZemoLogSuiteVersion1);
    std::string error;
    ASSERT_EQ(session.open(ZEMO_MODULE_PATH, &error), emulated_host::RenderStep::Done) << error;
    emulated_host::RenderJob job;
    job.path = "/nonexistent-zemo3/x.mov", job.width = 16, job.height = 16;
    CountingFeed feed;
    EXPECT_EQ(session.render(job, feed).failed, emulated_host::RenderStep::StartAdding);
    EXPECT_TRUE(session.host().moduleLog().empty());
    session.close();
}

// A render the module refuses before its first frame asks the feed for
// nothing, and the module's log line (through the log suite) says why.
TEST_F(ModuleSession, NamesTheStepThatFailedAndTheModuleSaysWhy)
{
    using emulated_host::RenderStep;
    const struct {
        const char* failing;
        std::string path;
        uint32_t width, height;
        RenderStep step;
        const char* said;
    } cases[] = {
        {"AEGP_GetOutSpecOptionsHandle", dir_.file("x.mov"), 16, 16, RenderStep::InitOutputSpec, ""},
        {"", "/nonexistent-zemo3/x.mov", 16, 16, RenderStep::StartAdding,
         "opening \"/nonexistent-zemo3/x.mov\" failed: No such file or directory"},
        {"", dir_.file("x.mov"), 32768, 16384, RenderStep::StartAdding, "32768x16384 makes frames of 2 GiB or more"},
        {"", dir_.file("x.mov"), 20000, 20000, RenderStep::StartAdding, "FFmpeg takes no picture of 20000x20000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + " " + std::to_string(c.width));
        if (*c.failing)
            session_->host().failMember(c.failing, 61);
        session_->host().clearModuleLog();
        emulated_host::RenderJob job;
        job.path = c.path, job.width = c.width, job.height = c.height;
        CountingFeed feed;
        const emulated_host::RenderResult r = session_->render(job, feed);
        session_->host().clearFaults();
        EXPECT_EQ(r.failed, c.step);
        EXPECT_EQ(std::tuple(r.err != A_Err_NONE, r.frames, feed.asked.size()),
                  std::tuple(true, uint64_t(0), size_t(0)));
        std::string log;
        for (const std::string& line : session_->host().moduleLog())
            log += line + "\n";
        EXPECT_NE(log.find(c.said), std::string::npos) << log;
        EXPECT_FALSE(std::filesystem::exists(dir_.file("x.mov")));
    }
}

}  // namespace
