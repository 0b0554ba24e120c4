// Whole renders through the module in the emulated host, read back with libavformat.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <malloc.h>
#include <sys/resource.h>
#endif

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "core/logger.h"
#include "export_job.h"
#include "host_session.h"
#include "media/sources.h"
#include "numbered.h"
#include "platform/platform.h"

namespace {

using namespace exporttest;

// No heap check, a shorter soak: sanitizers quarantine freed memory, Windows' heap keeps no count.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(_WIN32)
constexpr bool kLightSoak = true;
#else
constexpr bool kLightSoak = false;
#endif

std::vector<std::string> g_lines;
void collect(const char* line) { g_lines.emplace_back(line); }

class Reliability : public hosttest::HostTest {
protected:
    static void SetUpTestSuite() { useCore(); }

    // 30 fps, 48 kHz stereo 16-bit sound or none; `file` is a name in the scratch folder, or a path.
    AEIO_OutSpecH output(A_long width, A_long height, uint32_t type, const std::string& file, bool sound = false)
    {
        emulated_host::OutputSettings settings;
        settings.width = width, settings.height = height, settings.fps = 30 << 16;
        settings.soundRate = sound ? 48000.0 : 0.0;
        settings.path = platform::utf8ToUtf16(file.find('/') == std::string::npos ? dir_.file(file) : file);
        return restoredOutput(hosttest::storedRecord(type), settings);
    }

    // Numbered (or noise) frames until one is refused, not ended: the refusal (0 when none) and the frames accepted.
    std::pair<A_Err, int> render(AEIO_OutSpecH out, A_long width, A_long height, int frames, bool noise = false)
    {
        A_Err err = host().startAdding(out);
        int added = 0;
        Bytes argb;
        std::mt19937 rng(7);
        for (; err == A_Err_NONE && added < frames; ++added) {
            paintNumber(argb, uint32_t(width), uint32_t(height), uint64_t(added));
            if (noise)  // incompressible: every frame is stored raw at full size
                std::generate(argb.begin(), argb.end(), [&] { return uint8_t(rng()); });
            if ((err = host().addFrame(out, added, argbWorld(argb, width, height))) != A_Err_NONE)
                break;
        }
        return {err, added};
    }

    // The movie's video holds exactly these frames, in order, with rising timestamps.
    static void expectFrames(const testutil::Movie& movie, uint64_t count, const std::function<Bytes(uint64_t)>& frame)
    {
        const std::vector<testutil::MoviePacket> video = movie.of(AVMEDIA_TYPE_VIDEO);
        ASSERT_EQ(video.size(), count);
        for (uint64_t n = 0; n < count; ++n) {
            ASSERT_EQ(video[n].data, frame(n)) << "frame " << n;
            ASSERT_TRUE(n == 0 || video[n].pts > video[n - 1].pts) << "frame " << n;
        }
    }

    testutil::TempDir dir_;
};

// A start that cannot give a complete movie is refused: no writer, no file; frames are refused, the end succeeds.
TEST_F(Reliability, SizesPastTheLimitsAndOtherRefusedStartsLeaveNoWriterAndNoFile)
{
    const struct {
        A_long width, height;
        uint32_t type;
        const char* file;
        bool jobAccepts;  // the job's own size check (which logs one error line when it refuses)
        bool starts;
    } cases[] = {
        // clang-format off
        {0, 1080, 0, "a.mov", false, false}, {1920, 0, 0, "a.mov", false, false}, {-64, 64, 0, "a.mov", false, false},
        {32768, 16384, 0, "a.mov", false, false},   // host frames of 2 GiB
        {0x7FFFFFFF, 1, 0, "a.mov", false, false},  // texture sizes past 32 bits
        {23184, 23184, 3, "a.mov", false, false},   // working pictures past 2 GiB
        {16384, 16384, 1, "a.mov", true, false},    // more than FFmpeg makes pictures of
        {1 << 20, 16, 1, "a.mov", true, false},     // wider than the container holds
        {65520, 16, 1, "a.mov", true, true}, {1, 1, 2, "a.mov", true, true},  // wide but small enough; smallest
        {64, 32, 0, "/nonexistent-zemo3/x.mov", true, false}, {64, 32, 0, "x.xyz", true, false},  // no format
        {64, 32, 6, "a.mov", true, false}, {64, 32, 7, "a.mov", true, false},  // UV map and mask: no encoder
        // clang-format on
    };
    nox::LogSink previous = nox::setLogSink(&collect);
    Bytes pixels(64 * 32 * 4);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " type " + std::to_string(c.type) +
                     " " + c.file);
        g_lines.clear();
        EXPECT_EQ(zexport::exportableSize(c.width, c.height, c.type), c.jobAccepts);
        EXPECT_EQ(g_lines.size(), c.jobAccepts ? 0u : 1u);
        const std::string path = c.file[0] == '/' ? c.file : dir_.file(c.file);
        AEIO_OutSpecH out = output(c.width, c.height, c.type, path);
        EXPECT_EQ(host().startAdding(out), c.starts ? A_Err_NONE : A_Err_GENERIC);
        EXPECT_EQ(c.starts ? A_Err_GENERIC : host().addFrame(out, 0, argbWorld(pixels, 64, 32)), A_Err_GENERIC);
        EXPECT_EQ(host().endAdding(out), A_Err_NONE);
        EXPECT_EQ(std::filesystem::exists(path), c.starts);
        EXPECT_EQ(host().removeOutput(out), A_Err_NONE);
        std::filesystem::remove(path);
    }
    nox::setLogSink(previous);
}

#ifndef _WIN32  // a full device, a refusing /proc and a file-size limit are Linux's
TEST_F(Reliability, AFileSystemThatRefusesOrFillsUpEndsTheRenderCleanly)
{
    // A first render makes the workers and FFmpeg's lazily made state.
    AEIO_OutSpecH warm = output(32, 32, 0, "warm.mov");
    EXPECT_EQ(render(warm, 32, 32, 3).first, A_Err_NONE);
    EXPECT_EQ(host().removeOutput(warm), A_Err_NONE);
    const size_t threads = testutil::threadCount();
    std::ofstream(dir_.file("plain-file")) << "not a folder";
    std::filesystem::create_symlink("/dev/full", dir_.file("full.mov"));
    const struct {
        const char* what;
        std::string path;
        rlim_t limit;  // RLIM_INFINITY: no file-size limit
        bool startMayWork;
    } cases[] = {
        {"folder that is a file", dir_.file("plain-file") + "/x.mov", RLIM_INFINITY, false},
        {"folder the system refuses", "/proc/zemo3-x.mov", RLIM_INFINITY, false},
        {"device that is always full", dir_.file("full.mov"), RLIM_INFINITY, true},
        {"file that reaches its size limit", dir_.file("limited.mov"), 256 * 1024, true},
    };
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);  // writes past the limit fail with EFBIG instead
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        AEIO_OutSpecH out = output(64, 64, 1, c.path);
        rlimit limit = saved;
        limit.rlim_cur = c.limit;
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        // 64x64 noise is 4 kB a frame: 1,000 frames pass any buffer.
        const auto [err, accepted] = render(out, 64, 64, 1000, true);
        EXPECT_EQ(host().endAdding(out), A_Err_NONE);
        setrlimit(RLIMIT_FSIZE, &saved);
        // The render ends with a refusal, at the start or once the file could take no more.
        EXPECT_EQ(err, A_Err_GENERIC);
        EXPECT_TRUE((c.startMayWork || accepted == 0) && accepted < 1000) << accepted << " frames accepted";
        EXPECT_EQ(host().removeOutput(out), A_Err_NONE);
        // The process stays usable, without a thread more: the next render is whole, even a silent one (which refuses
        // sound) whose output goes away without an end (the disposal finishes the movie).
        out = output(32, 32, 1, "after.mov");
        EXPECT_EQ(render(out, 32, 32, 40), std::make_pair(A_Err(A_Err_NONE), 40));
        int16_t chunk[64] = {};
        EXPECT_EQ(host().addSoundChunk(out, 32, chunk), A_Err_GENERIC);
        EXPECT_EQ(host().removeOutput(out), A_Err_NONE);
        const testutil::Movie movie = testutil::readMovie(dir_.file("after.mov"));
        EXPECT_EQ(movie.streams.size(), 1u);
        expectFrames(movie, 40, [](uint64_t n) { return expectedFrame(1, 32, 32, n); });
        EXPECT_EQ(testutil::threadCount(), threads);
    }
    std::signal(SIGXFSZ, previous);
}
#endif

// Renders as a host drives them: frames, and sound chunks of random length interleaved. The file must hold
// exactly the compressor's frames of the pictures, in order, and every sample. First the demo composition
// (72 wide: the codec pads) at the alpha types, then a long render of numbered frames during which the live
// heap stays flat (but for the container's index, some 130 bytes a frame with its sound until the trailer).
// ZEMO_SOAK_FRAMES sets its length.
TEST_F(Reliability, LongRenderAndDemoRendersKeepEveryFrameAndSample)
{
    const char* env = std::getenv("ZEMO_SOAK_FRAMES");
    const uint32_t seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
#ifdef _WIN32
    auto heapInUse = [] { return uint64_t(0); };
#else
    auto heapInUse = [] { return uint64_t(mallinfo2().uordblks) + uint64_t(mallinfo2().hblkhd); };
#endif
    for (uint32_t type : {1u, 3u, 0u}) {
        SCOPED_TRACE("type " + std::to_string(type));
        const bool soak = type == 0;
        const uint64_t frames = !soak ? 240 : env ? std::strtoull(env, nullptr, 10) : kLightSoak ? 2000 : 10000;
        zemo3::Composition demo;
        demo.width = soak ? 32 : 72, demo.height = soak ? 32 : 40;
        const A_long w = A_long(demo.width), h = A_long(demo.height);
        auto picture = [&](uint64_t n, Bytes& argb) {
            if (soak)
                return paintNumber(argb, demo.width, demo.height, n);
            argb.resize(size_t(w * h * 4));
            zemo3::renderDemoFrame(demo, n, argb.data(), uint32_t(w * 4));
        };
        const std::string file = "type" + std::to_string(type) + ".mov";
        AEIO_OutSpecH out = output(w, h, type, file, true);
        ASSERT_EQ(host().startAdding(out), A_Err_NONE);
        Bytes argb;
        std::vector<int16_t> chunk;
        uint64_t samples = 0, heapWarm = 0;
        for (uint64_t n = 0; n < frames; ++n) {
            picture(n, argb);
            // The host's frame index is its own business.
            ASSERT_EQ(host().addFrame(out, A_long(n * 3 + 7), argbWorld(argb, w, h)), A_Err_NONE) << "frame " << n;
            // Sound up to this frame's end in 0 to 3 chunks of random length (the last may run ahead).
            for (int k = int(rng() % 4); k > 0 && samples < (n + 1) * 1600; --k) {
                chunk.resize(2 * (1 + rng() % 3000));
                for (size_t i = 0; i < chunk.size(); ++i)
                    chunk[i] = sample(samples + i / 2, int(i % 2));
                ASSERT_EQ(host().addSoundChunk(out, A_u_long(chunk.size() / 2), chunk.data()), A_Err_NONE);
                samples += chunk.size() / 2;
            }
            host().clearCalls();  // the host's own record of calls is not the module's memory
            if (n + 1 == frames / 10)
                heapWarm = heapInUse();
        }
        const double heapPerFrame = (double(heapInUse()) - double(heapWarm)) / double(frames - frames / 10);
        ASSERT_EQ(host().endAdding(out), A_Err_NONE);
        EXPECT_TRUE(hosttest::liveView(*host().options(out)).writer == nullptr &&
                    hosttest::liveView(*host().options(out)).pendingFrames == nullptr);
        ASSERT_EQ(host().removeOutput(out), A_Err_NONE);
        const bool heapChecked = soak && frames >= 1000 && !kLightSoak;
        EXPECT_LT(heapChecked ? heapPerFrame : 0.0, 200.0) << "heap growth in bytes a frame over " << frames;
        const testutil::Movie movie = testutil::readMovie(dir_.file(file));
        ASSERT_EQ(movie.streams.size(), 2u);
        for (const auto& s : movie.streams)
            EXPECT_TRUE(s.type == AVMEDIA_TYPE_AUDIO || s.tag == MKTAG('Z', 'M', 'Q', '3'));
        expectFrames(movie, frames, [&](uint64_t n) {
            Bytes pixels;
            picture(n, pixels);
            return compressed(type, demo.width, demo.height, pixels, demo.width * 4);
        });
        uint64_t i = 0, duration = 0;
        for (const auto& p : movie.of(AVMEDIA_TYPE_AUDIO)) {
            const auto& s = movie.streams[size_t(p.stream)];
            duration += uint64_t(av_rescale_q(p.duration, s.timeBase, AVRational{1, s.sampleRate}));
            for (size_t b = 0; b + 4 <= p.data.size(); b += 4, ++i) {
                int16_t pair[2];
                std::memcpy(pair, &p.data[b], 4);
                ASSERT_TRUE(pair[0] == sample(i, 0) && pair[1] == sample(i, 1)) << "sample " << i;
            }
        }
        EXPECT_EQ(i, samples);
        EXPECT_EQ(duration, samples);
    }
}

}  // namespace
