#include "player/play.h"

#include <SDL.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include "media/png.h"
#include "movie_handle.h"
#include "platform/platform.h"
#include "player/gpu.h"
#include "player/read_ahead.h"
#include "player/schedule.h"
#include "player/sound_clock.h"
#include "player/window.h"

namespace zemo3 {

namespace {

PlayResult failed(PlayResult::Status status, std::string error)
{
    PlayResult r;
    r.status = status;
    r.error = std::move(error);
    return r;
}

// Opens the movie through the playback library: a missing file is a
// FILE_ERROR, one that is no Zemo 3 movie REFUSED.
MovieHandle open(const std::string& path, PlayResult* result)
{
    if (!platform::fileSize(path)) {
        *result = failed(PlayResult::FILE_ERROR, "cannot open '" + path + "'");
        return nullptr;
    }
    std::string error;
    MovieHandle movie = openMovie(path, &error);
    if (!movie)
        *result = failed(PlayResult::REFUSED, error);
    return movie;
}

// The playing loop of a window: keys become the schedule's commands, the
// reader's frames go through the schedule to the GPU, and the picture is
// drawn again when it changed.
class WindowPlayer {
public:
    WindowPlayer(const PlayOptions& o, const Zemo3Info& info, SDL_Window* window, gpu::FrameRenderer& renderer,
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

    // Plays until the end, the frame limit or the user quits.
    PlayResult run()
    {
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
            if (d.action == PlaySchedule::Decision::SHOW && !show(d))
                break;
            if (!draw())
                break;
            reportStatus();
            if (end && schedule_.wantsFrame()) {
                const PlaySchedule::Effect e = schedule_.atEnd();
                if (e.stop)
                    break;
                apply(e);
            }
            if (d.action != PlaySchedule::Decision::SHOW)
                SDL_Delay(1);
        }
        result_.shown = schedule_.shown();
        result_.dropped = schedule_.dropped();
        result_.damaged = schedule_.damagedFrames();
        return result_;
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
    bool show(const PlaySchedule::Decision& d)
    {
        std::string error;
        const auto start = Clock::now();
        if (!renderer_.upload(pending_.frame, &error)) {
            result_ = failed(PlayResult::REFUSED, error);
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
    bool draw()
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
        const bool last = schedule_.done();
        std::string error;
        // The back buffer is what the window shows after the swap.
        if (last && !o_.screenshot.empty() &&
            !writePng(o_.screenshot, gpu::readBackBuffer(w, h).data(), uint32_t(w), uint32_t(h), false, &error))
            result_ = failed(PlayResult::FILE_ERROR, error);
        SDL_GL_SwapWindow(window_);
        redraw_ = false;
        return !last;
    }
    void reportStatus()
    {
        if (!o_.status || std::abs(sound_.seconds() - lastStatus_) < 0.5)
            return;
        lastStatus_ = sound_.seconds();
        o_.status(
            {schedule_.current(), sound_.seconds(), decodeMs_, uploadMs_, schedule_.dropped(), schedule_.paused()});
    }

    const PlayOptions& o_;
    const Zemo3Info& info_;
    SDL_Window* window_;
    gpu::FrameRenderer& renderer_;
    SoundClock sound_;
    ReadAhead reader_;
    PlaySchedule schedule_;
    PlayResult result_;
    Restored pending_;            // the frame the schedule holds
    std::vector<int> uploading_;  // destinations the GL may still read
    bool quit_ = false, redraw_ = false, fullscreen_;
    double uploadMs_ = 0, decodeMs_ = 0, lastStatus_ = -1;
};

// The window, its context and the renderer around the playing loop.
PlayResult playIn(const PlayOptions& o, const Zemo3Info& info, Zemo3Movie* movie, Zemo3Movie* soundMovie)
{
    gpu::GlWindow window;
    std::string error;
    if (!window.open("zemo3 play - " + o.movie.substr(o.movie.find_last_of('/') + 1), info.width, info.height,
                     o.fullscreen, &error))
        return failed(PlayResult::REFUSED, error);
    gpu::FrameRenderer renderer;  // goes before the window's context
    if (!renderer.init(info, &error))
        return failed(PlayResult::REFUSED, error);
    // The reader restores frames straight into mapped pixel-buffer objects
    // where the GL has them.
    renderer.mapDestinations(zemo3_frame_bytes(movie), ReadAhead::kDestinations);
    WindowPlayer player(o, info, window.get(), renderer, movie, soundMovie);
    return player.run();
}

}  // namespace

PlayResult playOffscreen(const PlayOptions& o)
{
    PlayResult result;
    const MovieHandle movie = open(o.movie, &result);
    if (!movie)
        return result;
    const Zemo3Info info = *zemo3_info(movie.get());
    std::string error;
    auto context = gpu::OffscreenContext::create(&error);
    gpu::FrameRenderer renderer;
    if (!context || !renderer.init(info, &error))
        return failed(PlayResult::REFUSED, error);
    result.renderer = gpu::rendererName();
    if (!o.dump.empty())
        platform::makeDirectories(o.dump);
    std::vector<uint8_t> rgba;
    // Frames restored straight into two pixel-buffer objects in turn, where
    // the GL has mapped ones; else into the library's memory.
    const size_t bytes = zemo3_frame_bytes(movie.get());
    const bool mapped = renderer.mapDestinations(bytes, 2);
    unsigned next = 0;
    auto read = [&](Zemo3Frame* frame) {
        if (!mapped)
            return zemo3_next_frame(movie.get(), frame);
        next ^= 1;
        renderer.waitDestination(next);
        return zemo3_next_frame_into(movie.get(), frame, renderer.destinations()[next], bytes);
    };
    Zemo3Frame frame;
    for (int r; (o.frames == 0 || result.shown < o.frames) && (r = read(&frame)) != ZEMO3_END;) {
        if (r == ZEMO3_DAMAGED) {
            ++result.damaged;
            if (o.damaged)
                o.damaged(zemo3_error(movie.get()));
            continue;
        }
        if (r != ZEMO3_OK)
            return failed(PlayResult::FILE_ERROR, zemo3_error(movie.get()));
        if (!renderer.upload(frame, &error) || !renderer.readPicture(&rgba, &error))
            return failed(PlayResult::REFUSED, error);
        if (!o.dump.empty()) {
            char name[32];
            std::snprintf(name, sizeof name, "frame_%05lld.png", static_cast<long long>(frame.index));
            if (!writePng(o.dump + "/" + name, rgba.data(), info.width, info.height, true, &error))
                return failed(PlayResult::FILE_ERROR, error);
        }
        ++result.shown;
    }
    return result;
}

PlayResult playInWindow(const PlayOptions& o)
{
    PlayResult result;
    const MovieHandle movie = open(o.movie, &result);
    if (!movie)
        return result;
    std::string error;
    const MovieHandle soundMovie = openMovie(o.movie, &error);
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0)
        return failed(PlayResult::REFUSED, std::string("no window can be opened: ") + SDL_GetError());
    result = playIn(o, *zemo3_info(movie.get()), movie.get(), soundMovie.get());
    SDL_Quit();
    return result;
}

}  // namespace zemo3
