// zemo3 play: plays a Zemo 3 movie on the GPU, in a window with its sound
// or offscreen (the player library, player/play.h); with --bench, where a
// player's time goes per frame beside FFmpeg's HAP decoder.
#include <cstdio>
#include <memory>

#include "bench/harness.h"
#include "cli.h"
#include "codec/frame_format.h"
#include "commands.h"
#include "emulated_host/render.h"
#include "media/sources.h"
#include "platform/platform.h"
#include "player/gpu.h"
#include "player/gpu_timing.h"
#include "player/play.h"

namespace zemo3 {

namespace {

const char* kUsage =
    "usage: zemo3 play MOVIE [--frames N] [--loop] [--fullscreen] [--status] [--screenshot FILE.png]\n"
    "       zemo3 play MOVIE --offscreen [--frames N] [--dump DIR]\n"
    "       zemo3 play --offscreen --bench [--size WxH] [--frames N]\n"
    "\n"
    "Plays a Zemo 3 movie in a window (OpenGL 3.3), picture and sound: the frames'\n"
    "textures are uploaded as stored and turned into pixels by the GPU.\n"
    "  --frames N       stop after N frames (a window: N frames shown)\n"
    "  --loop           start again at the end (key l toggles it)\n"
    "  --fullscreen     start in full screen (key f toggles it)\n"
    "  --status         a status line: frame, time, decode and upload milliseconds, drops\n"
    "  --screenshot F   write the window's last picture to F (PNG) at the end\n"
    "  --offscreen      draw without a window (EGL; no sound, no pacing)\n"
    "  --dump DIR       with --offscreen: every drawn picture as DIR/frame_00000.png ...\n"
    "                   at the movie's size, RGBA, straight alpha, numbered like the frames\n"
    "  --bench          with --offscreen: milliseconds per frame to read and unpack, to\n"
    "                   upload and to draw, per type at 1920x1080 and 3840x2160 (or --size),\n"
    "                   beside FFmpeg's HAP decoder on the same pictures\n"
    "Keys: space pause, left/right one frame, home first frame, l loop, f full screen,\n"
    "q or Esc quit.\n"
    "\n"
    "Exit codes: 0 done, 1 the movie is no Zemo 3 movie or the GL cannot draw it,\n"
    "2 bad arguments or an unreadable movie.\n";

// The exit code of a result, its error said.
int exitCode(const PlayResult& r)
{
    if (r.status == PlayResult::DONE)
        return EXIT_OK;
    return fail(r.status == PlayResult::REFUSED ? EXIT_REJECTED : EXIT_USAGE, "play: " + r.error);
}

int playOffscreen(PlayOptions& o)
{
    o.damaged = [](const std::string& why) {
        std::fprintf(stderr, "zemo3: play: skipped a damaged frame: %s\n", why.c_str());
    };
    const PlayResult r = zemo3::playOffscreen(o);
    if (r.status == PlayResult::DONE)
        std::printf("%llu frames drawn offscreen (%s)%s\n", static_cast<unsigned long long>(r.shown),
                    r.renderer.c_str(),
                    r.damaged ? (", " + std::to_string(r.damaged) + " damaged frames skipped").c_str() : "");
    return exitCode(r);
}

int playWindow(PlayOptions& o, bool status)
{
    if (status)
        o.status = [](const PlayStatus& s) {
            std::fprintf(stderr, "frame %lld  %.2f s  decode %.1f ms  upload %.1f ms  dropped %llu%s\n",
                         static_cast<long long>(s.frame), s.seconds, s.decodeMs, s.uploadMs,
                         static_cast<unsigned long long>(s.dropped), s.paused ? "  paused" : "");
        };
    const PlayResult r = playInWindow(o);
    if (r.status == PlayResult::DONE)
        std::printf("%llu frames shown, %llu dropped, %llu damaged skipped\n", static_cast<unsigned long long>(r.shown),
                    static_cast<unsigned long long>(r.dropped), static_cast<unsigned long long>(r.damaged));
    return exitCode(r);
}

// ------------------------------------------------------------------ --bench


// One row of the bench's table: the demo rendered through the module at
// w x h, 30 fps, in a type, without sound; its frames read and unpacked,
// uploaded and drawn; FFmpeg's HAP decoder on HAP frames of its pictures.
int benchClip(emulated_host::ModuleSession& session, uint32_t w, uint32_t h, uint32_t type, uint64_t frames)
{
    const std::string movie =
        platform::temporaryFolder() + "/zemo3-playbench-" + std::to_string(platform::processId()) + ".mov";
    const std::unique_ptr<Source> demo = openDemo(demoComposition(w, h, 30, 1, double(frames) / 30.0, false));
    emulated_host::RenderJob job;
    job.path = movie;
    job.width = w, job.height = h;
    job.fpsNum = 30, job.fpsDen = 1;
    job.formatType = type;
    job.frameLimit = frames;
    const emulated_host::RenderResult rendered = bench::exportSource(session, job, *demo);
    gpu::LoadedFrames clip;
    std::string error;
    const bool made =
        rendered.failed == emulated_host::RenderStep::Done && rendered.frames == frames && session.errors().empty();
    const bool loaded = made && clip.load(movie, &error);
    platform::removeFile(movie);
    if (!made)
        return fail(EXIT_REJECTED, "play: the " + std::string(nox::formatFacts(type).keyword) + " clip did not render");
    if (!loaded)
        return fail(EXIT_REJECTED, "play: " + error);
    gpu::GpuTimes gpuTimes;
    if (!gpu::timeUploadAndDraw(clip, &gpuTimes, &error))
        return fail(EXIT_REJECTED, "play: " + error);
    bench::Clip pictures;
    for (size_t i = 0; i < clip.frames.size(); ++i)
        pictures.push_back(clip.picture(i));
    bench::AvClip hapFrames;
    const double hap = hapFrames.fill(pictures, w, h) ? bench::HapBench(type, w, h).decodeMs(hapFrames.frames) : -1;
    const double n = double(clip.frames.size());
    char size[32];
    std::snprintf(size, sizeof size, "%ux%u", w, h);
    char hapText[32] = "-";
    if (hap >= 0)
        std::snprintf(hapText, sizeof hapText, "%.2f", hap);
    std::printf("%-10s %-13s %10.2f %10.2f %10.2f %14.2f %10s\n", size, nox::formatFacts(type).keyword, clip.readMs / n,
                gpuTimes.uploadMs / n, gpuTimes.drawMs / n, (clip.readMs + gpuTimes.uploadMs) / n, hapText);
    std::fflush(stdout);
    return EXIT_OK;
}

// Per type and size, the milliseconds per frame of reading and unpacking, of
// the upload and of the draw.
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
    std::printf("%s\n%-10s %-13s %10s %10s %10s %14s %10s\n", gpu::rendererName().c_str(), "size", "type", "read ms",
                "upload ms", "draw ms", "read+upload", "HAP ms");
    for (const auto& [w, h] : sizes)
        for (uint32_t type = 0; type < 4; ++type)
            if (const int code = benchClip(session, w, h, type, frames))
                return code;
    session.close();
    return EXIT_OK;
}

int cmdPlay(const std::vector<std::string>& in)
{
    Args args = parseArgs(in, {"--frames", "--screenshot", "--dump", "--size"},
                          {"--loop", "--fullscreen", "--status", "--offscreen", "--bench"});
    if (args.help) {
        std::fputs(kUsage, stdout);
        return EXIT_OK;
    }
    if (!args.error.empty())
        return fail(EXIT_USAGE, "play: " + args.error);
    PlayOptions o;
    if (args.has("--frames") && (!parseUint(args.get("--frames"), 1u << 30, &o.frames) || o.frames == 0))
        return fail(EXIT_USAGE, "play: --frames must be a number from 1");
    o.loop = args.has("--loop");
    o.fullscreen = args.has("--fullscreen");
    o.screenshot = args.get("--screenshot");
    o.dump = args.get("--dump");
    const bool offscreen = args.has("--offscreen");
    if (args.has("--bench")) {
        if (!offscreen || !args.positional.empty())
            return fail(EXIT_USAGE, "play: --bench goes with --offscreen and no movie");
        return benchPlayback(args);
    }
    if (args.positional.size() != 1)
        return fail(EXIT_USAGE, "play: one movie is needed (see zemo3 play --help)");
    o.movie = args.positional[0];
    if (!offscreen && !o.dump.empty())
        return fail(EXIT_USAGE, "play: --dump goes with --offscreen");
    return offscreen ? playOffscreen(o) : playWindow(o, args.has("--status"));
}

}  // namespace

ZEMO3_COMMAND("play", "play a movie on the GPU: a window with sound, or offscreen", cmdPlay);

}  // namespace zemo3
