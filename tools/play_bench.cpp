// zemo3 play --offscreen --bench: where a player's time goes per frame.
// Clips of the demo composition are rendered through the module (in the
// emulated host, in this process) for each type; then, on one thread, the reading and unpacking of every frame (our
// part on the CPU), the upload of its planes (ours up to the driver), the
// draw (the GL driver's), and FFmpeg's HAP decoder on HAP frames of the same
// pictures, for comparison.
#include <algorithm>
#include <cstdio>
#include <memory>

#include "bench/harness.h"
#include "commands.h"
#include "emulated_host/render.h"
#include "media/sources.h"
#include "platform/platform.h"
#include "play.h"
#include "player/gpu.h"
#include "reader/texture.h"

namespace zemo3 {

namespace {

const char* const kTypeNames[4] = {"normal", "normal-alpha", "high", "high-alpha"};

// A folder for the clips, removed with them.
struct TempFolder {
    std::string path = platform::temporaryFolder() + "/zemo3-playbench-" + std::to_string(platform::processId());
    TempFolder() { platform::makeDirectories(path); }
    ~TempFolder() { platform::removeTree(path); }
    std::string file(const std::string& name) const { return path + "/" + name; }
};

// The frames of a clip as read and unpacked, each with its own copy of the
// planes, and the milliseconds that took.
struct Clip {
    Zemo3Info info{};
    std::vector<Zemo3Frame> frames;
    std::vector<std::vector<uint8_t>> bytes;  // each frame's planes, one after the other
    double readMs = 0;

    // Frame i with its planes pointing into its bytes.
    Zemo3Frame frame(size_t i) const
    {
        Zemo3Frame f = frames[i];
        size_t at = 0;
        for (uint32_t p = 0; p < f.planeCount; ++p) {
            f.planes[p].data = bytes[i].data() + at;
            at += f.planes[p].size;
        }
        return f;
    }
};

// The demo's pictures as the host hands them to the module.
class DemoFeed : public emulated_host::RenderFeed {
public:
    explicit DemoFeed(Source& demo) : demo_(demo) {}
    bool picture(uint64_t n, const uint8_t** argb, size_t* rowBytes) override
    {
        SourcePicture picture;
        if (!demo_.frame(n, &picture))
            return false;
        *argb = picture.data;
        *rowBytes = picture.rowBytes;
        return true;
    }

private:
    Source& demo_;
};

// The demo rendered at w x h, 30 fps, in a type through the module, without sound.
bool renderClip(emulated_host::ModuleSession& session, const std::string& movie, uint32_t w, uint32_t h, uint32_t type,
                uint64_t frames)
{
    const std::unique_ptr<Source> demo = openDemo(demoComposition(w, h, 30, 1, double(frames) / 30.0, false));
    emulated_host::RenderJob job;
    job.path = movie;
    job.width = w, job.height = h;
    job.fpsNum = 30, job.fpsDen = 1;
    job.formatType = type;
    job.frameLimit = frames;
    DemoFeed feed(*demo);
    const emulated_host::RenderResult result = session.render(job, feed);
    return result.failed == emulated_host::RenderStep::Done && result.frames == frames && session.errors().empty();
}

bool readClip(const std::string& movie, Clip* clip, std::string* error)
{
    char message[512] = {};
    Zemo3Movie* m = zemo3_open(movie.c_str(), message, sizeof message);
    if (!m) {
        *error = message;
        return false;
    }
    clip->info = *zemo3_info(m);
    Zemo3Frame f;
    for (auto start = Clock::now(); zemo3_next_frame(m, &f) == ZEMO3_OK; start = Clock::now()) {
        clip->readMs += msSince(start);
        std::vector<uint8_t> texture;
        for (uint32_t i = 0; i < f.planeCount; ++i)
            texture.insert(texture.end(), f.planes[i].data, f.planes[i].data + f.planes[i].size);
        clip->bytes.push_back(std::move(texture));
        clip->frames.push_back(f);
    }
    zemo3_close(m);
    if (clip->frames.empty())
        *error = "the clip has no frames";
    return !clip->frames.empty();
}

// Milliseconds of uploading and of drawing all frames, each waited for; the
// second of two passes, the first warms the driver up.
bool timeGpu(const Clip& clip, double* uploadMs, double* drawMs, std::string* error)
{
    gpu::FrameRenderer renderer;
    if (!renderer.init(clip.info, error))
        return false;
    for (int pass = 0; pass < 2; ++pass) {
        *uploadMs = *drawMs = 0;
        for (size_t i = 0; i < clip.frames.size(); ++i) {
            auto start = Clock::now();
            if (!renderer.upload(clip.frame(i), error))
                return false;
            renderer.finish();
            *uploadMs += msSince(start);
            start = Clock::now();
            renderer.drawPicture(error);
            renderer.finish();
            *drawMs += msSince(start);
        }
    }
    return true;
}

// One row of the table: a clip of a type at a size.
int benchClip(emulated_host::ModuleSession& session, const TempFolder& temp, uint32_t w, uint32_t h, uint32_t type,
              uint64_t frames)
{
    const std::string movie = temp.file(std::string(kTypeNames[type]) + ".mov");
    if (!renderClip(session, movie, w, h, type, frames))
        return fail(EXIT_REJECTED, "play: the " + std::string(kTypeNames[type]) + " clip did not render");
    Clip clip;
    std::string error;
    double uploadMs = 0, drawMs = 0;
    if (!readClip(movie, &clip, &error) || !timeGpu(clip, &uploadMs, &drawMs, &error))
        return fail(EXIT_REJECTED, "play: " + error);
    bench::Clip pictures;
    for (size_t i = 0; i < clip.frames.size(); ++i) {
        pictures.emplace_back(size_t(w) * h * 4);
        nox::textureToRgba(clip.frames[i].type, clip.bytes[i].data(), clip.bytes[i].size(), w, h,
                           pictures.back().data(), size_t(w) * 4);
    }
    const double n = double(clip.frames.size());
    bench::AvClip hapFrames;
    const double hap = hapFrames.fill(pictures, w, h) ? bench::HapBench(type, w, h).decodeMs(hapFrames.frames) : -1;
    char size[32];
    std::snprintf(size, sizeof size, "%ux%u", w, h);
    char hapText[32] = "-";
    if (hap >= 0)
        std::snprintf(hapText, sizeof hapText, "%.2f", hap);
    std::printf("%-10s %-13s %10.2f %10.2f %10.2f %14.2f %10s\n", size, kTypeNames[type], clip.readMs / n, uploadMs / n,
                drawMs / n, (clip.readMs + uploadMs) / n, hapText);
    std::fflush(stdout);
    return EXIT_OK;
}

}  // namespace

int benchPlayback(const Args& args)
{
    std::vector<std::pair<uint32_t, uint32_t>> sizes = {{1920, 1080}, {3840, 2160}};
    if (args.has("--size")) {
        uint32_t w = 0, h = 0;
        std::string why;
        if (!parseSizeText(args.get("--size"), &w, &h, &why))
            return fail(EXIT_USAGE, "play: " + why);
        sizes = {{w, h}};
    }
    uint64_t frames = 10;
    if (args.has("--frames") && (!parseUint(args.get("--frames"), 1000, &frames) || frames == 0))
        return fail(EXIT_USAGE, "play: --frames must be a number from 1 to 1000");
    std::string error;
    auto context = gpu::OffscreenContext::create(&error);
    if (!context)
        return fail(EXIT_REJECTED, "play: " + error);
    emulated_host::ModuleSession session;
    if (session.open(emulated_host::defaultModulePath(), &error) != emulated_host::RenderStep::Done)
        return fail(EXIT_USAGE, "play: " + error);
    TempFolder temp;
    std::printf("%s\n%-10s %-13s %10s %10s %10s %14s %10s\n", gpu::rendererName().c_str(), "size", "type", "read ms",
                "upload ms", "draw ms", "read+upload", "HAP ms");
    for (const auto& [w, h] : sizes)
        for (uint32_t type = 0; type < 4; ++type)
            if (const int code = benchClip(session, temp, w, h, type, frames))
                return code;
    session.close();
    return EXIT_OK;
}

}  // namespace zemo3
