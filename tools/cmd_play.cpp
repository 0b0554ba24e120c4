// zemo3 play: plays a Zemo 3 movie the way the format is meant to be
// played. Each frame's texture goes to the GPU as it is stored (compressed
// blocks through pixel-buffer objects) and a shader turns it into pixels;
// the CPU only restores the packed blocks, on a thread that runs ahead of
// the display. The sound plays through SDL2 and is the clock the pictures
// follow; frames that come too late are dropped and counted, never shown
// out of order.
#include <SDL.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "commands.h"
#include "media/png.h"
#include "platform/platform.h"
#include "play.h"
#include "player/gpu.h"
#include "player/read_ahead.h"
#include "player/schedule.h"
#include "player/sound_clock.h"
#include "player/window.h"

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

struct Options {
    std::string movie;
    uint64_t frames = 0;  // 0: all
    bool loop = false, fullscreen = false, status = false;
    std::string screenshot, dump;
};

// Opens a movie through the playback library; the exit code on failure.
int openMovie(const std::string& path, Zemo3Movie** movie, std::string* error)
{
    if (!platform::fileSize(path)) {
        *error = "cannot open '" + path + "'";
        return EXIT_USAGE;
    }
    char message[512] = {};
    *movie = zemo3_open(path.c_str(), message, sizeof message);
    if (!*movie) {
        *error = message;
        return EXIT_REJECTED;
    }
    return EXIT_OK;
}

int playOffscreen(const Options& o)
{
    Zemo3Movie* movie = nullptr;
    std::string error;
    if (int code = openMovie(o.movie, &movie, &error))
        return fail(code, "play: " + error);
    const Zemo3Info info = *zemo3_info(movie);
    int code = EXIT_OK;
    {
        auto context = gpu::OffscreenContext::create(&error);
        gpu::FrameRenderer renderer;
        if (!context || !renderer.init(info, &error)) {
            zemo3_close(movie);
            return fail(EXIT_REJECTED, "play: " + error);
        }
        if (!o.dump.empty())
            platform::makeDirectories(o.dump);
        std::vector<uint8_t> rgba;
        uint64_t shown = 0, damaged = 0;
        // Frames restored straight into two pixel-buffer objects in turn,
        // where the GL has mapped ones; else into the library's memory.
        const bool mapped = renderer.mapDestinations(zemo3_frame_bytes(movie), 2);
        unsigned next = 0;
        auto read = [&](Zemo3Frame* frame) {
            if (!mapped)
                return zemo3_next_frame(movie, frame);
            next ^= 1;
            renderer.waitDestination(next);
            return zemo3_next_frame_into(movie, frame, renderer.destinations()[next], zemo3_frame_bytes(movie));
        };
        Zemo3Frame frame;
        for (int r; (o.frames == 0 || shown < o.frames) && (r = read(&frame)) != ZEMO3_END;) {
            if (r == ZEMO3_DAMAGED) {
                ++damaged;
                std::fprintf(stderr, "zemo3: play: skipped a damaged frame: %s\n", zemo3_error(movie));
                continue;
            }
            if (r != ZEMO3_OK) {
                code = fail(EXIT_USAGE, std::string("play: ") + zemo3_error(movie));
                break;
            }
            if (!renderer.upload(frame, &error) || !renderer.readPicture(&rgba, &error)) {
                code = fail(EXIT_REJECTED, "play: " + error);
                break;
            }
            if (!o.dump.empty()) {
                char name[32];
                std::snprintf(name, sizeof name, "frame_%05lld.png", static_cast<long long>(frame.index));
                if (!writePng(o.dump + "/" + name, rgba.data(), info.width, info.height, true, &error)) {
                    code = fail(EXIT_USAGE, "play: " + error);
                    break;
                }
            }
            ++shown;
        }
        if (code == EXIT_OK)
            std::printf("%llu frames drawn offscreen (%s)%s\n", static_cast<unsigned long long>(shown),
                        gpu::rendererName().c_str(),
                        damaged ? (", " + std::to_string(damaged) + " damaged frames skipped").c_str() : "");
    }
    zemo3_close(movie);
    return code;
}

// The window's back buffer as a PNG: what the window shows after the swap.
bool saveWindow(const std::string& path, int w, int h, std::string* error)
{
    return writePng(path, gpu::readBackBuffer(w, h).data(), uint32_t(w), uint32_t(h), false, error);
}

// The playing loop of a window: keys become the schedule's commands, the
// reader's frames go through the schedule to the GPU, and the picture is
// drawn again when it changed.
class WindowPlayer {
public:
    WindowPlayer(const Options& o, const Zemo3Info& info, SDL_Window* window, gpu::FrameRenderer& renderer,
                 Zemo3Movie* movie, Zemo3Movie* soundMovie)
        : o_(o),
          info_(info),
          window_(window),
          renderer_(renderer),
          sound_(soundMovie, info),
          reader_(movie, renderer.destinations(), zemo3_frame_bytes(movie)),
          schedule_(o.loop, o.frames),
          fullscreen_(o.fullscreen)
    {
    }

    // Plays until the end, the frame limit or the user quits; the exit code.
    int run()
    {
        int code = EXIT_OK;
        sound_.restart(0, false);
        while (!quit_) {
            pollEvents();
            sound_.fill();
            const bool end = takeFrames();
            double following = 0;
            const bool ready = reader_.peekSeconds(&following);
            const PlaySchedule::Decision d =
                schedule_.decide(sound_.seconds(), ready ? std::optional(following) : std::nullopt);
            if (d.action == PlaySchedule::Decision::DROP)
                continue;
            if (d.action == PlaySchedule::Decision::SHOW && !show(d, &code))
                break;
            if (!draw(&code))
                break;
            printStatus();
            if (end && schedule_.wantsFrame()) {
                const PlaySchedule::Effect e = schedule_.atEnd();
                if (e.stop)
                    break;
                apply(e);
            }
            if (d.action != PlaySchedule::Decision::SHOW)
                SDL_Delay(1);
        }
        std::printf("%llu frames shown, %llu dropped, %llu damaged skipped\n",
                    static_cast<unsigned long long>(schedule_.shown()),
                    static_cast<unsigned long long>(schedule_.dropped()),
                    static_cast<unsigned long long>(schedule_.damagedFrames()));
        return code;
    }

private:
    void pollEvents()
    {
        SDL_Event e;
        while (SDL_PollEvent(&e)) {
            if (e.type == SDL_QUIT)
                quit_ = true;
            else if (e.type == SDL_WINDOWEVENT)
                redraw_ = true;
            else if (e.type == SDL_KEYDOWN)
                key(e.key.keysym.sym);
        }
    }
    void key(SDL_Keycode key)
    {
        switch (key) {
        case SDLK_q:
        case SDLK_ESCAPE:
            quit_ = true;
            break;
        case SDLK_f:
            fullscreen_ = !fullscreen_;
            SDL_SetWindowFullscreen(window_, fullscreen_ ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
            break;
        case SDLK_SPACE:
            apply(schedule_.command(PlayCommand::PAUSE));
            break;
        case SDLK_RIGHT:
            apply(schedule_.command(PlayCommand::STEP));
            break;
        case SDLK_LEFT:
            apply(schedule_.command(PlayCommand::BACK));
            break;
        case SDLK_HOME:
            apply(schedule_.command(PlayCommand::FIRST));
            break;
        case SDLK_l:
            apply(schedule_.command(PlayCommand::LOOP));
            break;
        default:
            break;
        }
    }
    void apply(const PlaySchedule::Effect& e)
    {
        if (e.clock != PlaySchedule::Effect::KEEP)
            sound_.pause(e.clock == PlaySchedule::Effect::HOLD);
        if (e.seek >= 0)
            reader_.seek(e.seek);
    }
    // The reader's frames to the schedule while it wants one; true when the
    // reader is at the end.
    bool takeFrames()
    {
        // Destinations the GL is done with go back to the reader.
        for (size_t i = 0; i < uploading_.size();) {
            if (renderer_.destinationBusy(unsigned(uploading_[i]))) {
                ++i;
                continue;
            }
            reader_.release(uploading_[i]);
            uploading_.erase(uploading_.begin() + long(i));
        }
        bool end = false;
        for (Restored next; schedule_.wantsFrame() && reader_.take(&next, &end);) {
            // A frame the schedule held and did not show goes unseen.
            reader_.release(pending_.slot);
            pending_ = next;
            if (pending_.result == ZEMO3_OK)
                schedule_.offer({pending_.frame.index, pending_.frame.seconds});
            else
                schedule_.damaged();
        }
        return end;
    }
    bool show(const PlaySchedule::Decision& d, int* code)
    {
        std::string error;
        const auto start = Clock::now();
        if (!renderer_.upload(pending_.frame, &error)) {
            *code = fail(EXIT_REJECTED, "play: " + error);
            return false;
        }
        // Its destination is the GL's until its upload is done (where the
        // planes were copied, at once).
        if (renderer_.destinations().empty())
            reader_.release(pending_.slot);
        else if (pending_.slot >= 0)
            uploading_.push_back(pending_.slot);
        pending_.slot = -1;
        uploadMs_ = msSince(start);
        decodeMs_ = pending_.decodeMs;
        if (d.restartClock)
            sound_.restart(d.frame.seconds, d.paused);
        redraw_ = true;
        return true;
    }
    // Draws the picture letterboxed when it changed; false once the last
    // frame asked for is drawn.
    bool draw(int* code)
    {
        if (!redraw_ || !schedule_.started())
            return true;
        int w = 0, h = 0;
        SDL_GL_GetDrawableSize(window_, &w, &h);
        const double s = std::min(double(w) / info_.width, double(h) / info_.height);
        const int dw = std::max(1, int(info_.width * s)), dh = std::max(1, int(info_.height * s));
        glViewport(0, 0, w, h);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        renderer_.draw((w - dw) / 2, (h - dh) / 2, dw, dh, true);
        std::string error;
        const bool last = schedule_.done();
        if (last && !o_.screenshot.empty() && !saveWindow(o_.screenshot, w, h, &error))
            *code = fail(EXIT_USAGE, "play: " + error);
        SDL_GL_SwapWindow(window_);
        redraw_ = false;
        return !last;
    }
    void printStatus()
    {
        if (!o_.status || std::abs(sound_.seconds() - lastStatus_) < 0.5)
            return;
        lastStatus_ = sound_.seconds();
        std::fprintf(stderr, "frame %lld  %.2f s  decode %.1f ms  upload %.1f ms  dropped %llu%s\n",
                     static_cast<long long>(schedule_.current()), sound_.seconds(), decodeMs_, uploadMs_,
                     static_cast<unsigned long long>(schedule_.dropped()), schedule_.paused() ? "  paused" : "");
    }

    const Options& o_;
    const Zemo3Info& info_;
    SDL_Window* window_;
    gpu::FrameRenderer& renderer_;
    SoundClock sound_;
    ReadAhead reader_;
    PlaySchedule schedule_;
    Restored pending_;            // the frame the schedule holds
    std::vector<int> uploading_;  // destinations the GL may still read
    bool quit_ = false, redraw_ = false, fullscreen_;
    double uploadMs_ = 0, decodeMs_ = 0, lastStatus_ = -1;
};

// The window, its context and the renderer around the playing loop.
int playInWindow(const Options& o, const Zemo3Info& info, Zemo3Movie* movie, Zemo3Movie* soundMovie)
{
    gpu::GlWindow window;
    std::string error;
    if (!window.open("zemo3 play - " + o.movie.substr(o.movie.find_last_of('/') + 1), info.width, info.height,
                     o.fullscreen, &error))
        return fail(EXIT_REJECTED, "play: " + error);
    gpu::FrameRenderer renderer;  // goes before the window's context
    if (!renderer.init(info, &error))
        return fail(EXIT_REJECTED, "play: " + error);
    // The reader restores frames straight into mapped pixel-buffer objects
    // where the GL has them.
    renderer.mapDestinations(zemo3_frame_bytes(movie), ReadAhead::kDestinations);
    WindowPlayer player(o, info, window.get(), renderer, movie, soundMovie);
    return player.run();
}

int playWindow(const Options& o)
{
    Zemo3Movie *movie = nullptr, *soundMovie = nullptr;
    std::string error;
    if (int code = openMovie(o.movie, &movie, &error))
        return fail(code, "play: " + error);
    openMovie(o.movie, &soundMovie, &error);
    int code;
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
        code = fail(EXIT_REJECTED, std::string("play: no window can be opened: ") + SDL_GetError());
    } else {
        code = playInWindow(o, *zemo3_info(movie), movie, soundMovie);
        SDL_Quit();
    }
    zemo3_close(movie);
    zemo3_close(soundMovie);
    return code;
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
    Options o;
    if (args.has("--frames") && (!parseUint(args.get("--frames"), 1u << 30, &o.frames) || o.frames == 0))
        return fail(EXIT_USAGE, "play: --frames must be a number from 1");
    o.loop = args.has("--loop");
    o.fullscreen = args.has("--fullscreen");
    o.status = args.has("--status");
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
    return offscreen ? playOffscreen(o) : playWindow(o);
}

}  // namespace

ZEMO3_COMMAND("play", "play a movie on the GPU: a window with sound, or offscreen", cmdPlay);

}  // namespace zemo3
