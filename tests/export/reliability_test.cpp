// The module under conditions a render meets rarely: sizes past its limits,
// a file system that refuses the movie or fills up during the render, and a
// long render with sound in uneven chunks. Each runs through the module
// loaded by the emulated host; movies are read back with libavformat.
#include <gtest/gtest.h>

#include <dirent.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "codec/zemo3.h"
#include "core/context.h"
#include "core/logger.h"
#include "export_job.h"
#include "host/options.h"
#include "hostsim/host.h"
#include "platform/platform.h"
#include "numbered.h"
#include "writer/formats.h"

namespace {

using namespace exporttest;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

size_t threadCount()
{
    size_t n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (const dirent* e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

// Bytes the allocator has handed out and not had back, over all arenas:
// live memory, without the fragmentation and arena slack resident size has.
uint64_t heapInUse()
{
    const struct mallinfo2 m = mallinfo2();
    return uint64_t(m.uordblks) + uint64_t(m.hblkhd);
}

uint64_t residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    uint64_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * uint64_t(sysconf(_SC_PAGESIZE));
}

// Log lines of this process's core library (the module's own logger has no sink).
std::vector<std::string> g_lines;
void collect(const char* line) { g_lines.emplace_back(line); }

class Reliability : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // This process's own core: the compressor that makes the expected frames.
        if (!nox::currentContext()) {
            nox::useVideoFormats();
            nox::bringUp(nox::createContext(132));
        }
    }

    void SetUp() override
    {
        dir_ = std::filesystem::temp_directory_path() /
               ("zemo3-reliability-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        std::string error;
        ASSERT_TRUE(host_.load(ZEMO_MODULE_PATH, &error)) << error;
        ASSERT_EQ(host_.callEntry(), A_Err_NONE);
    }
    void TearDown() override
    {
        if (host_.loaded())
            host_.unload();
        for (const auto& e : host_.errors())
            ADD_FAILURE() << "host: " << e;
        std::filesystem::remove_all(dir_);
    }

    AEIO_OutSpecH output(const hostsim::OutputSettings& settings, uint32_t formatType)
    {
        zexport::ExportOptions stored{};
        stored.flattened = 1;
        stored.formatType = formatType;
        stored.alphaType = 3;
        std::vector<uint8_t> bytes(sizeof stored);
        std::memcpy(bytes.data(), &stored, sizeof stored);
        AEIO_OutSpecH out = host_.addOutput(settings, &bytes);
        EXPECT_EQ(host_.initOutputSpec(out), A_Err_NONE);
        return out;
    }

    static hostsim::OutputSettings silent(A_long width, A_long height, const std::string& path)
    {
        hostsim::OutputSettings settings;
        settings.width = width;
        settings.height = height;
        settings.soundRate = 0.0;
        settings.path = platform::utf8ToUtf16(path);
        return settings;
    }

    // A render of `frames` numbered frames without sound; the result of the
    // first refused call (0 when every call succeeded) and the frames accepted.
    std::pair<A_Err, int> render(AEIO_OutSpecH out, A_long width, A_long height, int frames, bool noise = false)
    {
        A_Err err = host_.startAdding(out);
        int added = 0;
        std::vector<uint8_t> argb;
        std::mt19937 rng(7);
        for (; err == A_Err_NONE && added < frames; ++added) {
            paintNumber(argb, uint32_t(width), uint32_t(height), uint64_t(added));
            if (noise)  // incompressible: every frame is stored raw at full size
                for (auto& b : argb)
                    b = uint8_t(rng());
            if ((err = host_.addFrame(out, added, argbWorld(argb, width, height))) != A_Err_NONE)
                break;
        }
        EXPECT_EQ(host_.endAdding(out), A_Err_NONE);
        return {err, added};
    }

    std::filesystem::path dir_;
    hostsim::Host host_;
};

TEST_F(Reliability, SizesPastTheLimitsAreRefusedAtTheStart)
{
    struct Case {
        A_long width, height;
        uint32_t type;
        bool jobAccepts;  // the job's own size check
        bool starts;      // and the writer opens too
    } cases[] = {
        {0, 1080, 0, false, false},
        {1920, 0, 0, false, false},
        {-64, 64, 0, false, false},
        {32768, 16384, 0, false, false},       // host frames of 2 GiB
        {0x7FFFFFFF, 1, 0, false, false},      // texture sizes past 32 bits
        {23184, 23184, 3, false, false},       // working pictures past 2 GiB
        {16384, 16384, 1, true, false},        // more than FFmpeg makes pictures of
        {1 << 20, 16, 1, true, false},         // wider than the container holds
        {65520, 16, 1, true, true},            // wide but small enough
        {64, 48, 2, true, true},
    };
    nox::LogSink previous = nox::setLogSink(&collect);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " type " + std::to_string(c.type));
        g_lines.clear();
        EXPECT_EQ(zexport::exportableSize(c.width, c.height, c.type), c.jobAccepts);
        EXPECT_EQ(g_lines.size(), c.jobAccepts ? 0u : 1u);
        if (!g_lines.empty()) {
            EXPECT_NE(g_lines[0].find("ERROR: Zemo 3 export: the output size"), std::string::npos) << g_lines[0];
        }

        const std::string path = (dir_ / "size.mov").string();
        AEIO_OutSpecH out = output(silent(c.width, c.height, path), c.type);
        EXPECT_EQ(host_.startAdding(out), c.starts ? A_Err_NONE : A_Err_GENERIC);
        EXPECT_EQ(host_.endAdding(out), A_Err_NONE);
        EXPECT_EQ(std::filesystem::exists(path), c.starts);
        EXPECT_EQ(host_.removeOutput(out), A_Err_NONE);
        std::filesystem::remove(path);
    }
    nox::setLogSink(previous);
}

// Restores the file-size limit and the SIGXFSZ disposition on the way out.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);  // writes fail with EFBIG instead
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ok_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }
    bool ok() const { return ok_; }

private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
    bool ok_ = false;
};

TEST_F(Reliability, AFileSystemThatRefusesOrFillsUpEndsTheRenderCleanly)
{
    // A first render makes the workers and FFmpeg's lazily made state.
    {
        AEIO_OutSpecH out = output(silent(32, 32, (dir_ / "warm.mov").string()), 0);
        EXPECT_EQ(render(out, 32, 32, 3).first, A_Err_NONE);
        EXPECT_EQ(host_.removeOutput(out), A_Err_NONE);
    }
    const size_t threads = threadCount();

    std::ofstream(dir_ / "plain-file") << "not a folder";
    std::filesystem::create_symlink("/dev/full", dir_ / "full.mov");
    struct Case {
        const char* what;
        std::string path;
        rlim_t limit;  // RLIM_INFINITY: no file-size limit
        bool startMayWork;
    } cases[] = {
        {"folder that is a file", (dir_ / "plain-file" / "x.mov").string(), RLIM_INFINITY, false},
        {"folder the system refuses", "/proc/zemo3-x.mov", RLIM_INFINITY, false},
        {"device that is always full", (dir_ / "full.mov").string(), RLIM_INFINITY, true},
        {"file that reaches its size limit", (dir_ / "limited.mov").string(), 256 * 1024, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AEIO_OutSpecH out = output(silent(64, 64, c.path), 1);
        std::pair<A_Err, int> result;
        {
            FileSizeLimit limit(c.limit);
            ASSERT_TRUE(limit.ok());
            // 64x64 noise is 4 kB a frame: 1,000 frames pass any buffer.
            result = render(out, 64, 64, 1000, true);
        }
        std::printf("%s: refused after %d frames were accepted\n", c.what, result.second);
        // The render ends with a refusal, whether at the start or once the
        // file could take no more, and not after the last frame.
        EXPECT_EQ(result.first, A_Err_GENERIC);
        if (!c.startMayWork) {
            EXPECT_EQ(result.second, 0);
        }
        EXPECT_LT(result.second, 1000);
        EXPECT_EQ(host_.removeOutput(out), A_Err_NONE);
        EXPECT_EQ(threadCount(), threads);

        // The process stays usable: the next render is complete.
        const std::string next = (dir_ / "after.mov").string();
        out = output(silent(32, 32, next), 0);
        EXPECT_EQ(render(out, 32, 32, 40), std::make_pair(A_Err(A_Err_NONE), 40));
        EXPECT_EQ(host_.removeOutput(out), A_Err_NONE);
        EXPECT_EQ(readMovie(next).frames.size(), 40u);
        EXPECT_EQ(threadCount(), threads);
    }
}

// A long render as a host drives it: frames and sound chunks of random length
// interleaved. Every frame must arrive in order and every sample byte for
// byte, with memory flat once the render is under way. ZEMO_SOAK_FRAMES
// changes the length.
TEST_F(Reliability, LongRenderKeepsEveryFrameAndSample)
{
    const char* env = std::getenv("ZEMO_SOAK_FRAMES");
    const uint64_t frames = env ? std::strtoull(env, nullptr, 10) : kSanitized ? 2000 : 10000;
    const uint32_t seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    constexpr A_long kW = 32, kH = 32;
    constexpr uint32_t kType = 0;

    hostsim::OutputSettings settings;
    settings.width = kW;
    settings.height = kH;
    settings.fps = 30 << 16;
    settings.soundRate = 48000.0;
    settings.channels = 2;
    settings.sampleSize = 2;
    const std::string path = (dir_ / "soak.mov").string();
    settings.path = platform::utf8ToUtf16(path);
    AEIO_OutSpecH out = output(settings, kType);
    ASSERT_EQ(host_.startAdding(out), A_Err_NONE);

    std::vector<uint8_t> argb;
    std::vector<int16_t> chunk;
    uint64_t samples = 0;
    uint64_t residentWarm = 0, residentEnd = 0, heapWarm = 0, heapEnd = 0;
    for (uint64_t n = 0; n < frames; ++n) {
        paintNumber(argb, kW, kH, n);
        ASSERT_EQ(host_.addFrame(out, A_long(n), argbWorld(argb, kW, kH)), A_Err_NONE) << "frame " << n;
        // Sound up to this frame's end, in 0 to 3 chunks of random length
        // (the last may run ahead of the picture).
        const uint64_t due = (n + 1) * 1600;
        for (int k = int(rng() % 4); k > 0 && samples < due; --k) {
            const uint32_t count = 1 + rng() % 3000;
            chunk.resize(size_t(count) * 2);
            for (uint32_t i = 0; i < count; ++i) {
                chunk[2 * i] = sample(samples + i, 0);
                chunk[2 * i + 1] = sample(samples + i, 1);
            }
            ASSERT_EQ(host_.addSoundChunk(out, count, chunk.data()), A_Err_NONE);
            samples += count;
        }
        // The host's own record of calls is not the module's memory.
        host_.clearCalls();
        if (n + 1 == frames / 10) {
            residentWarm = residentBytes();
            heapWarm = heapInUse();
        }
    }
    residentEnd = residentBytes();
    heapEnd = heapInUse();
    ASSERT_EQ(host_.endAdding(out), A_Err_NONE);
    ASSERT_EQ(host_.removeOutput(out), A_Err_NONE);

    // Resident size is reported; the check is on live heap memory, which
    // the allocator's fragmentation (and what earlier tests in this process
    // left) does not blur. The movie's index grows with it: the container
    // keeps its sample tables until the trailer, some 130 bytes a frame with
    // its sound. A frame's buffer, packet or task left behind would be more.
    const double span = double(frames - frames / 10);
    const double residentGrowth = residentWarm ? double(residentEnd) / double(residentWarm) - 1.0 : 0.0;
    const double heapPerFrame = (double(heapEnd) - double(heapWarm)) / span;
    std::printf("soak: %llu frames, %llu samples; from frame %llu to the end resident %.1f -> %.1f MB (%+.2f%%), "
                "heap in use %.1f -> %.1f MB (%.0f bytes a frame)\n",
                static_cast<unsigned long long>(frames), static_cast<unsigned long long>(samples),
                static_cast<unsigned long long>(frames / 10), double(residentWarm) / 1048576.0,
                double(residentEnd) / 1048576.0, residentGrowth * 100.0, double(heapWarm) / 1048576.0,
                double(heapEnd) / 1048576.0, heapPerFrame);
    if (frames >= 1000 && !kSanitized) {  // sanitizers keep freed memory in quarantine
        EXPECT_LT(heapPerFrame, 200.0);
    }

    Movie movie = readMovie(path);
    ASSERT_TRUE(movie.opened);
    EXPECT_EQ(movie.streams, 2);
    ASSERT_EQ(movie.frames.size(), frames);
    for (uint64_t n = 0; n < frames; ++n) {
        ASSERT_EQ(movie.frames[n], expectedFrame(kType, kW, kH, n)) << "frame " << n;
        if (n > 0) {
            ASSERT_GT(movie.pts[n], movie.pts[n - 1]) << "frame " << n;
        }
    }
    EXPECT_EQ(movie.soundDuration, int64_t(samples));
    ASSERT_EQ(movie.sound.size(), samples * 4);
    for (uint64_t i = 0; i < samples; ++i) {
        int16_t pair[2];
        std::memcpy(pair, &movie.sound[i * 4], 4);
        ASSERT_TRUE(pair[0] == sample(i, 0) && pair[1] == sample(i, 1)) << "sample " << i;
    }
}

}  // namespace
