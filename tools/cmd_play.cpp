// zemo3 play: plays a Zemo 3 movie on the GPU, in a window with its sound
// or offscreen (the player library, player/play.h); --bench is
// play_bench.cpp's.
#include <cstdio>

#include "cli.h"
#include "commands.h"
#include "play.h"
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
